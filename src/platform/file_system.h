// The few file operations domain code needs, so it can be tested without a disk and never
// touches files behind the platform's back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates the folder when it is missing; true only when it then is a real folder (not a link)
  // of this user that nobody else can write into, so nothing planted in a shared temporary
  // folder is followed or deleted.
  virtual bool MakePrivateFolder(const std::string& path) = 0;
  // Creates a folder; false when it exists already or cannot be made.
  virtual bool CreateFolder(const std::string& path) = 0;
  // Removes a file, or a folder with everything in it; missing paths and failures are ignored.
  virtual void Remove(const std::string& path) = 0;
  virtual void RemoveAll(const std::string& path) = 0;
  // The whole file; nothing when it cannot be read.
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  // Creates or replaces the file with exactly `bytes`; false when not all of them were written.
  virtual bool WriteFile(const std::string& path, std::string_view bytes) = 0;
};

// The local disk.
class LocalFileSystem : public FileSystem {
 public:
  bool MakePrivateFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  void Remove(const std::string& path) override;
  void RemoveAll(const std::string& path) override;
  std::optional<std::string> ReadFile(const std::string& path) override;
  bool WriteFile(const std::string& path, std::string_view bytes) override;
};

}  // namespace platform
