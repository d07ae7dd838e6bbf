// The input rules of the New Collection wizard and the Open Collection dialog, each as a function
// that returns the refusal to show, or nothing when the input passes. The wizard and dialog show
// a refusal as a balloon or message box; the command line prints its text as an error.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/user_interface.h"

namespace collections {
class Databases;
}

namespace dialogs {

// Message numbers of the rules.
inline constexpr int kMessageNameMissing = 124;
inline constexpr int kMessageInvalidNameTitle = 125;
inline constexpr int kMessageInvalidName = 126;
inline constexpr int kMessageNameInUse = 127;
inline constexpr int kMessagePathInvalid = 130;
inline constexpr int kMessageFileExists = 131;
inline constexpr int kMessageNameTooLongOn70 = 314;
inline constexpr int kMessageAttachNameMissing = 151;
inline constexpr int kMessageAttachNameInvalid = 152;
inline constexpr int kMessageAttachFileMissing = 153;
inline constexpr int kMessageFileAlreadyOpened = 156;

// On SQL Server 7.0 a collection name may have at most this many characters.
inline constexpr std::size_t kMaxNameLengthOn70 = 11;

// Why an input was refused.
struct Refusal {
  int message = 0;    // the message number of `text`
  std::string title;  // the balloon's or box's title; empty for an untitled balloon
  std::string text;   // the message to show
  platform::MessageIcon icon = platform::MessageIcon::kInformation;
  friend bool operator==(const Refusal&, const Refusal&) = default;
};

// Tells whether a path names an existing file (not a folder) on this machine.
using FileExistsFunction = std::function<bool(std::string_view)>;

// The text with leading and trailing blanks removed, as the wizard takes its fields.
std::string TrimBlanks(std::string_view text);

// The number of characters (not bytes) of a UTF-8 text.
std::size_t CharacterCount(std::string_view text);

// The New Collection wizard's name rules, for a name already trimmed, in this order:
// empty (124); on a server whose major version written as text begins with "7", 12 or more
// characters (314); a character outside A-Z, a-z, 0-9 and "_" (126, titled 125); equal
// (case-sensitive) to one of `existing_names`, the display names of the server's collections
// (127). Nothing when the name passes.
std::optional<Refusal> CheckCollectionName(std::string_view name, int product_version,
                                           const std::vector<std::string>& existing_names);
// The same against a server's catalogue: its server's ProductVersion and its collections' names.
std::optional<Refusal> CheckCollectionName(std::string_view name,
                                           collections::Databases& databases);

// The wizard's data file path: blanks trimmed, and ".mdf" appended when the path is not empty
// and its last four characters, lower-cased, are not ".mdf".
std::string CompleteDataFilePath(std::string_view path);

// The wizard's rule for a completed path: a path that is not empty and holds a backslash goes on
// to the creation; any other is refused with 131 when `file_exists` finds a file of that path on
// this machine, else with 130.
std::optional<Refusal> CheckDataFilePath(std::string_view completed_path,
                                         const FileExistsFunction& file_exists);

// The Open Collection dialog's database name rules, on the field as typed: empty (151); a
// character outside A-Z, a-z, 0-9 and "_" (152). Both titled "Tessera Server Manager".
std::optional<Refusal> CheckAttachName(std::string_view name);
// The Open Collection dialog's data file rule: the field must not be empty (153).
std::optional<Refusal> CheckAttachDataFile(std::string_view data_file);

// A data file an opened collection uses.
struct OpenedDataFile {
  std::string collection;  // the collection's display name
  std::string data_file;   // its data file as the server lists it
};
// Refuses (156, exclamation icon, placeholder: the chosen file) a data file that one of the
// opened collections uses. Paths compare without regard to letter case or surrounding blanks,
// with "/" taken as "\", as the server's file system does.
std::optional<Refusal> CheckDataFileNotOpened(std::string_view data_file,
                                              const std::vector<OpenedDataFile>& opened);
// The data files of the catalogue's collections, asked of the server. Empty when the server
// cannot tell (the attach itself then decides).
std::vector<OpenedDataFile> OpenedDataFiles(collections::Databases& databases);

}  // namespace dialogs
