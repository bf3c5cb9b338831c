// vorn-check.exe: run in the display host application's folder (beside its
// program file), it walks the display chain link by link and says in plain
// words which link is broken and what to do about it. One line per link;
// exit status 0 when every link is OK, 1 when one is broken, 2 when there
// are warnings only. With --patch-layer <file> it makes the patched layer
// instead (patch_layer_step.h); with --end-host <folder> it ends a running
// host program of that folder (host_processes.h); with --bridge or
// --unbridge displays\<name>.dll it puts the 64-bit bridge in front of a
// 32-bit display plug-in, or takes it away, and with --isolate or
// --unisolate the same with the 32-bit isolating bridge (bridge_step.h).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bounded_call.h"
#include "bridge_step.h"
#include "call_bound.h"
#include "console_pause.h"
#include "file_facts.h"
#include "host_processes.h"
#include "host_program_names.h"
#include "isolated_plugins.h"
#include "patch_layer_step.h"
#include "patch_marks.h"
#include "request_block.h"
#include "typed_export.h"
#include "vendor_path.h"

namespace {

// The tool is one more caller of the proxy beside a running display host;
// the proxy serves its callers one at a time. A proxy call takes one
// deadline at its start, and all it does draws on it: its wait for its
// turn, the launcher's wait of a first start, the end of a stuck host
// program and the start of a new one. So it returns within
// kProxyCallBoundMs (about 100.1 s), whatever it met. The bound of each
// call here adds some slack for a busy machine: a call that has not
// returned by then never will.
constexpr DWORD kProxyTimeOutMs = static_cast<DWORD>(kReplyBudgetMs);
constexpr DWORD kCallBoundMs = static_cast<DWORD>(kProxyCallBoundMs) + 5000;

// What the bounded calls write. Static, not on the stack: a call left
// behind after its bound may still return and write them while the tool
// goes on with its other steps.
struct BoundedCallOutputs {
  int32_t position;
  int32_t result;
  uint64_t uid;  // the layer fills in 8 bytes; they are never handled as a number here
};
BoundedCallOutputs g_outputs;

constexpr char kPlugin[] = "displays\\QX20481.dll";
// The 64-bit plug-in's helper, beside the display host's program, and the
// 32-bit plug-in that it calls.
constexpr char kHelper[] = "QX20481Bridge32.exe";
constexpr char kBridgedPlugin[] = "displays\\QX20481-32bit\\QX20481.dll";
// The helper loads the 32-bit plug-in and frees it again; one that takes
// longer than this is stuck in the plug-in's start-up.
constexpr DWORD kProbeWaitMs = 30000;
constexpr char kProxy[] = "VornApx.dll";
constexpr char kLayer[] = "MediaPadLayer.dll";
constexpr char kDisplayHost[] = "LCDSmartie.exe";

class Report {
 public:
  void Ok(const char* link, const std::string& text) { Line("OK", link, text); }
  void Fault(const char* link, const std::string& text) {
    ++faults_;
    Line("FAULT", link, text);
  }
  void Warn(const char* link, const std::string& text) {
    ++warnings_;
    Line("WARN", link, text);
  }
  void Skip(const char* link, const std::string& why) { Line("--", link, "not checked: " + why); }
  int ExitStatus() const { return faults_ ? 1 : (warnings_ ? 2 : 0); }
  void Summary() const {
    if (faults_) {
      printf("%d link%s broken; the lines above say what to do.\n", faults_, faults_ == 1 ? " is" : "s are");
    } else if (warnings_) {
      printf("every link works, with %d warning%s.\n", warnings_, warnings_ == 1 ? "" : "s");
    } else {
      printf("every link is OK.\n");
    }
  }

