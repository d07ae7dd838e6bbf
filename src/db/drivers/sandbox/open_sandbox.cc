// Kept apart from the driver so that programs (and tests) that bring their own sandbox::Host
// do not need the sandbox engine linked in.
#include "db/drivers/sandbox/sandbox_driver.h"

namespace db {

std::shared_ptr<SandboxDriver> OpenSandboxDriver(const std::filesystem::path& root) {
  return std::make_shared<SandboxDriver>(std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root)));
}

std::shared_ptr<SandboxDriver> OpenSandboxDriver() {
  return OpenSandboxDriver(sandbox::DefaultRoot());
}

}  // namespace db
