// The logic of frmNewArchiveWizard, the "Create New Network Collection Wizard": pages, their
// texts and buttons, the checks of the name and data file pages, and the creation through the
// catalogue's AddNew. The desktop wizard binds its panels and controls to this state.
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

// The wizard's pages.
inline constexpr int kPageWelcome = 1;
inline constexpr int kPageName = 2;
inline constexpr int kPageFile = 3;
inline constexpr int kPageResult = 4;

class frmNewArchiveWizard {
 public:
  // `file_exists` answers for the path rule (common::FileExists when empty).
  explicit frmNewArchiveWizard(platform::UserInterface& ui, FileExistsFunction file_exists = {});

  // The server's catalogue; set before the wizard is shown. It must outlive the wizard.
  void SetDatabases(collections::Databases& databases) { databases_ = &databases; }

  // Next: page 1 to 2; page 2 checks the name, page 3 completes and checks the path and creates
  // the collection; page 4 closes. A refused input leaves the page and shows Balloon().
  void cmdWeiter_Click();
  // Back: 2 to 1, 3 to 2, 4 to 3.
  void cmdZur_ck_Click();
  // Cancel: closes the wizard unless a balloon is shown (then nothing happens). True when closed.
  bool cmdAbbrechen_Click();
  // The remote folder browser's result for Browse on page 3: a non-empty folder (ending in a
  // backslash) makes the path field folder + collection name + ".mdf"; an empty one (cancelled)
  // leaves it unchanged.
  void ApplyBrowsedFolder(std::string_view folder);
  // Takes the balloon away (a key or mouse button was pressed).
  void RemoveBalloon() { balloon_.reset(); }

  // Fields.
  const std::string& ArchiveName() const { return archive_name_text_; }
  void SetArchiveName(std::string_view text) { archive_name_text_ = text; }
  const std::string& ArchivePath() const { return archive_path_text_; }
  void SetArchivePath(std::string_view text) { archive_path_text_ = text; }
  // The trimmed name taken on leaving page 2, and the completed path taken on page 3.
  const std::string& CollectionName() const { return collection_name_; }
  const std::string& DataFilePath() const { return data_file_path_; }

  // State for the view.
  int CurrentPage() const { return page_; }
  bool BackEnabled() const { return back_enabled_; }
  bool NextEnabled() const { return next_enabled_; }
  bool CancelEnabled() const { return cancel_enabled_; }
  // "Next >", or "Close" on the result page.
  std::string NextCaption() const;
  bool Closed() const { return closed_; }
  // The refusal shown at the name or path field, if any.
  const std::optional<Refusal>& Balloon() const { return balloon_; }
  // The new collection after a successful creation.
  const std::shared_ptr<collections::Database>& Created() const { return created_; }

  // Texts of the pages ("[*]" filled with the server's name, or for 135 the collection name).
  static std::string Caption();         // 138
  std::string FileHeader() const;       // 148 (132 while creating)
  std::string FileExplanation() const;  // 128 (133 while creating)
  std::string PathLabel() const;        // 129
  std::string ResultText() const;
  // The welcome panel: 304 and 142 with the hint 143 on page 1; 134 and 135 without the hint on
  // the result page.
  std::string WelcomeTitle() const;
  std::string WelcomeText() const;
  bool WelcomeHintVisible() const { return page_ != kPageResult; }
  // Page 3's explanation, path label, path field and Browse are hidden while creating.
  bool PathControlsVisible() const { return !creating_; }  // 135
  // What Browse shows: caption 95 and prompt 123.
  static std::string BrowseCaption();
  std::string BrowsePrompt() const;

 private:
  void LeaveNamePage();
  void LeaveFilePage();
  void Create();
  void ShowBalloon(Refusal refusal) { balloon_ = std::move(refusal); }
  std::string ServerName() const;

  platform::UserInterface& ui_;
  FileExistsFunction file_exists_;
  collections::Databases* databases_ = nullptr;
  int page_ = kPageWelcome;
  bool back_enabled_ = false;
  bool next_enabled_ = true;
  bool cancel_enabled_ = true;
  bool creating_ = false;
  bool closed_ = false;
  std::string archive_name_text_;
  std::string archive_path_text_;
  std::string collection_name_;
  std::string data_file_path_;
  std::optional<Refusal> balloon_;
  std::shared_ptr<collections::Database> created_;
};

}  // namespace dialogs