 private:
  static void Line(const char* verdict, const char* link, const std::string& text) {
    printf("%-6s %-15s %s\n", verdict, link, text.c_str());
  }
  int faults_ = 0;
  int warnings_ = 0;
};

// What the steps found, for the steps after them.
struct Chain {
  std::string folder;  // with a trailing backslash
  Machine display_host = Machine::kMissing;
  // The host program that the proxy starts on this Windows, and its machine.
  const char* host_program = kHostProgram64;
  Machine host_machine = Machine::kX64;
  HMODULE layer = nullptr;
  bool layer_patched = false;
  bool proxy_present = false;
  bool host_present = false;
  bool host_answers = false;
  std::string plugin_version, proxy_version, host_version;
};

std::string OwnFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string VersionText(const std::string& version) { return version.empty() ? "no version" : "version " + version; }

// A program file of the chain: present, and built for the right machine.
// `and_then`, where given, may find the file unusable after all: it says
// why, or returns an empty text.
bool CheckProgramFile(Report& report, const char* link, const std::string& path, const char* shown, Machine wanted,
                      const std::string& where, std::string* version,
                      std::string (*and_then)(const std::string& path) = nullptr) {
  const Machine machine = FileMachine(path);
  if (machine == Machine::kMissing) {
    report.Fault(link, std::string(shown) + " is missing. " + where);
    return false;
  }
  if (machine != wanted) {
    report.Fault(link, std::string(shown) + " is " + MachineText(machine) + ", not " + MachineText(wanted) +
                           ". Take it from the release zip.");
    return false;
  }
  *version = FileVersion(path);
  const std::string problem = and_then ? and_then(path) : "";
  if (!problem.empty()) {
    report.Fault(link, std::string(shown) + " " + problem);
    return false;
  }
  report.Ok(link, std::string(shown) + ", " + MachineText(machine) + ", " + VersionText(*version));
  return true;
}

// Each build of the display host takes the plug-in of its own machine type:
// the 32-bit one QX20481.dll itself, the 64-bit one the 64-bit QX20481.dll,
// which calls the 32-bit one through its helper.
void CheckDisplayHost(Report& report, Chain& chain) {
  const Machine machine = FileMachine(chain.folder + kDisplayHost);
  chain.display_host = machine;
  if (machine == Machine::kMissing) return report.Skip("display host", "no LCDSmartie.exe in this folder");
  if (machine == Machine::kX64) {
    return report.Ok("display host", std::string(kDisplayHost) +
                                         ", 64-bit: it takes the 64-bit QX20481.dll, with its helper "
                                         "QX20481Bridge32.exe beside it and the 32-bit one in displays\\QX20481-32bit");
  }
  if (machine != Machine::kX86)
    return report.Warn("display host", std::string(kDisplayHost) + " is " + MachineText(machine) + ".");
  report.Ok("display host", std::string(kDisplayHost) + ", " + MachineText(machine));
}

const char* ZipFolder(Machine machine) { return machine == Machine::kX64 ? "LCDSmartie-64bit" : "LCDSmartie-32bit"; }

// The bridged plug-in loaded as the helper loads it for a session, from
// this folder (the display host's): empty when it loads, else why not.
std::string ProbeBridgedPlugin(const std::string& path) {
  const std::string folder = path.substr(0, path.size() - strlen(kBridgedPlugin));
  std::string command_line = "\"" + folder + kHelper + "\" --probe \"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA((folder + kHelper).c_str(), &command_line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &process)) {
    return "could not be tried: " + std::string(kHelper) + " does not start (error " + std::to_string(GetLastError()) +
           ").";
  }
  CloseHandle(process.hThread);
  DWORD status = 0;
  if (WaitForSingleObject(process.hProcess, kProbeWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    return "did not finish loading in " + std::to_string(kProbeWaitMs / 1000) + " s (its start-up hangs).";
  }
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  if (status == 0) return "";
  return "could not be loaded (error " + std::to_string(status) + "). Take it from the zip's folder " +
         "LCDSmartie-64bit, or run the setup program.";
}

void CheckHelper(Report& report, const Chain& chain) {
  std::string version;
  const bool helper = CheckProgramFile(report, "helper", chain.folder + kHelper, kHelper, Machine::kX86,
                                       std::string("Copy it from the zip's folder ") + ZipFolder(Machine::kX64) +
                                           " beside LCDSmartie.exe, or run the setup program.",
                                       &version);
  CheckProgramFile(report, "helper", chain.folder + kBridgedPlugin, kBridgedPlugin, Machine::kX86,
                   std::string("Copy the folder displays\\QX20481-32bit from the zip's folder ") +
                       ZipFolder(Machine::kX64) + ", or run the setup program.",
                   &version, helper ? ProbeBridgedPlugin : nullptr);
}

void CheckPlugin(Report& report, Chain& chain) {
  const Machine plugin = FileMachine(chain.folder + kPlugin);
  Machine wanted = chain.display_host;
  if (wanted != Machine::kX86 && wanted != Machine::kX64) wanted = plugin == Machine::kX64 ? plugin : Machine::kX86;
  if ((plugin == Machine::kX86 || plugin == Machine::kX64) && plugin != wanted) {
    // The display host cannot load it: the display stays dark, and no
    // message says why.
    report.Fault("plug-in", std::string(kPlugin) + " is " + MachineText(plugin) + ", but LCDSmartie.exe is the " +
                                MachineText(wanted) +
                                " build, which cannot load it. Copy the files of the zip's folder " +
                                ZipFolder(wanted) + ", or run the setup program.");
  } else {
    CheckProgramFile(report, "plug-in", chain.folder + kPlugin, kPlugin, wanted,
                     std::string("Copy the files of the zip's folder ") + ZipFolder(wanted) +
                         " into the display host application's folder.",
                     &chain.plugin_version);
  }
  if (wanted == Machine::kX64) CheckHelper(report, chain);
  if (FileExists(chain.folder + "displays\\" + kProxy))
    report.Warn("plug-in",
                "displays\\VornApx.dll does not belong there: the display host's setup lists every DLL "
                "in displays as a display driver. Keep VornApx.dll beside the display host's program only.");
}

// A plug-in of the 32-bit display host that runs in a process of its own:
// its own file must be there, and the helper that runs it.
void CheckIsolated(Report& report, const Chain& chain) {
  for (const IsolatedPlugin& plugin : FindIsolatedPlugins(chain.folder)) {
    const std::string shown = "displays\\" + plugin.name + ".dll";
    const std::string own = "displays\\" + plugin.name + "-32bit\\" + plugin.name + ".dll";
    if (!plugin.plugin_present) {
      report.Fault("isolation", shown + " runs its plug-in in a process of its own, but " + own +
                                    " is missing. Put the plug-in there, or delete " + shown + " and put it there.");
      continue;
    }
    if (!FileExists(chain.folder + kHelper)) {
      report.Fault("isolation",
                   shown + " runs " + own + " in a process of its own, but " + kHelper +
                       " is missing. Copy it from the zip's folder LCDSmartie-32bit beside LCDSmartie.exe, "
                       "or run the setup program.");
      continue;
    }
    const std::string running = plugin.helper_pid
                                    ? "its helper " + std::string(kHelper) + " runs (process " +
                                          std::to_string(plugin.helper_pid) + ", for the display host's process " +
                                          std::to_string(plugin.display_host_pid) + ")"
                                    : "no helper runs it now (none is needed until the display host loads it)";
    report.Ok("isolation", shown + " runs " + own + " in a process of its own; " + running +
                               " (undo: vorn-check.exe "
                               "--unisolate " +
                               shown + ")");
  }
}

void CheckLayer(Report& report, Chain& chain) {
  // Found as the plug-in finds it: the display host's folder comes first.
  chain.layer = LoadLibraryA(kLayer);
  if (!chain.layer) {
    char text[160];
    snprintf(text, sizeof text,
             "%s cannot be loaded (error %lu). Put the patched %s beside the display host's program.", kLayer,
             GetLastError(), kLayer);
    report.Fault("layer", text);
    return;
  }
  char path[MAX_PATH] = {};
  GetModuleFileNameA(chain.layer, path, MAX_PATH);
  const uintptr_t entry = reinterpret_cast<uintptr_t>(GetProcAddress(chain.layer, "getMediapadUID"));
  const PatchMarks marks = ReadPatchMarks(chain.layer, entry);
  chain.layer_patched = LayerIsPatched(marks);
  if (chain.layer_patched) {
    report.Ok("layer", std::string(path) + " carries the patch for VornApx.dll");
  } else if (!entry) {
    report.Fault("layer", std::string(path) + " has no getMediapadUID: it is not the MediaPad layer.");
  } else {
    const std::string named = marks.readable ? std::string(marks.proxy_name, sizeof marks.proxy_name) : "";
    report.Fault("layer", std::string(path) + " is not patched" +
                              (named.empty() ? "" : " (it loads " + named + ", not VornApx.dll)") +
                              ". Use the patched copy of MediaPadLayer.dll.");
  }
}

void CheckProxyAndHostFiles(Report& report, Chain& chain) {
  const std::string beside = "Put it beside the display host's program file.";
  chain.proxy_present =
      CheckProgramFile(report, "proxy", chain.folder + kProxy, kProxy, Machine::kX86, beside, &chain.proxy_version);
  chain.host_present = CheckProgramFile(
      report, "host program", chain.folder + chain.host_program, chain.host_program, chain.host_machine,
      beside + " If it was there, an antivirus may have quarantined it: restore it and allow it.", &chain.host_version);
}

// The host program, and so the vendor library, have the machine type of
// Windows itself, whichever build the display host is.
void ChooseHostProgram(Chain& chain) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (!wow64) {
    chain.host_program = kHostProgram32;
    chain.host_machine = Machine::kX86;
  }
}

