// The client interface in process and through the ODBC driver over loopback (the sandbox served
// over TDS, FreeTDS's ODBC driver): round trips, a large result, and creating a collection.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "db/command.h"
#include "db/connection.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/recordset.h"
#include "format/install_script.h"
#include "format/template_document.h"
#include "sandbox/tds/server.h"

namespace {

constexpr char kPassword[] = "Bench;pw";

// One instance, reachable both ways.
class Served {
 public:
  Served() {
    root_ = std::filesystem::temp_directory_path() / ("bench-odbc-" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_));
    sandbox::InstanceConfig config;
    config.sa_password = kPassword;
    instance_ = host_->Create("", config);
    server_ = std::make_unique<sandbox::tds::Server>(
        instance_, sandbox::tds::ServerOptions{"127.0.0.1", 0}, nullptr);
    port_ = server_->Start();
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::SandboxDriver>(host_, "admin", "BENCH"));
    drivers.Add(std::make_shared<db::OdbcDriver>());
    environment_ = db::Environment::Create(std::move(drivers));
  }
  ~Served() {
    server_.reset();
    instance_.reset();
    host_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  int port() const { return port_; }

  db::Connection Open(bool odbc, const std::string& catalog = {}) {
    db::Connection connection(environment_);
    std::string source = odbc ? "127.0.0.1," + std::to_string(port_) : "(sandbox)";
    std::string text = "Provider=SQLOLEDB;Data Source=" + source +
                       ";User Id=sa;Password=" + db::ConnectionString::QuoteValue(kPassword) + ";";
    if (!catalog.empty()) text += "Initial Catalog=" + catalog + ";";
    connection.SetConnectionString(text);
    connection.Open();
    return connection;
  }

 private:
  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::unique_ptr<sandbox::tds::Server> server_;
  int port_ = 0;
  std::shared_ptr<db::Environment> environment_;
};

Served& Instance() {
  static Served served;
  return served;
}

// state.range(0): 0 in process, 1 through ODBC.
void BM_SelectOne(benchmark::State& state) {
  db::Connection connection = Instance().Open(state.range(0) == 1);
  for (auto _ : state) {
    db::Recordset rs = connection.Execute("SELECT 1");
    benchmark::DoNotOptimize(rs.Fields(0).Value());
  }
  state.counters["round trips/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(state.range(0) == 1 ? "odbc" : "in process");
}
BENCHMARK(BM_SelectOne)->Arg(0)->Arg(1)->MinTime(2.0)->UseRealTime();

void BM_LargeResult(benchmark::State& state) {
  const bool odbc = state.range(0) == 1;
  db::Connection connection = Instance().Open(odbc);
  connection.Execute(
      "IF OBJECT_ID('tempdb..#rows') IS NULL CREATE TABLE #rows (id int, name "
      "varchar(40), amount float)");
  connection.Execute("DELETE FROM #rows");
  connection.Execute(
      "DECLARE @i int SET @i = 0 WHILE @i < 100000 BEGIN INSERT INTO #rows VALUES (@i, "
      "'row number ' + CONVERT(varchar(10), @i), @i * 1.5) SET @i = @i + 1 END");
  std::int64_t rows = 0;
  for (auto _ : state) {
    db::Recordset rs;
    rs.Open("SELECT id, name, amount FROM #rows", connection, db::kOpenForwardOnly,
            db::kLockReadOnly);
    for (; !rs.Eof(); rs.MoveNext()) ++rows;
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.SetLabel(odbc ? "odbc" : "in process");
}
BENCHMARK(BM_LargeResult)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// What creation sends to a new database, as bench_collection does, through ODBC.
void BM_CreateCollectionOverOdbc(benchmark::State& state) {
  db::Connection server = Instance().Open(true);
  int n = 0;
  for (auto _ : state) {
    std::string name = "Quillarchive_O" + std::to_string(n++);
    server.Execute("CREATE DATABASE " + name);
    db::Connection collection = Instance().Open(true, name);
    db::Command command;
    command.SetActiveConnection(collection);
    for (const std::string& statement : format::InstallationScript(
             format::InstallValues{"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", 37622})) {
      command.SetCommandText(statement);
      command.Execute();
    }
    db::Recordset rs;
    rs.SetCursorLocation(db::kUseClient);
    rs.Open("Document", collection, db::kOpenStatic, db::kLockOptimistic, db::kCmdTable);
    rs.AddNew();
    for (const format::TemplateColumn& column :
         format::TemplateDocumentColumns(1252, common::DateTime::Now())) {
      if (column.append_chunk) {
        rs.Fields(column.name).AppendChunk(column.value);
      } else {
        rs.Fields(column.name).SetValue(column.value);
      }
    }
    rs.Update();
    rs.Close();
    state.PauseTiming();
    collection.Close();
    server.Execute("DROP DATABASE " + name);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CreateCollectionOverOdbc)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// pymssql (FreeTDS's DB-Library) on the same instance, for comparison: the Python script
// measures and this reports its figures.
void BM_PymssqlOverLoopback(benchmark::State& state) {
  const std::string command = "/usr/bin/python3 " + std::string(TESSERA_BENCH_SOURCES) +
                              "/pymssql_loopback.py " + std::to_string(Instance().port()) + " '" +
                              kPassword + "' 2>&1";
  for (auto _ : state) {
    FILE* pipe = ::popen(command.c_str(), "r");
    double round_trips = 0, rows = 0;
    bool read = pipe && std::fscanf(pipe, "%lf %lf", &round_trips, &rows) == 2;
    if (pipe) ::pclose(pipe);
    if (!read) {
      state.SkipWithError("pymssql is not installed or failed (python3-pymssql)");
      return;
    }
    state.counters["round trips/s"] = round_trips;
    state.counters["rows/s"] = rows;
  }
  state.SetLabel("pymssql");
}
BENCHMARK(BM_PymssqlOverLoopback)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
