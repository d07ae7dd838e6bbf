// Tab completion of tessera-admin: what each place of a command line may hold, from the verb
// table, and the servers, collections, logins and users the program reads for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/admin_cli/command_line.h"
#include "app/admin_cli/completion.h"
#include "app/admin_process.h"

namespace {

using admin_cli::CompletionSlot;
using admin_cli::SlotAt;
using Kind = CompletionSlot::Kind;
using admin_testing::AdminDemoProcessTest;
using admin_testing::Lines;
using admin_testing::RunResult;

bool Has(const std::vector<std::string>& words, const std::string& word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

TEST(AdminCompletionSlotTest, EachPlaceOfACommandLine) {
  struct Case {
    std::vector<std::string> words;
    size_t index;
    Kind kind;
    std::vector<std::string> includes;  // words that must be offered
    std::vector<std::string> excludes;  // words that must not be
    std::string server;
    std::string collection;
  };
  const std::vector<Case> cases = {
      // Nouns first, global options before them; the hidden query is never offered.
      {{}, 0, Kind::kWords, {"server", "collection", "check", "render-text"}, {"add"}, "", ""},
      {{"--yes", ""}, 1, Kind::kWords, {"login", "user"}, {}, "", ""},
      {{"-"}, 0, Kind::kWords, {"--yes", "--trace-sql", "--tsv", "--help"}, {"--complete"}, "", ""},
      // A noun's verbs, and only its own.
      {{"server", ""}, 1, Kind::kWords, {"add", "list", "folders", "stop"}, {"create"}, "", ""},
      {{"collection", "de"}, 1, Kind::kWords, {"delete", "detach", "rename"}, {"add"}, "", ""},
      // A verb's options beside the global ones.
      {{"login", "add", "1", "x", "--"},
       4,
       Kind::kWords,
       {"--sql", "--windows", "--role", "--yes"},
       {"--integrated"},
       "",
       ""},
      {{"server", "edit", "-"},
       2,
       Kind::kWords,
       {"--data-source", "--integrated"},
       {"--sql"},
       "",
       ""},
      // Arguments by the name the usage text gives them.
      {{"collection", "delete", ""}, 2, Kind::kServers, {}, {}, "", ""},
      {{"--tsv", "collection", "delete", "2", ""}, 4, Kind::kCollections, {}, {}, "2", ""},
      {{"fulltext", "status", "1", "A"}, 3, Kind::kCollections, {}, {}, "1", ""},
      {{"login", "remove", "1", ""}, 3, Kind::kLogins, {}, {}, "1", ""},
      {{"login", "set", "(sandbox)\\DEMO", ""}, 3, Kind::kLogins, {}, {}, "(sandbox)\\DEMO", ""},
      {{"user", "remove", "1", "Archive", ""}, 4, Kind::kUsers, {}, {}, "1", "Archive"},
      {{"user", "add", "1", "Archive", ""}, 4, Kind::kLogins, {}, {}, "1", "Archive"},
      {{"render-text", "a.html", ""}, 2, Kind::kFiles, {}, {}, "", ""},
      // New names, passwords and paths on the server's machine cannot be guessed.
      {{"collection", "create", "1", ""}, 3, Kind::kNothing, {}, {}, "1", ""},
      {{"collection", "create", "1", "New", ""}, 4, Kind::kNothing, {}, {}, "1", "New"},
      {{"login", "add", "1", ""}, 3, Kind::kNothing, {}, {}, "1", ""},
      {{"login", "add", "1", "x", "--password", ""}, 5, Kind::kNothing, {}, {}, "", ""},
      {{"login", "set", "1", "x", "--password-file", ""}, 5, Kind::kFiles, {}, {}, "", ""},
      // An option's value is not an argument: the collection still comes next.
      {{"--trace-sql", "collection", "list", "1", ""}, 4, Kind::kNothing, {}, {}, "1", ""},
      {{"user", "set", "1", "--role", "+x", ""}, 5, Kind::kCollections, {}, {}, "1", ""},
      // After "--" a word beginning with '-' is an argument.
      {{"collection", "delete", "1", "--", "-"}, 4, Kind::kCollections, {}, {}, "1", ""},
      // Past the last argument, after unknown nouns and verbs, and hostile text: nothing.
      {{"server", "list", ""}, 2, Kind::kNothing, {}, {}, "", ""},
      {{"nosuch", ""}, 1, Kind::kNothing, {}, {}, "", ""},
      {{"server", "frobnicate", ""}, 2, Kind::kNothing, {}, {}, "", ""},
      {{"'; rm -rf / #", ""}, 1, Kind::kNothing, {}, {}, "", ""},
      // An index past the end means a word not begun.
      {{"server"}, 7, Kind::kWords, {"add"}, {}, "", ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& word : c.words) shown += "[" + word + "]";
    CompletionSlot slot = SlotAt(c.words, c.index);
    EXPECT_EQ(slot.kind, c.kind) << shown;
    for (const std::string& word : c.includes) {
      EXPECT_TRUE(Has(slot.words, word)) << shown << word;
    }
    for (const std::string& word : c.excludes) {
      EXPECT_FALSE(Has(slot.words, word)) << shown << word;
    }
    if (c.kind == Kind::kCollections || c.kind == Kind::kLogins || c.kind == Kind::kUsers) {
      EXPECT_EQ(slot.server, c.server) << shown;
    }
    if (c.kind == Kind::kUsers) {
      EXPECT_EQ(slot.collection, c.collection) << shown;
    }
  }
}

// Every noun and verb of the help can be completed, so the two cannot drift apart.
TEST(AdminCompletionSlotTest, OffersEveryCommandOfTheVerbTable) {
  std::vector<std::string> nouns = SlotAt({}, 0).words;
  for (const admin_cli::VerbDefinition& definition : admin_cli::Verbs()) {
    EXPECT_TRUE(Has(nouns, definition.noun)) << definition.noun;
    if (definition.verb.empty()) continue;
    EXPECT_TRUE(Has(SlotAt({definition.noun}, 1).words, definition.verb)) << definition.Topic();
    std::vector<std::string> words = {definition.noun, definition.verb, "-"};
    std::vector<std::string> options = SlotAt(words, 2).words;
    for (const admin_cli::OptionDefinition& option : definition.options) {
      EXPECT_TRUE(Has(options, option.name)) << definition.Topic() << " " << option.name;
    }
  }
}

class AdminCompletionTest : public AdminDemoProcessTest {};

class AdminCompletionWithoutRegistryTest : public admin_testing::AdminProcessTest {};

TEST_F(AdminCompletionWithoutRegistryTest, OffersNoServerAndMakesNoRegistry) {
  for (const std::vector<std::string>& query :
       {std::vector<std::string>{"--complete", "2", "collection", "list", ""},
        std::vector<std::string>{"--complete", "3", "collection", "delete", "1", ""}}) {
    RunResult run = Run(query);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "words\n");
  }
  EXPECT_FALSE(std::filesystem::exists(root_ / "registry.db"));
}

TEST_F(AdminCompletionTest, ReadsServersCollectionsLoginsAndUsers) {
  struct Case {
    std::vector<std::string> query;
    std::vector<std::string> lines;  // the whole answer
  };
  const std::vector<Case> cases = {
      {{"--complete", "0", "ser"}, {"words", "server"}},
      {{"--complete", "2", "collection", "delete", ""}, {"words", "(sandbox)\\DEMO", "1"}},
      {{"--complete", "2", "collection", "delete", "("}, {"words", "(sandbox)\\DEMO"}},
      {{"--complete", "3", "collection", "delete", "1", "P"}, {"words", "Projects"}},
      {{"--complete", "3", "collection", "rename", "(sandbox)\\DEMO", "Ar"}, {"words", "Archive"}},
      {{"--complete", "3", "login", "remove", "1", "SANDBOX\\m"}, {"words", "SANDBOX\\maria"}},
      {{"--complete", "4", "user", "remove", "1", "Archive", "d"}, {"words", "dbo"}},
      {{"--complete", "1", "render-text", ""}, {"files"}},
      // A server not registered, or a collection it lacks, offers nothing and fails nothing.
      {{"--complete", "3", "collection", "delete", "9", ""}, {"words"}},
      {{"--complete", "4", "user", "remove", "1", "Nosuch", ""}, {"words"}},
      // A query that is no query.
      {{"--complete", "x", "server"}, {}},
  };
  for (const Case& c : cases) {
    RunResult run = Run(c.query);
    std::string shown;
    for (const std::string& word : c.query) shown += "[" + word + "]";
    EXPECT_EQ(Lines(run.out), c.lines) << shown << run.err;
    EXPECT_EQ(run.exit_code, c.lines.empty() ? admin_cli::kExitUsage : 0) << shown;
  }
  // Every collection of the list, and nothing was changed by asking.
  RunResult all = Run({"--complete", "3", "collection", "properties", "1", ""});
  EXPECT_EQ(Lines(all.out), (std::vector<std::string>{"words", "Archive", "Contracts", "Letters",
                                                      "Minutes", "Projects"}));
  EXPECT_EQ(Run({"--complete", "2", "server", "remove", ""}).out, "words\n(sandbox)\\DEMO\n1\n");
}

}  // namespace
