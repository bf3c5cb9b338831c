#pragma once
// The log of the bridge's program or DLL that links bridge_log.cpp:
// "logs\<name>.log". Each defines kBridgeLogName, the name until
// BridgeLogSetName gives the one that follows from the bridged plug-in's.
extern const char kBridgeLogName[];

void BridgeLogSetName(const char* name);
