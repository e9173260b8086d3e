// A fresh, empty working directory for one test, removed with everything in it
// when the test ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace harness {

class ScratchDir {
 public:
  ScratchDir();  // under $TMPDIR, else /tmp
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Files are named relative to the directory and hold raw bytes; read()
  // throws std::runtime_error if the file cannot be read.
  void write(const std::string& name, std::string_view bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  std::vector<std::string> names() const;  // every entry, sorted

 private:
  std::string path_;
};

}  // namespace harness
