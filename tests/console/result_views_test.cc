// The console's result lists read from a sandbox server: their columns, which rows they get and
// what each cell says, including logins and collections with hostile names.
#include "console/result_views.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "console/console_fixture.h"
#include "platform/service_control.h"
#include "servers/servers.h"

namespace console {
namespace {

using collections::Database;
using collections::testing::kSandboxSa;

std::vector<std::string> Column(const ListView& view, const std::string& key) {
  std::vector<std::string> cells;
  for (const ListRow& row : view.rows) cells.push_back(row.SubItem(key));
  return cells;
}

const ListRow* RowWith(const ListView& view, const std::string& key, const std::string& value) {
  auto it = std::find_if(view.rows.begin(), view.rows.end(),
                         [&](const ListRow& row) { return row.SubItem(key) == value; });
  return it == view.rows.end() ? nullptr : &*it;
}

ListRow Row(std::string key, std::string text) {
  ListRow row;
  row.key = std::move(key);
  row.text = std::move(text);
  return row;
}

TEST(ListViewTest, KeysAreUniqueAndRowsGoToEitherEnd) {
  ListView view;
  EXPECT_TRUE(view.AddRow(Row("UserA", "a")));
  EXPECT_TRUE(view.AddRow(Row("UserB", "b"), true));
  EXPECT_FALSE(view.AddRow(Row("UserA", "again")));
  // Rows without a key never collide.
  EXPECT_TRUE(view.AddRow(Row("", "x")));
  EXPECT_TRUE(view.AddRow(Row("", "y")));
  ASSERT_EQ(view.rows.size(), 4u);
  EXPECT_EQ(view.rows[0].text, "b");
  EXPECT_EQ(view.rows[1].text, "a");
  EXPECT_EQ(view.Find("UserA")->text, "a");
  EXPECT_EQ(view.Find(""), nullptr);
  EXPECT_TRUE(view.RemoveRow("UserA"));
  EXPECT_FALSE(view.RemoveRow("UserA"));
  EXPECT_EQ(view.rows.size(), 3u);
}

TEST(PlatformSuffixTest, NtInAnyCaseIsWindowsNtOtherTextsAreQuoted) {
  EXPECT_EQ(PlatformSuffix("NT INTEL X86"), " (Windows NT)");
  EXPECT_EQ(PlatformSuffix("Windows nt 5.0"), " (Windows NT)");
  EXPECT_EQ(PlatformSuffix("Linux"), " (Linux)");
  EXPECT_EQ(PlatformSuffix(""), " ()");
}

TEST(FullTextStatusTextTest, CodesZeroToNineHaveTheirLabels) {
  EXPECT_EQ(FullTextStatusText(0), "Idle");
  EXPECT_EQ(FullTextStatusText(1), "Full population in progress");
  EXPECT_EQ(FullTextStatusText(8), "Disk is full. Paused");
  EXPECT_EQ(FullTextStatusText(9), "Change tracking");
  EXPECT_EQ(FullTextStatusText(10), "10");
  EXPECT_EQ(FullTextStatusText(-1), "-1");
}

TEST(RenameEnabledTest, OnlyCollectionNodes) {
  EXPECT_TRUE(RenameEnabled("Database"));
  EXPECT_FALSE(RenameEnabled("Databases"));
  EXPECT_FALSE(RenameEnabled("Server"));
  EXPECT_FALSE(RenameEnabled(""));
}

class ResultViewsTest : public testing::ConsoleFixture {};

TEST_F(ResultViewsTest, ServerViewListsEditionModeVersionsAndCollation) {
  ListView view = ServerView(Server());
  EXPECT_EQ(view.name, "lvServer");
  EXPECT_EQ(view.view_mode, kViewDetails);
  EXPECT_EQ(view.columns, (std::vector<ListColumn>{{"NAME", "Name"}, {"VALUE", "Value"}}));
  ASSERT_GE(view.rows.size(), 4u);

  std::string version = Scalar(Open(kSandboxSa), "SELECT @@VERSION").ToText();
  EXPECT_EQ(view.rows[0].text, "Engine Edition");
  EXPECT_EQ(view.rows[0].icon, kIconProperty);
  // The fourth non-empty line of the version text, when there is one.
  std::vector<std::string> lines;
  for (size_t start = 0; start < version.size();) {
    size_t end = version.find_first_of("\r\n\f", start);
    if (end == std::string::npos) end = version.size();
    if (end > start) lines.push_back(version.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(view.rows[0].SubItem("VALUE"), lines.size() >= 4 ? lines[3] : "");

  EXPECT_EQ(view.rows[1].SubItem("NAME"), "Authentication mode");
  int mode = Server().LoginMode();
  EXPECT_EQ(view.rows[1].SubItem("VALUE"),
            mode == servers::kLoginModeMixed     ? "SQL Server and Windows Authentication"
            : mode == servers::kLoginModeWindows ? "Integrated Windows Authentication"
                                                 : "SQL Server Authentication");

  const ListRow* product = RowWith(view, "NAME", "ProductVersion");
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(product->text, "ProductVersion");
  EXPECT_EQ(product->SubItem("VALUE"), Server().Version("ProductVersion"));

  EXPECT_EQ(view.rows.back().SubItem("NAME"), "Default collation");
  EXPECT_EQ(view.rows.back().SubItem("VALUE"),
            Scalar(Open(kSandboxSa), "SELECT SERVERPROPERTY('Collation')").ToText());
  EXPECT_FALSE(view.rows.back().SubItem("VALUE").empty());
}

TEST_F(ResultViewsTest, AServerThatIsNotConnectedHasAnEmptyViewAndAnUntypedNode) {
  platform::FakeNetworkProbe::Machine away;
  away.echo = 11010;  // timed out
  platform_.network.SetMachine("OFFSITE", away);
  servers::Server offline(ServerContext(), 9);
  offline.SetConnectionString("Provider=SQLOLEDB;Data Source=OFFSITE;User Id=sa;Password=;");
  EXPECT_FALSE(offline.Connect());

  ListView view = ServerView(offline);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.columns.size(), 2u);

  ServerNode node = DescribeServerNode(offline);
  EXPECT_EQ(node.key, "Server9");
  EXPECT_EQ(node.caption, "OFFSITE");
  EXPECT_FALSE(node.typed);
  EXPECT_TRUE(node.has_children);
  EXPECT_EQ(node.icon, kIconServerNotConnected);

  // A machine that answers in a workgroup, whose server refuses: the service status is asked,
  // and a stopped service shows.
  platform_.services_fake.SetService("OFFSITE", {platform::kServiceStopped, true, true});
  platform::FakeNetworkProbe::Machine joined;
  joined.echo = platform::kEchoSuccess;
  joined.address = "10.0.0.9";
  joined.join = {platform::kJoinStatusWorkgroup, "WORKGROUP"};
  platform_.network.SetMachine("OFFSITE", joined);
  EXPECT_FALSE(offline.Connect());
  ASSERT_TRUE(offline.JoinedToNetwork());
  EXPECT_EQ(DescribeServerNode(offline).icon, kIconServerStopped);
  EXPECT_FALSE(DescribeServerNode(offline).typed);

  // Just registered, the node is typed whatever happened, and shows the collection icon.
  ServerNode added = DescribeServerNode(offline, ServerNodeUse::kAdded);
  EXPECT_TRUE(added.typed);
  EXPECT_EQ(added.icon, kIconCollection);
  EXPECT_TRUE(added.caption.starts_with("OFFSITE"));

  ListRow error = ErrorNodeRow(offline);
  EXPECT_EQ(error.key, "Error9");
  EXPECT_EQ(error.text, "(Connect error. Please check the SQL Server registration properties)");
  EXPECT_EQ(error.icon, kIconError);
}

TEST_F(ResultViewsTest, ServersViewShowsEveryRegistrationInListOrder) {
  servers::Servers list(ServerContext());
  ASSERT_NE(list.Add(kSandboxSa), nullptr);
  platform::FakeNetworkProbe::Machine away;
  away.echo = 11010;
  platform_.network.SetMachine("OFFSITE", away);
  EXPECT_EQ(list.Add("Provider=SQLOLEDB;Data Source=OFFSITE;Integrated Security=SSPI;"), nullptr);
  // The unreachable one is kept in the registry and listed from there at the next load.
  servers::Servers reloaded(ServerContext());
  ASSERT_EQ(reloaded.Count(), 2);

  ListView view = ServersView(reloaded);
  EXPECT_EQ(view.name, "lvServers");
  EXPECT_EQ(view.view_mode, kViewIcons);
  ASSERT_EQ(view.rows.size(), 2u);
  const servers::Server& first = *reloaded.Item(1);
  EXPECT_EQ(view.rows[0].key, "Server" + std::to_string(first.ServerID()));
  EXPECT_EQ(view.rows[0].icon, kIconServerConnected);
  EXPECT_EQ(view.rows[0].SubItem("NAME"), "(sandbox)");
  EXPECT_EQ(view.rows[0].text, "(sandbox)" + PlatformSuffix(reloaded.Item(1)->Version("Platform")));
  EXPECT_EQ(view.rows[0].server, reloaded.Item(1).get());
  ServerNode rebuilt = DescribeServerNode(*reloaded.Item(1), ServerNodeUse::kRebuilt);
  EXPECT_TRUE(rebuilt.typed);
  EXPECT_EQ(rebuilt.icon, kIconServerConnected);
  EXPECT_EQ(rebuilt.caption, view.rows[0].text);
  EXPECT_EQ(view.rows[1].text, "OFFSITE");
  EXPECT_EQ(view.rows[1].icon, kIconServerNotConnected);
}

TEST_F(ResultViewsTest, LoginsLeaveOutSaAndInternalLoginsAndNameTypeAndAccess) {
  AddLogin("O'Brien", "pw");
  AddLogin("x]; DROP DATABASE model --", "pw");
  AddLogin("SA2", "pw");
  AddLogin("##MS_Agent##", "pw");
  ASSERT_EQ(Count("SELECT COUNT(*) FROM master.dbo.syslogins WHERE loginname LIKE '##%'"), 1);
  Server().Connection().Execute("EXEC sp_grantlogin 'SANDBOX\\alice'");
  Server().Connection().Execute("EXEC sp_denylogin 'SANDBOX\\bob'");

  ListView view = LoginsView(Server());
  EXPECT_EQ(view.name, "lvLoginNames");
  EXPECT_EQ(view.columns,
            (std::vector<ListColumn>{{"NAME", "Name"}, {"TYPE", "Type"}, {"ACCESS", "Access"}}));
  std::vector<std::string> names = Column(view, "NAME");
  for (const std::string& name : names) {
    EXPECT_NE(name, "sa");
    EXPECT_FALSE(name.starts_with("##")) << name;
  }
  EXPECT_NE(view.Find("LoginSA2"), nullptr);
  const ListRow* quote = view.Find("LoginO'Brien");
  ASSERT_NE(quote, nullptr);
  EXPECT_EQ(quote->text, "");
  EXPECT_EQ(quote->icon, kIconUser);
  EXPECT_EQ(quote->server, &Server());
  EXPECT_EQ(quote->SubItem("TYPE"), "Standard");
  EXPECT_EQ(quote->SubItem("ACCESS"), "Grant");
  ASSERT_NE(view.Find("Loginx]; DROP DATABASE model --"), nullptr);

  const ListRow* alice = view.Find("LoginSANDBOX\\alice");
  ASSERT_NE(alice, nullptr);
  EXPECT_EQ(alice->SubItem("TYPE"), "Windows User");
  EXPECT_EQ(alice->SubItem("ACCESS"), "Grant");
  const ListRow* bob = view.Find("LoginSANDBOX\\bob");
  ASSERT_NE(bob, nullptr);
  EXPECT_EQ(bob->SubItem("ACCESS"), "Deny");
}

TEST_F(ResultViewsTest, UsersAreListedOnceAndSysadminsWithoutAUserByGroupMembership) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  AddLogin("clerk", "pw");
  AddUser(*sales, "clerk", "Clerk O'Neil", {"db_datareader", "db_datawriter", "db_ddladmin"});
  AddLogin("boss", "pw", {"sysadmin"});
  AddLogin("chief", "pw", {"sysadmin"});
  AddUser(*sales, "chief", "chief");

  ListView view = UsersView(*sales);
  EXPECT_EQ(view.name, "lvUsers");
  EXPECT_EQ(view.columns,
            (std::vector<ListColumn>{
                {"NAME", "Name"}, {"LOGINNAME", "Login Name"}, {"ACCESS", "Database Access"}}));
  std::vector<std::string> names = Column(view, "NAME");
  EXPECT_EQ(std::count(names.begin(), names.end(), "Clerk O'Neil"), 1);
  const ListRow* clerk = view.Find("UserClerk O'Neil");
  ASSERT_NE(clerk, nullptr);
  EXPECT_EQ(clerk->text, "Clerk O'Neil");
  EXPECT_EQ(clerk->SubItem("LOGINNAME"), "clerk");
  EXPECT_EQ(clerk->SubItem("ACCESS"), "Grant");
  EXPECT_EQ(clerk->database, sales.get());

  const ListRow* boss = view.Find("Userboss");
  ASSERT_NE(boss, nullptr);
  EXPECT_EQ(boss->SubItem("LOGINNAME"), "boss");
  EXPECT_EQ(boss->SubItem("ACCESS"), "By group membership");

  // A sysadmin with a user of his own is listed once, as that user.
  EXPECT_EQ(std::count(names.begin(), names.end(), "chief"), 1);
  EXPECT_EQ(view.Find("Userchief")->SubItem("ACCESS"), "Grant");
  EXPECT_EQ(std::count(names.begin(), names.end(), "sa"), 0);
}

TEST_F(ResultViewsTest, PropertiesOfACollectionWithAHostileName) {
  std::shared_ptr<Database> odd = Installed("O'Brien [x]; y");
  ASSERT_NE(odd, nullptr);
  ListView view = PropertiesView(*odd);
  EXPECT_EQ(view.name, "lvProperties");
  EXPECT_EQ(view.columns, (std::vector<ListColumn>{{"PROPERTY", "Name"}, {"VALUE", "Value"}}));
  std::vector<std::string> labels = Column(view, "PROPERTY");
  EXPECT_EQ(labels,
            (std::vector<std::string>{
                "Creation time", "Database owner", "Database name", "Data file: Logical file name",
                "Data file: Physical file name", "Data file: File size",
                "Log file: Logical file name", "Log file: Physical file name",
                "Log file: File Size", "Search in PlainText", "Version", "Default collation"}));
  for (const ListRow& row : view.rows) EXPECT_EQ(row.icon, kIconProperty);
  EXPECT_EQ(view.rows[2].SubItem("VALUE"), "Quillarchive_O'Brien [x]; y");
  EXPECT_EQ(view.rows[1].SubItem("VALUE"), "sa");
  EXPECT_EQ(view.rows[7].SubItem("VALUE"), LogFileOf("Quillarchive_O'Brien [x]; y"));
  EXPECT_EQ(view.rows[9].SubItem("VALUE"), "True");
  EXPECT_EQ(view.rows[10].text, "Quillarchive Archive Version");
  EXPECT_EQ(view.rows[10].SubItem("VALUE"), "1.61");
  EXPECT_FALSE(view.rows[11].SubItem("VALUE").empty());
}

TEST_F(ResultViewsTest, FileSizesAreShownInMegabytesFromPages) {
  std::shared_ptr<Database> sales = Installed("Sizes");
  ASSERT_NE(sales, nullptr);
  std::int64_t pages = Count(
      "SELECT size FROM master..sysaltfiles WHERE fileid = 1 AND dbid = "
      "DB_ID('Quillarchive_Sizes')");
  ASSERT_GT(pages, 0);
  ListView view = PropertiesView(*sales);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%.1f MB", static_cast<double>(pages) / 128.0);
  EXPECT_EQ(view.rows[5].SubItem("VALUE"), expected);
}

TEST_F(ResultViewsTest, FullTextViewWithoutFullTextSearchSaysItIsNotSupported) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  ListView view = FullTextView(*sales);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0].SubItem("PROPERTY"), "Status");
  EXPECT_EQ(view.rows[0].SubItem("VALUE"), "This SQL Server does not support ful-text indexing.");
}

