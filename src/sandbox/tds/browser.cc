#include "sandbox/tds/browser.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace sandbox::tds {

namespace {

constexpr unsigned char kBroadcastList = 0x02;
constexpr unsigned char kUnicastList = 0x03;
constexpr unsigned char kUnicastInstance = 0x04;
constexpr unsigned char kResponse = 0x05;
// An instance name in a request, its NUL included; answers to one instance stay within 1,024
// bytes, lists within what the 2-byte length can say.
constexpr std::size_t kMaxRequestName = 32;
constexpr std::size_t kMaxInstanceAnswer = 1024;
constexpr std::size_t kMaxListAnswer = 65535;

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// A field must not carry the separator or control bytes, or the record would say something else.
bool Plain(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ';') return false;
  }
  return true;
}

std::string Record(const BrowserInstance& instance) {
  if (!Plain(instance.server_name) || !Plain(instance.instance_name) || instance.tcp_port < 1 ||
      instance.tcp_port > 65535)
    return {};
  return "ServerName;" + instance.server_name + ";InstanceName;" + instance.instance_name +
         ";IsClustered;No;Version;8.00.2039;tcp;" + std::to_string(instance.tcp_port) + ";;";
}

std::optional<std::string> Response(const std::string& data) {
  if (data.empty()) return std::nullopt;
  std::string out(1, static_cast<char>(kResponse));
  out += static_cast<char>(data.size() & 0xFF);
  out += static_cast<char>((data.size() >> 8) & 0xFF);
  return out + data;
}

}  // namespace

std::optional<std::string> BrowserAnswer(std::string_view datagram,
                                         const std::vector<BrowserInstance>& instances) {
  if (datagram.empty()) return std::nullopt;
  const unsigned char type = static_cast<unsigned char>(datagram[0]);
  if (type == kBroadcastList || type == kUnicastList) {
    if (datagram.size() != 1) return std::nullopt;
    std::string data;
    for (const BrowserInstance& instance : instances) {
      std::string record = Record(instance);
      if (data.size() + record.size() <= kMaxListAnswer) data += record;
    }
    return Response(data);
  }
  if (type != kUnicastInstance) return std::nullopt;
  std::string_view name = datagram.substr(1);
  if (name.empty() || name.size() > kMaxRequestName) return std::nullopt;
  if (auto nul = name.find('\0'); nul != std::string_view::npos) {
    if (nul + 1 != name.size()) return std::nullopt;  // bytes after the terminator
    name.remove_suffix(1);
  }
  if (name.empty() || name.size() >= kMaxRequestName) return std::nullopt;
  for (const BrowserInstance& instance : instances) {
    if (!SameName(instance.instance_name, name)) continue;
    std::string record = Record(instance);
    if (record.size() > kMaxInstanceAnswer) return std::nullopt;
    return Response(record);
  }
  return std::nullopt;
}

BrowserResponder::BrowserResponder(std::vector<BrowserInstance> instances, LogFunction log)
    : instances_(std::move(instances)), log_(std::move(log)) {}

BrowserResponder::~BrowserResponder() { Stop(); }

int BrowserResponder::Start(const std::string& address, int port) {
  if (fd_ >= 0) throw std::system_error(EALREADY, std::generic_category(), "already answering");
  if (port < 0 || port > 65535) throw std::system_error(EINVAL, std::generic_category(), "port");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port_text = std::to_string(port);
  if (::getaddrinfo(address.c_str(), port_text.c_str(), &hints, &found) != 0 || !found)
    throw std::system_error(EINVAL, std::generic_category(), "not an IPv4 or IPv6 address");
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> holder(found, freeaddrinfo);
  int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "UDP port " + port_text);
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "pipe");
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  char service[NI_MAXSERV] = {};
  ::getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, nullptr, 0, service, sizeof service,
                NI_NUMERICSERV);
  fd_ = fd;
  thread_ = std::thread([this] { Loop(); });
  return std::atoi(service);
}

void BrowserResponder::Loop() {
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      if (log_) log_("the SQL Server Browser stand-in stopped: poll failed");
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    // One byte more than any request may have: a longer datagram is seen as too long, not cut.
    char buffer[1 + kMaxRequestName + 1];
    sockaddr_storage peer{};
    socklen_t peer_length = sizeof peer;
    ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&peer), &peer_length);
    if (got <= 0) continue;
    if (static_cast<std::size_t>(got) > sizeof buffer) continue;  // oversized: dropped
    std::optional<std::string> answer =
        BrowserAnswer(std::string_view(buffer, static_cast<std::size_t>(got)), instances_);
    if (!answer) continue;  // unknown, malformed or for another instance: no answer
    ::sendto(fd_, answer->data(), answer->size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer),
             peer_length);
  }
}

void BrowserResponder::Stop() {
  if (fd_ < 0) return;
  char byte = 0;
  if (::write(wake_[1], &byte, 1) < 0 && log_) log_("waking the Browser stand-in failed");
  thread_.join();
  ::close(fd_);
  fd_ = -1;
  ::close(wake_[0]);
  ::close(wake_[1]);
  wake_[0] = wake_[1] = -1;
}

}  // namespace sandbox::tds
