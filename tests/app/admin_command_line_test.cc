#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/admin_cli/command_line.h"
#include "app/admin_cli/commands.h"
#include "app/admin_cli/table.h"

namespace admin_cli {
namespace {

UsageError UsageErrorOf(const std::vector<std::string>& args) {
  try {
    ParseCommandLine(args);
  } catch (const UsageError& error) {
    return error;
  }
  ADD_FAILURE() << "no usage error";
  return {};
}

TEST(AdminCommandLineTest, GlobalOptionsStandAnywhereBeforeTheEndOfOptions) {
  Invocation run = ParseCommandLine(
      {"--trace-sql", "collection", "rename", "--yes", "1", "Old", "New", "--tsv"});
  EXPECT_EQ(run.kind, Invocation::Kind::kRun);
  EXPECT_TRUE(run.global.yes);
  EXPECT_TRUE(run.global.trace_sql);
  EXPECT_TRUE(run.global.tsv);
  EXPECT_EQ(run.noun, "collection");
  EXPECT_EQ(run.verb, "rename");
  EXPECT_EQ(run.arguments, (std::vector<std::string>{"1", "Old", "New"}));

  // After "--" an argument that looks like an option is a name.
  Invocation named = ParseCommandLine({"user", "remove", "1", "Archive", "--", "--yes"});
  EXPECT_FALSE(named.global.yes);
  EXPECT_EQ(named.arguments, (std::vector<std::string>{"1", "Archive", "--yes"}));
}

TEST(AdminCommandLineTest, VerbOptionsTakeTheirValueEitherWay) {
  Invocation split = ParseCommandLine({"server", "add", "(sandbox)\\DEMO", "--login", "reader",
                                       "--password", "-starts-with-a-dash"});
  EXPECT_EQ(split.arguments, (std::vector<std::string>{"(sandbox)\\DEMO"}));
  EXPECT_EQ(split.Option("--login"), "reader");
  EXPECT_EQ(split.Option("--password"), "-starts-with-a-dash");

  Invocation joined = ParseCommandLine(
      {"server", "edit", "2", "--login=sa", "--password=a=b;c", "--data-source", "(sandbox)"});
  EXPECT_EQ(joined.Option("--login"), "sa");
  EXPECT_EQ(joined.Option("--password"), "a=b;c");
  EXPECT_EQ(joined.Option("--data-source"), "(sandbox)");
  EXPECT_FALSE(joined.Has("--integrated"));
  EXPECT_EQ(joined.Option("--integrated"), std::nullopt);

  Invocation flag = ParseCommandLine({"server", "edit", "2", "--integrated"});
  EXPECT_TRUE(flag.Has("--integrated"));
}

TEST(AdminCommandLineTest, HelpAndVersionWinOverEverythingElse) {
  Invocation top = ParseCommandLine({});
  EXPECT_EQ(top.kind, Invocation::Kind::kHelp);
  EXPECT_EQ(top.noun, "");

  Invocation noun = ParseCommandLine({"collection", "--help"});
  EXPECT_EQ(noun.kind, Invocation::Kind::kHelp);
  EXPECT_EQ(noun.noun, "collection");
  EXPECT_EQ(noun.verb, "");

  // Help on a verb needs none of its arguments.
  Invocation verb = ParseCommandLine({"collection", "attach", "-h"});
  EXPECT_EQ(verb.kind, Invocation::Kind::kHelp);
  EXPECT_EQ(verb.verb, "attach");

  EXPECT_EQ(ParseCommandLine({"--version"}).kind, Invocation::Kind::kVersion);
}

TEST(AdminCommandLineTest, WrongCommandLinesSayWhatIsWrongAndWhereTheHelpIs) {
  UsageError unknown = UsageErrorOf({"servers", "list"});
  EXPECT_EQ(unknown.text, "unknown command 'servers'");
  EXPECT_EQ(unknown.topic, "");

  UsageError verb = UsageErrorOf({"server", "delete", "1"});
  EXPECT_EQ(verb.text, "'server' has no verb 'delete'");
  EXPECT_EQ(verb.topic, "server");

  UsageError missing_verb = UsageErrorOf({"login"});
  EXPECT_EQ(missing_verb.text, "'login' needs a verb");

  UsageError few = UsageErrorOf({"collection", "create", "1", "Sales"});
  EXPECT_EQ(few.text, "'collection create' needs SERVER NAME PATH");
  EXPECT_EQ(few.topic, "collection create");

  UsageError many = UsageErrorOf({"collection", "attach", "1", "A", "a.mdf", "a.ldf", "extra"});
  EXPECT_EQ(many.text,
            "'collection attach' takes only SERVER NAME MDF [LDF]; 'extra' is one too many");

  UsageError none = UsageErrorOf({"check", "now"});
  EXPECT_EQ(none.text, "'check' takes no arguments; 'now' is one too many");

  UsageError option = UsageErrorOf({"server", "list", "--login", "x"});
  EXPECT_EQ(option.text, "unknown option '--login'");
  EXPECT_EQ(option.topic, "server list");

  EXPECT_EQ(UsageErrorOf({"server", "add", "x", "--login"}).text,
            "the option --login needs a value (NAME)");
  EXPECT_EQ(UsageErrorOf({"server", "edit", "1", "--integrated=yes"}).text,
            "the option --integrated takes no value");
  EXPECT_EQ(UsageErrorOf({"server", "add", "x", "--password", "pw"}).text,
            "the option --password needs --login");
  EXPECT_EQ(UsageErrorOf({"server", "edit", "1", "--integrated", "--login", "sa"}).text,
            "--integrated and --login exclude each other");
}

TEST(AdminCommandLineTest, HostileTextInAnErrorIsCutAndDefused) {
  std::string name = "x\x1b[31m'; DROP DATABASE master;--" + std::string(200, 'A');
  UsageError error = UsageErrorOf({name});
  EXPECT_EQ(error.text.find('\x1b'), std::string::npos);
  EXPECT_LT(error.text.size(), 100u);
  EXPECT_NE(error.text.find("x?[31m'; DROP DATABASE master;--"), std::string::npos);
  EXPECT_NE(error.text.find("..."), std::string::npos);
}

TEST(AdminCommandLineTest, EveryCommandHasHelpThatShowsItsUsage) {
  std::string top = HelpText("", "");
  for (const VerbDefinition& definition : Verbs()) {
    SCOPED_TRACE(definition.Topic());
    // Listed in the program's help and (for verbs) in the noun's.
    EXPECT_NE(top.find("\n  " + definition.noun + " "), std::string::npos);
    if (!definition.verb.empty()) {
      EXPECT_NE(HelpText(definition.noun, "").find("\n  " + definition.verb + " "),
                std::string::npos);
    }
    std::string help = HelpText(definition.noun, definition.verb);
    std::string usage = "Usage: tessera-admin [--yes] [--trace-sql] [--tsv] " + definition.Topic();
    EXPECT_EQ(help.rfind(usage, 0), 0u) << help;
    if (!definition.arguments.empty()) {
      EXPECT_NE(help.find(definition.arguments), std::string::npos);
    }
    for (const OptionDefinition& option : definition.options) {
      EXPECT_NE(help.find("  " + option.name), std::string::npos) << option.name;
    }
    // The help and the parser agree on how many arguments there are.
    std::vector<std::string> args = {definition.noun};
    if (!definition.verb.empty()) args.push_back(definition.verb);
    for (size_t i = 0; i < definition.min_arguments; ++i) args.push_back("x");
    EXPECT_NO_THROW(ParseCommandLine(args));
    if (definition.min_arguments > 0) {
      args.pop_back();
      EXPECT_THROW(ParseCommandLine(args), UsageError);
    }
  }
  // The commands the brief lists are all there.
  for (const char* topic : {"server add",
                            "server list",
                            "server edit",
                            "server move",
                            "server remove",
                            "server properties",
                            "server start",
                            "server stop",
                            "collection list",
                            "collection create",
                            "collection attach",
                            "collection detach",
                            "collection delete",
                            "collection rename",
                            "collection properties",
                            "collection shrink-log",
                            "collection upgrade",
                            "collection plaintext",
                            "fulltext status",
                            "fulltext create",
                            "fulltext remove",
                            "login list",
                            "login remove",
                            "user list",
                            "user remove"}) {
    std::string text = topic;
    size_t blank = text.find(' ');
    EXPECT_NE(FindVerb(text.substr(0, blank), text.substr(blank + 1)), nullptr) << topic;
  }
}

TEST(AdminRunTest, UsageErrorsGoToTheErrorStreamWithExitCodeTwo) {
  std::istringstream in;
  std::ostringstream out, err;
  int code = RunAdmin({"collection", "rename", "1", "Old"}, Io{in, out, err});
  EXPECT_EQ(code, kExitUsage);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(),
            "tessera-admin: 'collection rename' needs SERVER NAME NEW\n"
            "Try 'tessera-admin collection rename --help'.\n");

