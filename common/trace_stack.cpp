#include "trace_stack.h"

#include "step_times.h"

TraceStack g_trace;

// The table never overflows: a push beyond the last frame, or below a
// depth that went negative, stores nothing but still counts, so that pushes
// and pops stay balanced; a name longer than a frame is cut to 255 characters.
void TracePush(const char* name) {
  VORN_STEP(kStepTrace);
  int32_t depth = g_trace.depth;
  if (depth >= 0 && depth < kTraceFrames) {
    char* frame = g_trace.frames[depth];
    int i = 0;
    for (; name && name[i] != '\0' && i < kTraceFrameSize - 1; ++i) frame[i] = name[i];
    frame[i] = '\0';
  }
  g_trace.depth = depth + 1;
}

// A pop at depth 0 leaves the depth at 0.
void TracePop() {
  VORN_STEP(kStepTrace);
  if (g_trace.depth > 0) --g_trace.depth;
}