class FullTextViewTest : public testing::ConsoleFixture {
 protected:
  void SetUp() override { StartInstance("8.00.2039", true); }
};

TEST_F(FullTextViewTest, NoIndexThenAnIndexWithItsProperties) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  ListView none = FullTextView(*sales);
  ASSERT_EQ(none.rows.size(), 1u);
  EXPECT_EQ(none.rows[0].SubItem("VALUE"), "Full-text indexing is not active.");

  sales->DoFullTextAction("create");
  ListView view = FullTextView(*sales);
  // Each row went in at the top, so the last one read comes first.
  EXPECT_EQ(Column(view, "PROPERTY"),
            (std::vector<std::string>{"Date of last change", "Size of the index",
                                      "Number of indexed items", "Location of the full-text index",
                                      "Status", "Name of the full-text index"}));
  EXPECT_EQ(view.rows[5].SubItem("VALUE"), "Doc_Desc");
  EXPECT_EQ(view.rows[4].SubItem("VALUE"), FullTextStatusText(sales->GetFullTextStatus()));
  EXPECT_TRUE(view.rows[1].SubItem("VALUE").ends_with(" MB"));
}

TEST_F(ResultViewsTest, CollectionsViewListsTheCatalogueInOrder) {
  std::shared_ptr<Database> first = Installed("First");
  std::shared_ptr<Database> odd = Installed("semi;colon's");
  ASSERT_NE(odd, nullptr);
  ListView view = CollectionsView(Server());
  EXPECT_EQ(view.name, "lvArchives");
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0].key, "Server1.Database" + std::to_string(first->ArchiveID()));
  EXPECT_EQ(view.rows[1].text, "semi;colon's");
  EXPECT_EQ(view.rows[1].SubItem("NAME"), "semi;colon's");
  EXPECT_EQ(view.rows[1].icon, kIconCollection);
  EXPECT_EQ(view.rows[1].database, odd.get());
}

TEST_F(ResultViewsTest, RenamingChangesTheNameOnlyWhenTheCollectionAcceptsIt) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  // The same name is refused; nothing is asked or shown.
  EXPECT_FALSE(RenameCollection(ui(), *sales, "Sales"));
  EXPECT_EQ(sales->Name(), "Sales");
  EXPECT_TRUE(platform_.ui.boxes().empty());

  EXPECT_TRUE(RenameCollection(ui(), *sales, "Archive2"));
  EXPECT_EQ(sales->Name(), "Archive2");
  EXPECT_TRUE(DatabaseExists("Quillarchive_Archive2"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
}

TEST_F(ResultViewsTest, ARenameTheServerRefusesIsReportedAndKeepsTheName) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  FailNext("sp_renamedb", "Injected rename failure.");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(RenameCollection(ui(), *sales, "Other"));
  EXPECT_EQ(sales->Name(), "Sales");
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            "The following problem occurred when executing the command:\rInjected rename "
            "failure.");
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales"));
}

}  // namespace
}  // namespace console