  std::ostringstream help_out, help_err;
  EXPECT_EQ(RunAdmin({"fulltext", "--help"}, Io{in, help_out, help_err}), kExitSuccess);
  EXPECT_EQ(help_out.str(), HelpText("fulltext", ""));
  EXPECT_EQ(help_err.str(), "");
}

TEST(AdminTableTest, AlignsColumnsByCharactersNotBytes) {
  Table table;
  table.columns = {"Name", "Login Name", "Access"};
  table.AddRow({"Müller", "SANDBOX\\müller", "Grant"});
  table.AddRow({"dbo", "SANDBOX\\root", ""});
  table.AddRow({"short"});
  std::ostringstream out;
  PrintTable(out, table, false);
  EXPECT_EQ(out.str(),
            "Name    Login Name      Access\n"
            "------  --------------  ------\n"
            "Müller  SANDBOX\\müller  Grant\n"
            "dbo     SANDBOX\\root\n"
            "short\n");
}

TEST(AdminTableTest, TabSeparatedValuesKeepEveryCellOnItsLine) {
  Table table;
  table.columns = {"Property", "Value"};
  table.AddRow({"Engine Edition", "line one\r\nline two\tand a tab"});
  table.AddRow({"Escape", "red \x1b[31m here"});
  table.AddRow({"Empty", ""});
  std::ostringstream out;
  PrintTable(out, table, true);
  EXPECT_EQ(out.str(),
            "Property\tValue\n"
            "Engine Edition\tline one line two and a tab\n"
            "Escape\tred ?[31m here\n"
            "Empty\t\n");

  Table empty;
  empty.columns = {"Name"};
  std::ostringstream aligned;
  PrintTable(aligned, empty, false);
  EXPECT_EQ(aligned.str(), "Name\n----\n");
}

TEST(AdminTableTest, CellTextAndWidth) {
  EXPECT_EQ(CellText("a\rb\nc\r\nd\te\x01"), "a b c d e?");
  EXPECT_EQ(CellText("O'Brien; [x]"), "O'Brien; [x]");
  EXPECT_EQ(DisplayWidth("Größe"), 5u);
  EXPECT_EQ(DisplayWidth(""), 0u);
}

}  // namespace
}  // namespace admin_cli
