// A TDS listener for one sandbox instance: every accepted connection runs on a thread of its own
// and becomes one sandbox session once its LOGIN7 is accepted.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "sandbox/server.h"
#include "sandbox/tds/wire.h"

namespace sandbox::tds {

struct ServerOptions {
  std::string address = "127.0.0.1";    // a numeric IPv4 or IPv6 address
  int port = 1433;                      // 0: any free port
  std::size_t max_message = 64u << 20;  // a larger request ends its connection
  std::size_t max_connections = 256;
};

// Receives one line per event (connections, refused logins, protocol faults); called from
// several threads, one call at a time. Passwords never reach it.
using LogFunction = std::function<void(std::string_view line)>;

// One client's conversation, over a connected socket it does not own. Logins are made one at a
// time under login_mutex: an instance picks a session number before it registers the session,
// so two logins at once could be given the same one.
void ServeConnection(int fd, Instance& instance, const ServerOptions& options,
                     const LogFunction& log, std::string_view peer, std::mutex& login_mutex);

class Server {
 public:
  Server(std::shared_ptr<Instance> instance, ServerOptions options, LogFunction log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts accepting; returns the port. Throws std::runtime_error when it cannot.
  int Start();
  // Ends every connection and waits for their threads.
  void Stop();
  int port() const { return port_; }

 private:
  struct Client {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Reap(bool all);
  void Log(std::string_view line);

  std::shared_ptr<Instance> instance_;
  ServerOptions options_;
  LogFunction log_;
  std::mutex log_mutex_;
  std::mutex login_mutex_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::thread accept_thread_;
  std::mutex clients_mutex_;
  std::list<std::unique_ptr<Client>> clients_;
};

}  // namespace sandbox::tds
