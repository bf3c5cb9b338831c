#pragma once
// The bridge DLL shows the display host exactly the entry points of its
// 32-bit plug-in, plain or decorated: the display host calls what
// GetProcAddress finds, and an absent entry point means something to it
// (no keys read, its own custom character codes). So the names the 32-bit
// plug-in lacks are taken out of this DLL's export table in memory, before
// anyone looks them up.

#include <windows.h>

#include "plugin32_entries.h"

// Leaves in `module`'s export name table only the display entry points
// that `entries` holds, under the names it holds them by, and every name
// that is no display entry point; the order, which lookups rely on, is
// kept. False when the table could not be changed; it is then as it was.
bool KeepOwnExports(HMODULE module, const Plugin32Entries& entries);
