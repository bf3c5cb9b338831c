#pragma once
// Runs the plug-in's code in a fresh directory that holds the layer variant
// a test asks for as "MediaPadLayer.dll", and reads back what the recording
// layer saw and what the plug-in logged. Each case needs a fresh process (as
// vorn_gtest runs them): the plug-in's state, its log and the loaded layer
// are module state.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace pt {

// A layer variant from the build's layers folder, e.g. "MediaPadLayer_recording".
bool PlaceLayer(const char* variant);
// Any other file of the build's bin folder, placed as "MediaPadLayer.dll".
bool PlaceAsLayer(const char* file);

void SetVariable(const char* name, const char* value);  // null removes it

// The recording layer's lines, oldest first.
std::vector<std::string> LayerCalls();
// The plug-in's log lines without their time stamps.
std::vector<std::string> LogLines();
std::string LogPath();

// The lines that open and close a log cycle, without time stamps.
std::vector<std::string> LogFrame(const char* middle_tag);

// The recorded form of a UID given as the environment gives it (16 hex digits).
std::string RecordedUid(unsigned long long value);
constexpr unsigned long long kDefaultUid = 0x1122334455667788ull;

// The log lines of a successful LoadMediaPadFunctions for the loaded layer
// (with its three unused functions or without them), with its real addresses.
std::vector<std::string> LoadLines(bool with_optional = true);

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts);

class PluginTest : public ::testing::Test {
 protected:
  vt::ScopedTempDir dir_;
};

}  // namespace pt
