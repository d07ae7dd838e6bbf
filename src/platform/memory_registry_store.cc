#include "platform/memory_registry_store.h"

#include <algorithm>

#include "platform/registry_path.h"

namespace platform {

struct MemoryRegistryStore::Node {
  std::string name;
  std::vector<std::unique_ptr<Node>> children;               // creation order
  std::vector<std::pair<std::string, RegistryData>> values;  // creation order

  Node* Child(std::string_view child_name) {
    std::string folded = FoldName(child_name);
    for (auto& child : children) {
      if (FoldName(child->name) == folded) return child.get();
    }
    return nullptr;
  }
  std::pair<std::string, RegistryData>* Value(std::string_view value_name) {
    std::string folded = FoldName(value_name);
    for (auto& value : values) {
      if (FoldName(value.first) == folded) return &value;
    }
    return nullptr;
  }
};

MemoryRegistryStore::MemoryRegistryStore() = default;
MemoryRegistryStore::~MemoryRegistryStore() = default;

void MemoryRegistryStore::FailOperation(RegistryOperation operation, RegResult code, int times) {
  failures_[operation] = Failure{code, times};
}

bool MemoryRegistryStore::Injected(RegistryOperation operation, RegResult* code) {
  auto it = failures_.find(operation);
  if (it == failures_.end()) return false;
  *code = it->second.code;
  if (it->second.times > 0 && --it->second.times == 0) failures_.erase(it);
  return true;
}

MemoryRegistryStore::Node* MemoryRegistryStore::Find(std::uint32_t root, std::string_view path,
                                                     RegResult* result) {
  std::vector<std::string> parts;
  if ((*result = CheckRoot(root)) != kErrorSuccess) return nullptr;
  if ((*result = SplitKeyPath(path, &parts)) != kErrorSuccess) return nullptr;
  auto& root_node = roots_[root];
  if (!root_node) root_node = std::make_unique<Node>();
  Node* node = root_node.get();
  for (const auto& part : parts) {
    node = node->Child(part);
    if (node == nullptr) {
      *result = kErrorFileNotFound;
      return nullptr;
    }
  }
  return node;
}

MemoryRegistryStore::Node* MemoryRegistryStore::FindOrCreate(std::uint32_t root,
                                                             std::string_view path,
                                                             RegResult* result) {
  std::vector<std::string> parts;
  if ((*result = CheckRoot(root)) != kErrorSuccess) return nullptr;
  if ((*result = SplitKeyPath(path, &parts)) != kErrorSuccess) return nullptr;
  auto& root_node = roots_[root];
  if (!root_node) root_node = std::make_unique<Node>();
  Node* node = root_node.get();
  for (const auto& part : parts) {
    Node* child = node->Child(part);
    if (child == nullptr) {
      node->children.push_back(std::make_unique<Node>());
      child = node->children.back().get();
      child->name = part;
    }
    node = child;
  }
  return node;
}

RegResult MemoryRegistryStore::OpenKey(std::uint32_t root, std::string_view path) {
  RegResult result;
  if (Injected(RegistryOperation::kOpenKey, &result)) return result;
  Find(root, path, &result);
  return result;
}

RegResult MemoryRegistryStore::CreateKey(std::uint32_t root, std::string_view path) {
  RegResult result;
  if (Injected(RegistryOperation::kCreateKey, &result)) return result;
  FindOrCreate(root, path, &result);
  return result;
}

RegResult MemoryRegistryStore::DeleteKey(std::uint32_t root, std::string_view path) {
  RegResult result;
  if (Injected(RegistryOperation::kDeleteKey, &result)) return result;
  std::vector<std::string> parts;
  Node* node = Find(root, path, &result);
  if (node == nullptr) return result;
  SplitKeyPath(path, &parts);
  if (parts.empty() || !node->children.empty()) return kErrorAccessDenied;
  std::string leaf = parts.back();
  parts.pop_back();
  std::string parent_path;
  for (const auto& part : parts) parent_path += part + "\\";
  Node* parent = Find(root, parent_path, &result);
  auto& siblings = parent->children;
  siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                              [node](const auto& child) { return child.get() == node; }));
  return kErrorSuccess;
}

RegResult MemoryRegistryStore::QueryValue(std::uint32_t root, std::string_view path,
                                          std::string_view name, RegistryData* data) {
  RegResult result;
  if (Injected(RegistryOperation::kQueryValue, &result)) return result;
  if ((result = CheckValueName(name)) != kErrorSuccess) return result;
  Node* node = Find(root, path, &result);
  if (node == nullptr) return result;
  auto* value = node->Value(name);
  if (value == nullptr) return kErrorFileNotFound;
  *data = value->second;
  return kErrorSuccess;
}

RegResult MemoryRegistryStore::SetValue(std::uint32_t root, std::string_view path,
                                        std::string_view name, const RegistryData& data) {
  RegResult result;
  if (Injected(RegistryOperation::kSetValue, &result)) return result;
  if ((result = CheckValueName(name)) != kErrorSuccess) return result;
  if ((result = CheckValueData(data)) != kErrorSuccess) return result;
  Node* node = FindOrCreate(root, path, &result);
  if (node == nullptr) return result;
  if (auto* value = node->Value(name)) {
    value->second = data;
  } else {
    node->values.emplace_back(std::string(name), data);
  }
  return kErrorSuccess;
}

RegResult MemoryRegistryStore::DeleteValue(std::uint32_t root, std::string_view path,
                                           std::string_view name) {
  RegResult result;
  if (Injected(RegistryOperation::kDeleteValue, &result)) return result;
  if ((result = CheckValueName(name)) != kErrorSuccess) return result;
  Node* node = Find(root, path, &result);
  if (node == nullptr) return result;
  auto* value = node->Value(name);
  if (value == nullptr) return kErrorFileNotFound;
  node->values.erase(node->values.begin() + (value - node->values.data()));
  return kErrorSuccess;
}

RegResult MemoryRegistryStore::ListSubkeys(std::uint32_t root, std::string_view path,
                                           std::vector<std::string>* names) {
  names->clear();
  RegResult result;
  if (Injected(RegistryOperation::kListSubkeys, &result)) return result;
  Node* node = Find(root, path, &result);
  if (node == nullptr) return result;
  for (const auto& child : node->children) names->push_back(child->name);
  return kErrorSuccess;
}

RegResult MemoryRegistryStore::ListValues(std::uint32_t root, std::string_view path,
                                          std::vector<std::string>* names) {
  names->clear();
  RegResult result;
  if (Injected(RegistryOperation::kListValues, &result)) return result;
  Node* node = Find(root, path, &result);
  if (node == nullptr) return result;
  for (const auto& value : node->values) names->push_back(value.first);
  return kErrorSuccess;
}

}  // namespace platform
