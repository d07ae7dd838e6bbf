// Collections on the in-process sandbox server, through the client interface: how fast one is
// created (installation script and template document), and how documents go in and come out.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "db/command.h"
#include "db/connection.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/recordset.h"
#include "format/install_script.h"
#include "format/template_document.h"

namespace {

class Sandbox {
 public:
  Sandbox() {
    root_ = std::filesystem::temp_directory_path() /
            ("bench-collection-" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_));
    instance_ = host_->Create("", sandbox::InstanceConfig{});
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::SandboxDriver>(host_, "admin", "BENCH"));
    environment_ = db::Environment::Create(std::move(drivers));
    server_ = Open("");
  }
  ~Sandbox() {
    server_.Close();
    instance_.reset();
    host_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  db::Connection Open(const std::string& catalog) {
    db::Connection connection(environment_);
    std::string text = "Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;";
    if (!catalog.empty()) text += "Initial Catalog=" + catalog + ";";
    connection.SetConnectionString(text);
    connection.Open();
    return connection;
  }

  // What creation sends to a new database: the script on one command, then the template
  // document through an updatable cursor.
  db::Connection CreateCollection(const std::string& name) {
    server_.Execute("CREATE DATABASE " + name);
    db::Connection collection = Open(name);
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
    return collection;
  }

  void Drop(const std::string& name) { server_.Execute("DROP DATABASE " + name); }

 private:
  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::shared_ptr<db::Environment> environment_;
  db::Connection server_;
};

void BM_CreateCollection(benchmark::State& state) {
  Sandbox sandbox;
  int n = 0;
  for (auto _ : state) {
    std::string name = "Quillarchive_B" + std::to_string(n++);
    db::Connection collection = sandbox.CreateCollection(name);
    state.PauseTiming();
    collection.Close();
    sandbox.Drop(name);
    state.ResumeTiming();
  }
  state.counters["collections/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CreateCollection)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Documents inserted one statement each, as the archiving application stores them, then read
// back in one forward-only pass.
void BM_InsertThenSelectDocuments(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Sandbox sandbox;
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string name = "Quillarchive_D" + std::to_string(n++);
    db::Connection collection = sandbox.CreateCollection(name);
    db::Command command;
    command.SetActiveConnection(collection);
    state.ResumeTiming();

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      command.SetCommandText(
          "INSERT INTO Document (FolderID, VisibleInFolderID, Url, TypeID, Title, Filename, "
          "CreationTime, FileModifiedDate, FileSize) VALUES (400, 400, "
          "'http://example.com/page" +
          std::to_string(i) + ".htm', 100, 'Page " + std::to_string(i) +
          "', 'page.htm', GETDATE(), GETDATE(), 20000)");
      command.Execute();
    }
    auto inserted = std::chrono::steady_clock::now();

    db::Recordset rs;
    rs.Open("SELECT EntryID, Url, Title, FileSize FROM Document WHERE FolderID = 400",
            collection, db::kOpenForwardOnly, db::kLockReadOnly);
    std::int64_t rows = 0, total = 0;
    for (; !rs.Eof(); rs.MoveNext()) {
      total += rs.Fields(3).Value().ToInt().value_or(0);
      ++rows;
    }
    rs.Close();
    auto selected = std::chrono::steady_clock::now();
    if (rows != count) state.SkipWithError("wrong row count");
    benchmark::DoNotOptimize(total);

    state.counters["insert rows/s"] =
        count / std::chrono::duration<double>(inserted - start).count();
    state.counters["select rows/s"] =
        count / std::chrono::duration<double>(selected - inserted).count();

    state.PauseTiming();
    collection.Close();
    sandbox.Drop(name);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_InsertThenSelectDocuments)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
