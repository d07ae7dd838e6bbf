#include "app/sandbox_cli/variables.h"

#include <cctype>
#include <cstdlib>

#include "app/sandbox_cli/context.h"

namespace sandbox_cli {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

}  // namespace

bool Variables::IsName(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
  }
  return true;
}

void Variables::Set(std::string_view name, std::string value) {
  values_[Upper(name)] = std::move(value);
}

void Variables::Remove(std::string_view name) { values_.erase(Upper(name)); }

std::optional<std::string> Variables::Find(std::string_view name) const {
  auto found = values_.find(Upper(name));
  if (found != values_.end()) return found->second;
  std::string key(name);
  if (const char* env = std::getenv(key.c_str())) return std::string(env);
  return std::nullopt;
}

std::optional<std::string> Variables::Substitute(std::string_view line,
                                                 std::string* undefined) const {
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t start = line.find("$(", pos);
    if (start == std::string_view::npos) break;
    size_t close = line.find(')', start + 2);
    std::string_view name = close == std::string_view::npos
                                ? std::string_view()
                                : line.substr(start + 2, close - start - 2);
    if (!IsName(name)) {
      out.append(line.substr(pos, start + 2 - pos));
      pos = start + 2;
      continue;
    }
    std::optional<std::string> value = Find(name);
    if (!value) {
      if (undefined) *undefined = std::string(name);
      return std::nullopt;
    }
    out.append(line.substr(pos, start - pos));
    out += *value;
    pos = close + 1;
  }
  out.append(line.substr(pos));
  return out;
}

std::optional<SetVar> ParseSetVar(std::string_view text, std::string* error) {
  text = TrimBlanks(text);
  size_t end = 0;
  while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  SetVar result;
  result.name = std::string(text.substr(0, end));
  if (!Variables::IsName(result.name)) {
    *error = result.name.empty() ? "a variable name is needed"
                                 : "'" + result.name.substr(0, 64) +
                                       "' is not a variable name: letters, digits, '_' and '-'";
    return std::nullopt;
  }
  std::string_view rest = TrimBlanks(text.substr(end));
  if (rest.empty()) return result;
  if (rest.front() != '"') {
    for (char c : rest) {
      if (std::isspace(static_cast<unsigned char>(c)) || c == '"') {
        *error = "a value with blanks or quotes is written in double quotes";
        return std::nullopt;
      }
    }
    result.value = std::string(rest);
    return result;
  }
  std::string value;
  size_t i = 1;
  while (true) {
    if (i >= rest.size()) {
      *error = "the value's closing quote is missing";
      return std::nullopt;
    }
    if (rest[i] == '"') {
      if (i + 1 < rest.size() && rest[i + 1] == '"') {
        value += '"';
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    value += rest[i++];
  }
  if (i != rest.size()) {
    *error = "text after the value's closing quote";
    return std::nullopt;
  }
  result.value = std::move(value);
  return result;
}

}  // namespace sandbox_cli
