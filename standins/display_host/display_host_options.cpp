#include "display_host_options.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

bool NumberArgument(const char* text, unsigned* value) {
  char* end = nullptr;
  unsigned long n = strtoul(text, &end, 10);
  if (!*text || *end) return false;
  *value = static_cast<unsigned>(n);
  return true;
}

void ReplaceAll(std::string* text, const std::string& name, const std::string& value) {
  for (size_t at = text->find(name); at != std::string::npos; at = text->find(name, at + value.size()))
    text->replace(at, name.size(), value);
}

}  // namespace

void PrintUsage() {
  fprintf(stderr,
          "usage: display_host <plug-in.dll> [--params TEXT] [--show TOP|BOTTOM]... [--shutdown TOP|BOTTOM]\n"
          "                    [--hold MS] [--screen-ms MS] [--interval MS] [--setup-only]\n"
          "                    [--linger MS] [--exercise] [--zero-extend]\n"
          "Loads the display plug-in and drives it as the display host application does.\n"
          "--setup-only: only the setup dialog's load and free, then the hold. --linger: a wait after the last free.\n"
          "--exercise: after the hold, custom characters, keys, outputs, fan, colour, backlight, power resume.\n"
          "--zero-extend: byte arguments zero-extended (else the upper bytes of their slots are junk).\n"
          "Texts may hold $Time, $Date and $Tick. Without --params the plug-in's default parameters are used.\n");
}

bool ParseOptions(int argc, char** argv, DisplayHostOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg[0] != '-' && options->plugin_path.empty()) {
      options->plugin_path = arg;
    } else if (arg == "--params" && has_value) {
      options->parameters = argv[++i];
      options->parameters_given = true;
    } else if (arg == "--show" && has_value) {
      options->screens.push_back(argv[++i]);
    } else if (arg == "--shutdown" && has_value) {
      options->shutdown = argv[++i];
    } else if (arg == "--zero-extend") {
      options->zero_extend = true;
    } else if (arg == "--exercise") {
      options->exercise = true;
    } else if (arg == "--setup-only") {
      options->setup_only = true;
    } else if (arg == "--hold" && has_value && NumberArgument(argv[i + 1], &options->hold_ms)) {
      ++i;
    } else if (arg == "--linger" && has_value && NumberArgument(argv[i + 1], &options->linger_ms)) {
      ++i;
    } else if (arg == "--screen-ms" && has_value && NumberArgument(argv[i + 1], &options->screen_ms)) {
      ++i;
    } else if (arg == "--interval" && has_value && NumberArgument(argv[i + 1], &options->interval_ms)) {
      ++i;
    } else {
      fprintf(stderr, "display_host: unexpected argument '%s'\n", arg.c_str());
      return false;
    }
  }
  if (options->plugin_path.empty()) {
    fprintf(stderr, "display_host: no plug-in given\n");
    return false;
  }
  if (options->interval_ms == 0) options->interval_ms = 1;
  return true;
}

std::string ScreenLine(const std::string& screen, int line, unsigned tick, size_t width) {
  const size_t bar = screen.find('|');
  std::string text = line == 0 ? screen.substr(0, bar) : (bar == std::string::npos ? "" : screen.substr(bar + 1));
  const time_t now = time(nullptr);
  char stamp[16];
  strftime(stamp, sizeof stamp, "%H:%M:%S", localtime(&now));
  ReplaceAll(&text, "$Time", stamp);
  strftime(stamp, sizeof stamp, "%d/%m/%y", localtime(&now));
  ReplaceAll(&text, "$Date", stamp);
  ReplaceAll(&text, "$Tick", std::to_string(tick));
  text.resize(width, ' ');
  return text;
}
