// Clients nobody here wrote against the listener: FreeTDS's tsql, pytds, pymssql, pyodbc and
// Node's tedious and mssql, at the versions they ask for by default and forced to 7.1 (and 7.0
// where they offer it).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "sandbox/tds/server.h"

namespace sandbox::tds {
namespace {

const std::string kPassword = "Pa'ss]; w\xC3\xB6rd";

// A client this machine lacks skips its test on a developer's machine but fails it in CI, where
// scripts/setup-deps installs every client.
#define REQUIRE_CLIENT(present, what)                                            \
  if (!(present)) {                                                              \
    if (std::getenv("CI")) FAIL() << what << " is missing (scripts/setup-deps)"; \
    GTEST_SKIP() << what << " is not installed (scripts/setup-deps)";            \
  }

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class ThirdPartyClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = common::testing::ScratchFolder("tds-freetds", true);
    host_ = OpenHost(root_ / "instances");
    InstanceConfig config;
    config.sa_password = kPassword;
    instance_ = host_->Create("", config);
    server_ = std::make_unique<Server>(instance_, ServerOptions{"127.0.0.1", 0}, nullptr);
    port_ = server_->Start();
  }
  void TearDown() override {
    server_.reset();
    instance_.reset();
    host_.reset();
    common::testing::RemoveScratch(root_);
  }

  // The output of a shell command.
  static std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
  }

  // tsql's output for a script, as the given protocol version (empty: tsql's default).
  std::string Tsql(const std::string& version, const std::string& password,
                   const std::string& script) {
    std::filesystem::path input = root_ / "input.sql";
    std::ofstream(input) << script << "\nexit\n";
    std::string command = "env LC_ALL=C.UTF-8 " +
                          (version.empty() ? std::string() : "TDSVER=" + version + " ") +
                          "timeout 60 tsql -H 127.0.0.1 -p " + std::to_string(port_) +
                          " -U sa -P " + Quote(password) + " <" + Quote(input.string()) + " 2>&1";
    return Output(command);
  }

  std::filesystem::path root_;
  std::unique_ptr<Host> host_;
  std::shared_ptr<Instance> instance_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
};

TEST_F(ThirdPartyClientTest, ReadsTypesMessagesAndDatabaseChanges) {
  REQUIRE_CLIENT(std::system("command -v tsql >/dev/null 2>&1") == 0, "tsql (freetds-bin)");
  const std::string script =
      "CREATE TABLE #t (i INT, b BIGINT, v VARCHAR(20), nv NVARCHAR(20), d DATETIME, f FLOAT, "
      "bt BIT, img IMAGE, nt NTEXT)\n"
      "INSERT INTO #t VALUES (7, 9000000000, 'Gr\xC3\xBC\xC3\x9F"
      "e', "
      "N'\xE6\x97\xA5\xE6\x9C\xAC', '2003-01-02 10:20:30', 2.5, 1, 0x0102, N'\xCE\xA9mega')\n"
      "INSERT INTO #t VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)\n"
      "go\n"
      "SELECT * FROM #t\n"
      "go\n"
      "PRINT 'hello there'\n"
      "RAISERROR('boom %d', 16, 3, 7)\n"
      "go\n"
      "USE tempdb\n"
      "SELECT DB_NAME() AS here\n"
      "go\n";
  for (const std::string version : {"", "7.0", "7.1", "7.2", "7.4"}) {
    SCOPED_TRACE(version);
    std::string out = Tsql(version, kPassword, script);
    EXPECT_NE(out.find("7\t9000000000\tGr\xC3\xBC\xC3\x9F"
                       "e\t\xE6\x97\xA5\xE6\x9C\xAC\tJan  2 "
                       "2003 10:20AM\t2.5\t1\t0102\t\xCE\xA9mega"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("NULL\tNULL\tNULL\tNULL\tNULL\tNULL\tNULL\tNULL\tNULL"), std::string::npos)
        << out;
    EXPECT_NE(out.find("hello there"), std::string::npos) << out;
    EXPECT_NE(out.find("Msg 50000 (severity 16, state 3)"), std::string::npos) << out;
    EXPECT_NE(out.find("\"boom 7\""), std::string::npos) << out;
    EXPECT_NE(out.find("here\ntempdb"), std::string::npos) << out;
  }
}

TEST_F(ThirdPartyClientTest, AWrongPasswordIsRefusedWith18456) {
  REQUIRE_CLIENT(std::system("command -v tsql >/dev/null 2>&1") == 0, "tsql (freetds-bin)");
  std::string out = Tsql("", "wrong", "SELECT 1\ngo\n");
  EXPECT_NE(out.find("Msg 18456 (severity 14"), std::string::npos) << out;
  EXPECT_NE(out.find("Login failed for user 'sa'."), std::string::npos) << out;
}

// FreeTDS's ODBC driver for pyodbc, where both are installed; else empty.
std::string PyodbcDriver() {
  if (std::system("/usr/bin/python3 -c 'import pyodbc' >/dev/null 2>&1") != 0) return "";
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
                           "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so"})
    if (std::filesystem::exists(path)) return path;
  return "";
}

