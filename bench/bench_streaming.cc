// Memory of a result larger than memory: the six-way cross join of sysobjects in a database of
// 16 tables and its system tables (hundreds of millions of rows), read for two million rows and then abandoned, the way the sql
// command shows it (ExecuteEach, rows forgotten once seen) and the way a network client reads
// it through the listener. The process's peak resident size is reported before and after:
// when rows stream, it does not grow with the rows read. Also an INSERT ... SELECT copying
// 100,000 documents: the rows go from table to table without being held.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "db/driver.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "sandbox/server.h"
#include "sandbox/tds/server.h"
#include "tds_client.h"

namespace {

constexpr char kPassword[] = "bench";
constexpr char kCrossJoin[] =
    "SELECT a.name, b.name, c.name, d.name, e.name, f.name FROM sysobjects a, sysobjects b, "
    "sysobjects c, sysobjects d, sysobjects e, sysobjects f";
constexpr std::int64_t kRows = 2'000'000;

double PeakMegabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// An instance with a database of 16 tables, made once.
struct Fixture {
  Fixture() {
    root = std::filesystem::temp_directory_path() / ("bench-streaming-" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    host = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root));
    sandbox::InstanceConfig config;
    config.sa_password = kPassword;
    instance = host->Create("", config);
    db::ConnectRequest request;
    request.data_source = "(sandbox)";
    request.user = "sa";
    request.password = kPassword;
    auto session = db::SandboxDriver(host).Connect(request);
    for (const char* text :
         {"CREATE DATABASE wide",
          "USE wide SET NOCOUNT ON DECLARE @i int SET @i = 0 WHILE @i < 16 BEGIN "
          "EXEC ('CREATE TABLE t' + CAST(@i AS varchar(2)) + ' (c int)') SET @i = @i + 1 END"}) {
      db::DriverRequest batch;
      batch.text = text;
      session->Execute(batch);
    }
  }
  ~Fixture() {
    instance.reset();
    host.reset();
    std::filesystem::remove_all(root);
  }
  std::filesystem::path root;
  std::shared_ptr<sandbox::Host> host;
  std::shared_ptr<sandbox::Instance> instance;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

struct Enough {};

// What the sql command does: every event handed over as it comes, rows dropped once seen.
void BM_SqlCommandReadsTwoMillionRows(benchmark::State& state) {
  Fixture& fixture = Shared();
  db::ConnectRequest request;
  request.data_source = "(sandbox)";
  request.user = "sa";
  request.password = kPassword;
  request.catalog = "wide";
  auto session = db::SandboxDriver(fixture.host).Connect(request);
  const double before = PeakMegabytes();
  std::int64_t rows = 0;
  for (auto _ : state) {
    db::DriverRequest batch;
    batch.text = kCrossJoin;
    std::int64_t taken = 0;
    try {
      session->ExecuteEach(batch, [&](db::ResultEvent& event) {
        if (event.kind == db::ResultEvent::Kind::kRow && ++taken == kRows) throw Enough{};
      });
    } catch (const Enough&) {
    }
    rows += taken;
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.counters["peak_MB_before"] = before;
  state.counters["peak_MB_after"] = PeakMegabytes();
}
BENCHMARK(BM_SqlCommandReadsTwoMillionRows)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// A network client: the listener writes the rows as TDS packets, the client reads 100 MB of
// them (about two million rows), then cancels with an attention.
void BM_ListenerSendsTwoMillionRows(benchmark::State& state) {
  Fixture& fixture = Shared();
  sandbox::tds::Server server(fixture.instance, sandbox::tds::ServerOptions{"127.0.0.1", 0},
                              [](std::string_view) {});
  int port = server.Start();
  tds_test::Client client(port);
  client.Login("sa", kPassword);
  client.Batch("USE wide");
  const double before = PeakMegabytes();
  std::size_t bytes = 0;
  for (auto _ : state) {
    client.SendBatch(kCrossJoin);
    bool ended = false;
    std::string tail;
    bytes += client.Skim(100u << 20, &ended, &tail);
    client.SendPacket(6, "");
    client.Skim(SIZE_MAX, &ended, &tail);
  }
  state.counters["MB/s"] =
      benchmark::Counter(static_cast<double>(bytes) / (1 << 20), benchmark::Counter::kIsRate);
  state.counters["peak_MB_before"] = before;
  state.counters["peak_MB_after"] = PeakMegabytes();
}
BENCHMARK(BM_ListenerSendsTwoMillionRows)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// 100,000 documents with a 490-character body copied by one INSERT ... SELECT. The table is
// filled a thousand rows a batch first, so what the copy adds to the peak is its own.
void BM_InsertSelectCopiesHundredThousandDocuments(benchmark::State& state) {
  Fixture& fixture = Shared();
  db::ConnectRequest request;
  request.data_source = "(sandbox)";
  request.user = "sa";
  request.password = kPassword;
  auto session = db::SandboxDriver(fixture.host).Connect(request);
  // Runs a batch to its end; its last value, or an error's text.
  std::string error;
  auto run = [&](const std::string& text) {
    db::DriverRequest batch;
    batch.text = text;
    db::Value last;
    session->ExecuteEach(batch, [&](db::ResultEvent& event) {
      if (event.kind == db::ResultEvent::Kind::kRow && !event.row.empty()) last = event.row[0];
      if (event.kind == db::ResultEvent::Kind::kMessage && event.message.severity > 10 &&
          error.empty())
        error = event.message.text;
    });
    return last;
  };
  run("CREATE DATABASE docs");
  run("USE docs SET NOCOUNT ON CREATE TABLE digits (n int) DECLARE @i int SET @i = 0 "
      "WHILE @i < 10 BEGIN INSERT INTO digits VALUES (@i) SET @i = @i + 1 END "
      "CREATE TABLE documents (id int PRIMARY KEY, title nvarchar(255), url nvarchar(400), "
      "body nvarchar(4000), created datetime)");
  for (int chunk = 0; chunk < 100; ++chunk) {
    run("INSERT INTO documents SELECT n, N'Document ' + CAST(n AS nvarchar(10)), "
        "N'http://example.com/' + CAST(n AS nvarchar(10)), REPLICATE(N'Grüße; ', 70), "
        "DATEADD(second, n, '20030101') FROM (SELECT " +
        std::to_string(chunk * 1000) +
        " + a.n * 100 + b.n * 10 + c.n AS n FROM digits a, digits b, digits c) AS numbers");
  }
  const double before = PeakMegabytes();
  for (auto _ : state) {
    state.PauseTiming();
    run("IF OBJECT_ID('copy') IS NOT NULL DROP TABLE copy "
        "SELECT * INTO copy FROM documents WHERE 1 = 0");
    state.ResumeTiming();
    run("INSERT INTO copy SELECT * FROM documents");
  }
  if (run("SELECT COUNT(*) FROM copy").ToInt() != 100000 && error.empty()) error = "rows lost";
  if (!error.empty()) state.SkipWithError(error.c_str());
  state.counters["rows/s"] = benchmark::Counter(100000.0 * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
  state.counters["peak_MB_before"] = before;
  state.counters["peak_MB_after"] = PeakMegabytes();
}
BENCHMARK(BM_InsertSelectCopiesHundredThousandDocuments)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
