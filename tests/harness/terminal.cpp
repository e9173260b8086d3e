#include "terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

std::string errnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

int statusOf(int waitStatus) {
  return WIFSIGNALED(waitStatus) ? killedBy(WTERMSIG(waitStatus)) : WEXITSTATUS(waitStatus);
}

std::string describeStatus(int status) {
  return status < 0 ? "killed by signal " + std::to_string(-status)
                    : "exited with status " + std::to_string(status);
}

void setFlags(int fd, int fdFlags, int statusFlags) {
  if (fdFlags != 0) fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | fdFlags);
  if (statusFlags != 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | statusFlags);
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int waitMs(Clock::time_point until, int atMost) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, atMost));
}

// Everything the child needs, built before fork: between fork and exec only
// async-signal-safe calls are allowed, so nothing may allocate there.
struct Launch {
  std::vector<std::string> argStrings;
  std::vector<std::string> envStrings;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string directory;

  Launch(const std::string& dir, const Options& options) : directory(dir) {
    argStrings.push_back(options.program);
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());

    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    auto set = [&](const std::string& entry) {
      const std::string name = nameOf(entry);
      std::erase_if(envStrings, [&](const std::string& e) { return nameOf(e) == name; });
      envStrings.push_back(entry);
    };
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = nameOf(entry);
      if (name == "PATH" || name == "HOME" || name.ends_with("SAN_OPTIONS")) set(entry);
    }
    set("TERM=xterm-256color");
    set("LANG=C.UTF-8");
    for (const auto& entry : options.env)
      set(entry);

    for (auto& s : argStrings)
      argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : envStrings)
      envp.push_back(s.data());
    envp.push_back(nullptr);
  }

  // In the child, after its descriptors are in place. Reports a failure to
  // start through errorPipe as an errno value.
  [[noreturn]] void exec(int errorPipe) const {
    // Ignored signals survive exec, and the test process may ignore some (a
    // shell ignores SIGINT in its background jobs; runScript ignores SIGPIPE):
    // the program starts as it would from an interactive shell.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number)
      sigaction(number, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir(directory.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(errorPipe, &error, sizeof error);
    _exit(127);
  }
};

// In the parent: throws if the child could not exec (and reaps it).
void checkStarted(pid_t pid, int errorPipe[2], const Launch& launch) {
  closeFd(errorPipe[1]);
  int error = 0;
  ssize_t n;
  do {
    n = ::read(errorPipe[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  closeFd(errorPipe[0]);
  if (n == static_cast<ssize_t>(sizeof error)) {
    int ignored;
    waitpid(pid, &ignored, 0);
    throw Failure("cannot start " + launch.argStrings[0] + " in " + launch.directory + ": " +
                  std::strerror(error));
  }
}

}  // namespace

std::string keyBytes(Key key) {
  switch (key) {
    case Key::Enter:
      return "\r";
    case Key::Tab:
      return "\t";
    case Key::ShiftTab:
      return "\x1b[Z";
    case Key::Backspace:
      return "\x7f";
    case Key::Esc:
      return "\x1b";
    case Key::Up:
      return "\x1b[A";
    case Key::Down:
      return "\x1b[B";
    case Key::Right:
      return "\x1b[C";
    case Key::Left:
      return "\x1b[D";
    case Key::Home:
      return "\x1b[H";
    case Key::End:
      return "\x1b[F";
    case Key::Insert:
      return "\x1b[2~";
    case Key::Delete:
      return "\x1b[3~";
    case Key::PageUp:
      return "\x1b[5~";
    case Key::PageDown:
      return "\x1b[6~";
    case Key::F1:
      return "\x1bOP";
    case Key::F2:
      return "\x1bOQ";
    case Key::F3:
      return "\x1bOR";
    case Key::F4:
      return "\x1bOS";
    case Key::F5:
      return "\x1b[15~";
    case Key::F6:
      return "\x1b[17~";
    case Key::F7:
      return "\x1b[18~";
    case Key::F8:
      return "\x1b[19~";
    case Key::F9:
      return "\x1b[20~";
    case Key::F10:
      return "\x1b[21~";
    case Key::F11:
      return "\x1b[23~";
    case Key::F12:
      return "\x1b[24~";
  }
  return {};
}

Terminal::Terminal(const std::string& directory, Options options)
    : options_(std::move(options)), screen_(options_.columns, options_.rows) {
  try {
    winsize size{};
    if (!options_.reportsNoSize) {
      size.ws_row = static_cast<unsigned short>(options_.rows);
      size.ws_col = static_cast<unsigned short>(options_.columns);
    }
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) {
      throw Failure(errnoText("openpty"));
    }
    // Close-on-exec, so that a second terminal's child does not hold this one open.
    setFlags(master_, FD_CLOEXEC, O_NONBLOCK);
    setFlags(slave_, FD_CLOEXEC, 0);

    const Launch launch(directory, options_);
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) throw Failure(errnoText("pipe2"));
    pid_ = fork();
    if (pid_ < 0) {
      closeFd(errorPipe[0]);
      closeFd(errorPipe[1]);
      throw Failure(errnoText("fork"));
    }
    if (pid_ == 0) {
      // A session leader with the pty as controlling terminal, so that the
      // program's /dev/tty is this pty.
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(slave_, 0);
      dup2(slave_, 1);
      dup2(slave_, 2);
      if (options_.nonBlockingInput) fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
      launch.exec(errorPipe[1]);
    }
    checkStarted(pid_, errorPipe, launch);
    settle();
  } catch (...) {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      int ignored;
      waitpid(pid_, &ignored, 0);
    }
    closeFd(master_);
    closeFd(slave_);
    throw;
  }
}

