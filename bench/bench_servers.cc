// Server registrations and collection catalogues on the in-process sandbox server: how long the
// console's start takes to load and connect 50 registrations (with the real Linux network probe,
// so an unreachable machine costs what it costs on this system), what one unreachable
// registration costs, and how long the first listing of a server with 500 collections takes.
//
// No traffic leaves the machine: the reachable servers are sandbox instances, the unreachable
// machines are names in the reserved ".invalid" domain, which never reach the resolver, and the
// silent machine is a loopback port whose listener takes no more connections.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "collections/databases.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/recordset.h"
#include "platform/linux_network_probe.h"
#include "platform/sqlite_registry_store.h"
#include "platform/testing/fake_platform.h"
#include "sandbox/server.h"
#include "servers/registration_keys.h"
#include "servers/servers.h"

namespace {

// The named instances beside the default one; the reachable registrations are spread over all.
const std::vector<std::string> kInstances = {"", "ARCHIVE", "SALES", "LEGAL", "HR"};

std::string SandboxConnection(const std::string& instance, int n) {
  std::string source = instance.empty() ? "(sandbox)" : "(sandbox)\\" + instance;
  // Each registration its own text, as registrations of one server differ in options.
  return "Provider=SQLOLEDB;Data Source=" + source +
         ";User Id=sa;Password=;Application Name=Registration " + std::to_string(n);
}

std::string UnreachableConnection(int n) {
  return "Provider=SQLOLEDB;Data Source=nohost" + std::to_string(n) +
         ".invalid;Integrated Security=SSPI";
}

// A sandbox root with its instances, a registry store file and the platform services the
// registrations use: the real network probe and registry store, fakes for what is not timed.
class Bench {
 public:
  explicit Bench(const std::string& tag, bool full_text = true) {
    root_ = std::filesystem::temp_directory_path() /
            ("bench-servers-" + tag + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_ / "sandbox"));
    sandbox::InstanceConfig config;
    config.full_text_installed = full_text;
    for (const std::string& name : kInstances) instances_.push_back(host_->Create(name, config));
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::SandboxDriver>(host_, "bench", "BENCH"));
    environment_ = db::Environment::Create(std::move(drivers));
    store_ = platform::SqliteRegistryStore::Open(root_ / "registry.db");
  }
  ~Bench() {
    instances_.clear();
    host_.reset();
    environment_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  platform::Services Services(platform::NetworkProbe& probe) {
    return platform::Services{fakes_.environment, *store_,       probe,     fakes_.service_control,
                              fakes_.discovery,   fakes_.system, fakes_.ui, *fakes_.file_system};
  }
  servers::Context ServerContext(platform::NetworkProbe& probe) {
    collections::Context collections{Services(probe), environment_, {}, {}};
    return servers::Context{Services(probe), environment_,
                            collections::MakeCatalogueFactory(collections)};
  }

  // A registration as an earlier session of the console left it.
  void Store(std::int32_t id, const std::string& connection_string) {
    platform::cRegistry registry(*store_, fakes_.environment);
    registry.SetClassKey(platform::kHkeyCurrentUser);
    registry.SetSectionKey(servers::RegistrationKey(id));
    registry.CreateKey();
    registry.SetValueKey(servers::kConnectionStringValue);
    registry.SetPlainString(connection_string);
    servers::WriteNumber(registry, servers::RegistrationKey(id), servers::kOrdinalPositionValue,
                         id);
  }

  sandbox::Instance& instance(size_t i) { return *instances_.at(i); }
  const std::shared_ptr<db::Environment>& environment() const { return environment_; }
  // The network probe of the console on this system.
  platform::LinuxNetworkProbe& probe() { return probe_; }
  const platform::Environment& process_environment() const { return process_environment_; }

 private:
  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::vector<std::shared_ptr<sandbox::Instance>> instances_;
  std::shared_ptr<db::Environment> environment_;
  std::unique_ptr<platform::SqliteRegistryStore> store_;
  platform::FakePlatform fakes_;
  platform::ProcessEnvironment process_environment_;
  platform::LinuxNetworkProbe probe_{process_environment_, platform::LinuxNetworkProbe::Options{}};
};

