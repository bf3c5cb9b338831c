#pragma once
// Where the vendor's 64-bit device library is installed: the host program
// loads it from here and from nowhere else. The same literal path opens the
// same file from a 32-bit process (only System32 is redirected).

constexpr char kVendorLibraryDirectory[] = "C:\\Program Files\\Common Files\\Logishrd\\KHAL3\\";
constexpr char kVendorLibraryPath[] = "C:\\Program Files\\Common Files\\Logishrd\\KHAL3\\KHALAPI.dll";
