// The network probe on loopback only: echoes, address lookups that never reach a resolver for
// names that cannot resolve, and join states from Samba's configuration.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "platform/testing/fake_network_probe.h"
#include "platform/linux_network_probe.h"
#include "platform/temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A TCP socket on a free loopback port; listening or not.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listen, int backlog = 16) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    if (listen) {
      EXPECT_EQ(::listen(fd_, backlog), 0);
    }
  }
  ~LoopbackPort() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_;
};

// Connections that fill a listener's queue (backlog 0), so that it drops further requests as a
// silent machine would. The caller closes them.
std::vector<int> FillQueue(int port) {
  std::vector<int> fillers;
  for (int i = 0; i < 8; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd wait{fd, POLLOUT, 0};
    ::poll(&wait, 1, 50);
    fillers.push_back(fd);
  }
  return fillers;
}

class LinuxNetworkProbeTest : public ::testing::Test {
 protected:
  LinuxNetworkProbe MakeProbe(LinuxNetworkProbe::EchoMethod method, int port = 1433) {
    return LinuxNetworkProbe(env_, {dir_ / "smb.conf", method, port});
  }

  TempDir dir_;
  FakeEnvironment env_{{"COMPUTERNAME", "ARCHIVEPC"}};
};

TEST_F(LinuxNetworkProbeTest, LoopbackAndTheSandboxAnswer) {
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kAuto);
  EXPECT_EQ(probe.Echo("127.0.0.1", "Echo this", 500), kEchoSuccess);
  EXPECT_EQ(probe.Echo("localhost", "Echo this", 500), kEchoSuccess);
  EXPECT_EQ(probe.Echo("(sandbox)", "Echo this", 500), kEchoSuccess);
  EXPECT_EQ(probe.Echo("(SANDBOX)", "", 1), kEchoSuccess);
  EXPECT_EQ(probe.LookupAddress("(sandbox)"), "127.0.0.1");
  EXPECT_EQ(probe.LookupAddress("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(probe.LookupAddress("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(probe.LookupAddress("db.localhost"), "127.0.0.1");
}

TEST_F(LinuxNetworkProbeTest, NamesWithoutAddressFailQuicklyWithoutLookup) {
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kAuto);
  auto start = Clock::now();
  EXPECT_EQ(probe.Echo("nohost.invalid", "Echo this", 500), kEchoNoAddress);
  EXPECT_EQ(probe.Echo("NOHOST.INVALID.", "Echo this", 500), kEchoNoAddress);
  EXPECT_EQ(probe.Echo("invalid", "Echo this", 500), kEchoNoAddress);
  for (const std::string& hostile :
       std::vector<std::string>{"", "srv'; DROP DATABASE x; --", "[srv]", "\"srv\"", "a b", "a..b",
                                ".srv", "(sandbox)\\x", "\\\\srv", std::string(300, 'a'),
                                std::string(64, 'a') + ".com", std::string("srv\0x", 5)}) {
    EXPECT_EQ(probe.Echo(hostile, "Echo this", 500), kEchoNoAddress) << hostile;
    EXPECT_EQ(probe.LookupAddress(hostile), "") << hostile;
  }
  EXPECT_LT(ElapsedMs(start), 400) << "a name without address cost a time-out or a lookup";
  // The all-ones address is the resolver's old "no address" answer, never a machine.
  EXPECT_EQ(probe.Echo("255.255.255.255", "Echo this", 500), kEchoNoAddress);
}

TEST(IsPlausibleHostNameTest, AcceptsHostNamesAndAddressesOnly) {
  EXPECT_TRUE(IsPlausibleHostName("SRV01"));
  EXPECT_TRUE(IsPlausibleHostName("db-1.example.com."));
  EXPECT_TRUE(IsPlausibleHostName("my_host"));
  EXPECT_TRUE(IsPlausibleHostName("10.0.0.1"));
  EXPECT_TRUE(IsPlausibleHostName(std::string(63, 'a') + "." + std::string(63, 'b')));
  EXPECT_FALSE(IsPlausibleHostName("."));
  EXPECT_FALSE(IsPlausibleHostName("a;b"));
  EXPECT_FALSE(IsPlausibleHostName("SRV01\\ARCHIVE"));
  EXPECT_FALSE(IsPlausibleHostName("::1"));
}

TEST_F(LinuxNetworkProbeTest, TcpStandInCountsRefusedAsAnswered) {
  LoopbackPort listening(true);
  auto open = MakeProbe(LinuxNetworkProbe::EchoMethod::kTcp, listening.port());
  EXPECT_EQ(open.Echo("127.0.0.1", "Echo this", 500), kEchoSuccess);

  int closed_port;
  {
    LoopbackPort bound_only(false);
    closed_port = bound_only.port();
  }
  auto refused = MakeProbe(LinuxNetworkProbe::EchoMethod::kTcp, closed_port);
  EXPECT_EQ(refused.Echo("127.0.0.1", "Echo this", 500), kEchoSuccess);
}

