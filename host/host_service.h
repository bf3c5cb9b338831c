#pragma once

#include <cstdint>

// Consecutive idle polls after which the host ends: it stops after the
// poll whose earlier count is greater than this, the 100002nd.
constexpr int32_t kIdleLimit = 100000;

// Start-up and the poll loop; returns the exit status (0) at the idle exit.
int RunHostService();
