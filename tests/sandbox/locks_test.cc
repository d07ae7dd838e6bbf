// Sessions waiting for each other's locks, in one process and across processes: SET
// LOCK_TIMEOUT, deadlock victims (1205), KILL and attention of a waiting session, and RAISERROR
// severities that end the connection.
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "sandbox/child_process.h"
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr int kBroken = -1;
constexpr int kCancelled = -2;

// The first error of a batch; kBroken when the session is gone, kCancelled after attention.
int Outcome(Session& session, const std::string& batch, CollectingSink* out = nullptr) {
  CollectingSink sink;
  std::vector<Parameter> none;
  try {
    session.Execute(batch, none, sink, milliseconds(0));
  } catch (const SessionError& e) {
    return e.kind() == SessionError::Kind::kCancelled ? kCancelled : kBroken;
  }
  if (out) *out = sink;
  return sink.FirstError();
}

std::future<int> Later(Session& session, const std::string& batch) {
  return std::async(std::launch::async, [&session, batch] { return Outcome(session, batch); });
}

bool StillWaiting(std::future<int>& f) {
  return f.wait_for(milliseconds(400)) == std::future_status::timeout;
}

// Names are data, whatever they hold.
constexpr const char* kDb1 =
    "[L\xC3\xB6"
    "ck'; DROP TABLE x--]]1]";
constexpr const char* kDb2 = "[Lock2]";

class LocksTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok(std::string("CREATE DATABASE ") + kDb1 + " CREATE DATABASE " + kDb2 + " CREATE TABLE " +
       kDb1 + "..[t;\"]] x] (v INT) CREATE TABLE " + kDb2 + "..t (v INT) INSERT " + kDb1 +
       "..[t;\"]] x] VALUES (1) INSERT " + kDb2 + "..t VALUES (1)");
    other_ = Connect();
    // Both sessions know both databases before they start transactions.
    for (Session* s : {session_.get(), other_.get()}) ASSERT_EQ(Outcome(*s, Read()), 0);
  }
  static std::string T1() { return std::string(kDb1) + "..[t;\"]] x]"; }
  static std::string T2() { return std::string(kDb2) + "..t"; }
  static std::string Read() { return "SELECT v FROM " + T1() + " SELECT v FROM " + T2(); }
  std::unique_ptr<Session> other_;
};

// A writer blocked by another session's open transaction waits without end by default and goes
// on once the other commits (SET LOCK_TIMEOUT: -1, the default, waits indefinitely).
TEST_F(LocksTest, ABlockedWriterWaitsUntilTheOtherCommits) {
  Ok("BEGIN TRAN UPDATE " + T1() + " SET v = 2");
  auto waiter = Later(*other_, "UPDATE " + T1() + " SET v = v * 10");
  ASSERT_TRUE(StillWaiting(waiter));
  // sp_who's blk and sysprocesses name the holder.
  const std::string me = std::to_string(session_->spid()), them = std::to_string(other_->spid());
  int listed = 0;
  for (const auto& row : Query("EXEC sp_who").rows) {
    if (row[0] != Value(other_->spid())) continue;
    ++listed;
    EXPECT_EQ(row[5], Value(me + std::string(5 - me.size(), ' ')));
  }
  EXPECT_EQ(listed, 1);
  RowSet process =
      Query("SELECT blocked, lastwaittype FROM master..sysprocesses WHERE spid = " + them +
            " AND waittime >= 0");
  ASSERT_EQ(process.rows.size(), 1u);
  EXPECT_EQ(process.rows[0][0], Value(session_->spid()));
  EXPECT_EQ(process.rows[0][1].ToText().substr(0, 7), "LCK_M_X");
  Ok("COMMIT");
  EXPECT_EQ(waiter.get(), 0);
  EXPECT_EQ(Scalar("SELECT v FROM " + T1()), Value(20));
}

