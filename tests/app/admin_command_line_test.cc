#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/admin_cli/command_line.h"
#include "app/admin_cli/commands.h"
#include "app/admin_cli/table.h"
#include "app/admin_process.h"

namespace admin_cli {
namespace {

using admin_testing::Words;

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

TEST(AdminCommandLineTest, HelpVersionAndAMissingCommandWinOverEverythingElse) {
  using Kind = Invocation::Kind;
  struct Case {
    std::string line;
    Kind kind;
    std::string noun;
    std::string verb;
  };
  const std::vector<Case> cases = {
      {"", Kind::kNoCommand, "", ""},
      // Global options alone are no command either.
      {"--yes --tsv", Kind::kNoCommand, "", ""},
      {"--trace-sql --", Kind::kNoCommand, "", ""},
      {"--yes --help", Kind::kHelp, "", ""},
      {"collection --help", Kind::kHelp, "collection", ""},
      // Help on a verb needs none of its arguments.
      {"collection attach -h", Kind::kHelp, "collection", "attach"},
      {"--version", Kind::kVersion, "", ""},
  };
  for (const Case& c : cases) {
    Invocation invocation = ParseCommandLine(Words(c.line));
    SCOPED_TRACE(c.line);
    EXPECT_EQ(invocation.kind, c.kind);
    EXPECT_EQ(invocation.noun, c.noun);
    EXPECT_EQ(invocation.verb, c.verb);
  }
}

TEST(AdminCommandLineTest, WrongCommandLinesSayWhatIsWrongAndWhereTheHelpIs) {
  struct Case {
    std::string line;
    std::string topic;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"servers list", "", "unknown command 'servers'"},
      {"server delete 1", "server", "'server' has no verb 'delete'"},
      {"login", "login", "'login' needs a verb"},
      {"collection create 1 Sales", "collection create",
       "'collection create' needs SERVER NAME PATH"},
      {"collection attach 1 A a.mdf a.ldf extra", "collection attach",
       "'collection attach' takes only SERVER NAME MDF [LDF]; 'extra' is one too many"},
      {"server folders 1 C: x", "server folders",
       "'server folders' takes only SERVER [PATH]; 'x' is one too many"},
      {"render-text", "render-text", "'render-text' needs FILE..."},
      {"check now", "check", "'check' takes no arguments; 'now' is one too many"},
      {"server list --login x", "server list", "unknown option '--login'"},
      {"server add x --login", "server add", "the option --login needs a value (NAME)"},
      {"server edit 1 --integrated=yes", "server edit", "the option --integrated takes no value"},
      {"server add x --password pw", "server add", "the option --password needs --login"},
      {"server edit 1 --integrated --login sa", "server edit",
       "--integrated and --login exclude each other"},
  };
  for (const Case& c : cases) {
    UsageError error = UsageErrorOf(Words(c.line));
    EXPECT_EQ(error.text, c.text);
    EXPECT_EQ(error.topic, c.topic) << c.text;
  }
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
      EXPECT_THROW(ParseCommandLine({args.begin(), args.end() - 1}), UsageError);
    }
    if (definition.max_arguments != VerbDefinition::kMany) {
      args.resize(args.size() - definition.min_arguments + definition.max_arguments + 1, "x");
      EXPECT_THROW(ParseCommandLine(args), UsageError);
    }
  }
  // The documented commands are all there: a noun, then its verbs.
  for (const char* line : {"server add list edit move remove properties folders start stop",
                           "collection list create attach detach delete rename properties "
                           "shrink-log upgrade plaintext",
                           "fulltext status create remove", "login list remove", "user list remove",
                           "check", "demo", "messages", "render-text"}) {
    std::vector<std::string> words = Words(line);
    if (words.size() == 1) words.push_back("");
    for (size_t i = 1; i < words.size(); ++i) {
      EXPECT_NE(FindVerb(words[0], words[i]), nullptr) << words[0] << " " << words[i];
    }
  }
}

TEST(AdminRunTest, UsageErrorsGoToTheErrorStreamWithExitCodeTwo) {
  struct Case {
    std::string line;
    int code;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"collection rename 1 Old", kExitUsage, "",
       "tessera-admin: 'collection rename' needs SERVER NAME NEW\n"
       "Try 'tessera-admin collection rename --help'.\n"},
      {"fulltext --help", kExitSuccess, HelpText("fulltext", ""), ""},
      // No command, global options alone included: the program's help, as an error.
      {"", kExitUsage, "", HelpText("", "")},
      {"--yes --tsv", kExitUsage, "", HelpText("", "")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunAdmin(Words(c.line), Io{in, out, err}), c.code);
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str(), c.err);
  }
}

std::string Printed(const Table& table, bool tsv) {
  std::ostringstream out;
  PrintTable(out, table, tsv);
  return out.str();
}

TEST(AdminTableTest, AlignsColumnsByCharactersNotBytes) {
  Table table{{"Name", "Login Name", "Access"},
              {{"Müller", "SANDBOX\\müller", "Grant"}, {"dbo", "SANDBOX\\root", ""}, {"short"}}};
  EXPECT_EQ(Printed(table, false),
            "Name    Login Name      Access\n"
            "------  --------------  ------\n"
            "Müller  SANDBOX\\müller  Grant\n"
            "dbo     SANDBOX\\root\n"
            "short\n");
  EXPECT_EQ(Printed(Table{{"Name"}, {}}, false), "Name\n----\n");
}

TEST(AdminTableTest, TabSeparatedValuesKeepEveryCellOnItsLine) {
  Table table{{"Property", "Value"},
              {{"Engine Edition", "line one\r\nline two\tand a tab"},
               {"Escape", "red \x1b[31m here"},
               {"Empty", ""}}};
  EXPECT_EQ(Printed(table, true),
            "Property\tValue\n"
            "Engine Edition\tline one line two and a tab\n"
            "Escape\tred ?[31m here\n"
            "Empty\t\n");
}

TEST(AdminTableTest, CellTextAndWidth) {
  EXPECT_EQ(CellText("a\rb\nc\r\nd\te\x01"), "a b c d e?");
  EXPECT_EQ(CellText("O'Brien; [x]"), "O'Brien; [x]");
  EXPECT_EQ(DisplayWidth("Größe"), 5u);
  EXPECT_EQ(DisplayWidth(""), 0u);
}

}  // namespace
}  // namespace admin_cli