// Loads the stored registrations; only the construction of the list is timed, its release is
// not (it closes every connection).
void TimeLoads(benchmark::State& state, Bench& bench, platform::NetworkProbe& probe, int expected,
               int expected_connected) {
  for (auto _ : state) {
    auto servers = std::make_unique<servers::Servers>(bench.ServerContext(probe));
    state.PauseTiming();
    int connected = 0;
    for (const auto& server : *servers) connected += server->Connected() ? 1 : 0;
    if (servers->Count() != expected || connected != expected_connected) {
      state.SkipWithError(("listed " + std::to_string(servers->Count()) + ", connected " +
                           std::to_string(connected))
                              .c_str());
    }
    servers.reset();
    state.ResumeTiming();
  }
  state.counters["per registration"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * expected,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 45 registrations on sandbox instances and 5 on machines that do not resolve, the unreachable
// ones spread over the list.
void BM_LoadFiftyRegistrations(benchmark::State& state) {
  Bench bench("load");
  platform::LinuxNetworkProbe& probe = bench.probe();
  int sandbox_n = 0, unreachable_n = 0;
  for (int id = 1; id <= 50; ++id) {
    if (id % 10 == 5) {
      bench.Store(id, UnreachableConnection(++unreachable_n));
    } else {
      bench.Store(id, SandboxConnection(kInstances[static_cast<size_t>(sandbox_n % 5)], sandbox_n));
      ++sandbox_n;
    }
  }
  TimeLoads(state, bench, probe, 50, 45);
}
BENCHMARK(BM_LoadFiftyRegistrations)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The same 45 reachable registrations alone.
void BM_LoadReachableRegistrations(benchmark::State& state) {
  Bench bench("reachable");
  platform::LinuxNetworkProbe& probe = bench.probe();
  for (int id = 1; id <= 45; ++id) {
    bench.Store(id, SandboxConnection(kInstances[static_cast<size_t>((id - 1) % 5)], id));
  }
  TimeLoads(state, bench, probe, 45, 45);
}
BENCHMARK(BM_LoadReachableRegistrations)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// The 5 unreachable registrations alone: their "per registration" figure is what one
// unreachable machine adds to the console's start.
void BM_LoadUnreachableRegistrations(benchmark::State& state) {
  Bench bench("unreachable");
  platform::LinuxNetworkProbe& probe = bench.probe();
  for (int id = 1; id <= 5; ++id) bench.Store(id, UnreachableConnection(id));
  TimeLoads(state, bench, probe, 5, 0);
}
BENCHMARK(BM_LoadUnreachableRegistrations)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

// A loopback port whose listener never accepts and whose queue is full: connection attempts to
// it get no answer at all, as from a machine that is switched off.
class SilentPort {
 public:
  SilentPort() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 0) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("no loopback listener");
    }
    port_ = ntohs(address.sin_port);
    // The first connections fill the queue; the kernel drops what comes after.
    for (int i = 0; i < 3; ++i) {
      int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(filler);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~SilentPort() {
    for (int filler : fillers_) ::close(filler);
    if (listener_ >= 0) ::close(listener_);
  }
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

// One connect of a registration whose machine does not resolve.
void BM_ConnectUnresolvedMachine(benchmark::State& state) {
  Bench bench("unresolved");
  platform::LinuxNetworkProbe& probe = bench.probe();
  servers::Server server(bench.ServerContext(probe), 1);
  server.SetConnectionString(UnreachableConnection(1));
  for (auto _ : state) {
    if (server.Connect()) state.SkipWithError("an unresolvable machine was connected");
  }
}
BENCHMARK(BM_ConnectUnresolvedMachine)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->UseRealTime();

// One connect of a registration whose machine resolves but never answers: the echo's wait is
// the whole cost, not the connection's 5-second time-out. The probe's TCP echo is used, as it is
// wherever the system refuses unprivileged ICMP; ICMP to a loopback address would always answer.
void BM_ConnectSilentMachine(benchmark::State& state) {
  Bench bench("silent");
  SilentPort silent;
  platform::LinuxNetworkProbe::Options options;
  options.echo_method = platform::LinuxNetworkProbe::EchoMethod::kTcp;
  platform::LinuxNetworkProbe probe(bench.process_environment(), options);
  servers::Server server(bench.ServerContext(probe), 1);
  server.SetConnectionString("Provider=SQLOLEDB;Data Source=127.0.0.1," +
                             std::to_string(silent.port()) + ";Integrated Security=SSPI");
  for (auto _ : state) {
    if (server.Connect()) state.SkipWithError("a silent machine was connected");
  }
}
BENCHMARK(BM_ConnectSilentMachine)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

// A server with many collections: one is created as the console creates it, detached, and its
// files copied and attached under Quillarchive_1, Quillarchive_2, ...
class ListingBench {
 public:
  explicit ListingBench(int collections) : bench_("listing", false), collections_(collections) {
    sandbox::Instance& instance = bench_.instance(0);
    std::filesystem::create_directories(instance.MapPath("C:\\Data"));
    std::unique_ptr<servers::Server> server = NewServer();
    auto& catalogue = dynamic_cast<collections::Databases&>(server->Databases());
    if (!catalogue.AddNew("Template", "C:\\Data\\Template.mdf")) {
      throw std::runtime_error("the template collection could not be created");
    }
    std::string log_file;
    {
      db::Recordset files;
      files.Open("SELECT filename FROM sysfiles WHERE fileid = 2", catalogue.Item(1)->Connection());
      log_file = files.Fields(0).Value().ToText();
      files.Close();
    }
    if (!catalogue.Remove(1)) throw std::runtime_error("the template could not be detached");
    std::filesystem::path data = instance.MapPath("C:\\Data\\Template.mdf");
    std::filesystem::path log = instance.MapPath(log_file);
    db::Connection connection = server->Connection();
    for (int n = 1; n <= collections_; ++n) {
      std::string stem = "C:\\Data\\Q" + std::to_string(n);
      std::filesystem::copy_file(data, instance.MapPath(stem + ".mdf"));
      std::filesystem::copy_file(log, instance.MapPath(stem + "_log.ldf"));
      connection.Execute("EXEC sp_attach_db 'Quillarchive_" + std::to_string(n) + "', '" + stem +
                         ".mdf', '" + stem + "_log.ldf'");
    }
  }

  // A registration of the default instance, connected, its catalogue not read yet.
  std::unique_ptr<servers::Server> NewServer() {
    auto server = std::make_unique<servers::Server>(bench_.ServerContext(bench_.probe()), 1);
    server->SetConnectionString(SandboxConnection("", 0));
    if (!server->Connect()) throw std::runtime_error(server->Description());
    return server;
  }
  int collections() const { return collections_; }
  const std::shared_ptr<db::Environment>& environment() const { return bench_.environment(); }
  sandbox::Instance& instance() { return bench_.instance(0); }

 private:
  Bench bench_;
  int collections_;
};

// The 500 collections take about a minute to make: they are made once, by the first listing
// benchmark that runs, and shared by the others.
constexpr int kListedCollections = 500;

ListingBench& SharedListing() {
  static std::unique_ptr<ListingBench> listing;
  if (!listing) listing = std::make_unique<ListingBench>(kListedCollections);
  return *listing;
}

// The first read of a server's collections: sp_helpdb, then a connection to every collection.
void BM_ListCollections(benchmark::State& state) {
  ListingBench& listing = SharedListing();
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<servers::Server> server = listing.NewServer();
    state.ResumeTiming();
    auto& catalogue = dynamic_cast<collections::Databases&>(server->Databases());
    state.PauseTiming();
    if (catalogue.Count() != listing.collections()) {
      state.SkipWithError(("listed " + std::to_string(catalogue.Count())).c_str());
    }
    server.reset();
    state.ResumeTiming();
  }
  state.counters["per collection"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * listing.collections(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListCollections)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The server's list of databases on its own (the system databases and the collections).
void BM_HelpDb(benchmark::State& state) {
  ListingBench& listing = SharedListing();
  std::unique_ptr<servers::Server> server = listing.NewServer();
  db::Connection connection = server->Connection();
  for (auto _ : state) {
    db::Recordset recordset;
    recordset.Open("EXEC master..sp_helpdb", connection);
    int collections = 0;
    for (; !recordset.Eof(); recordset.MoveNext()) {
      if (recordset.Fields("name").Value().ToText().starts_with("Quillarchive_")) ++collections;
    }
    recordset.Close();
    if (collections != listing.collections()) state.SkipWithError("wrong database count");
  }
}
BENCHMARK(BM_HelpDb)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// One collection's connection through the client interface, opened and closed, on the same
// server: what the listing spends per collection outside the console's own code.
void BM_OpenCollectionConnection(benchmark::State& state) {
  ListingBench& listing = SharedListing();
  std::unique_ptr<servers::Server> server = listing.NewServer();
  const std::string text = server->ConnectionString() +
                           ";Persist Security Info=True;Initial Catalog=Quillarchive_" +
                           std::to_string(listing.collections() / 2);
  for (auto _ : state) {
    db::Connection connection(listing.environment());
    connection.SetConnectionString(text);
    connection.Open();
    state.PauseTiming();
    connection.Close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenCollectionConnection)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200)
    ->UseRealTime();

// The sandbox's own part of it: a session in a collection, logged in and in its database.
void BM_OpenCollectionSession(benchmark::State& state) {
  ListingBench& listing = SharedListing();
  sandbox::LoginRequest request;
  request.login = "sa";
  request.database = "Quillarchive_" + std::to_string(listing.collections() / 2);
  for (auto _ : state) {
    std::unique_ptr<sandbox::Session> session = listing.instance().Connect(request);
    state.PauseTiming();
    session.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenCollectionSession)->Unit(benchmark::kMillisecond)->Iterations(200)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
