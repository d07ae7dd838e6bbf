// One instance opened by several processes at once: sessions, process ids, KILL, the "in use"
// checks and the database list are shared through the instance's files, and the files are the
// owner's alone.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "sandbox/child_process.h"
#include "sandbox/functions.h"
#include "sandbox/sandbox_fixture.h"
#include "sandbox/sqlite.h"

namespace sandbox::testing {
namespace {

namespace fs = std::filesystem;
using common::Value;

LoginRequest Sa(const std::string& database = "") {
  LoginRequest request;
  request.login = "sa";
  request.database = database;
  request.host_name = "OTHERHOST";
  request.application = "other process";
  return request;
}

// The first error number of a batch, or -1 when the session is gone (a broken connection).
int Outcome(Session& session, const std::string& batch) {
  CollectingSink sink;
  std::vector<Parameter> none;
  try {
    session.Execute(batch, none, sink, std::chrono::milliseconds(0));
  } catch (const SessionError&) {
    return -1;
  }
  return sink.FirstError();
}

class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = common::testing::ScratchFolder("sandbox-processes");
    // The instance is made by a process of its own, so this one has nothing open at a fork.
    Child maker([&](Child&) {
      auto host = OpenHost(root_);
      auto instance = host->Create("", InstanceConfig{});
      auto session = instance->Connect(Sa());
      return Outcome(*session,
                     "CREATE DATABASE Shared CREATE TABLE Shared..t (v INT) "
                     "INSERT INTO Shared..t VALUES (1) INSERT INTO Shared..t VALUES (2) "
                     "INSERT INTO Shared..t VALUES (3) EXEC sp_addlogin 'worker', 'pw'");
    });
    ASSERT_EQ(maker.Wait(), 0);
  }
  void TearDown() override {
    session_.reset();
    instance_.reset();
    host_.reset();
    common::testing::RemoveScratch(root_);
  }
  // Opens the instance in this process, once every child has been started.
  void Open() {
    host_ = OpenHost(root_);
    instance_ = host_->Find("");
    ASSERT_NE(instance_, nullptr);
    session_ = instance_->Connect(Sa());
  }
  CollectingSink Run(const std::string& batch) {
    CollectingSink sink;
    std::vector<Parameter> none;
    session_->Execute(batch, none, sink, std::chrono::milliseconds(0));
    return sink;
  }
  std::vector<std::vector<Value>> Rows(const std::string& batch) {
    CollectingSink sink = Run(batch);
    EXPECT_EQ(sink.FirstError(), 0) << batch << "\n" << sink.ErrorText();
    return sink.sets.empty() ? std::vector<std::vector<Value>>{} : sink.sets.back().rows;
  }

  fs::path root_;
  std::unique_ptr<Host> host_;
  std::shared_ptr<Instance> instance_;
  std::unique_ptr<Session> session_;
};

constexpr const char* kHostileHost = "H\xC3\xB6st'; DROP DATABASE Shared; --[x]";
constexpr const char* kHostileProgram = "x';DROP TABLE t--]";

