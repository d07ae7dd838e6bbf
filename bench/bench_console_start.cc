// The console window's start with 50 registrations, 10 of which name a machine that answers the
// echo (this machine) but a server that never answers the login: the time from loading the
// registrations to the window's first paint, and to the answer of the last reachable server.
//
// The 40 reachable registrations are the demonstration sandbox server, each its own text. The
// silent ones are served by a scripted driver whose logins wait until the run ends, so no
// traffic leaves the machine. Runs on Qt's offscreen platform; no display is needed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/server_manager/workspace.h"
#include "db/testing/fake_driver.h"
#include "gui/main_window.h"
#include "platform/scripted_user_interface.h"
#include "servers/registration_form.h"

namespace {

namespace fs = std::filesystem;

constexpr int kReachable = 40;
constexpr int kSilent = 10;

std::string Reachable(int n) {
  return servers::BuildRegistrationString("(sandbox)\\DEMO", true, "", "") +
         "Application Name=Registration " + std::to_string(n) + ";";
}

std::string Silent(int n) {
  return servers::BuildRegistrationString("localhost\\SILENT" + std::to_string(n), true, "", "");
}

void AddSilentDriver(server_manager::Workspace& workspace,
                     std::shared_ptr<db::testing::FakeServer> fake) {
  workspace.ServerContext().database->drivers().AddFirst(std::make_shared<db::testing::FakeDriver>(
      std::move(fake),
      [](std::string_view source) { return source.substr(0, 16) == "localhost\\SILENT"; }));
}

// Notes the first paint of the window or of any widget in it.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(const QElapsedTimer& clock) : clock_(clock) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && first_paint_ms < 0) first_paint_ms = clock_.elapsed();
    return false;
  }
  qint64 first_paint_ms = -1;

 private:
  const QElapsedTimer& clock_;
};

fs::path Prepare() {
  fs::path root = fs::temp_directory_path() / ("bench-console-start-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  ::setenv("TESSERA_REGISTRY", (root / "registry.db").c_str(), 1);
  ::setenv("TESSERA_SANDBOX_ROOT", (root / "sandbox").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  std::string failure = server_manager::PrepareDemo();
  if (!failure.empty()) throw std::runtime_error(failure);
  // The registrations, stored while every login still answers at once.
  platform::ScriptedUserInterface ui;
  server_manager::Workspace workspace(ui);
  AddSilentDriver(workspace, std::make_shared<db::testing::FakeServer>());
  servers::Servers& list = workspace.Servers();
  // The demonstration's own registration counts as the first reachable one.
  for (int n = 2; n <= kReachable; ++n) list.Add(Reachable(n));
  for (int n = 1; n <= kSilent; ++n) list.Add(Silent(n));
  if (list.Count() != kReachable + kSilent) throw std::runtime_error("registrations missing");
  return root;
}

void BM_ConsoleStart(benchmark::State& state) {
  static const fs::path root = Prepare();
  double paint_total = 0;
  double answers_total = 0;
  for (auto _ : state) {
    auto fake = std::make_shared<db::testing::FakeServer>();
    fake->HoldLogins();
    platform::ScriptedUserInterface ui;
    QElapsedTimer clock;
    clock.start();
    auto workspace = std::make_unique<server_manager::Workspace>(ui);
    AddSilentDriver(*workspace, fake);
    servers::Servers& list = workspace->Servers(servers::ConnectAtLoad::kByCaller);
    auto window = std::make_unique<gui::MainWindow>(list, workspace->ServerContext(), ui);
    window->startupCheckTimer()->stop();
    int answered = 0;
    qint64 last_answer_ms = -1;
    QObject::connect(window.get(), &gui::MainWindow::serverAnswered, [&](const QString&) {
      if (++answered == kReachable) last_answer_ms = clock.elapsed();
    });
    PaintWatch watch(clock);
    window->installEventFilter(&watch);
    window->tree()->viewport()->installEventFilter(&watch);
    window->show();
    if (!QTest::qWaitFor([&] { return watch.first_paint_ms >= 0; }, 30000) ||
        !QTest::qWaitFor([&] { return last_answer_ms >= 0; }, 60000)) {
      state.SkipWithError("the window did not paint or a reachable server did not answer");
      fake->ReleaseLogins();
      break;
    }
    state.SetIterationTime(static_cast<double>(last_answer_ms) / 1000.0);
    paint_total += static_cast<double>(watch.first_paint_ms);
    answers_total += static_cast<double>(last_answer_ms);
    if (fake->held_logins() != kSilent) state.SkipWithError("the silent logins did not all wait");
    if (window->ConnectingCount() != kSilent) state.SkipWithError("a silent server answered");

    // Not timed: the silent servers' workers end once their logins go on.
    fake->RefuseIntegrated(true);
    fake->ReleaseLogins();
    window.reset();
    workspace.reset();
  }
  double runs = static_cast<double>(state.iterations());
  if (runs > 0) {
    state.counters["first_paint_ms"] = paint_total / runs;
    state.counters["last_reachable_answer_ms"] = answers_total / runs;
  }
}
BENCHMARK(BM_ConsoleStart)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
