// Data sources, the SQL Server Browser's instance lookup and the ODBC connection string.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <vector>

#include "db/drivers/odbc/odbc_driver.h"
#include "db/error.h"

namespace db {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<int> ParsePort(std::string_view text) {
  int port = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
    return std::nullopt;
  return port;
}

// A host name or address: no blanks, no characters a connection string or a name lookup would
// read otherwise.
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F && c != ';' && c != '{' && c != '}' && c != '=' && c != ',' &&
           c != '\\';
  });
}

// A value as an ODBC connection string carries it: braced. Microsoft's drivers read "}}" as
// "}"; FreeTDS ends a braced value at the first "}" before ";" or the end and takes the rest
// as written, so there a value must not contain "};".
std::string Braced(std::string_view value, bool microsoft) {
  if (!microsoft && value.find("};") != std::string_view::npos) {
    throw Error(kErrorBadInitString, kProviderSource,
                "A connection string value contains \"};\", which FreeTDS's ODBC driver cannot "
                "take; change the password or use Microsoft's ODBC driver.");
  }
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (microsoft && c == '}') out += '}';
  }
  return out + "}";
}

}  // namespace

std::optional<DataSourceAddress> ParseDataSource(std::string_view data_source) {
  std::string_view text = Trim(data_source);
  if (text.size() > 4 && EqualsNoCase(text.substr(0, 4), "tcp:")) text.remove_prefix(4);
  DataSourceAddress address;
  if (auto comma = text.find(','); comma != std::string_view::npos) {
    auto port = ParsePort(Trim(text.substr(comma + 1)));
    if (!port) return std::nullopt;
    address.port = *port;
    text = Trim(text.substr(0, comma));
  }
  if (auto slash = text.find('\\'); slash != std::string_view::npos) {
    address.instance = std::string(Trim(text.substr(slash + 1)));
    text = Trim(text.substr(0, slash));
    if (address.instance.empty() || address.instance.size() > 16) return std::nullopt;
    for (char c : address.instance) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$' && c != '#')
        return std::nullopt;
    }
    if (EqualsNoCase(address.instance, "MSSQLSERVER")) address.instance.clear();
  }
  // "(local)" and "." are this machine, as on Windows.
  if (text == "." || EqualsNoCase(text, "(local)")) text = "localhost";
  if (!IsHostName(text)) return std::nullopt;
  address.host = std::string(text);
  return address;
}

std::string DefaultOdbcDriver() {
  const char* candidates[] = {
      "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
      "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
      "/usr/lib/i386-linux-gnu/odbc/libtdsodbc.so",
      "/usr/lib/arm-linux-gnueabihf/odbc/libtdsodbc.so",
      "/usr/lib/odbc/libtdsodbc.so",
      "/usr/lib64/libtdsodbc.so",
      "/usr/local/lib/libtdsodbc.so",
  };
  for (const char* path : candidates) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path;
  }
  return "FreeTDS";
}

bool IsMicrosoftDriver(std::string_view driver) {
  std::string lower(driver);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("odbc driver") != std::string::npos ||
         lower.find("msodbcsql") != std::string::npos;
}

std::string OdbcConnectionString(const ConnectRequest& request, const DataSourceAddress& address,
                                 std::string_view driver) {
  const bool microsoft = IsMicrosoftDriver(driver);
  std::string text = "DRIVER=" + Braced(driver, microsoft) + ";";
  const int port = address.port ? address.port : 1433;
  if (microsoft) {
    text += "SERVER=" + Braced("tcp:" + address.host + "," + std::to_string(port), microsoft) + ";";
  } else {
    text += "SERVER=" + Braced(address.host, microsoft) + ";PORT=" + std::to_string(port) + ";";
  }
  if (request.integrated) {
    // Kerberos through GSSAPI: the user's ticket (kinit) stands for the Windows account.
    text += "Trusted_Connection=Yes;";
  } else {
    text += "UID=" + Braced(request.user, microsoft) +
            ";PWD=" + Braced(request.password, microsoft) + ";";
  }
  if (!request.catalog.empty()) text += "DATABASE=" + Braced(request.catalog, microsoft) + ";";
  if (!request.application.empty()) text += "APP=" + Braced(request.application, microsoft) + ";";
  if (!request.workstation.empty()) text += "WSID=" + Braced(request.workstation, microsoft) + ";";
  if (microsoft) {
    // Driver 18 encrypts by default; the OLE DB keys say whether this connection should.
    auto encrypt = request.properties.Get("Use Encryption for Data");
    text += std::string("Encrypt=") + (encrypt && IsTrueValue(*encrypt) ? "yes" : "no") + ";";
    if (auto trust = request.properties.Get("Trust Server Certificate");
        trust && IsTrueValue(*trust))
      text += "TrustServerCertificate=yes;";
  } else if (auto version = request.properties.Get("TDS_Version")) {
    text += "TDS_Version=" + Braced(*version, microsoft) + ";";
  }
  return text;
}

std::optional<int> ParseBrowserReply(std::string_view reply, std::string_view instance) {
  if (reply.size() < 3 || static_cast<unsigned char>(reply[0]) != 0x05) return std::nullopt;
  std::size_t length = static_cast<unsigned char>(reply[1]) |
                       (static_cast<std::size_t>(static_cast<unsigned char>(reply[2])) << 8);
  if (length > reply.size() - 3) return std::nullopt;
  std::string_view text = reply.substr(3, length);
  // Records end with ";;"; each is "key;value;" pairs.
  while (!text.empty()) {
    std::size_t end = text.find(";;");
    std::string_view record = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
    std::vector<std::string_view> parts;
    while (!record.empty()) {
      std::size_t semi = record.find(';');
      parts.push_back(record.substr(0, semi));
      record = semi == std::string_view::npos ? std::string_view() : record.substr(semi + 1);
    }
    bool ours = false;
    std::optional<int> port;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
      if (EqualsNoCase(parts[i], "InstanceName") && EqualsNoCase(parts[i + 1], instance))
        ours = true;
      if (EqualsNoCase(parts[i], "tcp")) port = ParsePort(parts[i + 1]);
    }
    if (ours) return port;
  }
  return std::nullopt;
}

std::optional<int> BrowserInstancePort(const std::string& host, std::string_view instance,
                                       int browser_port, std::chrono::milliseconds wait) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(browser_port).c_str(), &hints, &found) != 0)
    return std::nullopt;
  std::optional<int> port;
  std::string request = "\x04" + std::string(instance);
  for (addrinfo* a = found; a && !port; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 &&
        ::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(wait.count())) == 1 && (p.revents & POLLIN)) {
        char buffer[4096];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) port = ParseBrowserReply(std::string_view(buffer, got), instance);
      }
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return port;
}

}  // namespace db
