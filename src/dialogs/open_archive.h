// The logic of frmOpenArchive, "Open Network Collection": the database name and the data and log
// file fields, their checks, and the attach through the catalogue's Add.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "collections/database.h"
#include "collections/databases.h"
#include "dialogs/collection_rules.h"
#include "platform/user_interface.h"

namespace dialogs {

inline constexpr int kMessageOpenCaption = 160;
inline constexpr int kMessageOpenFailed = 157;

class frmOpenArchive {
 public:
  explicit frmOpenArchive(platform::UserInterface& ui) : ui_(ui) {}

  // The server's catalogue; set before the dialog is shown. It must outlive the dialog.
  void SetDatabases(collections::Databases& databases) { databases_ = &databases; }

  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(std::string_view text) { database_name_ = text; }
  const std::string& MDFFilename() const { return mdf_filename_; }
  void SetMDFFilename(std::string_view text) { mdf_filename_ = text; }
  const std::string& LDFFilename() const { return ldf_filename_; }
  void SetLDFFilename(std::string_view text) { ldf_filename_ = text; }

  // The file browsers' results: the field becomes the browsed path, emptied when cancelled.
  void ApplyBrowsedDataFile(std::string_view last_browsed_path) {
    mdf_filename_ = last_browsed_path;
  }
  void ApplyBrowsedLogFile(std::string_view last_browsed_path) {
    ldf_filename_ = last_browsed_path;
  }

  // The first refusal of the fields (151, 152, 153), or nothing.
  std::optional<Refusal> Validate() const;

  // OK: shows the first refusal and stays open; refuses a data file an opened collection uses
  // (156); otherwise attaches through the catalogue's Add. An attach error shows 157 + CR +
  // description (critical icon) and stays open. True when the dialog closes.
  bool cmdOK_Click();

  // The attached collection after OK; nullptr before, or when it could not be connected.
  const std::shared_ptr<collections::Database>& Attached() const { return attached_; }

  static std::string Caption();  // 160
  // What the data and log file buttons show the browser: captions 307 and 308, prompt 158.
  static std::string DataFileBrowseCaption();
  static std::string LogFileBrowseCaption();
  std::string BrowsePrompt() const;

 private:
  void Show(const Refusal& refusal);

  platform::UserInterface& ui_;
  collections::Databases* databases_ = nullptr;
  std::string database_name_;
  std::string mdf_filename_;
  std::string ldf_filename_;
  std::shared_ptr<collections::Database> attached_;
};

}  // namespace dialogs
