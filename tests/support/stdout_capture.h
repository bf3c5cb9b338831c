#pragma once
// Captures what this process writes to its standard output.

#include <io.h>

#include <cstdio>
#include <string>

#include "test_support.h"

class StdoutCapture {
 public:
  StdoutCapture() : path_(vt::UniqueName("stdout") + ".txt") {
    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    file_ = fopen(path_.c_str(), "wb");
    _dup2(_fileno(file_), _fileno(stdout));
  }
  ~StdoutCapture() { Finish(); }
  std::string Finish() {
    if (file_) {
      fflush(stdout);
      _dup2(saved_, _fileno(stdout));
      _close(saved_);
      fclose(file_);
      file_ = nullptr;
      text_ = vt::ReadFileBytes(path_);
      remove(path_.c_str());
    }
    return text_;
  }

 private:
  std::string path_;
  int saved_ = -1;
  FILE* file_ = nullptr;
  std::string text_;
};
