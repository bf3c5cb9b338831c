#include "gap_seam.h"

GapHook g_gap_hook;

void SetGapHook(GapHook hook) { g_gap_hook = hook; }
