// The plain-text generation run against a collection of the test's own: the progress scale of
// small and large collections, and what Retry and Ignore do when a document's text cannot be
// made.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/code_page.h"
#include "common/error.h"
#include "db/observer.h"
#include "format/progress_window.h"
#include "format/sandbox_collection.h"
#include "platform/scripted_user_interface.h"

namespace format {
namespace {

using testing::Integers;
using testing::Number;
using testing::SandboxServer;
using testing::Scalar;
using testing::Text;

// Stands in for the console's collection object: the text of a document is its content marked,
// and renderer failures can be scheduled.
class ProbeCollection : public Collection {
 public:
  explicit ProbeCollection(db::Connection connection) : connection_(std::move(connection)) {}

  const std::string& Name() const override { return name_; }
  db::Connection Connection() const override { return connection_; }
  std::string GetExtendedProperty(std::int32_t, std::int32_t, int,
                                  std::string_view field_name) override {
    return properties_[std::string(field_name)];
  }
  void SetExtendedProperty(std::string_view value, std::int32_t, std::int32_t&,
                           std::string_view field_name, int, bool, bool) override {
    properties_[std::string(field_name)] = value;
  }
  std::string CreatePlainText(std::int32_t entry, std::string_view content, int,
                              std::string_view) override {
    asked_.push_back(entry);
    if (failures_ > 0) {
      --failures_;
      throw common::Error(91, "Probe", "Renderer gone");
    }
    return "plain:" + std::string(content);
  }

  void FailNext(int count) { failures_ = count; }
  const std::vector<std::int32_t>& asked() const { return asked_; }
  std::string Property(const std::string& name) { return properties_[name]; }

 private:
  std::string name_ = "Probe [1]";
  db::Connection connection_;
  std::map<std::string, std::string> properties_;
  std::vector<std::int32_t> asked_;
  int failures_ = 0;
};

// Also gives the text of HTML pages that are no web archives by their content alone, the same
// text CreatePlainText gives, as the console's collection does; the run may ask for it on a
// second thread. Each such text takes a moment, so both threads have work at once.
class AheadCollection : public ProbeCollection {
 public:
  using ProbeCollection::ProbeCollection;

  std::optional<std::string> ContentPlainText(std::string_view content, int type,
                                              std::string_view file_name) const override {
    if (type != 100 || file_name.find(".mht") != std::string_view::npos) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait_for_helper_ && std::this_thread::get_id() == owner_) {
      // The run's own thread waits for the helper's first page, so that both take part however
      // busy the machine is (a helper never started fails the test after the wait).
      helped_.wait_for(lock, std::chrono::seconds(10),
                       [&] { return threads_.size() > threads_.count(owner_); });
    }
    ++rendered_;
    threads_.insert(std::this_thread::get_id());
    helped_.notify_all();
    return "plain:" + std::string(content);
  }

  // Web archives: the "file" is the content itself here, the text what CreatePlainText gives.
  std::optional<ArchiveText> ArchivePlainText(std::string_view content, int, int type,
                                              std::string_view file_name) const override {
    if (type != 100 || file_name.find(".mht") == std::string_view::npos) return std::nullopt;
    return ArchiveText{std::string(content), "plain:" + std::string(content)};
  }
  std::string CreatePlainTextOfArchive(std::int32_t entry, std::string_view content, int type,
                                       std::string_view file_name,
                                       const ArchiveText& ahead) override {
    archives_.push_back(entry);
    if (ahead.file != content) return CreatePlainText(entry, content, type, file_name);
    return ahead.text;
  }
  const std::vector<std::int32_t>& archives() const { return archives_; }
  void WaitForHelper() { wait_for_helper_ = true; }

  int rendered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rendered_;
  }
  std::size_t threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.size();
  }

 private:
  bool wait_for_helper_ = false;
  const std::thread::id owner_ = std::this_thread::get_id();
  mutable std::mutex mutex_;
  mutable std::condition_variable helped_;
  mutable int rendered_ = 0;
  mutable std::set<std::thread::id> threads_;
  std::vector<std::int32_t> archives_;
};

class PlainTextRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new SandboxServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    connection_ = server_->NewDatabase("Quillarchive_Run");
    connection_.Execute(
        "CREATE TABLE Document (EntryID INTEGER IDENTITY (1,1) NOT NULL PRIMARY KEY, "
        "Url NVARCHAR(4000) NOT NULL DEFAULT '', TypeID SMALLINT NOT NULL DEFAULT 0, "
        "CodePage INT NOT NULL DEFAULT 0, Content NTEXT DEFAULT '', BinaryContent IMAGE NULL, "
        "PlainText NTEXT DEFAULT '', Filename NVARCHAR(255) NOT NULL DEFAULT '', "
        "BinaryData BIT DEFAULT 0)");
    collection_ = std::make_unique<ProbeCollection>(connection_);
  }

  // `count` text documents "Dokument 1", "Dokument 2", ... in code page 1252.
  void AddDocuments(int count) {
    connection_.Execute(
        "DECLARE @i INT SET @i = 1 WHILE @i <= " + std::to_string(count) +
        " BEGIN INSERT INTO Document (Url, TypeID, CodePage, Content, Filename) VALUES "
        "(N'http://x/' + CAST(@i AS VARCHAR(10)), 90, 1252, N'Dokument ' + CAST(@i AS "
        "VARCHAR(10)), N'd.txt') SET @i = @i + 1 END");
  }

  bool Run(frmProgress& window) { return window.Show(); }

  // `count` documents on `connection`: every third an HTML page, every third a web archive
  // (an HTML type with an .mht name), the others texts; "Seite 5" and so on.
  static void AddMixedDocuments(db::Connection& connection, int count) {
    connection.Execute(
        "DECLARE @i INT SET @i = 1 WHILE @i <= " + std::to_string(count) +
        " BEGIN INSERT INTO Document (Url, TypeID, CodePage, Content, Filename) VALUES "
        "(N'http://x/' + CAST(@i AS VARCHAR(10)), CASE WHEN @i % 3 = 2 THEN 90 ELSE 100 END, "
        "1252, N'<p>Seite ' + CAST(@i AS VARCHAR(10)) + N'</p>', "
        "CASE WHEN @i % 3 = 0 THEN N'a.mht' WHEN @i % 3 = 1 THEN N'p.htm' ELSE N't.txt' END) "
        "SET @i = @i + 1 END");
  }

  // The statements a run sends on `collection`'s connection, and whether it completed.
  std::pair<bool, std::vector<std::string>> LoggedRun(Collection& collection) {
    auto log = std::make_shared<db::StatementLog>();
    server_->environment().AddObserver(log);
    frmProgress window(ui_, collection, frmProgress::kPlainText);
    const bool completed = window.Show();
    server_->environment().RemoveObserver(log);
    return {completed, log->TextsOn(collection.Connection().Id())};
  }

  static SandboxServer* server_;
  db::Connection connection_;
  std::unique_ptr<ProbeCollection> collection_;
  platform::ScriptedUserInterface ui_;
};

SandboxServer* PlainTextRunTest::server_ = nullptr;

TEST_F(PlainTextRunTest, ALargeCollectionMovesTheBarByFractions) {
  AddDocuments(1000);
  frmProgress window(ui_, *collection_, frmProgress::kPlainText);
  std::vector<double> values;
  ui_.SetOnPendingEvents([&] { values.push_back(window.Value()); });
  ASSERT_TRUE(Run(window));
  ASSERT_EQ(values.size(), 1000u);
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_DOUBLE_EQ(values[i], static_cast<double>(i + 1) / 10.0) << "after document " << i + 1;
  }
  const auto& progress = ui_.progress().at(0);
  EXPECT_EQ(progress.maximum, 100);
  EXPECT_EQ(progress.value, 100);
  EXPECT_EQ(progress.lines[1], "1000 of 1000 items processed");
  // Every document was asked for once, in order, and is converted.
  ASSERT_EQ(collection_->asked().size(), 1000u);
  for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(collection_->asked()[i], i + 1);
  EXPECT_EQ(Number(connection_, "SELECT COUNT(*) FROM Document WHERE BinaryData = 0"), 0);
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 777"),
            "plain:Dokument 777");
  EXPECT_EQ(collection_->Property("Quillarchive: Search in PlainText"), "True");
}

