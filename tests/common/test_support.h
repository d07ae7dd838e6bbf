// Helpers the test binaries share: a scratch folder per test, and the error a call raises.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "common/error.h"

namespace common::testing {

// A path below the temporary folder that no other test of any running binary uses, emptied of
// what a crashed run left there; made as a folder when `make` says so.
inline std::filesystem::path ScratchFolder(std::string_view prefix, bool make = false) {
  static std::atomic<int> counter{0};
  std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      (std::string(prefix) + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path);
  if (make) std::filesystem::create_directories(path);
  return path;
}

// Removes a scratch folder; a folder already gone is no failure of the test.
inline void RemoveScratch(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

// The error of kind `E` that `f` raises; a call that raises none fails the test.
template <typename E = common::Error, typename F>
E CatchError(F&& f) {
  try {
    f();
  } catch (const E& error) {
    return error;
  }
  ADD_FAILURE() << "no error was raised";
  return E(0, "", "");
}

}  // namespace common::testing
