// pyodbc with FreeTDS's ODBC driver, a client nobody here wrote, against the listener: at the
// protocol version FreeTDS asks for by default and forced to 7.1.
#include <cstdio>
#include <cstdlib>

#include "db/odbc/odbc_fixture.h"

namespace db {
namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

using PyodbcClientTest = OdbcServerTest;

// Debian's modules import under /usr/bin/python3; another python3 on PATH may lack them.
TEST_F(PyodbcClientTest, ReadsWhatTheServerSends) {
  if (std::system("/usr/bin/python3 -c 'import pyodbc' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-pyodbc is not installed (scripts/setup-deps)";
  std::string out = Output("timeout 120 /usr/bin/python3 " +
                           Quote(std::string(TESSERA_SOURCE_TESTS) + "/pyodbc_client.py") + " " +
                           Quote(DefaultOdbcDriver()) + " " + std::to_string(port_) + " " +
                           Quote(kSaPassword) + " 2>&1");
  std::string expected;
  for (std::string name : {"pyodbc-7.4", "pyodbc-7.1"}) {
    expected += name +
                " rows [(7, 9000000000, 'Gr\xC3\xBC\xC3\x9F"
                "e', '\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E', "
                "datetime.datetime(2003, 1, 2, 10, 20, 30, 500000), 2.5, True, b'\\x01\\x02', "
                "'\xCE\xA9mega'), (None, None, None, None, None, None, None, None, None)]\n" +
                name + " updated 2\n" + name + " raiserror True\n" + name + " print 1 True\n" +
                name + " database tempdb\n" + name + " refused True\n" + name +
                " transactions [(2,)]\n";
  }
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace db
