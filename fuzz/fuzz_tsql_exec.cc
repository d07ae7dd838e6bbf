// Transact-SQL executed: any batch a client sends runs to its end, an error, or the time-out on
// a scratch instance, and never crashes the server or grows it without bound.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/server.h"

namespace {

// Results are counted, not kept: a batch that returns a billion rows must not need their memory.
class CountingSink : public sandbox::ResultSink {
 public:
  void BeginRowSet(const std::vector<sandbox::Column>&) override {}
  void Row(std::vector<common::Value>) override { ++rows; }
  void EndRowSet() override {}
  void Done(std::int64_t) override {}
  void Message(const sandbox::ServerMessage&) override {}
  std::int64_t rows = 0;
};

// A scratch instance in memory where the system offers a memory file system; made anew every
// few hundred inputs, so what one input created cannot pile up.
class Scratch {
 public:
  Scratch() {
    // Sorts and temporary tables spill to work files on disk, as SQL Server's do to tempdb: a
    // limit on the size of any file keeps a batch that grows one without end to an error
    // (a full disk) instead of filling the machine's disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit files{};
    if (::getrlimit(RLIMIT_FSIZE, &files) == 0) {
      files.rlim_cur = std::min<rlim_t>(files.rlim_max, 256u << 20);
      ::setrlimit(RLIMIT_FSIZE, &files);
    }
    const std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    root_ = base / ("tessera-fuzz-" + std::to_string(::getpid()));
  }
  ~Scratch() { Reset(); }

  sandbox::Session& Session() {
    if (session_ == nullptr || ++uses_ > 200) {
      Reset();
      std::filesystem::create_directories(root_);
      host_ = sandbox::OpenHost(root_);
      sandbox::InstanceConfig config;
      config.creator = "fuzzer";
      instance_ = host_->Create("", config);
      std::filesystem::create_directories(instance_->MapPath("C:\\Data"));
      sandbox::LoginRequest login;
      login.integrated = true;
      login.os_user = "fuzzer";
      session_ = instance_->Connect(login);
      uses_ = 0;
    }
    return *session_;
  }

  void Reset() {
    session_.reset();
    instance_.reset();
    host_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::filesystem::path root_;
  std::unique_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::unique_ptr<sandbox::Session> session_;
  int uses_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  const std::string_view batch(reinterpret_cast<const char*>(data), size);
  CountingSink sink;
  std::vector<sandbox::Parameter> parameters;
  try {
    scratch.Session().Execute(batch, parameters, sink, std::chrono::milliseconds(2000));
  } catch (const sandbox::SessionError&) {
    // A killed session or an expired time-out: the next input starts afresh.
    scratch.Reset();
  }
  return 0;
}
