#pragma once
// What only the host variant of the log has.

// The log file is opened by appending to what it holds rather than anew:
// for a host program that ends at once because another one runs in the
// same folder, whose log must stay whole. Call before the first line.
void LogKeepEarlierLines();