TEST_F(PlainTextRunTest, ASmallCollectionHasOneStepPerDocument) {
  AddDocuments(40);
  frmProgress window(ui_, *collection_, frmProgress::kPlainText);
  ASSERT_TRUE(Run(window));
  const auto& progress = ui_.progress().at(0);
  EXPECT_EQ(progress.maximum, 40);
  std::vector<int> steps;
  for (int i = 1; i <= 40; ++i) steps.push_back(i);
  // The window shows its starting value first.
  ASSERT_FALSE(progress.values.empty());
  EXPECT_EQ(std::vector<int>(progress.values.end() - 40, progress.values.end()), steps);
  EXPECT_EQ(progress.lines[0],
            "Generating full-text information\nfor the network collection "
            "'Probe [1]'");
}

TEST_F(PlainTextRunTest, RetryRunsTheConversionAgain) {
  AddDocuments(3);
  collection_->FailNext(1);
  ui_.QueueAnswer(platform::kAnswerRetry);
  frmProgress window(ui_, *collection_, frmProgress::kPlainText);
  ASSERT_TRUE(Run(window));
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_EQ(ui_.boxes()[0].text,
            "Beim der Generierung von Volltextinformation ist bei folgendem Dokument ein Fehler "
            "aufgetreten:\r\nURL: http://x/1\r\nFehlertext: Renderer gone\r\nFehlernummer: 91");
  EXPECT_EQ(collection_->asked(), (std::vector<std::int32_t>{1, 1, 2, 3}));
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 1"),
            "plain:Dokument 1");
}

TEST_F(PlainTextRunTest, IgnoreAfterAFailedTextKeepsTheBytes) {
  AddDocuments(2);
  collection_->FailNext(1);
  ui_.QueueAnswer(platform::kAnswerIgnore);
  frmProgress window(ui_, *collection_, frmProgress::kPlainText);
  ASSERT_TRUE(Run(window));
  // The text is in BinaryContent, so Content is emptied as for every converted document.
  EXPECT_EQ(Number(connection_, "SELECT COUNT(*) FROM Document WHERE BinaryData = 0"), 0);
  const common::Value bytes =
      Scalar(connection_, "SELECT BinaryContent FROM Document WHERE EntryID = 1");
  ASSERT_NE(bytes.AsBytes(), nullptr);
  EXPECT_EQ(common::BytesToText(*bytes.AsBytes(), 1252), "Dokument 1");
  EXPECT_EQ(Text(connection_, "SELECT Content FROM Document WHERE EntryID = 1"), "");
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 1"), "");
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 2"),
            "plain:Dokument 2");
}

TEST_F(PlainTextRunTest, StoredBytesEndWithTheTerminatingZeroTheDesktopApplicationWrites) {
  connection_.Execute(
      "INSERT INTO Document (Url, TypeID, CodePage, Content, Filename) VALUES "
      "(N'u', 90, 1200, N'Ab', N'w.txt')");
  frmProgress window(ui_, *collection_, frmProgress::kPlainText);
  ASSERT_TRUE(Run(window));
  const common::Value bytes =
      Scalar(connection_, "SELECT BinaryContent FROM Document WHERE EntryID = 1");
  ASSERT_NE(bytes.AsBytes(), nullptr);
  EXPECT_EQ(*bytes.AsBytes(), (common::Bytes{'A', 0, 'b', 0, 0, 0}));
}

