#include "sandbox/machine.h"

#include <system_error>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/file_modes.h"

namespace sandbox {

namespace fs = std::filesystem;

Machine::Machine(fs::path instance_directory) : drives_(std::move(instance_directory) / "drives") {}

fs::path Machine::DriveFolder(char letter) const {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  return drives_ / std::string(1, letter);
}

namespace {

std::vector<std::string> SplitComponents(std::string_view rest) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : rest) {
    if (c == '\\' || c == '/') {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

}  // namespace

std::optional<fs::path> Machine::ToHost(std::string_view machine_path) const {
  if (machine_path.size() < 3 || machine_path[1] != ':' ||
      (machine_path[2] != '\\' && machine_path[2] != '/'))
    return std::nullopt;
  char letter = machine_path[0];
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) return std::nullopt;
  fs::path result = DriveFolder(letter);
  for (const std::string& part : SplitComponents(machine_path.substr(3))) {
    if (part == ".") continue;
    if (part == "..") {
      if (result != DriveFolder(letter)) result = result.parent_path();
      continue;
    }
    if (part.find('\0') != std::string::npos) return std::nullopt;
    std::string name = part;
    std::error_code ec;
    // The name as written is the usual case and costs one look-up; reading the folder for
    // another spelling costs as much as the folder holds files (a data folder holds hundreds).
    if (fs::exists(fs::symlink_status(result / part, ec))) {
      result /= part;
      continue;
    }
    if (fs::is_directory(result, ec)) {
      for (const auto& entry : fs::directory_iterator(result, ec)) {
        std::string existing = entry.path().filename().string();
        if (EqualsNoCase(existing, part)) {
          name = existing;
          break;
        }
      }
    }
    result /= name;
  }
  return result;
}

std::optional<std::string> Machine::ToMachine(const fs::path& host_path) const {
  fs::path relative = host_path.lexically_relative(drives_);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  auto it = relative.begin();
  std::string letter = it->string();
  if (letter.size() != 1) return std::nullopt;
  std::string out = letter + ":";
  ++it;
  if (it == relative.end()) return out + "\\";
  for (; it != relative.end(); ++it) {
    if (it->empty() || *it == ".") continue;
    out += "\\" + it->string();
  }
  return out;
}

bool Machine::CreateFolders(std::string_view machine_path) const {
  auto host = ToHost(machine_path);
  if (!host) return false;
  return CreatePrivateFolders(*host);
}

std::string Machine::Join(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '\\') out += '\\';
  out += name;
  return out;
}

std::string Machine::FolderOf(std::string_view machine_path) {
  size_t slash = machine_path.find_last_of("\\/");
  if (slash == std::string_view::npos) return {};
  if (slash == 2 && machine_path.size() > 1 && machine_path[1] == ':')
    return std::string(machine_path.substr(0, 3));
  return std::string(machine_path.substr(0, slash));
}

bool Machine::SamePath(std::string_view a, std::string_view b) {
  auto normal = [](std::string_view s) {
    std::string out;
    for (char c : s) out += (c == '/') ? '\\' : c;
    return Lower(out);
  };
  return normal(a) == normal(b);
}

}  // namespace sandbox