Terminal::~Terminal() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int ignored;
    waitpid(pid_, &ignored, 0);
  }
  closeFd(master_);
  closeFd(slave_);
}

// Feeds everything the program has written so far to the screen and sends the
// terminal's replies; true if there was anything.
bool Terminal::drain() {
  bool any = false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: nothing more for now; EIO: the slave is gone
    screen_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    any = true;
  }
  if (const std::string replies = screen_.takeReplies(); !replies.empty()) writeAll(replies);
  return any;
}

bool Terminal::reap() {
  if (status_) return true;
  int waitStatus = 0;
  if (waitpid(pid_, &waitStatus, WNOHANG) != pid_) return false;
  status_ = statusOf(waitStatus);
  return true;
}

// Polling the slave makes the kernel first hand it everything written to the
// master, so a byte still in flight is not taken for an empty queue. In line
// mode only whole lines count: a half-typed line is what a reader waits on.
bool Terminal::slaveHasInput() const {
  pollfd p{slave_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// True if the child sleeps in read() on this terminal. The kernel reports a
// syscall only for a task that stayed asleep while it looked, so a reader that
// has just been woken shows as "running".
bool Terminal::childBlockedReadingTerminal() const {
  const std::string proc = "/proc/" + std::to_string(pid_);
  std::ifstream file(proc + "/syscall");
  std::string line;
  if (!file || !std::getline(file, line) || line.empty()) return false;
  std::istringstream fields(line);
  long number = -1;
  unsigned long fd = 0;
  if (!(fields >> number >> std::hex >> fd) || number != SYS_read) return false;
  struct stat reading {};
  struct stat slave {};
  if (stat((proc + "/fd/" + std::to_string(fd)).c_str(), &reading) != 0) return false;
  if (fstat(slave_, &slave) != 0) return false;
  return S_ISCHR(reading.st_mode) &&
         (reading.st_rdev == slave.st_rdev || reading.st_rdev == makedev(5, 0));
}

void Terminal::settle() {
  // Whether /proc/<pid>/syscall can be read at all is found out once: the
  // kernel can refuse it (ptrace rules) or lack it.
  if (options_.watchSyscalls && syscallsReadable_) {
    std::ifstream probe("/proc/" + std::to_string(pid_) + "/syscall");
    std::string line;
    syscallsReadable_ = probe && std::getline(probe, line) && !line.empty();
  }
  const bool watch = options_.watchSyscalls && syscallsReadable_;
  const auto deadline = Clock::now() + options_.deadline;
  auto lastActivity = Clock::now();
  int idleChecks = 0;
  for (;;) {
    bool busy = drain();
    if (reap()) {
      drain();
      return;
    }
    busy = busy || slaveHasInput();
    if (watch) {
      // The output is drained again after the child is seen asleep: it wrote
      // everything before it went to sleep. Two looks in a row, a poll apart,
      // guard against any delay in the kernel that the above did not cover.
      busy = busy || !childBlockedReadingTerminal() || drain();
      idleChecks = busy ? 0 : idleChecks + 1;
      if (idleChecks == 2) return;
    } else {
      if (busy) lastActivity = Clock::now();
      if (Clock::now() - lastActivity >= options_.quiet) return;
    }
    if (Clock::now() >= deadline) {
      fail("the program did not come to wait for input within " +
           std::to_string(options_.deadline.count()) + " ms");
    }
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, waitMs(deadline, 1));
  }
}

void Terminal::writeAll(std::string_view bytes) {
  const auto deadline = Clock::now() + options_.deadline;
  while (!bytes.empty()) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) fail(errnoText("writing to the terminal"));
    // The program's input is full: let it run, and keep reading its output so
    // that it is never stuck writing while we wait for it to read.
    if (Clock::now() >= deadline) {
      fail("the program did not take its input within " +
           std::to_string(options_.deadline.count()) + " ms");
    }
    pollfd p{master_, POLLIN | POLLOUT, 0};
    poll(&p, 1, waitMs(deadline, 10));
    if ((p.revents & POLLIN) != 0) {
      char buffer[4096];
      const ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got > 0) screen_.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    }
  }
}