void CheckVendorLibrary(Report& report, const Chain& chain) {
  const Machine machine = FileMachine(kVendorLibraryPath);
  const std::string wanted = MachineText(chain.host_machine);
  if (machine == Machine::kMissing) {
    report.Fault("vendor library",
                 std::string(kVendorLibraryPath) + " is missing. Install the vendor's MediaPad software.");
  } else if (machine != chain.host_machine) {
    report.Fault("vendor library", std::string(kVendorLibraryPath) + " is " + MachineText(machine) + ", not the " +
                                       wanted + " library. Reinstall the vendor's MediaPad software.");
  } else {
    report.Ok("vendor library", std::string(kVendorLibraryPath) + ", " + wanted);
  }
}

// The line of the host's log that says why it has no vendor library, if any.
std::string HostBindingFailure(const std::string& folder, const char* host_program) {
  std::string log_name = host_program;
  log_name.replace(log_name.size() - 4, 4, ".log");
  FILE* log = fopen((folder + log_name).c_str(), "r");
  if (!log) return "";
  char line[512];
  std::string found;
  while (fgets(line, sizeof line, log)) {
    if (strstr(line, "Failed to load khalapi.dll library") || strstr(line, "Failed at GetProcAddress for khalapi.dll"))
      found = line;
  }
  fclose(log);
  while (!found.empty() && (found.back() == '\n' || found.back() == '\r')) found.pop_back();
  // Without its time stamp, "HH:MM:SS.mmm ".
  return found.size() > 13 && found[2] == ':' && found[8] == '.' ? found.substr(13) : found;
}

