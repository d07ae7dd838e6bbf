// What may come at a place of a tessera-admin command line, for the shell's Tab completion:
// nouns, verbs and options from the verb table, and registered servers, collections, logins
// and users from the registry and the servers. The completion script asks the program
// ("tessera-admin --complete INDEX WORD..."), so it keeps no list of its own.
#pragma once

#include <string>
#include <vector>

#include "app/admin_cli/session.h"

namespace admin_cli {

struct CompletionSlot {
  enum class Kind {
    kNothing,      // a value nobody can guess (a new name, a password)
    kWords,        // one of `words`
    kFiles,        // a file name of this machine
    kServers,      // a registered server
    kCollections,  // a collection of `server`
    kLogins,       // a login of `server`
    kUsers,        // a user of `collection` on `server`
  };
  Kind kind = Kind::kNothing;
  std::vector<std::string> words;
  std::string server;
  std::string collection;
};

// What the word at `index` of `words` (the command line without the program's name; index may
// be words.size() for a word not begun) may be, from the verb table alone.
CompletionSlot SlotAt(const std::vector<std::string>& words, size_t index);

// "--complete INDEX WORD...": prints "words" or "files" on the first line, then the
// candidates that begin with the word at INDEX, one a line. Servers are asked only for
// collections, logins and users; an unreachable one gives no candidates.
int RunCompletion(const std::vector<std::string>& args, Io io);

}  // namespace admin_cli
