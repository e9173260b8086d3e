#include "files.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace harness {

namespace {

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/alumnos-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw systemError("cannot create " + pattern);
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// POSIX calls rather than streams, so that a short write or a directory in the
// file's place is reported rather than taken as success or as an empty file.
void ScratchDir::write(const std::string& name, std::string_view bytes) const {
  const std::string file = path_ + "/" + name;
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw systemError("cannot create " + file);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const auto error = systemError("cannot write " + file);
      ::close(fd);
      throw error;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::close(fd) != 0) throw systemError("cannot write " + file);
}

std::string ScratchDir::read(const std::string& name) const {
  const std::string file = path_ + "/" + name;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw systemError("cannot open " + file);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const auto error = systemError("cannot read " + file);
      ::close(fd);
      throw error;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

bool ScratchDir::exists(const std::string& name) const {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path_ + "/" + name, error));
}

std::vector<std::string> ScratchDir::names() const {
  std::vector<std::string> result;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    result.push_back(entry.path().filename().string());
  }
  std::sort(result.begin(), result.end());
  return result;
}

}  // namespace harness