// SET LOCK_TIMEOUT: 0 returns at once, n waits n milliseconds; then 1222 ends the statement
// (not the batch nor the transaction). Bounds are generous: only the order of magnitude counts.
TEST_F(LocksTest, LockTimeoutEndsTheWaitWith1222) {
  struct Case {
    int timeout_ms;
    milliseconds at_least, at_most;
  };
  const Case kCases[] = {
      {0, milliseconds(0), milliseconds(1500)},      // SET LOCK_TIMEOUT 0
      {600, milliseconds(550), milliseconds(8000)},  // SET LOCK_TIMEOUT 600
  };
  Ok("BEGIN TRAN UPDATE " + T2() + " SET v = 2");
  for (const Case& c : kCases) {
    auto start = steady_clock::now();
    CollectingSink sink;
    int error = Outcome(*other_,
                        "SET LOCK_TIMEOUT " + std::to_string(c.timeout_ms) + " BEGIN TRAN UPDATE " +
                            T2() + " SET v = 3 SELECT @@ERROR, @@TRANCOUNT ROLLBACK",
                        &sink);
    auto took = steady_clock::now() - start;
    EXPECT_EQ(error, 1222) << c.timeout_ms;
    EXPECT_NE(sink.ErrorText().find("Lock request time out period exceeded."), std::string::npos);
    ASSERT_FALSE(sink.sets.empty());
    EXPECT_EQ(sink.sets.back().rows.at(0), (std::vector<Value>{Value(1222), Value(1)}));
    EXPECT_GE(took, c.at_least) << c.timeout_ms;
    EXPECT_LE(took, c.at_most) << c.timeout_ms;
  }
  Ok("ROLLBACK");
}

// Two sessions each holding what the other wants: exactly one is chosen as the victim (1205,
// its transaction rolled back, its batch ended), the other finishes. The victim is the session
// with DEADLOCK_PRIORITY LOW, else the cheaper one (here the younger transaction).
TEST_F(LocksTest, ADeadlockHasExactlyOneVictim) {
  struct Case {
    const char* first_priority;
    const char* second_priority;
    bool first_is_victim;
  };
  const Case kCases[] = {
      {"NORMAL", "NORMAL", false},  // the later transaction is rolled back
      {"LOW", "NORMAL", true},      // SET DEADLOCK_PRIORITY LOW volunteers
  };
  for (const Case& c : kCases) {
    Ok("UPDATE " + T1() + " SET v = 1 UPDATE " + T2() + " SET v = 1");
    Ok("SET DEADLOCK_PRIORITY " + std::string(c.first_priority) + " BEGIN TRAN UPDATE " + T1() +
       " SET v = 10");
    std::this_thread::sleep_for(milliseconds(20));
    Ok(*other_, "SET DEADLOCK_PRIORITY " + std::string(c.second_priority) + " BEGIN TRAN UPDATE " +
                    T2() + " SET v = 20");
    auto first = Later(*session_, "UPDATE " + T2() + " SET v = 11 COMMIT SELECT 'after'");
    ASSERT_TRUE(StillWaiting(first));
    CollectingSink second_sink;
    int second =
        Outcome(*other_, "UPDATE " + T1() + " SET v = 21 COMMIT SELECT 'after'", &second_sink);
    int first_error = first.get();
    Session& victim = c.first_is_victim ? *session_ : *other_;
    EXPECT_EQ(c.first_is_victim ? first_error : second, 1205) << c.first_priority;
    EXPECT_EQ(c.first_is_victim ? second : first_error, 0) << c.first_priority;
    if (!c.first_is_victim) {
      // The batch ended at the error; the message names the victim's process id.
      EXPECT_TRUE(second_sink.sets.empty());
      EXPECT_NE(second_sink.ErrorText().find("(Process ID " + std::to_string(other_->spid()) +
                                             ") was deadlocked on lock resources"),
                std::string::npos);
    }
    EXPECT_EQ(Query(victim, "SELECT @@TRANCOUNT").rows.at(0).at(0), Value(0));
    // Only the survivor's work is there.
    EXPECT_EQ(Scalar("SELECT v FROM " + T1()), Value(c.first_is_victim ? 21 : 10));
    EXPECT_EQ(Scalar("SELECT v FROM " + T2()), Value(c.first_is_victim ? 20 : 11));
    Ok(victim, "SET DEADLOCK_PRIORITY NORMAL");
  }
}

