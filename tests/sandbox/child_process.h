// A child process for tests of one instance opened by several processes.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace sandbox::testing {

// A process of its own that opens the instance. It must open nothing the parent has open: a
// SQLite connection does not survive fork(), so the parent opens the instance only after its
// children have been started.
class Child {
 public:
  // body talks to the parent through Say and Hear and returns the exit status.
  explicit Child(const std::function<int(Child&)>& body) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      write_ = up[1];
      read_ = down[0];
      int status = 99;
      try {
        status = body(*this);
      } catch (...) {
        status = 98;
      }
      ::_exit(status);
    }
    ::close(up[1]);
    ::close(down[0]);
    read_ = up[0];
    write_ = down[1];
  }
  ~Child() {
    if (write_ >= 0) ::close(write_);
    if (read_ >= 0) ::close(read_);
    if (pid_ > 0 && !waited_) Wait();
  }

  bool started() const { return pid_ > 0; }
  // One line to the other side.
  void Say(const std::string& line) {
    std::string text = line + "\n";
    if (::write(write_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) ::_exit(97);
  }
  // The next line from the other side; empty when it has gone.
  std::string Hear() {
    std::string line;
    char c;
    while (::read(read_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  int Wait() {
    waited_ = true;
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int read_ = -1, write_ = -1;
  bool waited_ = false;
};

}  // namespace sandbox::testing