TEST_F(LinuxNetworkProbeTest, DataSourcePortsAreHonoured) {
  LoopbackPort busy(true, 0);
  std::vector<int> fillers = FillQueue(busy.port());
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kTcp, busy.port());
  EXPECT_EQ(probe.LookupAddress("localhost,1433"), "127.0.0.1");
  EXPECT_EQ(probe.LookupAddress("127.0.0.1,99999"), "") << "not a port";
  EXPECT_EQ(probe.LookupAddress("127.0.0.1,"), "");
  // The configured port would time out; the data source's own port answers.
  LoopbackPort listening(true);
  EXPECT_EQ(probe.Echo("127.0.0.1," + std::to_string(listening.port()), "Echo this", 300),
            kEchoSuccess);
  EXPECT_EQ(probe.Echo("127.0.0.1", "Echo this", 100), kIpReqTimedOut);
  for (int fd : fillers) ::close(fd);
}

TEST_F(LinuxNetworkProbeTest, TcpStandInTimesOutWhenNothingAnswers) {
  LoopbackPort busy(true, 0);
  std::vector<int> fillers = FillQueue(busy.port());
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kTcp, busy.port());
  auto start = Clock::now();
  EXPECT_EQ(probe.Echo("127.0.0.1", "Echo this", 200), kIpReqTimedOut);
  long elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 900);
  for (int fd : fillers) ::close(fd);
}

TEST_F(LinuxNetworkProbeTest, IcmpEchoWhereTheSystemAllowsIt) {
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kIcmp);
  if (!LinuxNetworkProbe::IcmpAllowed()) {
    // Forced ICMP on a system that forbids it must not pass for an answer.
    EXPECT_NE(probe.Echo("127.0.0.1", "Echo this", 200), kEchoSuccess);
    GTEST_SKIP() << "unprivileged ICMP is not allowed here (net.ipv4.ping_group_range)";
  }
  EXPECT_EQ(probe.Echo("127.0.0.1", "Echo this", 500), kEchoSuccess);
  EXPECT_EQ(probe.Echo("127.0.0.1", std::string(2000, 'p'), 500), kEchoSuccess);
}

bool WriteFile(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Runs the check in a child process with a network of its own that has only a loopback
// interface and allows unprivileged ICMP, so the ICMP path is tested wherever user namespaces
// are available, and nothing can leave the machine. Returns the child's exit code, or -1 when
// such a network cannot be made here.
int InPrivateNetwork(const std::function<int()>& check) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) _exit(100);
    WriteFile("/proc/self/setgroups", "deny");
    if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
        !WriteFile("/proc/sys/net/ipv4/ping_group_range", "0 0")) {
      _exit(100);
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (fd < 0 || ::ioctl(fd, SIOCGIFFLAGS, &request) != 0) _exit(100);
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0) _exit(100);
    ::close(fd);
    _exit(check());
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 100 ? -1 : WEXITSTATUS(status);
}

TEST_F(LinuxNetworkProbeTest, IcmpEchoInAPrivateNetwork) {
  int result = InPrivateNetwork([this] {
    auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kIcmp);
    if (probe.Echo("127.0.0.1", "Echo this", 500) != kEchoSuccess) return 1;
    // No route leads anywhere else in this network: unreachable at once, not a time-out.
    auto start = Clock::now();
    if (probe.Echo("192.0.2.1", "Echo this", 2000) != kIpDestNetUnreachable) return 2;
    if (ElapsedMs(start) > 1000) return 3;
    // The automatic method prefers ICMP here and still answers.
    auto automatic = MakeProbe(LinuxNetworkProbe::EchoMethod::kAuto, 1);
    if (automatic.Echo("localhost", "Echo this", 500) != kEchoSuccess) return 4;
    return 0;
  });
  if (result < 0) GTEST_SKIP() << "no private network namespace available here";
  EXPECT_EQ(result, 0) << "1: no loopback answer, 2: wrong status, 3: slow, 4: auto failed";
}

TEST_F(LinuxNetworkProbeTest, JoinStateWithoutSambaConfiguration) {
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kAuto);
  EXPECT_EQ(probe.GetJoinInformation("ARCHIVEPC"), (JoinInformation{kJoinStatusUnjoined, ""}));
  EXPECT_EQ(probe.GetJoinInformation("\\\\" + LocalMachine::HostName()),
            (JoinInformation{kJoinStatusUnjoined, ""}));
  // The sandbox answers as a workgroup member whether asked by name or by its address.
  EXPECT_EQ(probe.GetJoinInformation("(sandbox)"),
            (JoinInformation{kJoinStatusWorkgroup, "WORKGROUP"}));
  EXPECT_EQ(probe.GetJoinInformation("\\\\127.0.0.1"),
            (JoinInformation{kJoinStatusWorkgroup, "WORKGROUP"}));
  // Other machines would have to be asked over the network: unknown.
  EXPECT_EQ(probe.GetJoinInformation("\\\\192.0.2.7"), (JoinInformation{}));
  EXPECT_EQ(probe.GetJoinInformation("\\\\OTHERPC"), (JoinInformation{}));
}