// A waiting session ends promptly when it is killed (its next batch fails as on a broken
// connection) or when its client sends an attention; the holder is not disturbed.
TEST_F(LocksTest, KillAndAttentionEndAWait) {
  Ok("BEGIN TRAN UPDATE " + T1() + " SET v = 5");
  auto cancelled = Later(*other_, "UPDATE " + T1() + " SET v = 6");
  ASSERT_TRUE(StillWaiting(cancelled));
  other_->Cancel();
  ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(cancelled.get(), kCancelled);

  auto killed = Later(*other_, "UPDATE " + T1() + " SET v = 7");
  ASSERT_TRUE(StillWaiting(killed));
  Ok("KILL " + std::to_string(other_->spid()));
  ASSERT_EQ(killed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(killed.get(), kBroken);
  EXPECT_EQ(Outcome(*other_, "SELECT 1"), kBroken);
  Ok("COMMIT");
  EXPECT_EQ(Scalar("SELECT v FROM " + T1()), Value(5));
}

// RAISERROR: severities 19 to 25 need WITH LOG (and sysadmin), else 2754; 20 and more send the
// message and then end the connection, which other sessions no longer list.
TEST_F(LocksTest, RaiserrorFatalSeveritiesEndTheConnection) {
  struct Case {
    std::string batch;
    int error;  // first error of the batch
    bool connection_ends;
  };
  const Case kCases[] = {
      {"RAISERROR('x', 19, 1)", 2754, false},  // WITH LOG missing
      {"RAISERROR('lo''g;]', 19, 1) WITH LOG", 50000, false},
      {"RAISERROR('fatal', 20, 1) WITH LOG SELECT 1", 50000, true},
      {"BEGIN TRAN UPDATE " + T2() + " SET v = 99 RAISERROR('fatal', 25, 1) WITH LOG", 50000, true},
  };
  for (const Case& c : kCases) {
    auto session = Connect();
    int spid = session->spid();
    CollectingSink sink;
    std::vector<Parameter> none;
    bool ended = false;
    try {
      session->Execute(c.batch, none, sink, milliseconds(0));
    } catch (const SessionError& e) {
      ended = e.kind() == SessionError::Kind::kBroken;
    }
    EXPECT_EQ(sink.FirstError(), c.error) << c.batch;
    EXPECT_EQ(ended, c.connection_ends) << c.batch;
    EXPECT_TRUE(sink.sets.empty()) << c.batch;
    EXPECT_EQ(Outcome(*session, "SELECT 1") == kBroken, c.connection_ends) << c.batch;
    EXPECT_EQ(
        Scalar("SELECT COUNT(*) FROM master..sysprocesses WHERE spid = " + std::to_string(spid)),
        Value(c.connection_ends ? 0 : 1))
        << c.batch;
  }
  // The ended session's transaction was rolled back, so nothing waits for it.
  Ok("SET LOCK_TIMEOUT 2000 UPDATE " + T2() + " SET v = 3");
  EXPECT_EQ(Scalar("SELECT v FROM " + T2()), Value(3));
}

// The same across processes: the other process's session holds, waits, dies in a deadlock or is
// killed, as a session of this process would.
TEST(LocksAcrossProcesses, WaitsDeadlocksAndKillsSeeTheOtherProcess) {
  namespace fs = std::filesystem;
  fs::path root = common::testing::ScratchFolder("sandbox-locks");
  LoginRequest sa;
  sa.login = "sa";
  Child maker([&](Child&) {
    auto session = OpenHost(root)->Create("", InstanceConfig{})->Connect(sa);
    return Outcome(*session,
                   "CREATE DATABASE P1 CREATE DATABASE P2 CREATE TABLE P1..t (v INT) CREATE "
                   "TABLE P2..t (v INT) INSERT P1..t VALUES (1) INSERT P2..t VALUES (1)");
  });
  ASSERT_EQ(maker.Wait(), 0);
  const std::string kRead = "SELECT v FROM P1..t SELECT v FROM P2..t";
  Child other([&](Child& self) {
    auto session = OpenHost(root)->Find("")->Connect(sa);
    if (Outcome(*session, kRead) != 0) return 1;
    self.Say(std::to_string(session->spid()));
    // 1: holds P1 until told to commit.
    if (Outcome(*session, "BEGIN TRAN UPDATE P1..t SET v = 2") != 0) return 2;
    self.Say("holding");
    if (self.Hear() != "commit" || Outcome(*session, "COMMIT") != 0) return 3;
    // 2: a deadlock with the parent; this side is the older transaction.
    if (self.Hear() != "deadlock") return 4;
    if (Outcome(*session, "BEGIN TRAN UPDATE P2..t SET v = 30") != 0) return 5;
    self.Say("holding");
    if (self.Hear() != "go on") return 6;
    self.Say(std::to_string(Outcome(*session, "UPDATE P1..t SET v = 31 COMMIT")));
    // 3: waits until killed.
    if (self.Hear() != "go on") return 7;
    self.Say("waiting");
    self.Say(std::to_string(Outcome(*session, "UPDATE P1..t SET v = 40")));
    return 0;
  });
  ASSERT_TRUE(other.started());
  int other_spid = std::stoi(other.Hear());
  auto host = OpenHost(root);
  auto instance = host->Find("");
  auto session = instance->Connect(sa);
  ASSERT_EQ(Outcome(*session, kRead), 0);

  ASSERT_EQ(other.Hear(), "holding");
  EXPECT_EQ(Outcome(*session, "SET LOCK_TIMEOUT 300 UPDATE P1..t SET v = 3"), 1222);
  auto waiter = Later(*session, "SET LOCK_TIMEOUT -1 UPDATE P1..t SET v = v * 10");
  EXPECT_TRUE(StillWaiting(waiter));
  other.Say("commit");
  EXPECT_EQ(waiter.get(), 0);

  other.Say("deadlock");
  ASSERT_EQ(other.Hear(), "holding");
  ASSERT_EQ(Outcome(*session, "BEGIN TRAN UPDATE P1..t SET v = 50"), 0);
  auto mine = Later(*session, "UPDATE P2..t SET v = 51 COMMIT");
  EXPECT_TRUE(StillWaiting(mine));
  other.Say("go on");
  int theirs = std::stoi(other.Hear());
  // This side's transaction is the younger one.
  EXPECT_EQ(mine.get(), 1205);
  EXPECT_EQ(theirs, 0);

  ASSERT_EQ(Outcome(*session, "BEGIN TRAN UPDATE P1..t SET v = 60"), 0);
  other.Say("go on");
  ASSERT_EQ(other.Hear(), "waiting");
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(Outcome(*session, "KILL " + std::to_string(other_spid)), 0);
  EXPECT_EQ(other.Hear(), std::to_string(kBroken));
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(Outcome(*session, "COMMIT"), 0);
  CollectingSink sink;
  ASSERT_EQ(Outcome(*session, kRead, &sink), 0);
  ASSERT_EQ(sink.sets.size(), 2u);
  EXPECT_EQ(sink.sets[0].rows.at(0).at(0), Value(60));
  EXPECT_EQ(sink.sets[1].rows.at(0).at(0), Value(30));
  session.reset();
  instance.reset();
  host.reset();
  fs::remove_all(root);
}

}  // namespace
}  // namespace sandbox::testing
