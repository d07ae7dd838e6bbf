// Plain-text generation of a whole collection on the in-process sandbox server, through the
// console's own collection object and progress window: documents per second, and the process's
// peak memory while the run goes on.
//
//   bench_plain_text --benchmark_filter='BM_PlainTextGeneration/10000$'   throughput
//   bench_plain_text --benchmark_filter='BM_PlainTextGeneration/1000$'    memory, small
//   bench_plain_text --benchmark_filter='BM_PlainTextGeneration/20000$'   memory, large
//
// Run each size in a process of its own so the peak figures are comparable: the peak is reset
// (or, where the system does not allow that, measured from) right before the run, after the
// collection was built.
//
// The collection holds HTML pages of about 20 KB (7 in 10), texts (2 in 10) and web archives
// (1 in 10), all stored as text waiting for the generation.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "collections/databases.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/recordset.h"
#include "format/progress_window.h"
#include "platform/testing/fake_platform.h"
#include "sandbox/server.h"
#include "servers/server.h"

namespace {

constexpr char kSandboxSa[] = "Provider=SQLOLEDB;Data Source=(sandbox);User Id=sa;Password=;";
constexpr std::size_t kPageSize = 20000;
// Distinct documents; the collection holds copies of them up to its size.
constexpr int kPool = 40;

// A /proc/self/status figure in KB ("VmHWM", "VmRSS"); 0 when it cannot be read.
long StatusKilobytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return 0;
}

// CPU time of every thread of the process so far.
double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Starts the peak anew from the current size; false where the system does not allow it.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

std::string Quoted(const std::string& text) {
  std::string out = "N'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Page(int n) {
  std::string page =
      "<!DOCTYPE html><html><head><title>Bericht " + std::to_string(n) +
      "</title><style>p{margin:0}</style><script>var x = '<p>nicht sichtbar</p>';</script>"
      "</head><body><h1>Bericht " +
      std::to_string(n) + "</h1>";
  for (int block = 0; page.size() < kPageSize; ++block) {
    switch (block % 4) {
      case 0:
        page += "<p>Absatz " + std::to_string(block) +
                " mit <b>fetten</b> und <i>schiefen</i> W&ouml;rtern, einem <a "
                "href=\"http://www.example.com/seite/" +
                std::to_string(block) +
                "\">Verweis</a> &amp; Zeichen wie &lt;, &gt; und &euro;.</p>";
        break;
      case 1:
        page += "<table><tr><th>Posten</th><th>Betrag</th></tr>";
        for (int r = 0; r < 5; ++r) {
          page += "<tr><td>Posten " + std::to_string(r) + "</td><td>" + std::to_string(r * 17 + n) +
                  ",00</td></tr>";
        }
        page += "</table>";
        break;
      case 2:
        page +=
            "<ul><li>Erstens</li><li>Zweitens <img src=\"http://www.example.com/a.gif\"></li>"
            "<li>Drittens</li></ul>";
        break;
      default:
        page +=
            "<div><object classid=\"clsid:x\"><param name=a value=b>Objekt</object>"
            "<pre>  eingerückt\n  bleibt</pre></div>";
        break;
    }
  }
  return page + "</body></html>";
}

std::string WebArchive(int n) {
  return "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"; "
         "type=\"text/html\"\r\n\r\n--B\r\nContent-Type: text/html; charset=\"utf-8\"\r\n"
         "Content-Transfer-Encoding: 8bit\r\n\r\n" +
         Page(n) + "\r\n--B--\r\n";
}

