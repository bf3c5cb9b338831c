#pragma once
// The stand-in layers of the build, and the plug-in's own patch check on a
// layer file, for the tests of the patch step and the setup program.

#include <string>

namespace vt {

// bin\layers\<variant>.dll of this build.
std::string StandInLayer(const char* variant);
// True when the file, mapped as the loader maps it (its code does not
// run), carries the patch as the plug-in's patch check reads it.
bool PassesPatchCheck(const std::string& path);

}  // namespace vt