// What another process's sessions in a database mean here: sp_who lists them, every statement
// that needs the database to itself refuses, KILL ends them, and a commit of work that was going
// on in the dropped database fails instead of reporting success.
TEST_F(ProcessesTest, SessionsOfAnotherProcessAreListedHoldTheirDatabaseAndCanBeKilled) {
  Child other([&](Child& self) {
    auto instance = OpenHost(root_)->Find("");
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < 3; ++i) {
      LoginRequest request = Sa("Shared");
      // Names are data, whatever they hold.
      request.host_name = kHostileHost;
      request.application = kHostileProgram;
      sessions.push_back(instance->Connect(request));
    }
    // The first has work of its own under way.
    if (Outcome(*sessions[0], "BEGIN TRAN DELETE FROM t") != 0) return 1;
    std::string spids;
    for (auto& s : sessions) spids += std::to_string(s->spid()) + " ";
    self.Say(spids);
    if (self.Hear() != "go on") return 2;
    self.Say(std::to_string(Outcome(*sessions[0], "COMMIT")) + " " +
             std::to_string(Outcome(*sessions[1], "SELECT 1")) + " " +
             std::to_string(Outcome(*sessions[2], "SELECT 1")));
    return 0;
  });
  ASSERT_TRUE(other.started());
  std::string spids = other.Hear();
  ASSERT_FALSE(spids.empty());
  Open();

  std::set<int> theirs;
  for (size_t start = 0; start < spids.size();) {
    size_t blank = spids.find(' ', start);
    theirs.insert(std::stoi(spids.substr(start, blank - start)));
    start = blank + 1;
  }
  ASSERT_EQ(theirs.size(), 3u);
  // Process ids are unique across processes.
  EXPECT_EQ(theirs.count(session_->spid()), 0u);
  std::set<int> listed;
  for (const auto& row : Rows("EXEC sp_who")) {
    int spid = static_cast<int>(row[0].ToInt().value_or(0));
    if (!theirs.count(spid)) continue;
    listed.insert(spid);
    EXPECT_EQ(row[3], Value("sa"));
    std::string host = row[4].ToText();
    EXPECT_EQ(host.substr(0, host.find_last_not_of(' ') + 1), kHostileHost);
    EXPECT_EQ(row[6], Value("Shared"));
  }
  EXPECT_EQ(listed, theirs);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM master..sysprocesses WHERE program_name = '" +
                 std::string("x'';DROP TABLE t--]") + "'")
                .at(0)
                .at(0),
            Value(3));
  EXPECT_EQ(
      Rows("SELECT COUNT(*) FROM master..sysprocesses WHERE dbid = DB_ID('Shared')").at(0).at(0),
      Value(3));

  struct Refusal {
    const char* batch;
    int error;
  };
  const Refusal kRefusals[] = {
      {"DROP DATABASE Shared", 3702},
      {"EXEC sp_detach_db 'Shared'", 3703},
      {"EXEC sp_renamedb 'Shared', 'Renamed'", 5030},
      {"ALTER DATABASE Shared MODIFY NAME = Renamed", 5030},
      {"ALTER DATABASE Shared SET SINGLE_USER", 5070},
  };
  for (const Refusal& r : kRefusals) EXPECT_EQ(Run(r.batch).FirstError(), r.error) << r.batch;

  for (int spid : theirs) EXPECT_EQ(Run("KILL " + std::to_string(spid)).FirstError(), 0);
  // A session killed once is gone for good.
  EXPECT_EQ(Run("KILL " + std::to_string(*theirs.begin())).FirstError(), 6106);
  // The killed session's open work is rolled back at once, though it sends nothing: its locks do
  // not keep this one waiting, and the rows it had deleted are there.
  EXPECT_EQ(Run("DELETE FROM Shared..t WHERE v = 1").FirstError(), 0);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Shared..t").at(0).at(0), Value(2));
  EXPECT_EQ(Run("DROP DATABASE Shared").FirstError(), 0);
  other.Say("go on");
  // The commit and the next statements fail as on a broken connection.
  EXPECT_EQ(other.Hear(), "-1 -1 -1");
  EXPECT_EQ(other.Wait(), 0);
}

// A database detached here is no longer written by a session of another process that had it
// open (by a three-part name, from master), so nothing is lost when it is attached again.
TEST_F(ProcessesTest, ADetachedDatabaseIsNotWrittenByAnotherProcess) {
  Child other([&](Child& self) {
    auto instance = OpenHost(root_)->Find("");
    auto session = instance->Connect(Sa());
    if (Outcome(*session, "SELECT COUNT(*) FROM Shared..t") != 0) return 1;
    self.Say("ready");
    if (self.Hear() != "go on") return 2;
    self.Say(std::to_string(Outcome(*session, "DELETE FROM Shared..t")));
    return 0;
  });
  ASSERT_EQ(other.Hear(), "ready");
  Open();
  ASSERT_EQ(Run("EXEC sp_detach_db 'Shared'").FirstError(), 0);
  other.Say("go on");
  // 911: the database is not there for it any more.
  EXPECT_EQ(other.Hear(), "911");
  EXPECT_EQ(other.Wait(), 0);
  ASSERT_EQ(Run("EXEC sp_attach_db 'Shared', 'C:\\Program Files\\Microsoft SQL "
                "Server\\MSSQL\\Data\\Shared.mdf'")
                .FirstError(),
            0);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM Shared..t").at(0).at(0), Value(3));
}

