// A stand-in for the program under test, for the harness's own tests. Each
// argument is one step, done in order:
//   print:BYTES  write BYTES to standard output as they are
//   stderr:BYTES the same to standard error
//   line         read a line from standard input a byte at a time (so nothing
//                after it is taken); print "got:LINE" or "eof"
//   key          read one byte in raw mode; print "key:HH"
//   ttykey       like key, from /dev/tty rather than standard input
//   echo:N       read N bytes in raw mode, writing each back; then "echoed:N"
//   fill:N       write N dots
//   esckey       like key, but after ESC wait 40 ms for more bytes, as a key
//                reader tells Esc from a sequence; print every byte read
//   sleep:MS     sleep
//   pause        wait forever without reading
//   dots         print a dot every 20 ms forever, without reading
//   tty          print "tty:yes" if /dev/tty opens, else "tty:no"
//   size         print "size:COLUMNSxROWS" of the terminal on standard output
//   cwd          print the working directory
//   env:NAME     print NAME's value
//   exit:N       exit with status N
//   signal:N     die of signal N
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void say(std::string_view bytes, int fd = 1) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) std::exit(120);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string hex(unsigned char c) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", c);
  return text;
}

bool readByte(unsigned char& c, int fd = 0) {
  for (;;) {
    const ssize_t n = read(fd, &c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// Raw mode for the length of one key, restored after.
struct RawMode {
  int fd;
  termios saved{};
  bool active = false;
  explicit RawMode(int terminal = 0) : fd(terminal) {
    if (tcgetattr(fd, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active = tcsetattr(fd, TCSANOW, &raw) == 0;
  }
  ~RawMode() {
    if (active) tcsetattr(fd, TCSANOW, &saved);
  }
};

void step(const std::string& s) {
  const auto colon = s.find(':');
  const std::string name = s.substr(0, colon);
  const std::string value = colon == std::string::npos ? "" : s.substr(colon + 1);
  if (name == "print") {
    say(value);
  } else if (name == "stderr") {
    say(value, 2);
  } else if (name == "line") {
    std::string line;
    unsigned char c = 0;
    bool any = false;
    while (readByte(c)) {
      any = true;
      if (c == '\n') break;
      line += static_cast<char>(c);
    }
    say(any ? "got:" + line + "\n" : std::string("eof\n"));
  } else if (name == "key" || name == "esckey") {
    RawMode raw;
    unsigned char c = 0;
    if (!readByte(c)) return say("eof\n");
    std::string got = "key:" + hex(c);
    if (name == "esckey" && c == 0x1b) {
      pollfd p{0, POLLIN, 0};
      while (poll(&p, 1, 40) > 0 && readByte(c))
        got += " " + hex(c);
    }
    say(got + "\n");
  } else if (name == "ttykey") {
    const int tty = open("/dev/tty", O_RDWR);
    RawMode raw(tty);
    unsigned char c = 0;
    say(readByte(c, tty) ? "key:" + hex(c) + "\n" : std::string("eof\n"));
    close(tty);
  } else if (name == "echo") {
    RawMode raw;
    const long count = std::stol(value);
    long done = 0;
    unsigned char c = 0;
    while (done < count && readByte(c)) {
      say(std::string_view(reinterpret_cast<const char*>(&c), 1));
      ++done;
    }
    say("\r\nechoed:" + std::to_string(done) + "\n");
  } else if (name == "fill") {
    say(std::string(std::stoul(value), '.'));
  } else if (name == "sleep") {
    const long ms = std::stol(value);
    timespec t{ms / 1000, (ms % 1000) * 1'000'000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
  } else if (name == "dots") {
    for (;;) {
      say(".");
      usleep(20'000);
    }
  } else if (name == "pause") {
    for (;;)
      pause();
  } else if (name == "tty") {
    const int fd = open("/dev/tty", O_RDWR);
    say(fd >= 0 ? "tty:yes\n" : "tty:no\n");
  } else if (name == "size") {
    winsize w{};
    if (ioctl(1, TIOCGWINSZ, &w) != 0) return say("size:none\n");
    say("size:" + std::to_string(w.ws_col) + "x" + std::to_string(w.ws_row) + "\n");
  } else if (name == "cwd") {
    char path[4096];
    say(std::string(getcwd(path, sizeof path) != nullptr ? path : "?") + "\n");
  } else if (name == "env") {
    const char* v = std::getenv(value.c_str());
    say(std::string(v != nullptr ? v : "(unset)") + "\n");
  } else if (name == "exit") {
    std::exit(std::stoi(value));
  } else if (name == "signal") {
    const int number = std::stoi(value);
    std::signal(number, SIG_DFL);
    raise(number);
  } else {
    say("unknown step " + s + "\n");
    std::exit(121);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    step(argv[i]);
  return 0;
}