// Every column type reaches each client in its own wire type and comes back exactly: decimals
// and money to the last digit, varchar in the collation's code page, at each client's default
// version and at 7.1; a procedure called as RPC returns its rows.
TEST_F(ThirdPartyClientTest, PythonClientsReadEveryTypeExactly) {
  REQUIRE_CLIENT(std::system("/usr/bin/python3 -c 'import pytds, pymssql' >/dev/null 2>&1") == 0,
                 "python3-tds or python3-pymssql");
  const std::string odbc_driver = PyodbcDriver();
  if (odbc_driver.empty() && std::getenv("CI"))
    FAIL() << "python3-pyodbc or tdsodbc is missing (scripts/setup-deps)";
  std::string out =
      Output("timeout 120 /usr/bin/python3 " +
             Quote(std::string(TESSERA_SOURCE_TESTS) + "/python_type_clients.py") + " " +
             std::to_string(port_) + " " + Quote(kPassword) + " " + Quote(odbc_driver) + " 2>&1");
  std::string expected = "pytds-default types ok\npytds-7.1 types ok\n";
  for (const char* client : {"pymssql-default", "pymssql-7.1"})
    expected += std::string(client) + " types ok\n" + client +
                " callproc rows [(41, 'caf\xC3\xA9'), (42, None)]\n";
  if (!odbc_driver.empty()) expected += "pyodbc-7.4 types ok\npyodbc-7.1 types ok\n";
  EXPECT_EQ(out, expected);
}

// Debian's modules import under /usr/bin/python3; another python3 on PATH may lack them.
TEST_F(ThirdPartyClientTest, PythonClientsReadWhatTheServerSends) {
  REQUIRE_CLIENT(std::system("/usr/bin/python3 -c 'import pytds, pymssql' >/dev/null 2>&1") == 0,
                 "python3-tds or python3-pymssql");
  std::string out = Output("timeout 120 /usr/bin/python3 " +
                           Quote(std::string(TESSERA_SOURCE_TESTS) + "/python_clients.py") + " " +
                           std::to_string(port_) + " " + Quote(kPassword) + " 2>&1");
  const std::string kRows =
      " rows [(7, 9000000000, 'Gr\xC3\xBC\xC3\x9F"
      "e', '\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E', "
      "datetime.datetime(2003, 1, 2, 10, 20, 30, 500000), 2.5, True, b'\\x01\\x02', "
      "'\xCE\xA9mega'), (None, None, None, None, None, None, None, None, None)]\n";
  std::string expected;
  for (const char* client : {"pytds-default", "pytds-7.1", "pymssql-7.3", "pymssql-7.1"}) {
    std::string name = client;
    expected += name + kRows + name + " updated 2\n" + name + " raiserror True\n" + name +
                " database [('tempdb',)]\n" + name + " refused True\n";
    if (name.starts_with("pytds")) expected += name + " transactions [(2,)]\n";
  }
  EXPECT_EQ(out, expected);
}

