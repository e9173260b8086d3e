// Running the Windows build's programs under wine, for the tests that do: in
// a scratch prefix, quiet, with no installer offered. Needs
// ALUMNOS_WINDOWS_BUILD, the Windows build's directory.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "terminal.hpp"

#ifndef ALUMNOS_WINDOWS_BUILD
#error "ALUMNOS_WINDOWS_BUILD must name the Windows build's directory"
#endif

namespace wine {

namespace fs = std::filesystem;

inline const std::string kWindowsBuild = ALUMNOS_WINDOWS_BUILD;

// Where wine is found, or why these tests cannot run.
inline std::string wineOrWhyNot() {
  if (const char* why = std::getenv("ALUMNOS_WINE_SKIP"); why != nullptr && *why != '\0') {
    return std::string("skipped: ") + why;
  }
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t begin = 0;
  while (begin <= directories.size()) {
    std::size_t end = directories.find(':', begin);
    if (end == std::string::npos) end = directories.size();
    const fs::path candidate = fs::path(directories.substr(begin, end - begin)) / "wine";
    if (fs::exists(candidate)) return candidate.string();
    begin = end + 1;
  }
  return "skipped: wine is not installed";
}

inline bool isSkip(const std::string& wine) {
  return wine.rfind("skipped: ", 0) == 0;
}

// Options for a program run under wine: its prefix and quiet, no installer
// offered, and time for wine to start. wine's console is drawn by a process
// of its own, so "waiting for input" is told by the screen going quiet.
inline harness::Options underWine(const std::string& wine, std::vector<std::string> args) {
  harness::Options options;
  options.program = wine;
  options.args = std::move(args);
  for (const char* name : {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES"}) {
    if (const char* value = std::getenv(name))
      options.env.push_back(std::string(name) + "=" + value);
  }
  options.env.push_back("WINEDEBUG=-all");
  options.deadline = std::chrono::milliseconds(120'000);
  options.watchSyscalls = false;
  options.quiet = std::chrono::milliseconds(300);
  return options;
}

// Wine for the runs that follow: its server and the programs of its own that
// it starts beside the first Windows program of a session (services and the
// like), all holding none of their pipes. Started by a run, they inherit its
// output and keep it open until the server ends, and runScript waits for the
// output's end. They stay 10 seconds after the last program; a server
// already running is kept.
inline void startWine(const std::string& wine) {
  const fs::path server = fs::path(wine).parent_path() / "wineserver";
  if (!fs::exists(server)) return;
  harness::runScript(".", "",
                     underWine("/bin/sh", {"-c",
                                           "exec </dev/null >/dev/null 2>&1; "
                                           "\"$0\" -p10; \"$1\" cmd.exe /c exit",
                                           server.string(), wine}));
}

// Why `program` cannot be run under `wine` here; empty when it can.
inline std::string whyNot(const std::string& wine, const std::string& program) {
  if (isSkip(wine)) return wine;
  if (!fs::exists(program)) return "skipped: " + program + " is not built (cmake --preset windows)";
  return {};
}

// Lets the program under wine catch up until `text` is on the screen: a
// screen gone quiet may still be waiting for the interpreter to start.
inline bool waitFor(harness::Terminal& t, const std::string& text) {
  for (int i = 0; i < 40; ++i) {
    if (t.dump().find(text) != std::string::npos) return true;
    t.settle();
  }
  return false;
}

}  // namespace wine