// Work written by a session of another process into a database that was dropped meanwhile (by
// a three-part name, so the session was not "in" it) is not reported committed.
TEST_F(ProcessesTest, WorkInADatabaseDroppedMeanwhileIsNotCommitted) {
  Child other([&](Child& self) {
    auto instance = OpenHost(root_)->Find("");
    auto session = instance->Connect(Sa());
    if (Outcome(*session, "BEGIN TRAN DELETE FROM Shared..t") != 0) return 1;
    self.Say("ready");
    if (self.Hear() != "go on") return 2;
    self.Say(std::to_string(Outcome(*session, "COMMIT")));
    return 0;
  });
  ASSERT_EQ(other.Hear(), "ready");
  Open();
  EXPECT_EQ(Run("DROP DATABASE Shared").FirstError(), 0);
  other.Say("go on");
  EXPECT_EQ(other.Hear(), "-1");
  EXPECT_EQ(other.Wait(), 0);
}

// A login logged in from another process is not dropped from under its session.
TEST_F(ProcessesTest, ALoginLoggedInFromAnotherProcessIsNotDropped) {
  Child other([&](Child& self) {
    auto instance = OpenHost(root_)->Find("");
    LoginRequest request = Sa();
    request.login = "worker";
    request.password = "pw";
    auto session = instance->Connect(request);
    self.Say("ready");
    if (self.Hear() != "close") return 2;
    session.reset();
    self.Say("closed");
    return 0;
  });
  ASSERT_EQ(other.Hear(), "ready");
  Open();
  EXPECT_EQ(Run("EXEC sp_droplogin 'worker'").FirstError(), 15434);
  other.Say("close");
  EXPECT_EQ(other.Hear(), "closed");
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(Run("EXEC sp_droplogin 'worker'").FirstError(), 0);
}

// A global temporary procedure made in another process is run here, ends with its maker's
// session, and does not outlive a maker that died without closing its session.
TEST_F(ProcessesTest, GlobalTemporaryProceduresOfAnotherProcess) {
  // Both makers start before this process opens the instance; the second dies.
  std::vector<std::unique_ptr<Child>> makers;
  for (int dies = 0; dies < 2; ++dies) {
    makers.push_back(std::make_unique<Child>([&, dies](Child& self) {
      auto instance = OpenHost(root_)->Find("");
      auto session = instance->Connect(Sa());
      std::string name = "[##p'; " + std::to_string(dies) + "]";
      if (Outcome(*session, "CREATE PROCEDURE " + name + " @a int AS SELECT @a * 2") != 0) return 1;
      self.Say("made");
      if (self.Hear() != "end") return 2;
      if (dies) ::_exit(0);
      session.reset();
      self.Say("ended");
      return 0;
    }));
    ASSERT_EQ(makers.back()->Hear(), "made");
  }
  Open();
  for (int dies = 0; dies < 2; ++dies) {
    std::string exec = "EXEC [##p'; " + std::to_string(dies) + "] 21";
    EXPECT_EQ(Rows(exec).at(0).at(0), Value(42));
    makers[dies]->Say("end");
    if (!dies) {
      EXPECT_EQ(makers[dies]->Hear(), "ended");
    }
    EXPECT_EQ(makers[dies]->Wait(), 0);
    EXPECT_EQ(Run(exec).FirstError(), 2812) << exec;
  }
}

