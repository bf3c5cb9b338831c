#pragma once
// The one place where the two builds of the bridge DLL differ. The 64-bit
// build lets the 64-bit display host use a 32-bit plug-in; the 32-bit
// build, the isolating bridge, runs a plug-in of the 32-bit display host
// in the helper, so that a plug-in that faults, crashes or blocks takes
// the helper down, not the display host. Everything else is one code.

#include <cstdint>

#if defined(_WIN64)

// A byte or boolean argument as the 32-bit display host passes it: zero-
// extended. The 64-bit display host sets only the low byte of the register
// (a SetBacklight(false) came with 0x012a8b00), which a 32-bit plug-in that
// reads the whole slot would take for true.
inline uint32_t ArgumentSlot(uint32_t slot) { return slot & 0xFF; }
// How the bridge names itself in its texts.
constexpr char kBridgeFileKind[] = "64-bit";           // "the 64-bit QX20481.dll serves only it"
constexpr char kBridgeDriverTail[] = "64-bit bridge";  // "QX20481 (64-bit bridge)"

#else

// The 32-bit display host's argument slot, as it is: the plug-in gets what
// it would get loaded directly.
inline uint32_t ArgumentSlot(uint32_t slot) { return slot; }
constexpr char kBridgeFileKind[] = "isolating";
constexpr char kBridgeDriverTail[] = "isolated";

#endif
