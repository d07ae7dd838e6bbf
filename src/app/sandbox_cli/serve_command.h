// The serve command: an instance over SQL Server's network protocol, until interrupted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/sandbox_cli/context.h"

namespace sandbox_cli {

inline constexpr const char* kServeUsage =
    "Usage: tessera-sandbox serve [NAME] [--listen ADDR] [--port N]\n"
    "                             [--browser-port N | --no-browser]\n"
    "\n"
    "Serves an instance over SQL Server's network protocol (TDS 7.0 to 7.4) until interrupted\n"
    "(Ctrl+C or SIGTERM). Each connection is a session of its own; clients log in with a SQL\n"
    "login, e.g. sa with the password given to 'init --sa-password'. Connections are not\n"
    "encrypted: TLS is not offered yet, so listen on loopback only.\n"
    "\n"
    "A named instance is also answered for on UDP port 1434 of the listen address, as the SQL\n"
    "Server Browser does, so clients reach it as HOST\\NAME without a port; when that port is\n"
    "taken (another serve answers there first) serve says so and goes on serving TCP.\n"
    "\n"
    "  --listen ADDR      the IPv4 or IPv6 address to listen on (default 127.0.0.1)\n"
    "  --port N           the TCP port, 0 for any free one (default 1433 for the default\n"
    "                     instance, any free one for a named instance)\n"
    "  --browser-port N   the UDP port that names a named instance's TCP port (default 1434;\n"
    "                     0 for any free one)\n"
    "  --no-browser       do not answer on a UDP port\n";

// "1433": a TCP port number; nullopt for anything else.
std::optional<int> ParsePort(std::string_view text);

int Serve(Arguments& args, Context& context);

}  // namespace sandbox_cli
