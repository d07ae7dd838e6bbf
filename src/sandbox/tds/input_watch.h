// Watches a client's socket while a batch runs, so that an attention is noticed while the batch
// sends nothing (WAITFOR, a loop, a long query): on input it calls on_input once (which asks
// the session to cancel) and leaves reading the input to the connection's own thread. One
// thread per connection, started at the first batch, waiting between batches.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace sandbox::tds {

class InputWatch {
 public:
  InputWatch(int fd, std::function<void()> on_input);
  ~InputWatch();
  InputWatch(const InputWatch&) = delete;
  InputWatch& operator=(const InputWatch&) = delete;

  // Starts watching; on_input is called at most once until End.
  void Begin();
  // Stops watching; once it returns, on_input is not running and will not be called.
  void End();

  // Watches for the life of a scope.
  class Scope {
   public:
    explicit Scope(InputWatch& watch) : watch_(watch) { watch_.Begin(); }
    ~Scope() { watch_.End(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    InputWatch& watch_;
  };

 private:
  enum class State { kIdle, kWatching, kFired, kEnding, kStopping };
  void Loop();

  int fd_;
  std::function<void()> on_input_;
  int wake_ = -1;  // an eventfd that ends a poll
  std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::kIdle;
  std::thread thread_;
};

}  // namespace sandbox::tds
