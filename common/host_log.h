#pragma once
// What only the host variant of the log has.

// The log file is opened by appending to what it holds rather than anew:
// for a host program that ends at once because another one runs in the
// same folder, whose log must stay whole. Call before the first line.
void LogKeepEarlierLines();

// The log's file: the host program's name, as each build names it.
#ifdef _WIN64
constexpr char kHostLogFile[] = "Vorn64BitInterface.log";
#else
constexpr char kHostLogFile[] = "Vorn32BitInterface.log";
#endif
