#include "platform/linux_network_probe.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/config_file.h"

namespace platform {

namespace {

constexpr std::string_view kSandboxAddress = "127.0.0.1";
constexpr size_t kMaxPayload = 65500;

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int StatusOfErrno(int error) {
  switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
      return kIpDestNetUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kIpDestHostUnreachable;
    case ETIMEDOUT:
      return kIpReqTimedOut;
    default:
      return kIpGeneralFailure;
  }
}

bool IsReservedInvalid(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  constexpr std::string_view kInvalid = "invalid";
  if (EqualsNoCase(name, kInvalid)) return true;
  return name.size() > kInvalid.size() &&
         EqualsNoCase(name.substr(name.size() - kInvalid.size() - 1), ".invalid");
}

sockaddr_in SocketAddress(const std::string& address, int port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &target.sin_addr);
  return target;
}

// Splits "host,port" (SQL Server's way of naming a port in a data source); port 0 when none.
std::string_view SplitPort(std::string_view machine, int* port) {
  *port = 0;
  size_t comma = machine.rfind(',');
  if (comma == std::string_view::npos || comma + 1 >= machine.size() ||
      machine.size() - comma > 6) {
    return machine;
  }
  int value = 0;
  for (char c : machine.substr(comma + 1)) {
    if (c < '0' || c > '9') return machine;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return machine;
  *port = value;
  return machine.substr(0, comma);
}

}  // namespace

bool IsPlausibleHostName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.size() > 253) return false;
  size_t label = 0;
  for (char c : name) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
  }
  return label > 0;
}

LinuxNetworkProbe::LinuxNetworkProbe(const Environment& environment, Options options)
    : options_(std::move(options)), local_(environment) {}

bool LinuxNetworkProbe::IcmpAllowed() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string LinuxNetworkProbe::LookupAddress(std::string_view machine) {
  if (IsSandboxMachine(machine)) return std::string(kSandboxAddress);
  int port;
  machine = SplitPort(machine, &port);
  if (!IsPlausibleHostName(machine) || IsReservedInvalid(machine)) return std::string();
  if (IsLoopbackName(machine) && machine.find_first_not_of("0123456789.") != machine.npos) {
    return "127.0.0.1";
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  std::string name(machine);
  if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    return std::string();
  }
  std::string text;
  for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET) continue;
    char buffer[INET_ADDRSTRLEN] = {};
    auto* address = reinterpret_cast<sockaddr_in*>(entry->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, buffer, sizeof buffer) != nullptr) text = buffer;
    break;
  }
  freeaddrinfo(result);
  return text;
}

int LinuxNetworkProbe::Echo(std::string_view machine, std::string_view payload, int timeout_ms) {
  if (IsSandboxMachine(machine)) return kEchoSuccess;
  std::string address = LookupAddress(machine);
  in_addr binary{};
  // The all-ones address is what the old resolver call returned for "no address".
  if (address.empty() || inet_pton(AF_INET, address.c_str(), &binary) != 1 ||
      binary.s_addr == INADDR_NONE) {
    return kEchoNoAddress;
  }
  if (timeout_ms < 1) timeout_ms = 1;
  if (options_.echo_method != EchoMethod::kTcp) {
    bool usable = true;
    int status = IcmpEcho(address, payload, timeout_ms, &usable);
    if (usable || options_.echo_method == EchoMethod::kIcmp) return status;
  }
  // A data source that names its port is reached there.
  int port;
  SplitPort(machine, &port);
  return TcpEcho(address, port != 0 ? port : options_.tcp_port, timeout_ms);
}

int LinuxNetworkProbe::IcmpEcho(const std::string& address, std::string_view payload,
                                int timeout_ms, bool* usable) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (socket.fd() < 0) {
    *usable = false;
    return kIpGeneralFailure;
  }
  int on = 1;
  // Unreachable reports arrive as socket errors instead of being dropped.
  setsockopt(socket.fd(), SOL_IP, IP_RECVERR, &on, sizeof on);

  if (payload.size() > kMaxPayload) payload = payload.substr(0, kMaxPayload);
  std::vector<std::uint8_t> packet(sizeof(icmphdr) + payload.size());
  icmphdr header{};
  header.type = ICMP_ECHO;
  std::uint16_t sequence = ++sequence_;
  header.un.echo.sequence = htons(sequence);  // the kernel fills in the id and the checksum
  std::copy_n(reinterpret_cast<const std::uint8_t*>(&header), sizeof header, packet.begin());
  std::copy(payload.begin(), payload.end(), packet.begin() + sizeof header);
  sockaddr_in target = SocketAddress(address, 0);
  if (::sendto(socket.fd(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&target),
               sizeof target) < 0) {
    return StatusOfErrno(errno);
  }
  std::vector<std::uint8_t> reply(packet.size() + 64);
  while (true) {
    pollfd wait{socket.fd(), POLLIN, 0};
    int ready = ::poll(&wait, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return kIpReqTimedOut;
    ssize_t got = ::recv(socket.fd(), reply.data(), reply.size(), MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return StatusOfErrno(errno);
    }
    icmphdr answer{};
    if (static_cast<size_t>(got) < sizeof answer) continue;
    std::copy_n(reply.begin(), sizeof answer, reinterpret_cast<std::uint8_t*>(&answer));
    if (answer.type == ICMP_ECHOREPLY && ntohs(answer.un.echo.sequence) == sequence) {
      return kEchoSuccess;
    }
  }
}

int LinuxNetworkProbe::TcpEcho(const std::string& address, int port, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.fd() < 0) return kIpGeneralFailure;
  sockaddr_in target = SocketAddress(address, port);
  if (::connect(socket.fd(), reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
    return kEchoSuccess;
  }
  if (errno == ECONNREFUSED) return kEchoSuccess;
  if (errno != EINPROGRESS) return StatusOfErrno(errno);
  while (true) {
    pollfd wait{socket.fd(), POLLOUT, 0};
    int ready = ::poll(&wait, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return kIpReqTimedOut;
    break;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return kIpGeneralFailure;
  // Connected, or refused by the machine itself: either way it answered.
  if (error == 0 || error == ECONNREFUSED) return kEchoSuccess;
  return StatusOfErrno(error);
}

JoinInformation LinuxNetworkProbe::GetJoinInformation(std::string_view machine) {
  std::string_view name = StripLeadingBackslashes(machine);
  bool sandbox = IsSandboxMachine(name);
  if (!sandbox && !local_.IsLocal(name)) return JoinInformation{};
  if (auto samba = ReadSambaConfig(options_.samba_config)) {
    return JoinInformation{samba->JoinStatus(), samba->JoinName()};
  }
  if (sandbox || IsLoopbackName(name)) return JoinInformation{kJoinStatusWorkgroup, "WORKGROUP"};
  return JoinInformation{kJoinStatusUnjoined, std::string()};
}

}  // namespace platform