// Four processes create databases at once: every creation succeeds, each with a dbid of its own
// (a dbid taken from a process's stale copy of the list failed as "Access is denied").
TEST_F(ProcessesTest, FourProcessesCreatingDatabasesAtOnceAllSucceed) {
  constexpr int kProcesses = 4;
  constexpr int kEach = 25;
  std::vector<std::unique_ptr<Child>> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(std::make_unique<Child>([&, p](Child& self) {
      auto instance = OpenHost(root_)->Find("");
      auto session = instance->Connect(Sa());
      if (self.Hear() != "go") return 2;
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
        // As a collection is made: created under one name, then given its own.
        int error = Outcome(*session, "CREATE DATABASE " + name + "_new");
        if (error == 0)
          error = Outcome(*session, "EXEC sp_renamedb '" + name + "_new', '" + name + "'");
        if (error != 0) {
          ++failures;
          self.Say(name + ": " + std::to_string(error));
        }
      }
      self.Say("done");
      return failures == 0 ? 0 : 1;
    }));
  }
  for (auto& child : children) child->Say("go");
  for (auto& child : children) {
    for (std::string line = child->Hear(); line != "done" && !line.empty(); line = child->Hear())
      ADD_FAILURE() << line;
    EXPECT_EQ(child->Wait(), 0);
  }
  Open();
  auto rows = Rows("SELECT dbid, name FROM master..sysdatabases WHERE name LIKE 'P%'");
  std::set<long long> dbids;
  std::set<std::string> names;
  for (const auto& row : rows) {
    dbids.insert(row[0].ToInt().value_or(0));
    names.insert(row[1].ToText());
  }
  EXPECT_EQ(dbids.size(), static_cast<size_t>(kProcesses * kEach));
  EXPECT_EQ(names.size(), static_cast<size_t>(kProcesses * kEach));
}

// Rows of a process that ended without closing its sessions hold nothing.
TEST_F(ProcessesTest, SessionsOfAnEndedProcessAreForgotten) {
  Child other([&](Child&) {
    auto instance = OpenHost(root_)->Find("");
    auto session = instance->Connect(Sa("Shared")).release();  // never closed
    (void)session;
    return 0;
  });
  ASSERT_EQ(other.Wait(), 0);
  Open();
  EXPECT_EQ(
      Rows("SELECT COUNT(*) FROM master..sysprocesses WHERE dbid = DB_ID('Shared')").at(0).at(0),
      Value(0));
  EXPECT_EQ(Run("DROP DATABASE Shared").FirstError(), 0);
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return 07777;
  return st.st_mode & 0777;
}

// Folders 0700 and files 0600 whatever the umask; an instance opened later has wider modes
// taken back (master holds the login hashes, the databases the archive).
TEST(InstanceFiles, AreTheOwnersAlone) {
  fs::path root = common::testing::ScratchFolder("sandbox-modes");
  mode_t saved = ::umask(022);
  fs::path data;
  {
    auto host = OpenHost(root / "sandbox");
    auto instance = host->Create("", InstanceConfig{});
    auto session = instance->Connect(Sa());
    EXPECT_EQ(Outcome(*session, "CREATE DATABASE Archive USE Archive CREATE TABLE t (v INT)"), 0);
    data = instance->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data");
    // SQLite's companions take the data file's mode; they are there while it is open.
    EXPECT_EQ(ModeOf(data / "Archive.mdf-wal"), 0600u);
    EXPECT_EQ(ModeOf(data / "master.mdf-shm"), 0600u);
  }
  fs::path instance_folder = root / "sandbox" / "MSSQLSERVER";
  const fs::path kFolders[] = {root / "sandbox", instance_folder, instance_folder / "drives", data};
  const fs::path kFiles[] = {instance_folder / "instance.conf",
                             data / "master.mdf",
                             data / "mastlog.ldf",
                             data / "Archive.mdf",
                             data / "Archive_log.LDF",
                             instance_folder / "sessions.db"};
  for (const fs::path& folder : kFolders) EXPECT_EQ(ModeOf(folder), 0700u) << folder;
  for (const fs::path& file : kFiles) EXPECT_EQ(ModeOf(file), 0600u) << file;

  // As an earlier version left them.
  for (const fs::path& folder : kFolders) fs::permissions(folder, fs::perms(0755));
  for (const fs::path& file : kFiles) fs::permissions(file, fs::perms(0644));
  fs::create_symlink("/etc/hostname", instance_folder / "link");
  mode_t target = ModeOf("/etc/hostname");
  {
    auto host = OpenHost(root / "sandbox");
    ASSERT_NE(host->Find(""), nullptr);
  }
  // The root was made by this version already; the instance's own folders are repaired.
  for (const fs::path& folder : {instance_folder, instance_folder / "drives", data})
    EXPECT_EQ(ModeOf(folder), 0700u) << folder;
  for (const fs::path& file : kFiles) EXPECT_EQ(ModeOf(file), 0600u) << file;
  // A link is neither followed nor changed.
  EXPECT_EQ(ModeOf("/etc/hostname"), target);
  ::umask(saved);
  common::testing::RemoveScratch(root);
}

