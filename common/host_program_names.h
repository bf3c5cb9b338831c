#pragma once
// The host program's file names: the proxy starts the first on 64-bit
// Windows and the second on 32-bit Windows, where the vendor library is
// 32-bit.

constexpr char kHostProgram64[] = "Vorn64BitInterface.exe";
constexpr char kHostProgram32[] = "Vorn32BitInterface.exe";
