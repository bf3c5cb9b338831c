#pragma once
// The waits that the benchmark puts into a module's seam, chosen by the
// environment that the benchmark gives its processes (a host program that
// the proxy starts inherits it):
//   VORN_BENCH_TIMER=tick   the 15.6 ms timer model of tick_model.h instead
//                           of the shipped waits;
//   VORN_BENCH_SIGNALS=off  the channel opens no events: that side polls.
// Each 1 ms wait or sleep that runs out is counted into *run_out, and each
// wait or sleep that returns, whatever ended it, into *wake_ups (either may
// be null).

#include <windows.h>

void InstallBenchWaits(volatile LONG* run_out, volatile LONG* wake_ups = nullptr);
bool BenchSignalsOff();
