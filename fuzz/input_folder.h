// A folder of a fuzzer's own for the input files it writes, removed when the
// fuzzer exits.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class InputFolder {
 public:
  InputFolder() {
    std::string templ = "/tmp/flipreel-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    path_ = templ;
  }
  ~InputFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  InputFolder(const InputFolder&) = delete;
  InputFolder& operator=(const InputFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
