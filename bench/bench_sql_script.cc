// The sql command on scripts (-i), in process through the same path as tessera-sandbox: the
// statements per second of a 10,000-statement script of everyday queries, and the memory of a
// 100 MB script, which is read batch by batch and never held whole. The peak resident size is
// reported before and after each run: a script that streams does not raise it by its size.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/sandbox_cli/commands.h"

namespace {

namespace fs = std::filesystem;

constexpr int kStatements = 10'000;
constexpr std::int64_t kBigScriptBytes = 100LL * 1024 * 1024;

double PeakMegabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Output nobody reads.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct Fixture {
  Fixture() {
    root = fs::temp_directory_path() / ("bench-sql-script-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    Run({"init"});
    Run({"sql", "-Q", "CREATE DATABASE Bench"});
    Run({"sql", "-d", "Bench", "-Q",
         "CREATE TABLE Customer (id int PRIMARY KEY, name varchar(50), city varchar(30), "
         "balance money)"});
    WriteEverydayScript();
    WriteBigScript();
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root.string()});
    std::istringstream in;
    NullBuffer null;
    std::ostream out(&null);
    return sandbox_cli::RunCommand(args, sandbox_cli::Io{in, out, out, nullptr, false});
  }

  // Ten statements a batch, as an administrator's script has them: inserts, look-ups by key,
  // updates, counts, catalogue queries, PRINT and a variable.
  void WriteEverydayScript() {
    everyday = root / "everyday.sql";
    std::ofstream out(everyday);
    out << "USE Bench\nSET NOCOUNT ON\nGO\n";
    for (int i = 0; i < kStatements / 10; ++i) {
      int id = i + 1;
      out << "INSERT Customer (id, name, city, balance) VALUES (" << id << ", 'Customer " << id
          << "', 'City " << id % 17 << "', " << id * 3 << ".25)\n"
          << "SELECT name, city FROM Customer WHERE id = " << id << "\n"
          << "UPDATE Customer SET balance = balance + 1 WHERE id = " << id << "\n"
          << "SELECT COUNT(*) FROM Customer WHERE city = 'City " << id % 17 << "'\n"
          << "SELECT name FROM sysobjects WHERE type = 'U' AND name = 'Customer'\n"
          << "DECLARE @n int\n"
          << "SET @n = (SELECT MAX(id) FROM Customer)\n"
          << "IF @n <> " << id << " PRINT 'unexpected'\n"
          << "SELECT TOP 5 id, balance FROM Customer ORDER BY balance DESC\n"
          << "SELECT DB_NAME(), USER_NAME(), @@SPID\n"
          << "GO\n";
    }
  }

  // About 100 MB: batches of a hundred comment lines and one statement each.
  void WriteBigScript() {
    big = root / "big.sql";
    std::ofstream out(big);
    const std::string comment = "-- " + std::string(96, 'x') + "\n";
    std::int64_t written = 0;
    for (int batch = 0; written < kBigScriptBytes; ++batch) {
      for (int line = 0; line < 100; ++line) out << comment;
      out << "SELECT " << batch << " AS n\nGO\n";
      written += 100 * static_cast<std::int64_t>(comment.size()) + 24;
    }
  }

  fs::path root;
  fs::path everyday;
  fs::path big;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_EverydayScript(benchmark::State& state) {
  Fixture& fixture = Shared();
  double before = PeakMegabytes();
  for (auto _ : state) {
    state.PauseTiming();
    fixture.Run({"sql", "-d", "Bench", "-Q", "DELETE Customer"});
    state.ResumeTiming();
    int code = fixture.Run({"sql", "-i", fixture.everyday.string()});
    if (code != 0) state.SkipWithError("the script failed");
  }
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(kStatements) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["peak_MB_before"] = before;
  state.counters["peak_MB_after"] = PeakMegabytes();
}
BENCHMARK(BM_EverydayScript)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_HundredMegabyteScript(benchmark::State& state) {
  Fixture& fixture = Shared();
  double before = PeakMegabytes();
  for (auto _ : state) {
    int code = fixture.Run({"sql", "-i", fixture.big.string()});
    if (code != 0) state.SkipWithError("the script failed");
  }
  std::error_code ec;
  state.counters["script_MB"] = static_cast<double>(fs::file_size(fixture.big, ec)) / 1048576.0;
  state.counters["peak_MB_before"] = before;
  state.counters["peak_MB_after"] = PeakMegabytes();
}
BENCHMARK(BM_HundredMegabyteScript)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// One row of a 20,000-row table changed, its key carried by ON UPDATE CASCADE to the 20,000 rows
// of the table that references it: a statement's cost grows with the tables, not their product.
void BM_CascadeUpdate(benchmark::State& state) {
  Fixture& fixture = Shared();
  fixture.Run({"sql", "-d", "Bench", "-Q",
               "CREATE TABLE Par (k int PRIMARY KEY, x int) CREATE TABLE Chi (id int PRIMARY KEY, "
               "k int REFERENCES Par ON UPDATE CASCADE) DECLARE @i int SET @i = 0 BEGIN TRAN "
               "WHILE @i < 20000 BEGIN INSERT Par VALUES (@i, 0) INSERT Chi VALUES (@i, @i) "
               "SET @i = @i + 1 END COMMIT"});
  int key = 0;
  for (auto _ : state) {
    std::string update =
        "UPDATE Par SET k = " + std::to_string(-1 - key) + " WHERE k = " + std::to_string(key);
    if (fixture.Run({"sql", "-d", "Bench", "-b", "-Q", update}) != 0)
      state.SkipWithError("the update failed");
    ++key;
  }
}
BENCHMARK(BM_CascadeUpdate)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The administrator's cursor loop: a cursor declared without a type is dynamic, and each pass
// changes its current row through WHERE CURRENT OF; 2,000 rows. The loop's cost must grow with
// the rows, not their square (before: 7.5 s for 2,000 rows, 33 s for 4,000).
void BM_CursorUpdateLoop(benchmark::State& state) {
  Fixture& fixture = Shared();
  fixture.Run({"sql", "-d", "Bench", "-Q",
               "CREATE TABLE Looped (id int IDENTITY PRIMARY KEY, v int) SET NOCOUNT ON "
               "DECLARE @i int SET @i = 0 BEGIN TRAN WHILE @i < 2000 BEGIN "
               "INSERT Looped (v) VALUES (@i) SET @i = @i + 1 END COMMIT"});
  const std::string loop =
      "SET NOCOUNT ON DECLARE c CURSOR FOR SELECT v FROM Looped FOR UPDATE OF v DECLARE @v int "
      "OPEN c FETCH NEXT FROM c INTO @v WHILE @@FETCH_STATUS = 0 BEGIN UPDATE Looped SET v = @v "
      "+ 1 WHERE CURRENT OF c FETCH NEXT FROM c INTO @v END CLOSE c DEALLOCATE c";
  for (auto _ : state)
    if (fixture.Run({"sql", "-d", "Bench", "-b", "-Q", loop}) != 0)
      state.SkipWithError("the loop failed");
}
BENCHMARK(BM_CursorUpdateLoop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
