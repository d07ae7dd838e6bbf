// Runs a piece of a test on a thread with a stack of a given size, so a walk that recurses too
// deeply fails here rather than only on a client thread with less room than the test runner.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <stdexcept>

namespace sandbox::testing {

inline void RunOnStack(std::size_t bytes, const std::function<void()>& work) {
  struct Job {
    const std::function<void()>* work;
    std::exception_ptr error;
  } job{&work, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t thread;
  int rc = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        auto* j = static_cast<Job*>(arg);
        try {
          (*j->work)();
        } catch (...) {
          j->error = std::current_exception();
        }
        return nullptr;
      },
      &job);
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("cannot start a thread");
  pthread_join(thread, nullptr);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace sandbox::testing
