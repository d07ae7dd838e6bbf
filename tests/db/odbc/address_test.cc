// What the driver makes of data sources, connection strings and the Browser's answers; no
// server needed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "db/drivers/odbc/diagnostics.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/drivers/odbc/source_table.h"
#include "db/drivers/odbc/wide_text.h"
#include "db/error.h"

namespace db {
namespace {

TEST(OdbcDataSource, HostInstanceAndPortAreRead) {
  struct Case {
    const char* text;
    bool valid;
    const char* host;
    const char* instance;
    int port;
  };
  const Case cases[] = {
      {"SRV01", true, "SRV01", "", 0},
      {"  srv01.example.org  ", true, "srv01.example.org", "", 0},
      {"SRV01\\ARCHIVE", true, "SRV01", "ARCHIVE", 0},
      {"SRV01\\MSSQLSERVER", true, "SRV01", "", 0},
      {"127.0.0.1,14330", true, "127.0.0.1", "", 14330},
      {"tcp:db.example.org, 1433", true, "db.example.org", "", 1433},
      {"SRV01\\ARCHIVE,2000", true, "SRV01", "ARCHIVE", 2000},
      {"(local)", true, "localhost", "", 0},
      {".", true, "localhost", "", 0},
      {"", false, "", "", 0},
      {"SRV01,", false, "", "", 0},
      {"SRV01,0", false, "", "", 0},
      {"SRV01,65536", false, "", "", 0},
      {"SRV01,14a", false, "", "", 0},
      {"SRV01\\", false, "", "", 0},
      {"SRV01\\bad;name", false, "", "", 0},
      {"SRV01\\WAYTOOLONGINSTANCENAME", false, "", "", 0},
      {"my server", false, "", "", 0},
      {"srv;DRIVER=evil", false, "", "", 0},
      {"srv}", false, "", "", 0},
  };
  for (const Case& c : cases) {
    auto address = ParseDataSource(c.text);
    ASSERT_EQ(address.has_value(), c.valid) << c.text;
    if (!address) continue;
    EXPECT_EQ(address->host, c.host) << c.text;
    EXPECT_EQ(address->instance, c.instance) << c.text;
    EXPECT_EQ(address->port, c.port) << c.text;
  }
}

TEST(OdbcDataSource, SandboxDataSourcesAreLeftToTheSandboxDriver) {
  OdbcDriver driver;
  EXPECT_FALSE(driver.Accepts("(sandbox)"));
  EXPECT_FALSE(driver.Accepts(" (SANDBOX)\\ARCHIVE"));
  EXPECT_FALSE(driver.Accepts(""));
  EXPECT_TRUE(driver.Accepts("SRV01"));
  EXPECT_TRUE(driver.Accepts("127.0.0.1,1433"));
  EXPECT_TRUE(driver.Accepts("(local)"));
}

ConnectRequest SqlLogin(std::string user, std::string password) {
  ConnectRequest request;
  request.user = std::move(user);
  request.password = std::move(password);
  return request;
}

TEST(OdbcConnectionString, FreeTdsKeysWithBracedValues) {
  ConnectRequest request = SqlLogin("sa", "p;w=d}x");
  request.catalog = "Quill archive";
  request.application = "Tessera";
  std::string text =
      OdbcConnectionString(request, {"db.example.org", "", 14330}, "/usr/lib/libtdsodbc.so");
  EXPECT_EQ(text,
            "DRIVER={/usr/lib/libtdsodbc.so};SERVER={db.example.org};PORT=14330;UID={sa};"
            "PWD={p;w=d}x};DATABASE={Quill archive};APP={Tessera};");
}

TEST(OdbcConnectionString, AProtocolVersionReachesFreeTdsOnly) {
  ConnectRequest request = SqlLogin("sa", "x");
  request.properties = ConnectionString::Parse("tds_version=7.1;");
  EXPECT_NE(OdbcConnectionString(request, {"srv", "", 0}, "FreeTDS").find("TDS_Version={7.1};"),
            std::string::npos);
  EXPECT_EQ(OdbcConnectionString(request, {"srv", "", 0}, "ODBC Driver 17 for SQL Server")
                .find("TDS_Version"),
            std::string::npos);
}

TEST(OdbcConnectionString, MicrosoftDriverKeysDoubleClosingBraces) {
  ConnectRequest request = SqlLogin("sa", "a}b");
  request.properties = ConnectionString::Parse("Use Encryption for Data=True;");
  std::string text = OdbcConnectionString(request, {"srv", "", 0}, "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(text,
            "DRIVER={ODBC Driver 18 for SQL Server};SERVER={tcp:srv,1433};UID={sa};PWD={a}}b};"
            "Encrypt=yes;");
}

TEST(OdbcConnectionString, IntegratedSecurityAsksForKerberosAndSendsNoPassword) {
  ConnectRequest request = SqlLogin("ignored", "secret");
  request.integrated = true;
  std::string text = OdbcConnectionString(request, {"srv", "", 1433}, "FreeTDS");
  EXPECT_NE(text.find("Trusted_Connection=Yes;"), std::string::npos);
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_EQ(text.find("UID="), std::string::npos);
}

TEST(OdbcConnectionString, AValueFreeTdsCannotCarryIsRefusedNotCut) {
  try {
    OdbcConnectionString(SqlLogin("sa", "ab};DRIVER=x"), {"srv", "", 1433}, "FreeTDS");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kErrorBadInitString);
    EXPECT_EQ(error.description().find("DRIVER=x"), std::string::npos);
  }
}

std::string Reply(const std::string& text) {
  std::string reply = "\x05";
  reply += static_cast<char>(text.size() & 0xFF);
  reply += static_cast<char>(text.size() >> 8);
  return reply + text;
}

TEST(OdbcBrowser, RepliesAreReadForTheNamedInstanceOnly) {
  const std::string two =
      "ServerName;SRV01;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.194;tcp;1433;;"
      "ServerName;SRV01;InstanceName;ARCHIVE;IsClustered;No;Version;8.00.194;tcp;2301;np;"
      "\\\\SRV01\\pipe\\MSSQL$ARCHIVE\\sql\\query;;";
  struct Case {
    std::string reply;
    const char* instance;
    std::optional<int> port;
  };
  const Case cases[] = {
      {Reply(two), "ARCHIVE", 2301},
      {Reply(two), "archive", 2301},
      {Reply(two), "MSSQLSERVER", 1433},
      {Reply(two), "OTHER", std::nullopt},
      {Reply("ServerName;S;InstanceName;A;tcp;99999;;"), "A", std::nullopt},
      {Reply("ServerName;S;InstanceName;A;np;x;;"), "A", std::nullopt},
      {Reply(two).substr(0, 40), "ARCHIVE", std::nullopt},  // the length says more than came
      {"\x04" + Reply(two).substr(1), "ARCHIVE", std::nullopt},
      {"", "ARCHIVE", std::nullopt},
      {"\x05\xFF", "ARCHIVE", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseBrowserReply(c.reply, c.instance), c.port) << c.instance << " " << c.reply;
}

// A Browser on a loopback port of its own: answers the instance request it expects.
TEST(OdbcBrowser, AsksOverUdpAndGivesUpAfterTheWait) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);
  std::string received;
  std::thread browser([&] {
    char buffer[512];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t got =
        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (got <= 0) return;
    received.assign(buffer, static_cast<std::size_t>(got));
    std::string reply = Reply("ServerName;S;InstanceName;ARCHIVE;tcp;2301;;");
    ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), from_length);
  });
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "ARCHIVE", port, std::chrono::milliseconds(2000)),
            2301);
  browser.join();
  EXPECT_EQ(received,
            "\x04"
            "ARCHIVE");
  // Nobody answers now: the lookup ends after its wait.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "ARCHIVE", port, std::chrono::milliseconds(200)),
            std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ::close(fd);
}

}  // namespace
}  // namespace db

