// The tessera-admin command: registered SQL Servers, their collections, full-text indexes,
// logins and collection users, the start-up format check and the demonstration server, from the
// command line.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/admin_cli/command_line.h"
#include "app/admin_cli/session.h"

namespace admin_cli {

// Runs a command line (without the program's name). Results go to io.out; messages, questions,
// progress and the statement trace to io.err. `read_password` asks for a password that the
// command line left out; nullptr or nothing returned means an empty one.
int RunAdmin(const std::vector<std::string>& args, Io io,
             const std::function<std::optional<std::string>()>& read_password = nullptr);

// The message table, one message per line: number, tab, text; line breaks written as \n and \r.
int PrintMessages(std::ostream& out);

// Builds (or builds afresh) the demonstration instance and registers it. Defined in demo.cc.
// product_version: the sandbox instance's version, SQL Server 2000 SP4 unless asked otherwise.
int RunDemo(Session& session, const std::string& product_version = "8.00.2039");

}  // namespace admin_cli