// Parameters and procedure calls go as RPC: sp_executesql with typed values (a hostile text is
// data), a procedure's output parameters and return status, prepared statements.
TEST_F(ThirdPartyClientTest, PythonClientsSendParametersAndCallProcedures) {
  REQUIRE_CLIENT(std::system("/usr/bin/python3 -c 'import pytds, pymssql' >/dev/null 2>&1") == 0,
                 "python3-tds or python3-pymssql");
  const std::string odbc_driver = PyodbcDriver();
  if (odbc_driver.empty() && std::getenv("CI"))
    FAIL() << "python3-pyodbc or tdsodbc is missing (scripts/setup-deps)";
  std::string out =
      Output("timeout 120 /usr/bin/python3 " +
             Quote(std::string(TESSERA_SOURCE_TESTS) + "/python_rpc_clients.py") + " " +
             std::to_string(port_) + " " + Quote(kPassword) + " " + Quote(odbc_driver) + " 2>&1");
  // decimal columns reach clients as exact decimals.
  const std::vector<std::string> kPytds = {
      " values [(7, 'Gr\xC3\xBC\xC3\x9F"
      "e \xE6\x97\xA5\xE6\x9C\xAC', None, Decimal('12.345'), "
      "datetime.datetime(2003, 1, 2, 10, 20, 30, 500000), 9000000000)]",
      " hostile True True",
      " table kept [(1,)]",
      " updated 1",
      " proc outputs [42, 'h\xC3\xA9llo!'] 5",
      " proc rows [('\xC3\xA9t\xC3\xA9',), ('second',)]",
      " missing procedure True",
      " prepared [(42, 'one?')]",
      " prepared [(None, \"tw'o?\")]",
      " unprepared True"};
  std::string expected;
  for (const char* client : {"pytds-default", "pytds-7.1"})
    for (const std::string& line : kPytds) expected += client + line + "\n";
  for (const char* client : {"pymssql-7.3", "pymssql-7.1"})
    expected += std::string(client) + " proc outputs (8, 'w!')\n";
  // At 7.4 FreeTDS's ODBC driver binds a datetime without its fraction of a second; at 7.1 it
  // sends the fraction, and the value comes back whole.
  if (!odbc_driver.empty()) {
    for (const char* client : {"pyodbc-7.4", "pyodbc-7.1"}) {
      const std::string name = client;
      const std::string fraction = name == "pyodbc-7.1" ? ", 500000" : "";
      expected += name +
                  " values [(7, 'Gr\xC3\xBC\xC3\x9F"
                  "e \xE6\x97\xA5\xE6\x9C\xAC', None, Decimal('12.345'), "
                  "datetime.datetime(2003, 1, 2, 10, 20, 30" +
                  fraction + "))]\n" + name + " hostile True True\n" + name +
                  " hostile True True\n" + name + " table kept 1\n";
    }
  }
  EXPECT_EQ(out, expected);
}

// Node's clients run from the npm packages that scripts/setup-deps installs beside their scripts.
class NodeClientTest : public ThirdPartyClientTest {
 protected:
  static std::filesystem::path Folder() {
    return std::filesystem::path(TESSERA_SOURCE_TESTS) / "node";
  }
  static bool Installed(const std::string& package) {
    return std::system("command -v node >/dev/null 2>&1") == 0 &&
           std::filesystem::exists(Folder() / "node_modules" / package / "package.json");
  }
  std::string Run(const std::string& script) {
    return Output("timeout 120 node " + Quote((Folder() / script).string()) + " " +
                  std::to_string(port_) + " " + Quote(kPassword) + " 2>&1");
  }
  // One line per check and client name, in the order the script runs them; a check whose value
  // differs by version gives both.
  struct Check {
    Check(std::string l, std::string v, std::string v71 = "")
        : label(std::move(l)), value(std::move(v)), value_at_71(std::move(v71)) {}
    std::string label;
    std::string value;
    std::string value_at_71;  // empty: as value
  };
  static std::string Expected(const std::string& client, const std::vector<Check>& checks) {
    std::string out;
    for (const char* version : {"default", "7.1"}) {
      const std::string name = client + "-" + version;
      for (const Check& c : checks) {
        const bool at_71 = std::string(version) == "7.1" && !c.value_at_71.empty();
        out += name + " " + c.label + " " + (at_71 ? c.value_at_71 : c.value) + "\n";
      }
    }
    return out;
  }
};

const std::string kGrusse =
    "Gr\xC3\xBC\xC3\x9F"
    "e";
const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
// A JSON text with quotes, brackets, a semicolon, a comment and letters from beyond ASCII.
const std::string kHostileJson =
    "\"x'); DROP TABLE node_keep; --; ]] \\\" \xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC [x]\"";