class Bench {
 public:
  Bench() {
    root_ =
        std::filesystem::temp_directory_path() / ("bench-plain-text-" + std::to_string(getpid()));
    std::filesystem::remove_all(root_);
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_ / "sandbox"));
    instance_ = host_->Create("", sandbox::InstanceConfig{});
    std::filesystem::create_directories(instance_->MapPath("C:\\Data"));
    std::filesystem::create_directories(root_ / "temp");
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::SandboxDriver>(host_, "bench", "BENCH"));
    environment_ = db::Environment::Create(std::move(drivers));
    platform::FakeNetworkProbe::Machine machine;
    machine.echo = platform::kEchoSuccess;
    machine.address = "127.0.0.1";
    machine.join = {platform::kJoinStatusWorkgroup, "WORKGROUP"};
    fakes_.network.SetMachine("(sandbox)", machine);
    fakes_.system.temp_folder = (root_ / "temp").string() + "/";
    fakes_.file_system = &local_files_;  // the run's real cost includes the disk
    collections::Context collections{fakes_.services(), environment_, {}, {}};
    server_ = std::make_unique<servers::Server>(
        servers::Context{fakes_.services(), environment_,
                         collections::MakeCatalogueFactory(collections)},
        1);
    server_->SetConnectionString(kSandboxSa);
    if (!server_->Connect()) throw std::runtime_error(server_->Description());
  }
  ~Bench() {
    collection_.reset();
    server_.reset();
    instance_.reset();
    host_.reset();
    environment_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // A new collection holding `documents` documents waiting for the generation.
  collections::Database& Collection(int documents) {
    auto& catalogue = dynamic_cast<collections::Databases&>(server_->Databases());
    collection_ = catalogue.AddNew("Bench", "C:\\Data\\bench.mdf");
    if (!collection_) throw std::runtime_error("the collection could not be created");
    db::Connection c = collection_->Connection();
    const std::string columns =
        "FolderID, Url, TypeID, CodePage, FileSize, Title, Filename, CreationTime, "
        "FileModifiedDate, BinaryData, Content";
    for (int i = 0; i < kPool && i < documents; ++i) {
      std::string content, name;
      int type = 100;
      if (i % 10 < 7) {
        content = Page(i);
        name = "bericht" + std::to_string(i) + ".htm";
      } else if (i % 10 < 9) {
        type = 90;
        content = "Notiz " + std::to_string(i) + "\r\n" + std::string(2000, 'x');
        name = "notiz" + std::to_string(i) + ".txt";
      } else {
        type = 500;
        content = WebArchive(i);
        name = "archiv" + std::to_string(i) + ".mht";
      }
      c.Execute("INSERT INTO Document (" + columns + ") VALUES (1, N'http://www.example.com/" +
                std::to_string(i) + "', " + std::to_string(type) + ", 1252, " +
                std::to_string(content.size()) + ", N'Dokument', " + Quoted(name) +
                ", '2003-02-01', '2003-02-01', 0, " + Quoted(content) + ")");
    }
    // Copies of the pool until the collection has its size.
    for (int have = std::min(kPool, documents); have < documents;) {
      const int add = std::min(have, documents - have);
      c.Execute("INSERT INTO Document (" + columns + ") SELECT TOP " + std::to_string(add) + " " +
                columns + " FROM Document WHERE BinaryData = 0 ORDER BY EntryID");
      have += add;
    }
    return *collection_;
  }

  platform::FakePlatform& fakes() { return fakes_; }

 private:
  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::shared_ptr<db::Environment> environment_;
  platform::FakePlatform fakes_;
  platform::LocalFileSystem local_files_;
  std::unique_ptr<servers::Server> server_;
  std::shared_ptr<collections::Database> collection_;
};

// One run over a fresh collection per iteration; only the run is timed.
void BM_PlainTextGeneration(benchmark::State& state) {
  const int documents = static_cast<int>(state.range(0));
  double seconds = 0;
  double process_cpu = 0;
  long rss_before = 0, peak = 0;
  bool reset = false;
  for (auto _ : state) {
    state.PauseTiming();
    Bench bench;
    collections::Database& collection = bench.Collection(documents);
    rss_before = StatusKilobytes("VmRSS");
    reset = ResetPeak();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = ProcessCpuSeconds();
    format::frmProgress window(bench.fakes().ui, collection, format::frmProgress::kPlainText);
    if (!window.Show()) state.SkipWithError("the run did not complete");
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    process_cpu += ProcessCpuSeconds() - cpu_start;
    state.PauseTiming();
    peak = StatusKilobytes("VmHWM");
    db::Connection c = collection.Connection();
    db::Recordset left;
    left.Open("SELECT COUNT(*) FROM Document WHERE BinaryData = 0", c);
    if (left.Fields(0).Value().ToInt().value_or(-1) != 0) {
      state.SkipWithError("documents were left unconverted");
    }
    left.Close();
    state.ResumeTiming();
  }
  state.counters["docs_per_second"] = benchmark::Counter(
      static_cast<double>(documents) * static_cast<double>(state.iterations()) / seconds);
  // The run renders pages on a second thread: the CPU column counts the first thread only.
  state.counters["process_cpu_s"] = process_cpu;
  state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1024.0;
  state.counters["growth_over_start_MB"] = static_cast<double>(peak - rss_before) / 1024.0;
  state.counters["peak_was_reset"] = reset ? 1 : 0;
}
BENCHMARK(BM_PlainTextGeneration)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(20000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
