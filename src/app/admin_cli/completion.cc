#include "app/admin_cli/completion.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <istream>
#include <sstream>

#include "app/admin_cli/command_line.h"
#include "collections/database.h"
#include "console/result_views.h"
#include "platform/environment.h"
#include "platform/registry_store.h"

namespace admin_cli {

namespace {

using Kind = CompletionSlot::Kind;

// The options every command takes; --complete itself stays unlisted.
const std::vector<std::string> kGlobalOptions = {"--yes", "--trace-sql", "--tsv", "--help",
                                                 "--version"};

bool IsOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

std::vector<std::string> Nouns() {
  std::vector<std::string> nouns;
  for (const VerbDefinition& definition : Verbs()) {
    if (std::find(nouns.begin(), nouns.end(), definition.noun) == nouns.end())
      nouns.push_back(definition.noun);
  }
  return nouns;
}

// The name of the argument at `position` of a usage text such as "SERVER NAME [LDF]" or
// "FILE...": "SERVER", "LDF", "FILE"; empty past the last.
std::string ArgumentName(const std::string& arguments, size_t position) {
  std::istringstream in(arguments);
  std::string word;
  std::string last;
  for (size_t i = 0; in >> word; ++i) {
    bool many = word.ends_with("...");
    word.erase(std::remove_if(word.begin(), word.end(),
                              [](char c) { return c == '[' || c == ']' || c == '.'; }),
               word.end());
    if (i == position) return word;
    if (many) last = word;
  }
  return last;  // the rest of "FILE..."
}

CompletionSlot Words(std::vector<std::string> words) {
  return CompletionSlot{Kind::kWords, std::move(words), "", ""};
}

// The slot of a verb's argument, by the name its usage text gives it.
CompletionSlot ArgumentSlot(const VerbDefinition& definition,
                            const std::vector<std::string>& positional) {
  std::string name = ArgumentName(definition.arguments, positional.size());
  const std::string& noun = definition.noun;
  const std::string& verb = definition.verb;
  CompletionSlot slot;
  if (!positional.empty()) slot.server = positional[0];
  if (positional.size() > 1) slot.collection = positional[1];
  // NAME is an existing collection or login, except where the command makes it.
  bool existing_name = name == "NAME" && verb != "create" && verb != "attach" && verb != "add";
  if (name == "SERVER") {
    slot.kind = Kind::kServers;
  } else if (name == "COLLECTION" || (existing_name && noun == "collection")) {
    slot.kind = Kind::kCollections;
  } else if (name == "LOGIN" || (existing_name && noun == "login")) {
    slot.kind = Kind::kLogins;
  } else if (name == "USER") {
    slot.kind = Kind::kUsers;
  } else if (name == "FILE") {
    slot.kind = Kind::kFiles;
  }
  return slot;
}

// The registered servers, or the collections, logins or users a server lists, for a slot that
// names them. What cannot be read (no registry, a server that does not answer) throws.
std::vector<std::string> ReadCandidates(const CompletionSlot& slot, std::istream& in) {
  if (slot.kind != Kind::kServers && slot.kind != Kind::kCollections &&
      slot.kind != Kind::kLogins && slot.kind != Kind::kUsers) {
    return {};
  }
  // Pressing Tab makes no registry where there is none.
  std::error_code ec;
  if (!std::filesystem::exists(platform::DefaultRegistryPath(platform::ProcessEnvironment()), ec))
    return {};
  std::ostringstream silenced;
  Session session(Io{in, silenced, silenced, false, false}, GlobalOptions{});
  std::vector<std::string> candidates;
  if (slot.kind == Kind::kServers) {
    for (const auto& server : session.Servers()) {
      candidates.push_back(std::to_string(server->ServerID()));
      std::string location;
      try {
        location = server->Location();
      } catch (const std::exception&) {
        location = server->Name();
      }
      if (!location.empty()) candidates.push_back(location);
    }
    return candidates;
  }
  servers::Server& server = session.FindServer(slot.server);
  if (!server.Connected()) return {};
  if (slot.kind == Kind::kCollections) {
    for (const auto& database : CatalogueOf(server)) candidates.push_back(database->Name());
  } else if (slot.kind == Kind::kLogins) {
    for (const console::ListRow& row : console::LoginsView(server).rows)
      candidates.push_back(row.SubItem("NAME"));
  } else {
    collections::Database& database = session.FindCollection(server, slot.collection);
    for (const console::ListRow& row : console::UsersView(database).rows)
      candidates.push_back(row.SubItem("NAME"));
  }
  return candidates;
}

}  // namespace

CompletionSlot SlotAt(const std::vector<std::string>& words, size_t index) {
  index = std::min(index, words.size());
  const std::string current = index < words.size() ? words[index] : std::string();
  std::string noun;
  const VerbDefinition* definition = nullptr;
  const OptionDefinition* awaiting_value = nullptr;
  bool options_ended = false;
  std::vector<std::string> positional;

  for (size_t i = 0; i < index; ++i) {
    const std::string& word = words[i];
    if (awaiting_value != nullptr) {
      awaiting_value = nullptr;
      continue;
    }
    if (!options_ended && word == "--") {
      options_ended = true;
      continue;
    }
    if (!options_ended && IsOption(word)) {
      if (definition == nullptr || word.find('=') != std::string::npos) continue;
      for (const OptionDefinition& option : definition->options) {
        if (option.name == word && !option.value_name.empty()) awaiting_value = &option;
      }
      continue;
    }
    if (noun.empty()) {
      std::vector<std::string> nouns = Nouns();
      if (std::find(nouns.begin(), nouns.end(), word) == nouns.end()) return {};
      noun = word;
      definition = FindVerb(noun, "");  // the commands without verbs
    } else if (definition == nullptr) {
      definition = FindVerb(noun, word);
      if (definition == nullptr) return {};
    } else {
      positional.push_back(word);
    }
  }

  if (awaiting_value != nullptr) {
    if (awaiting_value->value_name == "F") return CompletionSlot{Kind::kFiles, {}, "", ""};
    return {};
  }
  if (!options_ended && current.starts_with("-")) {
    std::vector<std::string> options = kGlobalOptions;
    if (definition != nullptr) {
      for (const OptionDefinition& option : definition->options) options.push_back(option.name);
    }
    return Words(std::move(options));
  }
  if (noun.empty()) return Words(Nouns());
  if (definition == nullptr) {
    std::vector<std::string> verbs;
    for (const VerbDefinition& candidate : Verbs()) {
      if (candidate.noun == noun) verbs.push_back(candidate.verb);
    }
    return Words(std::move(verbs));
  }
  if (positional.size() >= definition->max_arguments) return {};
  return ArgumentSlot(*definition, positional);
}

int RunCompletion(const std::vector<std::string>& args, Io io) {
  // args: "--complete" INDEX WORD...
  size_t index = 0;
  if (args.size() < 2) return kExitUsage;
  const std::string& number = args[1];
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), index);
  if (error != std::errc() || end != number.data() + number.size()) return kExitUsage;
  std::vector<std::string> words(args.begin() + 2, args.end());
  const std::string current = index < words.size() ? words[index] : std::string();

  CompletionSlot slot = SlotAt(words, index);
  std::vector<std::string> candidates = slot.words;
  try {
    std::vector<std::string> read = ReadCandidates(slot, io.in);
    candidates.insert(candidates.end(), read.begin(), read.end());
  } catch (const std::exception&) {
  } catch (const CommandError&) {
  }

  io.out << (slot.kind == Kind::kFiles ? "files" : "words") << "\n";
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  for (const std::string& candidate : candidates) {
    // One a line: a name holding a line break cannot be offered.
    if (candidate.starts_with(current) && candidate.find('\n') == std::string::npos)
      io.out << candidate << "\n";
  }
  return kExitSuccess;
}

}  // namespace admin_cli