// One request through the real proxy: it takes its turn like any caller
// and finds or starts the host program, as it does in the display host.
// Only this call's own answer counts: the section may hold another
// caller's block by the time it returns. A position call is answered by a
// host with the vendor library with something other than -1, which the
// proxy gives for no answer; a host without the vendor library answers -1
// too, and says why in its log. A call that timed out is made once more:
// the proxy replaces a stuck host program for it.
void CheckHost(Report& report, Chain& chain) {
  if (!chain.proxy_present) return report.Skip("host", "needs VornApx.dll");
  using PositionFn = int32_t(__cdecl*)(int32_t*);
  HMODULE proxy = LoadLibraryA((chain.folder + kProxy).c_str());
  if (!proxy) {
    const DWORD error = GetLastError();
    return report.Fault("host", std::string(kProxy) + " cannot be loaded (error " + std::to_string(error) +
                                    "). Take it from the release zip.");
  }
  auto first = LookupExport<PositionFn>(proxy, "LD_GetFirstDevicePosition");
  if (!first)
    return report.Fault("host", "VornApx.dll does not export LD_GetFirstDevicePosition. Take it from the release zip.");
  int32_t result = -1;
  DWORD took = 0;
  bool timed_out = false, replaced = false;
  for (int attempt = 0; attempt < 2 && (attempt == 0 || timed_out); ++attempt) {
    replaced = attempt == 1;
    g_outputs.position = 0;
    const DWORD start = GetTickCount();
    const bool returned = CallWithin(kCallBoundMs, [first] { g_outputs.result = first(&g_outputs.position); });
    took = GetTickCount() - start;
    if (!returned) {
      return report.Fault("host", "no answer within " + std::to_string(took / 1000) + " s: the call is stuck. End " +
                                      chain.host_program +
                                      " in the Task Manager, unplug and replug the pad, and run this check again.");
    }
    result = g_outputs.result;
    // Anything else comes back at once: no host to start, or its answer.
    timed_out = result == -1 && took >= kProxyTimeOutMs / 2;
  }
  if (timed_out) {
    return report.Fault("host",
                        "no answer: a host program runs but does not answer, and the one started in its place "
                        "does not either. Unplug and replug the pad, and run this check again.");
  }
  if (result == -1) {
    const std::string failure =
        RunningHostPrograms().empty() ? "" : HostBindingFailure(chain.folder, chain.host_program);
    if (!failure.empty())
      return report.Fault("host", "the host program answers but has no vendor library: \"" + failure + "\"");
    return report.Fault("host", chain.host_present
                                    ? "no host program answered: it could not be started. If the files came from "
                                      "the internet, Unblock them in their Properties; check the antivirus."
                                    : "no host program answered, and none can be started (see above).");
  }
  chain.host_answers = true;
  char text[200];
  snprintf(text, sizeof text, "a host program answered through the section %s (%lu ms)", kSectionName, took);
  if (replaced) {
    return report.Warn("host", std::string(text) +
                                   ", after the one before it had stopped answering and was replaced. If this "
                                   "happens again, unplug and replug the pad.");
  }
  report.Ok("host", text);
}

