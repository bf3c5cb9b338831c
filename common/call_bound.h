#pragma once
// How long one call of the proxy can hold its caller's thread, for the
// programs that must outwait one: the 64-bit plug-in's helper and the
// check tool.

#include <cstdint>

#include "round_trip.h"

// A proxy call's whole budget: every step of the call draws on the one
// deadline that the call takes at its start (proxy/request_call.h).
constexpr int64_t kReplyBudgetMs = 100000;
// A wait that runs out may last up to one scheduler tick longer than it
// asked for (15.6 ms at Windows' default timer resolution).
constexpr int64_t kWaitOvershootMs = 16;
// The longest one proxy call takes: its budget, the overshoot of its last
// wait, and the withdrawal of a request that got no answer.
constexpr int64_t kProxyCallBoundMs = kReplyBudgetMs + kWaitOvershootMs + kWithdrawWaitMs + kWaitOvershootMs;
