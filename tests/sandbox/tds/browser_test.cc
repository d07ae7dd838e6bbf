// The Browser stand-in: which datagrams get which answer, and the responder on a real UDP port.
#include "sandbox/tds/browser.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace sandbox::tds {
namespace {

std::string Answer(const std::string& records) {
  std::string out = "\x05";
  out += static_cast<char>(records.size() & 0xFF);
  out += static_cast<char>(records.size() >> 8);
  return out + records;
}

const std::string kNet =
    "ServerName;SRV01;InstanceName;NET;IsClustered;No;Version;8.00.2039;tcp;2301;;";
const std::string kArchive =
    "ServerName;SRV01;InstanceName;ARCHIVE;IsClustered;No;Version;8.00.2039;tcp;2302;;";

TEST(BrowserAnswer, InstanceAndListRequestsOnlyAndNothingMalformed) {
  // The longest name a request can carry: 31 bytes and its NUL.
  const std::string longest(31, 'L');
  const std::string long_record =
      "ServerName;SRV01;InstanceName;" + longest + ";IsClustered;No;Version;8.00.2039;tcp;2303;;";
  const std::vector<BrowserInstance> served = {
      {"SRV01", "NET", 2301}, {"SRV01", "ARCHIVE", 2302}, {"SRV01", longest, 2303}};
  using namespace std::string_literals;
  struct Case {
    const char* what;
    std::string datagram;
    std::optional<std::string> answer;
  };
  const Case cases[] = {
      {"instance with NUL", "\x04NET\0"s, Answer(kNet)},
      {"instance without NUL", "\x04NET", Answer(kNet)},
      {"lower case",
       "\x04"
       "archive",
       Answer(kArchive)},
      {"unicast list", "\x03", Answer(kNet + kArchive + long_record)},
      {"broadcast list", "\x02", Answer(kNet + kArchive + long_record)},
      {"another instance", "\x04OTHER\0"s, std::nullopt},
      {"a prefix of a name", "\x04NE", std::nullopt},
      {"a name and more", "\x04NETX", std::nullopt},
      {"default instance not served", "\x04MSSQLSERVER", std::nullopt},
      {"empty", "", std::nullopt},
      {"type only", "\x04", std::nullopt},
      {"NUL only", "\x04\0"s, std::nullopt},
      {"bytes after the NUL", "\x04NET\0X"s, std::nullopt},
      {"two NULs", "\x04NET\0\0"s, std::nullopt},
      {"list with a tail", "\x03NET", std::nullopt},
      {"32 bytes with the NUL", "\x04" + longest + "\0"s, Answer(long_record)},
      {"33 bytes with the NUL", "\x04" + longest + "L\0"s, std::nullopt},
      {"31 bytes without a NUL", "\x04" + longest, Answer(long_record)},
      {"32 bytes without a NUL", "\x04" + longest + "L", std::nullopt},
      {"very long", "\x04" + std::string(70000, 'N'), std::nullopt},
      {"non-ASCII name", "\x04N\xC3\x89T", std::nullopt},
      {"non-ASCII case folding is not ASCII's", "\x04n\xC3\xA9t", std::nullopt},
      {"separator in the name", "\x04NET;tcp;1", std::nullopt},
      {"dedicated admin request", "\x0F\x01NET\0"s, std::nullopt},
      {"a response is not a request", Answer(kNet), std::nullopt},
      {"hostile bytes", "\xFF\xFE\x00\x04\x05"s, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(BrowserAnswer(c.datagram, served), c.answer) << c.what;
}

TEST(BrowserAnswer, InstancesThatCannotBeSaidSafelyAreLeftOut) {
  // A name with a separator or a control byte would change what the answer says; a port out of
  // range is no port. The instance request for them goes unanswered, lists skip them.
  const std::vector<BrowserInstance> served = {{"SRV;01", "A", 2301},
                                               {"SRV01", "B\n", 2302},
                                               {"SRV01", "C", 0},
                                               {"SRV01", "D", 70000},
                                               {"SRV01", "NET", 2301}};
  const char* refused[] = {
      "\x04"
      "A",
      "\x04"
      "B\n",
      "\x04"
      "C",
      "\x04"
      "D"};
  for (const char* request : refused) EXPECT_EQ(BrowserAnswer(request, served), std::nullopt);
  EXPECT_EQ(BrowserAnswer("\x03", served), Answer(kNet));
  EXPECT_EQ(BrowserAnswer("\x03", {}), std::nullopt);
  EXPECT_EQ(BrowserAnswer("\x03", {{"SRV01", "C", 0}}), std::nullopt);
}

class BrowserResponderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { ::close(fd_); }

  // The answer to `request` within `wait_ms`, or std::nullopt. A late answer to a request that
  // should get none would still show as the wrong answer to the next one.
  std::optional<std::string> Ask(int port, const std::string& request, int wait_ms = 2000) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) != static_cast<ssize_t>(request.size()))
      return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, wait_ms) != 1) return std::nullopt;
    char buffer[2048];
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(got));
  }
  int fd_ = -1;
};

TEST_F(BrowserResponderTest, AnswersOverUdpSurvivesHostileDatagramsAndStops) {
  BrowserResponder responder({{"SRV01", "NET", 2301}}, nullptr);
  const int port = responder.Start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(Ask(port, "\x04NET"), Answer(kNet));
  // Hostile and oversized datagrams get nothing, and the responder still answers after them.
  EXPECT_EQ(Ask(port, std::string(60000, '\x04'), 200), std::nullopt);
  EXPECT_EQ(Ask(port, "\x04" + std::string(1000, '\xFF'), 200), std::nullopt);
  EXPECT_EQ(Ask(port, "\x04OTHER", 200), std::nullopt);
  EXPECT_EQ(Ask(port, "\x03"), Answer(kNet));
  responder.Stop();
  EXPECT_EQ(Ask(port, "\x04NET", 200), std::nullopt);
}

TEST_F(BrowserResponderTest, ATakenPortIsReportedAsInUse) {
  BrowserResponder first({{"SRV01", "NET", 2301}}, nullptr);
  const int port = first.Start("127.0.0.1", 0);
  BrowserResponder second({{"SRV01", "OTHER", 2302}}, nullptr);
  try {
    second.Start("127.0.0.1", port);
    FAIL() << "a second responder bound the same port";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::address_in_use);
  }
  // The first one goes on answering.
  EXPECT_EQ(Ask(port, "\x04NET"), Answer(kNet));
  BrowserResponder bad({}, nullptr);
  EXPECT_THROW(bad.Start("not an address", 0), std::system_error);
  EXPECT_THROW(bad.Start("127.0.0.1", 70000), std::system_error);
}

}  // namespace
}  // namespace sandbox::tds
