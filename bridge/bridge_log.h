#pragma once
// The log file name of the bridge's program or DLL that links bridge_log.cpp
// (without "logs\" and ".log"); each defines it.
extern const char kBridgeLogName[];
