#include "sandbox/tds/input_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace sandbox::tds {

InputWatch::InputWatch(int fd, std::function<void()> on_input)
    : fd_(fd), on_input_(std::move(on_input)) {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) throw std::runtime_error("eventfd failed");
  thread_ = std::thread([this] { Loop(); });
}

InputWatch::~InputWatch() {
  {
    std::lock_guard lock(mutex_);
    state_ = State::kStopping;
  }
  std::uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // The counter cannot overflow here; the thread also sees the state once it polls again.
  }
  changed_.notify_all();
  thread_.join();
  ::close(wake_);
}

void InputWatch::Begin() {
  std::lock_guard lock(mutex_);
  state_ = State::kWatching;
  changed_.notify_all();
}

void InputWatch::End() {
  std::unique_lock lock(mutex_);
  if (state_ == State::kIdle) return;
  state_ = State::kEnding;
  std::uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // Not reachable with a non-overflowing counter; the wait below would still end at input.
  }
  changed_.notify_all();
  changed_.wait(lock, [this] { return state_ == State::kIdle || state_ == State::kStopping; });
}

void InputWatch::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return state_ != State::kIdle && state_ != State::kFired; });
    if (state_ == State::kStopping) return;
    if (state_ == State::kEnding) {
      std::uint64_t count = 0;
      while (::read(wake_, &count, sizeof count) > 0) {
      }
      state_ = State::kIdle;
      changed_.notify_all();
      continue;
    }
    lock.unlock();
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    lock.lock();
    if (ready < 0 && errno != EINTR) {
      // Nothing to watch with; the batch runs to its end as before.
      state_ = State::kFired;
      continue;
    }
    if (state_ == State::kWatching && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      // Input (an attention, or the end of the connection): the connection's thread reads it
      // when the batch has stopped.
      state_ = State::kFired;
      on_input_();
    }
  }
}

}  // namespace sandbox::tds
