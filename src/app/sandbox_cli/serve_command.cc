#include "app/sandbox_cli/serve_command.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "sandbox/tds/browser.h"
#include "sandbox/tds/server.h"

namespace sandbox_cli {

std::optional<int> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port > 65535) return std::nullopt;
  return port;
}

namespace {

// This machine's name as a Browser answer gives it: the first label, upper case, and nothing an
// answer's separators could be read in.
std::string HostLabel() {
  char name[256] = {};
  std::string label;
  if (::gethostname(name, sizeof name - 1) == 0) {
    for (const char* c = name; *c && *c != '.'; ++c) {
      if (std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' || *c == '_')
        label += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
  }
  return label.empty() ? "LOCALHOST" : label;
}

}  // namespace

int Serve(Arguments& args, Context& context) {
  std::optional<Target> target;
  sandbox::tds::ServerOptions options;
  bool help = false;
  int browser_port = 1434;
  bool browser = true;
  bool port_given = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, true, &help)) continue;
    auto [option, inline_value] = SplitLongOption(arg);
    if (option == "--listen") {
      options.address = args.Value(option, inline_value);
    } else if (option == "--port") {
      std::string value = args.Value(option, inline_value);
      auto port = ParsePort(value);
      if (!port)
        throw UsageError{"'" + value.substr(0, 64) + "' is not a port number (0 to 65535)",
                         args.command()};
      options.port = *port;
      port_given = true;
    } else if (option == "--browser-port") {
      std::string value = args.Value(option, inline_value);
      auto port = ParsePort(value);
      if (!port)
        throw UsageError{"'" + value.substr(0, 64) + "' is not a port number (0 to 65535)",
                         args.command()};
      browser_port = *port;
    } else if (option == "--no-browser" && !inline_value) {
      browser = false;
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError{"unknown option '" + arg.substr(0, 64) + "'", args.command()};
    } else if (target) {
      throw UsageError{"unexpected argument '" + arg.substr(0, 64) + "'", args.command()};
    } else {
      target = ParseTarget(arg, args.command());
    }
  }
  if (help) {
    context.io().out << kServeUsage;
    return kExitSuccess;
  }
  if (!target) target = Target{};
  // A named instance takes a free port of its own, as SQL Server's do, and the UDP answer names
  // it; only the default instance sits on 1433, so several instances serve side by side.
  if (!port_given && !target->IsDefault()) options.port = 0;
  std::shared_ptr<sandbox::Instance> instance = context.Open(*target, true);
  if (!instance) throw CommandError{"there is no instance " + target->DataSource()};

  // The listener's threads inherit a mask that leaves the stop signals to this thread.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
  std::ostream& err = context.io().err;
  sandbox::tds::Server server(instance, options, [&err](std::string_view line) {
    err << kProgram << ": " << line << "\n";
    err.flush();
  });
  int port = 0;
  try {
    port = server.Start();
  } catch (const std::exception& error) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw CommandError{error.what()};
  }
  std::string address = options.address.find(':') != std::string::npos ? "[" + options.address + "]"
                                                                       : options.address;
  context.io().out << "Serving " << target->DataSource() << " on " << address << " port " << port
                   << " (Data Source=" << options.address << "," << port << "); Ctrl+C stops.\n";
  // The TCP port first, whatever the UDP port says on standard error: scripts read this line.
  context.io().out.flush();
  // Only a named instance is looked up; a default one is reached on its port.
  std::unique_ptr<sandbox::tds::BrowserResponder> responder;
  if (browser && !target->IsDefault()) {
    responder = std::make_unique<sandbox::tds::BrowserResponder>(
        std::vector<sandbox::tds::BrowserInstance>{{HostLabel(), target->name, port}}, nullptr);
    try {
      int udp = responder->Start(options.address, browser_port);
      context.io().out << "Answering for " << target->name << " on UDP port " << udp
                       << " (Data Source=" << options.address << "\\" << target->name << ").\n";
    } catch (const std::system_error& error) {
      responder.reset();
      err << kProgram << ": not answering for " << target->name << " on UDP port " << browser_port
          << " (" << error.code().message()
          << (error.code() == std::errc::address_in_use ? ", another program answers there" : "")
          << "); clients need the port: Data Source=" << options.address << "," << port << "\n";
      err.flush();
    }
  }
  context.io().out.flush();
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  if (responder) responder->Stop();
  server.Stop();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  context.io().out << "Stopped.\n";
  return kExitSuccess;
}

}  // namespace sandbox_cli
