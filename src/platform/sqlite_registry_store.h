// The per-user registry store in one SQLite file. Every change is one transaction; a busy
// time-out lets several processes of the same user write at once (the last writer wins), and
// Transact makes a read and the writes that depend on it one transaction.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/registry_store.h"

struct sqlite3;

namespace platform {

class SqliteRegistryStore : public RegistryStore {
 public:
  // Opens the file, creating it (mode 0600) and its missing folders (mode 0700) when needed.
  // Throws common::Error (number 1016) when the file cannot be opened or is not a registry store.
  static std::unique_ptr<SqliteRegistryStore> Open(const std::filesystem::path& path);
  ~SqliteRegistryStore() override;

  SqliteRegistryStore(const SqliteRegistryStore&) = delete;
  SqliteRegistryStore& operator=(const SqliteRegistryStore&) = delete;

  const std::filesystem::path& path() const { return path_; }

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
  RegResult Transact(const std::function<RegResult()>& body) override;

 private:
  class Transaction;

  SqliteRegistryStore(sqlite3* db, std::filesystem::path path);
  // Looks the key up inside an open transaction: *id is its row id (a negative number stands for
  // the root itself). kErrorFileNotFound when a component is missing.
  RegResult FindKey(std::uint32_t root, const std::vector<std::string>& parts, std::int64_t* id);
  RegResult FindOrCreateKey(std::uint32_t root, const std::vector<std::string>& parts,
                            std::int64_t* id);
  RegResult ListNames(std::uint32_t root, std::string_view path, const char* sql,
                      std::vector<std::string>* names);

  sqlite3* db_;
  std::filesystem::path path_;
};

}  // namespace platform
