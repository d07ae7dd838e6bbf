// A registry store held in memory, for tests. It behaves like the file store and can be told to
// fail chosen operations, so callers' error paths can be exercised.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace platform {

enum class RegistryOperation {
  kOpenKey,
  kCreateKey,
  kDeleteKey,
  kQueryValue,
  kSetValue,
  kDeleteValue,
  kListSubkeys,
  kListValues,
};

class MemoryRegistryStore : public RegistryStore {
 public:
  MemoryRegistryStore();
  ~MemoryRegistryStore() override;

  // The next `times` calls of the operation answer `code` and change nothing (times < 0: all).
  void FailOperation(RegistryOperation operation, RegResult code, int times = 1);

  RegResult OpenKey(std::uint32_t root, std::string_view path) override;
  RegResult CreateKey(std::uint32_t root, std::string_view path) override;
  RegResult DeleteKey(std::uint32_t root, std::string_view path) override;
  RegResult QueryValue(std::uint32_t root, std::string_view path, std::string_view name,
                       RegistryData* data) override;
  RegResult SetValue(std::uint32_t root, std::string_view path, std::string_view name,
                     const RegistryData& data) override;
  RegResult DeleteValue(std::uint32_t root, std::string_view path, std::string_view name) override;
  RegResult ListSubkeys(std::uint32_t root, std::string_view path,
                        std::vector<std::string>* names) override;
  RegResult ListValues(std::uint32_t root, std::string_view path,
                       std::vector<std::string>* names) override;

 private:
  struct Node;
  struct Failure {
    RegResult code;
    int times;
  };

  bool Injected(RegistryOperation operation, RegResult* code);
  // Finds the key (nullptr when missing); *result tells a malformed path from a missing key.
  Node* Find(std::uint32_t root, std::string_view path, RegResult* result);
  Node* FindOrCreate(std::uint32_t root, std::string_view path, RegResult* result);

  std::map<std::uint32_t, std::unique_ptr<Node>> roots_;
  std::map<RegistryOperation, Failure> failures_;
};

}  // namespace platform
