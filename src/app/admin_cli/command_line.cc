#include "app/admin_cli/command_line.h"

#include <algorithm>

#include "app/admin_cli/security_verbs.h"

namespace admin_cli {

namespace {

const std::vector<OptionDefinition> kLoginOptions = {
    {"--login", "NAME", "log in with SQL Server authentication as NAME"},
    {"--password", "PW", "the login's password (default: asked on a terminal, else empty)"},
};

// How many arguments a usage text such as "SERVER NAME MDF [LDF]" or "FILE..." takes, so the
// parser and the help cannot disagree.
void CountArguments(VerbDefinition& definition) {
  std::string_view rest = definition.arguments;
  while (!rest.empty()) {
    size_t blank = rest.find(' ');
    std::string_view word = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    if (word.empty()) continue;
    if (word.front() != '[') ++definition.min_arguments;
    definition.max_arguments =
        word.ends_with("...") ? VerbDefinition::kMany : definition.max_arguments + 1;
  }
}

std::vector<VerbDefinition> MakeVerbs() {
  std::vector<VerbDefinition> verbs;
  auto add = [&verbs](std::string noun, std::string verb, std::string arguments,
                      std::string summary, std::string description,
                      std::vector<OptionDefinition> options = {}) {
    VerbDefinition definition;
    definition.noun = std::move(noun);
    definition.verb = std::move(verb);
    definition.arguments = std::move(arguments);
    CountArguments(definition);
    definition.summary = std::move(summary);
    definition.description = std::move(description);
    definition.options = std::move(options);
    verbs.push_back(std::move(definition));
  };

  add("server", "add", "DATA_SOURCE", "register a SQL Server",
      "Registers the SQL Server DATA_SOURCE (a machine name, MACHINE\\INSTANCE, (sandbox) or\n"
      "(sandbox)\\NAME) and connects to it. Without --login the registration uses Windows\n"
      "(integrated) authentication. The server's machine must answer on the network.\n",
      kLoginOptions);
  add("server", "list", "", "list the registrations",
      "Lists the registered SQL Servers in their order: position, ServerID, data source,\n"
      "login (\"Windows\" for Windows authentication), whether the connection is open, the\n"
      "platform and the service status.\n");
  add("server", "edit", "SERVER", "change a registration's data source or login",
      "Changes how a registration connects, then connects again. Without --login and\n"
      "--integrated the authentication stays as it is.\n",
      {{"--data-source", "DATA_SOURCE", "the server to connect to"},
       kLoginOptions[0],
       kLoginOptions[1],
       {"--integrated", "", "log in with Windows (integrated) authentication"}});
  add("server", "move", "SERVER POSITION", "move a registration to another position",
      "Moves the registration to POSITION (1 is the first) and shifts the ones in between.\n");
  add("server", "remove", "SERVER", "remove a registration (the server is not touched)",
      "Removes the registration after confirmation. Neither the server nor its service is\n"
      "touched.\n");
  add("server", "properties", "SERVER", "show the server's properties",
      "Shows the server's engine edition, authentication mode, version report, default\n"
      "collation and default data folder (where new collections' files usually go).\n");
  add("server", "folders", "SERVER [PATH]", "list the drives or folders of the server",
      "Lists the fixed drives of the server's machine with their free space or, with PATH\n"
      "(such as C:\\ or C:\\Data), the folders in PATH, as the console's folder browser\n"
      "shows them. Use it to choose the data file path of 'collection create'.\n");
  add("server", "start", "SERVER", "start the SQL Server service",
      "Starts the server's service after confirmation, then connects.\n");
  add("server", "stop", "SERVER", "stop the SQL Server service",
      "Stops the server's service after confirmation.\n");

  add("collection", "list", "SERVER", "list the server's collections",
      "Lists the network collections on the server: name, ArchiveID, database name, format\n"
      "version and whether the plain text for searching has been generated.\n");
  add("collection", "create", "SERVER NAME PATH", "create a new collection",
      "Creates the collection NAME (letters A to Z, digits and '_'; at most 11 characters on\n"
      "SQL Server 7.0) with its data file PATH on the server's machine (\".mdf\" is added when\n"
      "missing; a folder is required), such as the server's default data folder followed by\n"
      "Projects.mdf: 'tessera-admin server properties SERVER' shows that folder, and\n"
      "'tessera-admin server folders SERVER [PATH]' the server's drives and folders. Needs\n"
      "the server role sysadmin or dbcreator.\n");
  add("collection", "attach", "SERVER NAME MDF [LDF]", "attach (open) a collection's files",
      "Attaches the data file MDF (and the log file LDF when given) of the server's machine as\n"
      "the collection NAME. Needs the server role sysadmin or dbcreator.\n");
  add("collection", "detach", "SERVER NAME", "detach (close) a collection, keeping its files",
      "Detaches the collection from the server after confirmation; its files stay. Other\n"
      "logins' connections to it are ended after a further confirmation. Needs sysadmin.\n");
  add("collection", "delete", "SERVER NAME", "delete a collection and its files",
      "Deletes the collection permanently after confirmation (the default answer is No).\n"
      "Needs the server role sysadmin or dbcreator.\n");
  add("collection", "rename", "SERVER NAME NEW", "rename a collection",
      "Renames the collection NAME to NEW. Every connection to it is ended first (other\n"
      "logins' after confirmation).\n");
  add("collection", "properties", "SERVER NAME", "show a collection's properties",
      "Shows the collection's database name, owner, creation time, files and sizes, plain\n"
      "text marker, format version and collation.\n");
  add("collection", "shrink-log", "SERVER NAME", "shrink a collection's log file",
      "Empties the log and shrinks the log file after confirmation (this breaks a chain of log\n"
      "backups; without a terminal it needs --yes). Needs sysadmin.\n");
  add("collection", "upgrade", "SERVER NAME", "bring a collection to the current format",
      "Upgrades a collection of an older format version to the current one (1.61) after\n"
      "confirmation (without a terminal it needs --yes). Needs the server role sysadmin or the\n"
      "collection role db_owner.\n");
  add("collection", "plaintext", "SERVER NAME", "generate the plain text for searching",
      "Generates the plain text of every document of the collection, used for searching.\n");

  add("fulltext", "status", "SERVER COLLECTION", "show the full-text index's state",
      "Shows whether the collection has a full-text index and, when it has one, its name,\n"
      "status, location, number of items, size and date of last change.\n");
  add("fulltext", "create", "SERVER COLLECTION", "create the full-text index",
      "Creates the collection's full-text index after confirmation. Needs sysadmin or\n"
      "db_owner.\n");
  add("fulltext", "remove", "SERVER COLLECTION", "remove the full-text index",
      "Removes the collection's full-text index after confirmation. Needs sysadmin or\n"
      "db_owner.\n");

  add("login", "list", "SERVER", "list the server's logins",
      "Lists the server's logins with their type (Windows Group, Windows User or Standard)\n"
      "and access (Grant or Deny).\n");
  add("login", "remove", "SERVER LOGIN", "remove a login and its collection users",
      "Removes the login after confirmation (the default answer is No): first its users in\n"
      "every database, then the login. Needs sysadmin or securityadmin.\n");

  add("user", "list", "SERVER COLLECTION", "list a collection's users",
      "Lists the collection's users with their login and access; members of sysadmin are\n"
      "listed too, with access by group membership.\n");
  add("user", "remove", "SERVER COLLECTION USER", "remove a collection user",
      "Removes the user from the collection after confirmation. Needs db_owner or\n"
      "db_accessadmin in the collection, or sysadmin.\n");

  add("check", "", "", "offer format upgrades and plain text for every collection",
      "Looks at every collection of every registered server: collections of an older format\n"
      "are offered the upgrade to 1.61, collections at 1.50 without plain text the plain-text\n"
      "generation. With --yes every offer is accepted; without a terminal and without --yes\n"
      "every offer is declined. The exit status is 1 when an offer was declined, refused or\n"
      "stopped.\n");
  add("demo", "", "", "create (or refresh) the demonstration server and register it",
      "Creates the sandbox instance (sandbox)\\DEMO with demonstration collections (at format\n"
      "1.61 and older ones), logins of both kinds, collection users and a full-text index,\n"
      "and registers it with Windows authentication. Run again, it starts afresh: the\n"
      "instance is made anew with the same contents.\n",
      {{"--server-version", "VERSION",
        "the server's product version: 8.00.2039 (default), 7.00.x, 9.00.x, 10.50.x, 11.00.x "
        "or 15.00.x"}});
  add("messages", "", "", "print the message table, one message per line",
      "Prints the message table: number, tab, text; line breaks are written as \\n and \\r.\n");
  add("render-text", "", "FILE...", "print the searchable text of HTML, text and .mht files",
      "Prints the text of each file (UTF-8) as the plain-text generation finds it: web\n"
      "archives (a name containing \".mht\") are unpacked first, other files are read as HTML.\n");
  AppendSecurityVerbs(verbs);
  return verbs;
}

bool HasVerbs(std::string_view noun) {
  for (const VerbDefinition& definition : Verbs()) {
    if (definition.noun == noun) return !definition.verb.empty();
  }
  return false;
}

bool IsNoun(std::string_view noun) {
  return std::any_of(Verbs().begin(), Verbs().end(),
                     [&](const VerbDefinition& definition) { return definition.noun == noun; });
}

// Long texts and control characters are cut, so an error message stays one readable line.
std::string Shown(std::string_view text) {
  std::string shown;
  for (char c : text.substr(0, 64)) {
    shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  if (text.size() > 64) shown += "...";
  return shown;
}

// Two columns: the left texts padded to the widest (at least `min_width`), the right texts
// wrapped at 78 characters under their own column.
std::string Columns(const std::vector<std::pair<std::string, std::string>>& rows,
                    size_t min_width) {
  size_t width = min_width;
  for (const auto& row : rows) width = std::max(width, row.first.size() + 2);
  std::string text;
  for (const auto& [left, right] : rows) {
    std::string line = left;
    line.resize(width, ' ');
    size_t column = width;
    size_t start = 0;
    bool first_word = true;
    while (start < right.size()) {
      size_t end = right.find(' ', start);
      if (end == std::string::npos) end = right.size();
      std::string word = right.substr(start, end - start);
      if (!first_word && column + 1 + word.size() > 78) {
        text += line + "\n";
        line = std::string(width, ' ');
        column = width;
        first_word = true;
      }
      if (!first_word) {
        line += ' ';
        ++column;
      }
      line += word;
      column += word.size();
      first_word = false;
      start = end + 1;
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace

const std::vector<VerbDefinition>& Verbs() {
  static const std::vector<VerbDefinition> verbs = MakeVerbs();
  return verbs;
}

const VerbDefinition* FindVerb(std::string_view noun, std::string_view verb) {
  for (const VerbDefinition& definition : Verbs()) {
    if (definition.noun == noun && definition.verb == verb) return &definition;
  }
  return nullptr;
}

std::optional<std::string> Invocation::Option(const std::string& option) const {
  auto found = options.find(option);
  if (found == options.end()) return std::nullopt;
  return found->second;
}

Invocation ParseCommandLine(const std::vector<std::string>& args) {
  Invocation invocation;
  bool help = false;
  bool version = false;
  bool options_ended = false;
  const VerbDefinition* definition = nullptr;
  std::vector<std::string> positional;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool is_option = !options_ended && arg.size() > 1 && arg[0] == '-';
    if (!is_option) {
      if (invocation.noun.empty()) {
        if (!IsNoun(arg)) throw UsageError{"unknown command '" + Shown(arg) + "'", ""};
        invocation.noun = arg;
        if (!HasVerbs(arg)) definition = FindVerb(arg, "");
      } else if (definition == nullptr) {
        definition = FindVerb(invocation.noun, arg);
        if (definition == nullptr) {
          throw UsageError{"'" + invocation.noun + "' has no verb '" + Shown(arg) + "'",
                           invocation.noun};
        }
        invocation.verb = arg;
      } else {
        positional.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      options_ended = true;
    } else if (arg == "--yes" || arg == "-y") {
      invocation.global.yes = true;
    } else if (arg == "--trace-sql") {
      invocation.global.trace_sql = true;
    } else if (arg == "--tsv") {
      invocation.global.tsv = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else {
      std::string name = arg;
      std::optional<std::string> inline_value;
      if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = arg.substr(0, eq);
        inline_value = arg.substr(eq + 1);
      }
      const OptionDefinition* option = nullptr;
      if (definition != nullptr) {
        for (const OptionDefinition& candidate : definition->options) {
          if (candidate.name == name) option = &candidate;
        }
      }
      std::string topic = definition != nullptr ? definition->Topic() : invocation.noun;
      if (option == nullptr) throw UsageError{"unknown option '" + Shown(name) + "'", topic};
      if (option->value_name.empty()) {
        if (inline_value) throw UsageError{"the option " + name + " takes no value", topic};
        invocation.options[name] = "";
      } else if (inline_value) {
        invocation.options[name] = *inline_value;
      } else {
        if (i + 1 >= args.size()) {
          throw UsageError{"the option " + name + " needs a value (" + option->value_name + ")",
                           topic};
        }
        std::string value = args[++i];
        if (option->repeatable && invocation.Has(name))
          value = invocation.options[name] + "\n" + value;
        invocation.options[name] = value;
      }
    }
  }

  if (help) {
    invocation.kind = Invocation::Kind::kHelp;
    // Kept for help that can be made concrete, such as a server's folder in an example.
    invocation.arguments = std::move(positional);
    return invocation;
  }
  if (version) {
    invocation.kind = Invocation::Kind::kVersion;
    return invocation;
  }
  if (invocation.noun.empty()) {
    invocation.kind = Invocation::Kind::kNoCommand;
    return invocation;
  }
  if (definition == nullptr) {
    throw UsageError{"'" + invocation.noun + "' needs a verb", invocation.noun};
  }
  if (positional.size() < definition->min_arguments) {
    throw UsageError{"'" + definition->Topic() + "' needs " + definition->arguments,
                     definition->Topic()};
  }
  if (positional.size() > definition->max_arguments) {
    throw UsageError{"'" + definition->Topic() + "' takes " +
                         (definition->max_arguments == 0 ? std::string("no arguments")
                                                         : "only " + definition->arguments) +
                         "; '" + Shown(positional[definition->max_arguments]) + "' is one too many",
                     definition->Topic()};
  }
  bool has_login_option =
      std::any_of(definition->options.begin(), definition->options.end(),
                  [](const OptionDefinition& o) { return o.name == "--login"; });
  if (has_login_option && invocation.Has("--password") && !invocation.Has("--login")) {
    throw UsageError{"the option --password needs --login", definition->Topic()};
  }
  if (invocation.Has("--integrated") && invocation.Has("--login")) {
    throw UsageError{"--integrated and --login exclude each other", definition->Topic()};
  }
  invocation.arguments = std::move(positional);
  return invocation;
}

std::string HelpText(std::string_view noun, std::string_view verb) {
  std::string text;
  if (noun.empty()) {
    text =
        "Usage: tessera-admin [--yes] [--trace-sql] [--tsv] NOUN VERB [ARGS]\n"
        "\n"
        "Administers Tessera network collections on SQL Server from the command line.\n"
        "\n"
        "Commands:\n";
    std::vector<std::string> nouns;
    std::vector<std::pair<std::string, std::string>> rows;
    for (const VerbDefinition& definition : Verbs()) {
      if (std::find(nouns.begin(), nouns.end(), definition.noun) != nouns.end()) continue;
      nouns.push_back(definition.noun);
      std::string what;
      if (definition.verb.empty()) {
        what = definition.summary;
      } else {
        for (const VerbDefinition& other : Verbs()) {
          if (other.noun != definition.noun) continue;
          what += what.empty() ? other.verb : ", " + other.verb;
        }
      }
      rows.emplace_back("  " + definition.noun, what);
    }
    text += Columns(rows, 16);
    text +=
        "\n"
        "Options:\n"
        "  --yes         answer Yes to every confirmation\n"
        "  --trace-sql   print every statement sent, with the connection it ran on\n"
        "  --tsv         print results as tab-separated values\n"
        "  --help        show this help ('tessera-admin NOUN --help' for a noun's verbs)\n"
        "  --version     show the version\n"
        "\n"
        "SERVER is a registration's ServerID or its data source, such as (sandbox)\\DEMO, when\n"
        "only one registration has it. NAME and COLLECTION are a collection's display name, or\n"
        "its database name where several collections share a display name.\n"
        "Confirmations are asked on a terminal; without one, and without --yes, the default\n"
        "answer is taken (No for destructive actions).\n"
        "\n"
        "Exit status:\n"
        "  0  done\n"
        "  1  failed, refused or declined\n"
        "  2  wrong command line\n"
        "\n"
        "Environment:\n"
        "  TESSERA_REGISTRY      the registry file of the registered servers, instead of\n"
        "                        $XDG_CONFIG_HOME/tessera-server-manager/registry.db\n"
        "  TESSERA_SANDBOX_ROOT  the folder of the sandbox server's instances, instead of\n"
        "                        $XDG_DATA_HOME/tessera-server-manager/sandbox\n"
        "  XDG_CONFIG_HOME       the folder of settings (default: ~/.config)\n"
        "  XDG_DATA_HOME         the folder of data (default: ~/.local/share)\n"
        "\n"
        "Files:\n"
        "  ~/.config/tessera-server-manager/registry.db\n"
        "                        the registered servers, shared with tessera-server-manager\n"
        "  ~/.local/share/tessera-server-manager/sandbox/\n"
        "                        the sandbox server's instances, shared with tessera-sandbox\n";
    return text;
  }
  if (verb.empty() && HasVerbs(noun)) {
    text = "Usage: tessera-admin " + std::string(noun) + " VERB [ARGS]\n\nVerbs:\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const VerbDefinition& definition : Verbs()) {
      if (definition.noun != noun) continue;
      rows.emplace_back(
          "  " + definition.verb + (definition.arguments.empty() ? "" : " " + definition.arguments),
          definition.summary);
    }
    text += Columns(rows, 16);
    text += "\n'tessera-admin " + std::string(noun) + " VERB --help' describes a verb.\n";
    return text;
  }
  const VerbDefinition* definition = FindVerb(noun, verb);
  if (definition == nullptr) return HelpText("", "");
  text = "Usage: tessera-admin [--yes] [--trace-sql] [--tsv] " + definition->Topic();
  if (!definition->arguments.empty()) text += " " + definition->arguments;
  if (!definition->options.empty()) text += " [OPTIONS]";
  text += "\n\n" + definition->description;
  if (!definition->options.empty()) {
    text += "\nOptions:\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const OptionDefinition& option : definition->options) {
      std::string left = "  " + option.name;
      if (!option.value_name.empty()) left += " " + option.value_name;
      rows.emplace_back(left, option.help);
    }
    text += Columns(rows, 16);
  }
  return text;
}

}  // namespace admin_cli
