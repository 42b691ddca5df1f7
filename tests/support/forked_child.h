// A child process for multi-process tests. The body runs in the child and its
// return value becomes the exit code; parent and child talk through two pipes with
// one-byte messages (Send / Receive), so each side can wait for the other's step.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <functional>

namespace hdbtest {

class ForkedChild {
 public:
  explicit ForkedChild(std::function<int(ForkedChild&)> body) {
    if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ < 0) std::abort();
    if (pid_ == 0) {
      isChild_ = true;
      ::close(toChild_[1]);
      ::close(toParent_[0]);
      int rc = 99;
      try {
        rc = body(*this);
      } catch (...) {
        rc = 98;
      }
      ::_exit(rc);
    }
    ::close(toChild_[0]);
    ::close(toParent_[1]);
  }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;
  ~ForkedChild() {
    if (!isChild_ && pid_ > 0 && !waited_) {
      ::close(toChild_[1]);
      Wait();
    }
  }

  void Send(char c = 'x') {
    int fd = isChild_ ? toParent_[1] : toChild_[1];
    if (::write(fd, &c, 1) != 1) {
    }
  }
  // Returns the byte, or 0 when the other side has gone.
  char Receive() {
    int fd = isChild_ ? toChild_[0] : toParent_[0];
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : 0;
  }
  // Ends the child at once, as a power cut or a crash would end it.
  void Kill() {
    if (!isChild_ && pid_ > 0 && !waited_) ::kill(pid_, SIGKILL);
  }
  // Waits for the child and returns its exit code (-1 when it did not exit normally).
  int Wait() {
    if (waited_) return status_;
    int st = 0;
    ::waitpid(pid_, &st, 0);
    waited_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return status_;
  }

 private:
  int toChild_[2]{-1, -1};
  int toParent_[2]{-1, -1};
  pid_t pid_ = -1;
  bool isChild_ = false;
  bool waited_ = false;
  int status_ = -1;
};

}  // namespace hdbtest