void Terminal::send(std::string_view bytes) {
  writeAll(bytes);
}

void Terminal::type(std::string_view bytes) {
  writeAll(bytes);
  settle();
}

void Terminal::typeByteByByte(std::string_view bytes) {
  for (const char c : bytes)
    type(std::string_view(&c, 1));
}

void Terminal::key(Key k) {
  type(keyBytes(k));
}

std::optional<int> Terminal::exited() {
  drain();
  if (reap()) drain();
  return status_;
}

termios Terminal::mode() const {
  termios mode{};
  if (tcgetattr(slave_, &mode) != 0) throw Failure(errnoText("tcgetattr"));
  return mode;
}

int Terminal::waitExit() {
  const auto deadline = Clock::now() + options_.deadline;
  while (!reap()) {
    drain();
    if (Clock::now() >= deadline) {
      fail("the program did not end within " + std::to_string(options_.deadline.count()) + " ms");
    }
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, waitMs(deadline, 5));
  }
  drain();
  return *status_;
}

void Terminal::fail(const std::string& what) {
  if (!status_) {
    kill(pid_, SIGKILL);
    int waitStatus = 0;
    if (waitpid(pid_, &waitStatus, 0) == pid_) status_ = statusOf(waitStatus);
  }
  throw Failure(options_.program + ": " + what + "\n" + dump());
}

std::string Terminal::text(int column, int row, int length) const {
  return screen_.text(column, row, length);
}
std::string Terminal::row(int row) const {
  return screen_.row(row);
}
Colour Terminal::foreground(int column, int row) const {
  return screen_.foreground(column, row);
}
Colour Terminal::background(int column, int row) const {
  return screen_.background(column, row);
}
Position Terminal::cursor() const {
  return screen_.cursor();
}

std::string Terminal::dump() const {
  return (status_ ? "program " + describeStatus(*status_) : std::string("program running")) + ", " +
         screen_.dump();
}

Script runScript(const std::string& directory, std::string_view input, Options options) {
  // A program that stops reading early must not kill the test with SIGPIPE;
  // the child gets the default back before exec.
  signal(SIGPIPE, SIG_IGN);
  const Launch launch(directory, options);
  int in[2], out[2], err[2], errorPipe[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
      pipe2(errorPipe, O_CLOEXEC) != 0) {
    throw Failure(errnoText("pipe2"));
  }
  const pid_t pid = fork();
  if (pid < 0) throw Failure(errnoText("fork"));
  if (pid == 0) {
    setsid();  // a new session has no controlling terminal
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (options.nonBlockingInput) fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
    launch.exec(errorPipe[1]);
  }
  closeFd(in[0]);
  closeFd(out[1]);
  closeFd(err[1]);
  try {
    checkStarted(pid, errorPipe, launch);
  } catch (...) {
    closeFd(in[1]);
    closeFd(out[0]);
    closeFd(err[0]);
    throw;
  }
  setFlags(in[1], 0, O_NONBLOCK);

  Script result;
  const auto deadline = Clock::now() + options.deadline;
  const auto inputFrom = Clock::now() + options.inputDelay;
  auto timedOut = [&](const std::string& what) {
    kill(pid, SIGKILL);
    int ignored;
    waitpid(pid, &ignored, 0);
    closeFd(in[1]);
    closeFd(out[0]);
    closeFd(err[0]);
    return Failure(options.program + ": " + what + " within " +
                   std::to_string(options.deadline.count()) + " ms; output so far:\n" +
                   result.output + result.errors);
  };
  if (input.empty()) closeFd(in[1]);
  while (out[0] >= 0 || err[0] >= 0) {
    const bool held = Clock::now() < inputFrom;
    pollfd p[3] = {{held ? -1 : in[1], POLLOUT, 0}, {out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(p, 3, waitMs(held ? inputFrom : deadline, 100)) < 0 && errno != EINTR) {
      throw Failure(errnoText("poll"));
    }
    if ((p[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(in[1], input.data(), input.size());
      if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || input.empty()) closeFd(in[1]);
    }
    for (int i : {1, 2}) {
      if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 1 ? result.output : result.errors).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        closeFd(i == 1 ? out[0] : err[0]);
      }
    }
    if (Clock::now() >= deadline) throw timedOut("the program did not finish its output");
  }
  closeFd(in[1]);
  int waitStatus = 0;
  rusage usage{};
  while (wait4(pid, &waitStatus, WNOHANG, &usage) != pid) {
    if (Clock::now() >= deadline) throw timedOut("the program did not end");
    usleep(2000);
  }
  result.status = statusOf(waitStatus);
  result.peakKiB = usage.ru_maxrss;
  return result;
}

}  // namespace harness