void CheckPad(Report& report, const Chain& chain) {
  if (!chain.layer_patched) return report.Skip("pad", "needs the patched layer");
  if (!chain.host_answers) return report.Skip("pad", "needs a host program that answers");
  using GetUidFn = double(__cdecl*)(void* uid);
  auto get_uid = LookupExport<GetUidFn>(chain.layer, "getMediapadUID");
  g_outputs.uid = 0;
  if (!CallWithin(kCallBoundMs, [get_uid] { get_uid(&g_outputs.uid); })) {
    return report.Fault("pad", "no answer from the pad within " + std::to_string(kCallBoundMs / 1000) + " s.");
  }
  const uint64_t uid = g_outputs.uid;
  if ((uid << 1) == 0)
    return report.Fault("pad",
                        "the pad did not answer (no UID). Plug the MediaPad in, and check that the vendor's "
                        "MediaPad software sees it.");
  char text[80];
  snprintf(text, sizeof text, "the pad answered through the layer: UID 0x%016llX",
           static_cast<unsigned long long>(uid));
  report.Ok("pad", text);
}

void CheckVersions(Report& report, const Chain& chain) {
  const std::string& p = chain.plugin_version;
  if (p == chain.proxy_version && p == chain.host_version && !p.empty())
    return report.Ok("versions", "the plug-in, the proxy and the host program are all version " + p);
  report.Warn("versions", "the plug-in has " + VersionText(p) + ", the proxy " + VersionText(chain.proxy_version) +
                              ", the host program " + VersionText(chain.host_version) +
                              ": they were not released together. Install all three from one release zip.");
}

int RunChecks() {
  Chain chain;
  chain.folder = OwnFolder();
  // The display host runs in its own folder; so does everything it starts.
  SetCurrentDirectoryA(chain.folder.c_str());
  char own[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, own, MAX_PATH);
  printf("vorn-check %s: the MediaPad display chain in %s\n", FileVersion(own).c_str(), chain.folder.c_str());
  ChooseHostProgram(chain);
  Report report;
  CheckDisplayHost(report, chain);
  CheckPlugin(report, chain);
  if (chain.display_host != Machine::kX64) CheckIsolated(report, chain);
  CheckLayer(report, chain);
  CheckProxyAndHostFiles(report, chain);
  CheckVendorLibrary(report, chain);
  CheckHost(report, chain);
  CheckPad(report, chain);
  CheckVersions(report, chain);
  report.Summary();
  return report.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  int status;
  if (argc == 1) {
    status = RunChecks();
  } else if (argc == 3 && strcmp(argv[1], "--patch-layer") == 0) {
    status = PatchLayerStep(argv[2], OwnFolder());
  } else if (argc == 3 && strcmp(argv[1], "--end-host") == 0) {
    status = EndHostStep(argv[2]);
  } else if (argc == 3 && strcmp(argv[1], "--bridge") == 0) {
    status = BridgeStep(argv[2], OwnFolder());
  } else if (argc == 3 && strcmp(argv[1], "--unbridge") == 0) {
    status = UnbridgeStep(argv[2]);
  } else if (argc == 3 && strcmp(argv[1], "--isolate") == 0) {
    status = IsolateStep(argv[2], OwnFolder());
  } else if (argc == 3 && strcmp(argv[1], "--unisolate") == 0) {
    status = UnisolateStep(argv[2]);
  } else {
    printf(
        "usage: vorn-check.exe                    checks the display chain in this program's folder\n"
        "       vorn-check.exe --patch-layer <the vendor's MediaPadLayer.dll>\n"
        "                                         writes its patched copy into this program's folder\n"
        "       vorn-check.exe --end-host <folder>\n"
        "                                         ends the host program started from that folder\n"
        "       vorn-check.exe --bridge displays\\<name>.dll\n"
        "                                         lets the 64-bit LCDSmartie use that 32-bit display plug-in\n"
        "       vorn-check.exe --unbridge displays\\<name>.dll\n"
        "                                         puts the 32-bit plug-in back in its place\n"
        "       vorn-check.exe --isolate displays\\<name>.dll\n"
        "                                         runs that plug-in of the 32-bit LCDSmartie in a process of its own\n"
        "       vorn-check.exe --unisolate displays\\<name>.dll\n"
        "                                         lets the 32-bit LCDSmartie load that plug-in itself again\n");
    status = 1;
  }
  PauseIfAloneOnConsole();
  fflush(stdout);
  // Ends a call that is still stuck in the proxy, too.
  ExitProcess(static_cast<UINT>(status));
}
