// cRegistry: the small registry-access object every registry read and write of the product goes
// through. It holds a position (root, key path, value name, type, default) between calls, as the
// product's code sets the properties first and then reads or writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "platform/environment.h"
#include "platform/registry_store.h"

namespace platform {

inline constexpr std::int32_t kRegistryErrorNumber = 26001;
inline constexpr const char* kRegistryErrorSource = "TSAdmin.cRegistry";

class cRegistry {
 public:
  cRegistry(RegistryStore& store, const Environment& environment);

  std::uint32_t ClassKey() const { return class_key_; }
  void SetClassKey(std::uint32_t class_key) { class_key_ = class_key; }
  const std::string& SectionKey() const { return section_key_; }
  void SetSectionKey(std::string section_key) { section_key_ = std::move(section_key); }
  const std::string& ValueKey() const { return value_key_; }
  void SetValueKey(std::string value_key) { value_key_ = std::move(value_key); }
  // The type a write uses; after a successful read, the type found.
  std::uint32_t ValueType() const { return value_type_; }
  void SetValueType(std::uint32_t value_type) { value_type_ = value_type; }
  const common::Value& Default() const { return default_; }
  void SetDefault(common::Value value) { default_ = std::move(value); }

  // True when SectionKey exists.
  bool KeyExists();
  // Creates SectionKey (and its parents); true on success, else throws common::Error 26001.
  bool CreateKey();
  // Deletes SectionKey; true when it was deleted. A key with subkeys is not deleted.
  bool DeleteKey();

  // Reads ValueKey by its stored type: strings as text (expandable strings with %VAR% expanded),
  // DWORDs as 32-bit signed integers (big-endian ones swapped), anything else as bytes. A value
  // that cannot be read gives Default.
  common::Value Value();
  // Writes the value by ValueType. Strings (1, 2) are stored as an expandable string when they
  // hold "%" and another "%" at least two characters later, else as a plain string; binary (3)
  // needs bytes; DWORD (4, 5) needs an integer and is always stored as type 4. A value that does
  // not fit ValueType writes nothing and gives false. A failed write throws common::Error 26001.
  bool SetValue(const common::Value& value);
  // Writes text as a plain string (type 1) whatever percent signs it holds, for values that are
  // data rather than paths, such as connection strings. Reading it back gives the text unchanged.
  bool SetPlainString(std::string_view text);

  // Runs `body` as one transaction of the store: what it reads stays as read until its writes
  // are stored, for every process. An error the body throws undoes its writes and is passed on;
  // a transaction that cannot be stored throws common::Error 26001.
  void Atomically(const std::function<void()>& body);

  // The names of SectionKey's subkeys in enumeration order. True even when the key does not
  // exist (count 0).
  bool EnumerateSections(std::vector<std::string>* names, int* count);

 private:
  void Write(std::uint32_t type, common::Bytes bytes, const common::Value& shown);

  RegistryStore& store_;
  const Environment& environment_;
  std::uint32_t class_key_ = kHkeyCurrentUser;
  std::string section_key_;
  std::string value_key_;
  std::uint32_t value_type_ = kRegSz;
  common::Value default_;
};

// True when the text would be stored as an expandable string: a "%" followed by another "%" at
// least two characters after it.
bool LooksExpandable(std::string_view text);

}  // namespace platform