TEST_F(NodeClientTest, TediousReadsTypesSendsParametersAndCallsProcedures) {
  REQUIRE_CLIENT(Installed("tedious"), "node or its tedious package");
  const std::string row = "[7,\"9000000000\",\"" + kGrusse + "\",\"" + kNihongo +
                          "\",\"2003-01-02T10:20:30.500Z\",2.5,true,\"0x0102\",\"\xCE\xA9mega\"]";
  EXPECT_EQ(
      Run("tedious_client.js"),
      Expected(
          "tedious",
          {{"version", "7_4", "7_1"},
           {"rows", "[[" + row + ",[null,null,null,null,null,null,null,null,null]]]"},
           {"updated", "2"},
           {"print", "[\"hello there\"]"},
           {"raiserror",
            R"({"code":"EREQUEST","number":50000,"state":3,"class":16,"message":"boom 7"})"},
           {"database",
            R"([["database tempdb","Changed database context to 'tempdb'."],[[["tempdb"]]]])"},
           {"parameters", "[[[7,\"9000000000\"," + kHostileJson + ",\"" + kGrusse +
                              "\",null,\"2003-01-02T10:20:30.500Z\",true,43]]]"},
           {"hostile", "[true,43]"},
           {"long", "[true,5000]"},
           {"hostile name", "8145"},
           {"table kept", "[[[1]]]"},
           {"parameter update", "1"},
           {"procedure", "[{\"y\":42,\"echo\":\"h\xC3\xA9llo!\"},5,[\"in node_double\"]]"},
           {"missing procedure", R"([2812,"Could not find stored procedure 'node_missing'."])"},
           {"time-out", R"(["ETIMEOUT",[],[[[2]]]])"},
           {"transactions", "[[[[1]]],[[[2,0]]]]"},
           {"refused", R"(["ELOGIN","Login failed for user 'sa'.",[18456]])"}}));
}

TEST_F(NodeClientTest, MssqlReadsTypesSendsParametersAndCallsProcedures) {
  REQUIRE_CLIENT(Installed("mssql"), "node or its mssql package");
  const std::string row = "{\"i\":7,\"b\":\"9000000000\",\"v\":\"" + kGrusse + "\",\"nv\":\"" +
                          kNihongo +
                          "\",\"d\":\"2003-01-02T10:20:30.500Z\",\"f\":2.5,\"bt\":true,"
                          "\"img\":\"0x0102\",\"nt\":\"\xCE\xA9mega\"}";
  const std::string nulls =
      R"({"i":null,"b":null,"v":null,"nv":null,"d":null,"f":null,"bt":null,"img":null,"nt":null})";
  EXPECT_EQ(
      Run("mssql_client.js"),
      Expected(
          "mssql",
          {{"version", "7_4", "7_1"},
           {"rows", "[true,[[" + row + "," + nulls + "]]]"},
           {"updated", "[2]"},
           {"print", "[\"hello there\"]"},
           {"raiserror",
            R"({"name":"RequestError","number":50000,"state":3,"class":16,"message":"boom 7"})"},
           {"database", R"([["Changed database context to 'tempdb'."],[{"here":"tempdb"}]])"},
           {"parameters", "[{\"i\":7,\"b\":\"9000000000\",\"t\":" + kHostileJson + ",\"v\":\"" +
                              kGrusse +
                              "\",\"n\":null,\"d\":\"2003-01-02T10:20:30.500Z\",\"bit\":true,"
                              "\"l\":43}]"},
           {"long", "[true,5000]", "[true,4000]"},
           {"table kept", R"([{"n":1}])"},
           {"parameter update", "[1]"},
           {"procedure", "[{\"y\":42,\"echo\":\"h\xC3\xA9llo!\"},5,[\"in node_double\"]]"},
           {"missing procedure", R"({"name":"RequestError","number":2812,"state":1,"class":16,)"
                                 R"("message":"Could not find stored procedure 'node_missing'."})"},
           {"transactions", R"([[{"n":1}],[{"v":2,"n":0}]])"},
           {"refused", R"(["ConnectionError","ELOGIN","Login failed for user 'sa'."])"}}));
}

}  // namespace
}  // namespace sandbox::tds
