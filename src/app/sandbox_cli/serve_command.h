// The serve command: an instance over SQL Server's network protocol, until interrupted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/sandbox_cli/context.h"

namespace sandbox_cli {

inline constexpr const char* kServeUsage =
    "Usage: tessera-sandbox serve [NAME] [--listen ADDR] [--port N]\n"
    "\n"
    "Serves an instance over SQL Server's network protocol (TDS 7.0 to 7.4) until interrupted\n"
    "(Ctrl+C or SIGTERM). Each connection is a session of its own; clients log in with a SQL\n"
    "login, e.g. sa with the password given to 'init --sa-password'. Connections are not\n"
    "encrypted: TLS is not offered yet, so listen on loopback only.\n"
    "\n"
    "  --listen ADDR  the IPv4 or IPv6 address to listen on (default 127.0.0.1)\n"
    "  --port N       the TCP port, 0 for any free one (default 1433)\n";

// "1433": a TCP port number; nullopt for anything else.
std::optional<int> ParsePort(std::string_view text);

int Serve(Arguments& args, Context& context);

}  // namespace sandbox_cli