namespace db {
namespace {

TEST(OdbcSourceTable, OnlyQueriesOverOneTableNameIt) {
  struct Case {
    const char* batch;
    std::optional<std::string> table;
  };
  const Case cases[] = {
      {"SELECT * FROM ExtendedField WHERE FieldName='a' AND FieldType=1;", "ExtendedField"},
      {"select id, name from dbo.[Quill Doc] order by id", "dbo.[Quill Doc]"},
      {"SELECT TOP 10 * FROM Document WHERE EntryID IN (SELECT EntryID FROM Other)", "Document"},
      {"SELECT 'FROM x' AS a FROM T", "T"},
      {"SELECT * FROM A JOIN B ON A.id = B.id", std::nullopt},
      {"SELECT * FROM A, B", std::nullopt},
      {"SELECT * FROM A a WHERE a.id = 1", std::nullopt},
      {"SELECT * FROM (SELECT 1 AS x) s", std::nullopt},
      {"SELECT 1", std::nullopt},
      {"SELECT * FROM A UNION SELECT * FROM B", std::nullopt},
      {"SELECT * INTO C FROM A", std::nullopt},
      {"SELECT * FROM A; SELECT * FROM B", std::nullopt},
      {"UPDATE A SET x = 1", std::nullopt},
      {"SELECT * FROM @t", std::nullopt},
      {"SELECT * FROM [unterminated", std::nullopt},
      {"SELECT 'unterminated FROM A", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(SingleSourceTable(c.batch), c.table) << c.batch;
}

}  // namespace
}  // namespace db

namespace db {
namespace {

TEST(OdbcWideText, Utf8AndUtf16RoundTripAndBadInputIsReplaced) {
  const std::string round_trips[] = {"",
                                     "plain",
                                     "Gr\xC3\xBC\xC3\x9F"
                                     "e",
                                     "\xE6\x97\xA5\xE6\x9C\xAC",
                                     "\xF0\x9F\x98\x80 emoji",
                                     std::string("nul\0inside", 10)};
  for (const std::string& text : round_trips) EXPECT_EQ(Narrow(Wide(text)), text) << text;
  EXPECT_EQ(Wide("\xF0\x9F\x98\x80").size(), 2u);  // a surrogate pair
  struct Case {
    std::string in;
    std::string out;
  };
  const Case bad[] = {
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},                     // not UTF-8
      {"\xC3", "\xEF\xBF\xBD"},  // cut short
      {"\xE6\x97"
       "x",
       "\xEF\xBF\xBD"
       "x"},                             // cut short before another character
      {"\xED\xA0\x80", "\xEF\xBF\xBD"},  // an encoded surrogate
  };
  for (const Case& c : bad) EXPECT_EQ(Narrow(Wide(c.in)), c.out);
  const SQLWCHAR lone[] = {0x61, 0xD800, 0x62};
  EXPECT_EQ(Narrow(lone, 3),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(OdbcDiagnostics, PrefixesTellWhoSpoke) {
  struct Case {
    const char* raw;
    const char* text;
    bool from_server;
  };
  const Case cases[] = {
      {"[FreeTDS][SQL Server]Login failed for user 'sa'.", "Login failed for user 'sa'.", true},
      {"[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Invalid object name 'x'.",
       "Invalid object name 'x'.", true},
      {"[unixODBC][Driver Manager]Can't open lib 'x'", "Can't open lib 'x'", false},
      {"[FreeTDS][SQL Server]", "", true},
      {"no prefix [SQL Server]", "no prefix [SQL Server]", false},
      {"[unterminated prefix", "[unterminated prefix", false},
  };
  for (const Case& c : cases) {
    bool from_server = !c.from_server;
    EXPECT_EQ(WithoutPrefixes(c.raw, &from_server), c.text) << c.raw;
    EXPECT_EQ(from_server, c.from_server) << c.raw;
  }
}

}  // namespace
}  // namespace db