TEST_F(LinuxNetworkProbeTest, JoinStateFromSambaConfiguration) {
  dir_.Write("smb.conf",
             "# sample\n[global]\n   workgroup = fernwick\n   server string = %h server\n"
             "[homes]\n   security = ads\n");
  auto probe = MakeProbe(LinuxNetworkProbe::EchoMethod::kAuto);
  EXPECT_EQ(probe.GetJoinInformation("\\\\127.0.0.1"),
            (JoinInformation{kJoinStatusWorkgroup, "FERNWICK"}));
  EXPECT_EQ(probe.GetJoinInformation("archivepc"),
            (JoinInformation{kJoinStatusWorkgroup, "FERNWICK"}));

  dir_.Write("smb.conf",
             "[global]\n  Security = ADS\n  realm = CORP.FERNWICK.EXAMPLE\n"
             "  work group = CORP\n");
  EXPECT_EQ(probe.GetJoinInformation("\\\\ARCHIVEPC"),
            (JoinInformation{kJoinStatusDomain, "CORP"}));
  EXPECT_EQ(probe.GetJoinInformation("\\\\192.0.2.7"), (JoinInformation{}));
}

TEST(SambaConfigTest, ReadsTheGlobalSection) {
  auto config = ParseSambaConfig(
      "workgroup = early\n"
      "; comment\n"
      "[global]\n"
      "\tserver role = active directory \\\n"
      "     domain controller\n"
      "\trealm = ad.fernwick.example\n"
      "\tpassword server = dc1.ad.fernwick.example, dc2\n"
      "[share]\n"
      "\tworkgroup = ignored\n");
  EXPECT_EQ(config.JoinStatus(), kJoinStatusDomain);
  EXPECT_EQ(config.workgroup, "early");
  EXPECT_EQ(config.JoinName(), "EARLY");
  EXPECT_EQ(config.DomainController(), "dc1.ad.fernwick.example");

  EXPECT_EQ(ParseSambaConfig("[global]\nrealm = ad.example\nsecurity = ads\n").JoinName(), "AD");
  EXPECT_EQ(ParseSambaConfig("[global]\nsecurity = domain\n").JoinStatus(), kJoinStatusDomain);
  EXPECT_EQ(ParseSambaConfig("[global]\nsecurity = user\n").JoinStatus(), kJoinStatusWorkgroup);
  EXPECT_EQ(ParseSambaConfig("").JoinName(), "WORKGROUP");
  EXPECT_EQ(ParseSambaConfig("[global]\npassword server = *\n").DomainController(), "");
  EXPECT_FALSE(ReadSambaConfig("/nonexistent/smb.conf").has_value());
}

TEST(LocalMachineTest, RecognisesThisMachineOffline) {
  FakeEnvironment env{{"COMPUTERNAME", "ARCHIVEPC"}};
  LocalMachine local(env);
  for (std::string name :
       {"", ".", "(local)", "localhost", "127.0.0.1", "127.1.2.3", "\\\\ArchivePC", "archivepc"}) {
    EXPECT_TRUE(local.IsLocal(name)) << name;
  }
  EXPECT_TRUE(local.IsLocal(LocalMachine::HostName()));
  for (std::string name : {"OTHERPC", "192.0.2.7", "128.0.0.1", "(sandbox)"}) {
    EXPECT_FALSE(local.IsLocal(name)) << name;
  }
  EXPECT_TRUE(IsSandboxDataSource("(sandbox)"));
  EXPECT_TRUE(IsSandboxDataSource("\\\\(Sandbox)\\ARCHIVE"));
  EXPECT_FALSE(IsSandboxDataSource("(sandbox)x"));
  EXPECT_FALSE(IsSandboxDataSource("SRV01\\(sandbox)"));
}

TEST(FakeNetworkProbeTest, AnswersAsToldAndRecords) {
  FakeNetworkProbe probe;
  probe.SetMachine("SRV01", {kEchoSuccess, "10.1.2.3", {kJoinStatusDomain, "CORP"}});
  EXPECT_EQ(probe.Echo("srv01", "Echo this", 500), kEchoSuccess);
  EXPECT_EQ(probe.Echo("SRV02", "Echo this", 500), kEchoNoAddress);
  EXPECT_EQ(probe.LookupAddress("Srv01"), "10.1.2.3");
  EXPECT_EQ(probe.GetJoinInformation("\\\\10.1.2.3"), (JoinInformation{kJoinStatusDomain, "CORP"}));
  EXPECT_EQ(probe.GetJoinInformation("\\\\10.9.9.9"), (JoinInformation{}));
  ASSERT_EQ(probe.echo_calls().size(), 2u);
  EXPECT_EQ(probe.echo_calls()[0].machine, "srv01");
  EXPECT_EQ(probe.echo_calls()[0].payload, "Echo this");
  EXPECT_EQ(probe.echo_calls()[0].timeout_ms, 500);
  EXPECT_EQ(probe.join_calls(), (std::vector<std::string>{"\\\\10.1.2.3", "\\\\10.9.9.9"}));
}

}  // namespace
}  // namespace platform