TEST_F(PlainTextRunTest, PagesRenderedAheadGiveTheSameRunStatementForStatement) {
  // Three batches; the same documents in two collections, one rendering ahead.
  AddMixedDocuments(connection_, 600);
  auto [plain_completed, plain_statements] = LoggedRun(*collection_);
  ASSERT_TRUE(plain_completed);

  db::Connection other = server_->NewDatabase("Quillarchive_Ahead");
  other.Execute(
      "CREATE TABLE Document (EntryID INTEGER IDENTITY (1,1) NOT NULL PRIMARY KEY, "
      "Url NVARCHAR(4000) NOT NULL DEFAULT '', TypeID SMALLINT NOT NULL DEFAULT 0, "
      "CodePage INT NOT NULL DEFAULT 0, Content NTEXT DEFAULT '', BinaryContent IMAGE NULL, "
      "PlainText NTEXT DEFAULT '', Filename NVARCHAR(255) NOT NULL DEFAULT '', "
      "BinaryData BIT DEFAULT 0)");
  AddMixedDocuments(other, 600);
  AheadCollection ahead(other);
  ahead.WaitForHelper();
  auto [ahead_completed, ahead_statements] = LoggedRun(ahead);
  ASSERT_TRUE(ahead_completed);

  ASSERT_EQ(ahead_statements.size(), plain_statements.size());
  for (std::size_t i = 0; i < plain_statements.size(); ++i) {
    ASSERT_EQ(ahead_statements[i], plain_statements[i]) << "statement " << i;
  }
  // The pages came from ContentPlainText, the web archives were made ahead and handed to
  // CreatePlainTextOfArchive, the texts came from CreatePlainText.
  EXPECT_EQ(ahead.rendered(), 200);
  ASSERT_EQ(ahead.archives().size(), 200u);
  for (std::int32_t entry : ahead.archives()) ASSERT_EQ(entry % 3, 0) << entry;
  ASSERT_EQ(ahead.asked().size(), 200u);
  for (std::int32_t entry : ahead.asked()) ASSERT_EQ(entry % 3, 2) << entry;
  EXPECT_EQ(Text(other, "SELECT PlainText FROM Document WHERE EntryID = 517"),
            "plain:<p>Seite 517</p>");
  EXPECT_EQ(Number(other, "SELECT COUNT(*) FROM Document WHERE BinaryData = 0"), 0);
  // The run did not render everything itself.
  EXPECT_GE(ahead.threads(), 2u);
}

TEST_F(PlainTextRunTest, APageSkippedAfterAFailureLeavesTheOthersTheirOwnTexts) {
  AddMixedDocuments(connection_, 7);
  // Page 4 holds a character code page 1252 has no byte for: the box, then Ignore.
  connection_.Execute("UPDATE Document SET Content = N'<p>Привет Ω</p>' WHERE EntryID = 4");
  ui_.QueueAnswer(platform::kAnswerIgnore);
  AheadCollection ahead(connection_);
  frmProgress window(ui_, ahead, frmProgress::kPlainText);
  ASSERT_TRUE(Run(window));
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_NE(ui_.boxes()[0].text.find("URL: http://x/4\r\n"), std::string::npos)
      << ui_.boxes()[0].text;
  // The text stays where it was, and the pages after it got their own texts.
  EXPECT_EQ(Text(connection_, "SELECT Content FROM Document WHERE EntryID = 4"), "<p>Привет Ω</p>");
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 4"), "");
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 1"),
            "plain:<p>Seite 1</p>");
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 7"),
            "plain:<p>Seite 7</p>");
  EXPECT_EQ(Number(connection_, "SELECT COUNT(*) FROM Document WHERE BinaryData = 0"), 0);
}

TEST_F(PlainTextRunTest, AbortInTheMiddleOfABatchStopsWithPagesStillAhead) {
  AddMixedDocuments(connection_, 300);
  connection_.Execute("UPDATE Document SET Content = N'<p>Привет Ω</p>' WHERE EntryID = 10");
  ui_.QueueAnswer(platform::kAnswerAbort);
  AheadCollection ahead(connection_);
  frmProgress window(ui_, ahead, frmProgress::kPlainText);
  EXPECT_FALSE(Run(window));
  // Nothing after the aborted row was saved, and the marker was not written.
  EXPECT_EQ(Integers(connection_, "SELECT EntryID FROM Document WHERE BinaryData = 1"),
            (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(ahead.Property("Quillarchive: Search in PlainText"), "");
  // A second run converts the rest (the row answered Ignore this time).
  ui_.QueueAnswer(platform::kAnswerIgnore);
  frmProgress again(ui_, ahead, frmProgress::kPlainText);
  EXPECT_TRUE(Run(again));
  EXPECT_EQ(Number(connection_, "SELECT COUNT(*) FROM Document WHERE BinaryData = 0"), 0);
  EXPECT_EQ(Text(connection_, "SELECT PlainText FROM Document WHERE EntryID = 298"),
            "plain:<p>Seite 298</p>");
}

}  // namespace
}  // namespace format
