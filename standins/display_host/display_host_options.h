#pragma once
// The stand-in display host's command line, and the texts it shows.

#include <string>
#include <vector>

struct DisplayHostOptions {
  std::string plugin_path;
  bool parameters_given = false;
  std::string parameters;            // start-up parameters of the plug-in
  std::vector<std::string> screens;  // each "top|bottom", shown in turn
  std::string shutdown = "    Goodbye!    |";
  unsigned hold_ms = 0;       // after Init, before the first refresh
  unsigned screen_ms = 2000;  // how long each screen is shown
  unsigned interval_ms = 75;  // refresh tick
  bool setup_only = false;    // only the setup dialog's load, then --hold
  unsigned linger_ms = 0;     // after the plug-in is freed, before the program ends
  bool zero_extend = false;   // byte arguments without junk in the slot's upper bytes
  bool exercise = false;      // after the hold, every other call once (ExerciseEveryCall)
};

// False (with a message on standard error) when the command line is wrong.
bool ParseOptions(int argc, char** argv, DisplayHostOptions* options);
void PrintUsage();

// Line 0 or 1 of a "top|bottom" screen, with $Time, $Date and $Tick
// replaced, padded with spaces or cut to `width`.
std::string ScreenLine(const std::string& screen, int line, unsigned tick, size_t width);