// An instance made by an earlier version kept a database's log file only in the database's own
// file table: opened now, its catalogue learns it, so a drop still removes the log file.
TEST(InstanceFiles, AnInstanceOfAnEarlierVersionIsBroughtUpToDate) {
  fs::path root = common::testing::ScratchFolder("sandbox-upgrade");
  fs::path data, master;
  {
    auto host = OpenHost(root);
    auto instance = host->Create("", InstanceConfig{});
    auto session = instance->Connect(Sa());
    ASSERT_EQ(Outcome(*session, "CREATE DATABASE Old"), 0);
    data = instance->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data");
  }
  {
    Connection old((data / "master.mdf").string(), false);
    RegisterFunctions(old.get(), nullptr);  // the catalogue's collation
    old.Exec("ALTER TABLE \"sandbox$databases\" DROP COLUMN logfilename");
  }
  ASSERT_TRUE(fs::exists(data / "Old_log.LDF"));
  auto host = OpenHost(root);
  auto instance = host->Find("");
  ASSERT_NE(instance, nullptr);
  auto session = instance->Connect(Sa());
  CollectingSink sink;
  std::vector<Parameter> none;
  session->Execute("DROP DATABASE Old", none, sink, std::chrono::milliseconds(0));
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_FALSE(fs::exists(data / "Old_log.LDF"));
  EXPECT_FALSE(fs::exists(data / "Old.mdf"));
  session.reset();
  instance.reset();
  host.reset();
  common::testing::RemoveScratch(root);
}

// While another process fills a database, sp_helpdb here lists its size as the files have it at
// that moment (never less than a listing before), and after the other process has declared a
// larger data file, that size.
TEST_F(ProcessesTest, HelpdbFollowsADatabaseAnotherProcessFills) {
  constexpr int kRounds = 6;
  Child writer([&](Child& self) {
    auto instance = OpenHost(root_)->Find("");
    auto session = instance->Connect(Sa("Shared"));
    if (Outcome(*session, "CREATE TABLE big (v VARCHAR(4000)) INSERT INTO big VALUES ('" +
                              std::string(4000, 'x') + "')") != 0)
      return 1;
    self.Say("ready");
    for (int round = 0; round < kRounds; ++round) {
      // Each round adds up to 512 rows of 4 KB.
      std::string batch;
      for (int i = 0; i < 8; ++i) batch += " INSERT INTO big SELECT TOP 64 v FROM big";
      if (Outcome(*session, batch) != 0) return 2;
      self.Say("round");
    }
    if (Outcome(*session, "ALTER DATABASE Shared MODIFY FILE (NAME = Shared, SIZE = 30MB)") != 0)
      return 3;
    self.Say("done");
    return 0;
  });
  ASSERT_TRUE(writer.started());
  ASSERT_EQ(writer.Hear(), "ready");
  Open();
  auto size_of = [&]() {
    std::vector<std::vector<Value>> rows = Rows("EXEC sp_helpdb 'Shared'");
    return rows.empty() ? -1.0 : std::stod(rows[0][1].ToText());
  };
  const double first = size_of();
  EXPECT_GT(first, 0.0);
  double last = first;
  // Listed while the other process goes on writing.
  std::string line = writer.Hear();
  for (; line == "round"; line = writer.Hear()) {
    for (int i = 0; i < 3; ++i) {
      double now = size_of();
      EXPECT_GE(now, last);
      last = now;
    }
  }
  EXPECT_EQ(line, "done");
  ASSERT_EQ(writer.Wait(), 0);

  // Once it has stopped: the files as they are on disk, the data file at least its 30 MB.
  CollectingSink sink = Run("EXEC sp_helpdb 'Shared'");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 2u);
  const auto& files = sink.sets[1].rows;
  ASSERT_EQ(files.size(), 2u);
  auto pages = [&](const Value& filename) {
    return static_cast<std::int64_t>((fs::file_size(instance_->MapPath(filename.ToText())) + 8191) /
                                     8192);
  };
  std::int64_t data = std::max<std::int64_t>(pages(files[0][2]), 3840);
  std::int64_t log = pages(files[1][2]);
  EXPECT_EQ(files[0][4], Value(std::to_string(data * 8) + " KB"));
  EXPECT_EQ(files[1][4], Value(std::to_string(log * 8) + " KB"));
  char total[32];
  std::snprintf(total, sizeof total, "%10.2f MB", static_cast<double>(data + log) / 128.0);
  EXPECT_EQ(sink.sets[0].rows.at(0).at(1), Value(std::string(total)));
  EXPECT_GE(std::stod(std::string(total)), last);
  EXPECT_GT(std::stod(std::string(total)), first + 28.0);
}

