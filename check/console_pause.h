#pragma once
// A double-click starts the check tool in a console window of its own,
// which closes with the tool: the tool then waits for Enter, so that its
// lines can be read. Started from a command prompt, a script or a program
// that reads its output, it shares the console or has none, and ends at once.

#include <windows.h>

// How many processes are attached to this process's console; 0 without
// one, or when the standard input is not that console. The seam of the
// decision: the tool links console_count.cpp, a test build links a count
// of its own choosing.
DWORD ConsoleProcessCount();

// Waits for a line (or the end) of the standard input when this process is
// alone on its console.
void PauseIfAloneOnConsole();
