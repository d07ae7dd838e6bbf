#include "dialogs/collection_rules.h"

#include <cctype>
#include <exception>

#include "collections/databases.h"
#include "common/messages.h"
#include "common/text.h"
#include "db/constants.h"
#include "db/recordset.h"
#include "servers/server.h"

namespace dialogs {

namespace {

constexpr std::string_view kDataFileExtension = ".mdf";

Refusal Message(int number, std::string title = {}) {
  return Refusal{number, std::move(title), common::LoadMessage(number),
                 platform::MessageIcon::kInformation};
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A server path as its file system compares it: no surrounding blanks, one kind of separator,
// no letter case.
std::string ComparablePath(std::string_view path) {
  std::string out = Lower(TrimBlanks(path));
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string TrimAll(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    // Continuation bytes (10xxxxxx) belong to the character before them.
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::optional<Refusal> CheckCollectionName(std::string_view name, int product_version,
                                           const std::vector<std::string>& existing_names) {
  if (name.empty()) return Message(kMessageNameMissing);
  if (std::to_string(product_version).starts_with('7') &&
      CharacterCount(name) > kMaxNameLengthOn70) {
    return Message(kMessageNameTooLongOn70);
  }
  if (!common::IsValidName(name)) {
    return Message(kMessageInvalidName, common::LoadMessage(kMessageInvalidNameTitle));
  }
  for (const std::string& existing : existing_names) {
    if (existing == name) return Message(kMessageNameInUse);
  }
  return std::nullopt;
}

std::optional<Refusal> CheckCollectionName(std::string_view name,
                                           collections::Databases& databases) {
  int version = databases.Server() ? databases.Server()->ProductVersion() : 0;
  std::vector<std::string> names;
  for (const auto& database : databases) names.push_back(database->Name());
  return CheckCollectionName(name, version, names);
}

std::string CompleteDataFilePath(std::string_view path) {
  std::string completed = TrimBlanks(path);
  if (completed.empty()) return completed;
  std::string_view tail = completed.size() >= kDataFileExtension.size()
                              ? std::string_view(completed).substr(completed.size() - 4)
                              : std::string_view(completed);
  if (Lower(tail) != kDataFileExtension) completed += kDataFileExtension;
  return completed;
}

std::optional<Refusal> CheckDataFilePath(std::string_view completed_path,
                                         const FileExistsFunction& file_exists) {
  if (!completed_path.empty() && completed_path.find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  if (file_exists && file_exists(completed_path)) return Message(kMessageFileExists);
  return Message(kMessagePathInvalid);
}

std::optional<Refusal> CheckAttachName(std::string_view name) {
  if (name.empty()) return Message(kMessageAttachNameMissing, servers::kMessageTitle);
  if (!common::IsValidName(name)) {
    return Message(kMessageAttachNameInvalid, servers::kMessageTitle);
  }
  return std::nullopt;
}

std::optional<Refusal> CheckAttachDataFile(std::string_view data_file) {
  if (data_file.empty()) return Message(kMessageAttachFileMissing, servers::kMessageTitle);
  return std::nullopt;
}

std::optional<Refusal> CheckDataFileNotOpened(std::string_view data_file,
                                              const std::vector<OpenedDataFile>& opened) {
  std::string wanted = ComparablePath(data_file);
  if (wanted.empty()) return std::nullopt;
  for (const OpenedDataFile& file : opened) {
    if (ComparablePath(file.data_file) == wanted) {
      return Refusal{kMessageFileAlreadyOpened, servers::kMessageTitle,
                     common::FormatMessage(kMessageFileAlreadyOpened, {std::string(data_file)}),
                     platform::MessageIcon::kExclamation};
    }
  }
  return std::nullopt;
}

std::vector<OpenedDataFile> OpenedDataFiles(collections::Databases& databases) {
  std::vector<OpenedDataFile> files;
  servers::Server* server = databases.Server();
  if (!server || databases.Count() == 0) return files;
  try {
    db::Recordset recordset;
    recordset.Open("SELECT name, filename FROM master..sysdatabases", server->Connection());
    if (recordset.State() != db::kStateOpen) return files;
    for (; !recordset.Eof(); recordset.MoveNext()) {
      std::string database_name = Lower(TrimAll(recordset.Fields("name").Value().ToText()));
      for (const auto& database : databases) {
        if (Lower(database->DatabaseName()) == database_name) {
          files.push_back(
              {database->Name(), TrimAll(recordset.Fields("filename").Value().ToText())});
        }
      }
    }
    recordset.Close();
  } catch (const std::exception&) {
    // Without the server's list the attach itself decides; it refuses a file in use.
    files.clear();
  }
  return files;
}

}  // namespace dialogs