// DBCC OPENTRAN and DBCC INPUTBUFFER see the sessions of another process (the console, another
// sql) as SQL Server shows any session: the oldest transaction with writes in the database, with
// its user, and the last batch's first 255 characters. Once that process has been killed
// half-way, its sessions are not reported any more.
TEST_F(ProcessesTest, DbccSeesAnotherProcessesTransactionsAndBatchesUntilItIsKilled) {
  const std::string hostile = "BEGIN TRAN UPDATE Shared..t SET v = v WHERE v = 1 -- N'\xC3\x9C; "
                              "''x'' [y]' " + std::string(300, 'z');
  Child other([&](Child& self) {
    auto instance = OpenHost(root_)->Find("");
    auto admin = instance->Connect(Sa());
    LoginRequest request = Sa();
    request.login = "worker";
    request.password = "pw";
    if (Outcome(*admin, "CREATE DATABASE Work") != 0 ||
        Outcome(*admin, "USE Work CREATE TABLE w (v INT) EXEC sp_grantdbaccess 'worker' "
                        "GRANT INSERT ON w TO worker") != 0)
      return 1;
    auto worker = instance->Connect(request);
    if (Outcome(*admin, hostile) != 0 ||
        Outcome(*worker, "USE Work BEGIN TRAN INSERT INTO w VALUES (1)") != 0)
      return 2;
    self.Say(std::to_string(::getpid()) + " " + std::to_string(admin->spid()) + " " +
             std::to_string(worker->spid()));
    self.Hear();  // killed meanwhile
    return 3;
  });
  std::string said = other.Hear();
  ASSERT_FALSE(said.empty());
  int pid = 0, admin = 0, worker = 0;
  ASSERT_EQ(std::sscanf(said.c_str(), "%d %d %d", &pid, &admin, &worker), 3) << said;
  Open();
  const Value worker_uid = Rows("SELECT uid FROM Work..sysusers WHERE name = 'worker'").at(0).at(0);

  struct Case {
    std::string database;
    int spid;         // of the oldest transaction; 0: none (7969)
    std::string uid;  // its user id in the database
  };
  // "Transaction information for database ..." / "Oldest active transaction:" with SPID, UID,
  // Name, LSN and Start time; 7969 "No active open transactions." without one.
  const Case open_transactions[] = {
      {"Shared", admin, "1"},  // sa is dbo
      {"Work", worker, worker_uid.ToText()},
      {"master", 0, ""},
  };
  for (const Case& c : open_transactions) {
    SCOPED_TRACE(c.database);
    CollectingSink sink = Run("DBCC OPENTRAN ('" + c.database + "')");
    ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    ASSERT_FALSE(sink.messages.empty());
    if (c.spid == 0) {
      EXPECT_EQ(sink.messages[0].number, 7969);
      continue;
    }
    const std::string& text = sink.messages[0].text;
    EXPECT_EQ(text.rfind("Transaction information for database '" + c.database +
                             "'.\n\nOldest active transaction:\n    SPID (server process ID) : " +
                             std::to_string(c.spid) + "\n    UID (user ID) : " + c.uid +
                             "\n    Name          : user_transaction\n",
                         0),
              0u)
        << text;
  }
  // The other process's batch, cut at 255 characters ("\xC3\x9C" is one of them).
  std::vector<std::vector<Value>> buffer =
      Rows("DBCC INPUTBUFFER (" + std::to_string(admin) + ") WITH NO_INFOMSGS");
  ASSERT_EQ(buffer.size(), 1u);
  EXPECT_EQ(buffer[0][0], Value("Language Event"));
  EXPECT_EQ(buffer[0][2].ToText(), hostile.substr(0, 256));

  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(other.Wait(), -1);
  for (const char* database : {"Shared", "Work"})
    EXPECT_EQ(Run(std::string("DBCC OPENTRAN ('") + database + "') WITH NO_INFOMSGS")
                  .messages.at(0)
                  .number,
              7969)
        << database;
  for (int spid : {admin, worker})
    EXPECT_EQ(Run("DBCC INPUTBUFFER (" + std::to_string(spid) + ")").FirstError(), 7955) << spid;
}

