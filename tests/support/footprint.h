#pragma once
// What unload_cycles printed of the process's footprint after its first and
// its last cycle: "handles <first> <last>", "mapped <first> <last>" and
// "private <first> <last>".

#include <cstdio>
#include <string>

namespace vt {

struct FootprintReport {
  bool read = false;
  unsigned long handles_first = 0, handles_last = 0;
  unsigned long long mapped_first = 0, mapped_last = 0;
  unsigned long long private_first = 0, private_last = 0;
};

inline FootprintReport ReadFootprint(const std::string& output) {
  FootprintReport r;
  const size_t h = output.find("handles ");
  const size_t m = output.find("mapped ");
  const size_t p = output.find("private ");
  if (h == std::string::npos || m == std::string::npos || p == std::string::npos) return r;
  r.read = sscanf(output.c_str() + h, "handles %lu %lu", &r.handles_first, &r.handles_last) == 2 &&
           sscanf(output.c_str() + m, "mapped %llu %llu", &r.mapped_first, &r.mapped_last) == 2 &&
           sscanf(output.c_str() + p, "private %llu %llu", &r.private_first, &r.private_last) == 2;
  return r;
}

// What a library may keep after many load, call and free cycles: a handle
// or two that the system opens once for the process (its first load opens
// them), and heap that the C runtime keeps for reuse. A leak of one view or
// one handle a cycle is far above either.
constexpr unsigned long kKeptHandles = 2;
constexpr unsigned long long kKeptPrivateBytes = 128 * 1024;

// Everything given back: no handle, no view, and the heap within its
// allowance.
#define EXPECT_FOOTPRINT_KEPT(f, what)                                                \
  do {                                                                                \
    EXPECT_LE((f).handles_last, (f).handles_first + vt::kKeptHandles) << (what);      \
    EXPECT_EQ((f).mapped_last, (f).mapped_first) << (what);                           \
    EXPECT_LE((f).private_last, (f).private_first + vt::kKeptPrivateBytes) << (what); \
  } while (0)

}  // namespace vt
