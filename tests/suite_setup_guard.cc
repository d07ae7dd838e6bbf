// Linked into every test program. When an assertion fails in SetUpTestSuite, GoogleTest marks each
// test of the suite skipped, and CTest, which takes "[  SKIPPED ]" for a skip, would report the
// run as passed. The program ends as failed before the first of those skips is printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

class SuiteSetupGuard : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& info) override {
    const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    if (suite && suite->ad_hoc_test_result().Failed()) {
      std::printf("[  FAILED  ] %s: SetUpTestSuite failed; its tests cannot run\n",
                  info.test_suite_name());
      std::fflush(stdout);
      std::_Exit(1);
    }
  }
};

const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new SuiteSetupGuard);
  return true;
}();

}  // namespace
