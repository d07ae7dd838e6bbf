// A collection on the sandbox with documents put in by hand, for the plain-text generation and
// the document export; the system's temporary folder is a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "collections/sandbox_fixture.h"
#include "common/value.h"

namespace collections::testing {

struct NewDocument {
  int type = 100;
  std::string file_name = "page.htm";
  std::string content;
  int code_page = 1252;
  std::string url = "http://www.example.com/page.htm";
  std::optional<common::Bytes> bytes = std::nullopt;  // a binary document (BinaryData 1) when set
};

class PlainTextFixture : public SandboxFixture {
 protected:
  void SetUp() override {
    // The export's folder rules are about the real disk: links, owners and modes.
    if (real_disk_) platform_.file_system = &local_files_;
    SandboxFixture::SetUp();
    temp_ = root_ / "temp";
    std::filesystem::create_directories(temp_);
    platform_.system.temp_folder = temp_.string() + "/";
    platform_.system.ansi_code_page = 1252;
    collection_ = Created("Texts", "C:\\Data\\texts.mdf");
    ASSERT_NE(collection_, nullptr);
  }

  void TearDown() override {
    collection_.reset();
    SandboxFixture::TearDown();
  }

  static std::string Hex(const common::Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (std::uint8_t b : bytes) {
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    }
    return bytes.empty() ? "NULL" : out;
  }

  // Adds a document and returns its EntryID.
  std::int32_t Add(const NewDocument& d) {
    db::Connection c = collection_->Connection();
    std::string columns =
        "FolderID, Url, TypeID, CodePage, FileSize, Title, Filename, CreationTime, "
        "FileModifiedDate, BinaryData, Content, BinaryContent";
    std::string values = "1, N" + Quoted(d.url) + ", " + std::to_string(d.type) + ", " +
                         std::to_string(d.code_page) + ", " +
                         std::to_string(d.bytes ? d.bytes->size() : d.content.size()) + ", N" +
                         Quoted(d.file_name) + ", N" + Quoted(d.file_name) +
                         ", '2003-02-01 10:00:00', '2003-02-01 10:00:00', " +
                         (d.bytes ? "1, N''" : "0, N" + Quoted(d.content)) + ", " +
                         (d.bytes ? Hex(*d.bytes) : std::string("NULL"));
    c.Execute("INSERT INTO Document (" + columns + ") VALUES (" + values + ")");
    return static_cast<std::int32_t>(
        Scalar(c, "SELECT MAX(EntryID) FROM Document").ToInt().value());
  }

  void Link(std::int32_t parent, std::int32_t child) {
    collection_->Connection().Execute(
        "INSERT INTO SubDocument (ParentEntryID, ChildEntryID) VALUES (" + std::to_string(parent) +
        ", " + std::to_string(child) + ")");
  }

  db::Value Column(std::int32_t entry, const std::string& column) {
    return Scalar(collection_->Connection(),
                  "SELECT " + column + " FROM Document WHERE EntryID = " + std::to_string(entry));
  }

  // The stored bytes of a document; empty for NULL.
  common::Bytes StoredBytes(std::int32_t entry) {
    db::Value value = Column(entry, "BinaryContent");
    return value.AsBytes() ? *value.AsBytes() : common::Bytes{};
  }

  std::filesystem::path CacheFolder() const { return temp_ / "isCache"; }

  std::filesystem::path temp_;
  platform::LocalFileSystem local_files_;
  bool real_disk_ = true;  // false: the platform's fake file system, failures on demand
  std::shared_ptr<Database> collection_;
};

}  // namespace collections::testing