// A session here goes on using a database while another process changes its tables, views and
// procedures: each batch sees the catalogue as the other process's last commit left it (a new
// table is found, a dropped one is 208 "Invalid object name", as on a server).
TEST_F(ProcessesTest, ChangesOfTheCatalogueByAnotherProcessAreSeenByTheNextBatch) {
  Child other([&](Child& self) {
    auto session = OpenHost(root_)->Find("")->Connect(Sa("Shared"));
    self.Say("ready");
    for (std::string batch = self.Hear(); !batch.empty(); batch = self.Hear())
      self.Say(std::to_string(Outcome(*session, batch)));
    return 0;
  });
  ASSERT_TRUE(other.started());
  ASSERT_EQ(other.Hear(), "ready");
  Open();
  Run("USE Shared");
  struct Step {
    bool elsewhere;     // run by the other process
    const char* batch;  // one line
    int error;          // the batch's first error number, 0 for none
    const char* first;  // here: the first value of the last result, nullptr for no check
  };
  const Step steps[] = {
      {false, "SELECT COUNT(*) FROM t", 0, "3"},  // the catalogue is read here first
      {true, "CREATE TABLE [n\xC3\xA9w;'t]] x] (v INT) INSERT INTO [n\xC3\xA9w;'t]] x] VALUES (7)",
       0, nullptr},
      {false, "SELECT v FROM [n\xC3\xA9w;'t]] x]", 0, "7"},
      {true, "ALTER TABLE t ADD w INT NULL", 0, nullptr},
      {false, "SELECT COUNT(w) FROM t", 0, "0"},
      {true, "CREATE VIEW vw AS SELECT COUNT(*) AS n FROM t", 0, nullptr},
      {false, "SELECT n FROM vw", 0, "3"},
      {true, "CREATE PROCEDURE p AS SELECT 42", 0, nullptr},
      {false, "EXEC p", 0, "42"},
      {true, "DROP VIEW vw DROP TABLE t", 0, nullptr},
      {false, "SELECT * FROM t", 208, nullptr},  // Invalid object name 't'.
      {false, "SELECT * FROM vw", 208, nullptr},
      // A change begun there and rolled back is never seen here.
      {true, "BEGIN TRAN CREATE TABLE gone (v INT) ROLLBACK", 0, nullptr},
      {false, "SELECT * FROM gone", 208, nullptr},
      // A statement that fails inside a transaction after changing the catalogue (1767: the
      // key's table does not exist) is undone alone; what the transaction commits after it is
      // seen here, and here what the other process commits after a failure of this side's.
      {true,
       "BEGIN TRAN CREATE TABLE bad (a INT REFERENCES nosuch(b)) CREATE TABLE kept (v INT) "
       "COMMIT",
       1767, nullptr},
      {false, "SELECT COUNT(*) FROM kept", 0, "0"},
      {false, "BEGIN TRAN CREATE TABLE bad (a INT REFERENCES nosuch(b)) COMMIT", 1767, nullptr},
      {true, "CREATE TABLE later (v INT)", 0, nullptr},
      {false, "SELECT COUNT(*) FROM later", 0, "0"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.batch);
    if (step.elsewhere) {
      other.Say(step.batch);
      EXPECT_EQ(other.Hear(), std::to_string(step.error));
      continue;
    }
    CollectingSink sink = Run(step.batch);
    EXPECT_EQ(sink.FirstError(), step.error) << sink.ErrorText();
    if (step.first) {
      ASSERT_FALSE(sink.sets.empty());
      ASSERT_FALSE(sink.sets.back().rows.empty());
      EXPECT_EQ(sink.sets.back().rows[0][0].ToText(), step.first);
    }
  }
  other.Say("");
  EXPECT_EQ(other.Wait(), 0);
}

}  // namespace
}  // namespace sandbox::testing
