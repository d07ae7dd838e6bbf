#include "platform/registry.h"

#include <limits>

#include "common/error.h"

namespace platform {

namespace {

// The longest subkey name the enumeration buffer holds.
constexpr size_t kSectionNameBuffer = 255;

common::Bytes StringBytes(std::string_view text) {
  common::Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);  // stored with the terminating zero counted, as REG_SZ
  return bytes;
}

std::string StringFromBytes(const common::Bytes& bytes) {
  size_t size = bytes.size();
  // Data written by other programs may lack the terminator; then nothing is cut.
  if (size > 0 && bytes[size - 1] == 0) --size;
  return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

std::int32_t DwordFromBytes(const common::Bytes& bytes, bool big_endian) {
  std::uint8_t b[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < bytes.size(); ++i) b[i] = bytes[i];
  std::uint32_t value = big_endian ? (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                                      std::uint32_t{b[2]} << 8 | b[3])
                                   : (std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 |
                                      std::uint32_t{b[1]} << 8 | b[0]);
  return static_cast<std::int32_t>(value);
}

// The text a string write stores; nothing for values that have no text form of their own.
std::optional<std::string> TextOf(const common::Value& value) {
  switch (value.type()) {
    case common::Value::Type::kNull:
    case common::Value::Type::kBinary:
      return std::nullopt;
    default:
      return value.ToText();
  }
}

}  // namespace

bool LooksExpandable(std::string_view text) {
  size_t first = text.find('%');
  return first != std::string_view::npos && first + 2 < text.size() &&
         text.find('%', first + 2) != std::string_view::npos;
}

cRegistry::cRegistry(RegistryStore& store, const Environment& environment)
    : store_(store), environment_(environment) {}

bool cRegistry::KeyExists() { return store_.OpenKey(class_key_, section_key_) == kErrorSuccess; }

bool cRegistry::CreateKey() {
  if (store_.CreateKey(class_key_, section_key_) != kErrorSuccess) {
    throw common::Error(kRegistryErrorNumber, kRegistryErrorSource,
                        "Failed to create registry Key: '" + section_key_);
  }
  return true;
}

void cRegistry::Atomically(const std::function<void()>& body) {
  RegResult result = store_.Transact([&] {
    body();
    return kErrorSuccess;
  });
  if (result != kErrorSuccess) {
    throw common::Error(kRegistryErrorNumber, kRegistryErrorSource,
                        "Failed to store the registry changes below Key: '" + section_key_ +
                            "'\nErrorCode: " + std::to_string(result));
  }
}

bool cRegistry::DeleteKey() { return store_.DeleteKey(class_key_, section_key_) == kErrorSuccess; }

common::Value cRegistry::Value() {
  RegistryData data;
  RegResult result = store_.QueryValue(class_key_, section_key_, value_key_, &data);
  if (result != kErrorSuccess && result != kErrorMoreData) return default_;
  value_type_ = data.type;
  switch (data.type) {
    case kRegSz:
    case kRegMultiSz:
      return common::Value(StringFromBytes(data.bytes));
    case kRegExpandSz:
      return common::Value(ExpandEnvironmentStrings(StringFromBytes(data.bytes), environment_));
    case kRegDword:
      return common::Value(DwordFromBytes(data.bytes, false));
    case kRegDwordBigEndian:
      return common::Value(DwordFromBytes(data.bytes, true));
    default:
      return common::Value(std::move(data.bytes));
  }
}

bool cRegistry::SetValue(const common::Value& value) {
  switch (value_type_) {
    case kRegSz:
    case kRegExpandSz: {
      auto text = TextOf(value);
      if (!text) return false;
      Write(LooksExpandable(*text) ? kRegExpandSz : kRegSz, StringBytes(*text), value);
      return true;
    }
    case kRegMultiSz: {
      auto text = TextOf(value);
      if (!text) return false;
      Write(kRegMultiSz, StringBytes(*text), value);
      return true;
    }
    case kRegBinary: {
      const common::Bytes* bytes = value.AsBytes();
      if (bytes == nullptr) return false;
      Write(kRegBinary, *bytes, value);
      return true;
    }
    case kRegDword:
    case kRegDwordBigEndian: {
      if (value.type() != common::Value::Type::kInt) return false;
      std::int64_t number = *value.ToInt();
      // Signed (as the product's integers are) or unsigned 32-bit numbers both fit a DWORD.
      if (number < std::numeric_limits<std::int32_t>::min() ||
          number > std::numeric_limits<std::uint32_t>::max()) {
        return false;
      }
      auto dword = static_cast<std::uint32_t>(number);
      Write(kRegDword,
            {static_cast<std::uint8_t>(dword), static_cast<std::uint8_t>(dword >> 8),
             static_cast<std::uint8_t>(dword >> 16), static_cast<std::uint8_t>(dword >> 24)},
            value);
      return true;
    }
    default:
      return false;
  }
}

bool cRegistry::SetPlainString(std::string_view text) {
  Write(kRegSz, StringBytes(text), common::Value(text));
  return true;
}

void cRegistry::Write(std::uint32_t type, common::Bytes bytes, const common::Value& shown) {
  RegResult result =
      store_.SetValue(class_key_, section_key_, value_key_, RegistryData{type, std::move(bytes)});
  if (result == kErrorSuccess) return;
  // The root key is shown as the signed 32-bit number the product always printed.
  throw common::Error(kRegistryErrorNumber, kRegistryErrorSource,
                      "Failed to set registry value Key: '" +
                          std::to_string(static_cast<std::int32_t>(class_key_)) + "',Section: '" +
                          section_key_ + "',Key: '" + value_key_ + "' to value: '" +
                          shown.ToText() + "'\r\nErrorCode: " + std::to_string(result));
}

bool cRegistry::EnumerateSections(std::vector<std::string>* names, int* count) {
  names->clear();
  std::vector<std::string> found;
  if (store_.ListSubkeys(class_key_, section_key_, &found) == kErrorSuccess) {
    for (auto& name : found) {
      size_t end = std::min(name.find('\0'), kSectionNameBuffer);
      if (end < name.size()) name.resize(end);
      names->push_back(std::move(name));
    }
  }
  *count = static_cast<int>(names->size());
  return true;
}

}  // namespace platform
