#include "dialogs/new_archive_wizard.h"

#include <exception>

#include "common/error.h"
#include "common/messages.h"
#include "common/system.h"
#include "servers/server.h"

namespace dialogs {

namespace {

constexpr int kMessageCaption = 138;
constexpr int kMessageNext = 140;
constexpr int kMessageClose = 136;
constexpr int kMessageWelcomeTitle = 304;
constexpr int kMessageWelcomeText = 142;
constexpr int kMessageSuccessTitle = 134;
constexpr int kMessageSuccessText = 135;
constexpr int kMessageFileHeader = 148;
constexpr int kMessageFileExplanation = 128;
constexpr int kMessagePathLabel = 129;
constexpr int kMessageCreatingHeader = 132;
constexpr int kMessageCreatingText = 133;
constexpr int kMessageSelectFolder = 95;
constexpr int kMessageChooseFolder = 123;

}  // namespace

frmNewArchiveWizard::frmNewArchiveWizard(platform::UserInterface& ui,
                                         FileExistsFunction file_exists)
    : ui_(ui), file_exists_(std::move(file_exists)) {
  if (!file_exists_) file_exists_ = [](std::string_view path) { return common::FileExists(path); };
}

std::string frmNewArchiveWizard::Caption() { return common::LoadMessage(kMessageCaption); }

std::string frmNewArchiveWizard::NextCaption() const {
  return common::LoadMessage(page_ == kPageResult ? kMessageClose : kMessageNext);
}

std::string frmNewArchiveWizard::ServerName() const {
  if (!databases_ || !databases_->Server()) return std::string();
  return databases_->Server()->Name();
}

std::string frmNewArchiveWizard::FileHeader() const {
  return common::LoadMessage(creating_ ? kMessageCreatingHeader : kMessageFileHeader);
}

std::string frmNewArchiveWizard::FileExplanation() const {
  if (creating_) return common::LoadMessage(kMessageCreatingText);
  return common::FormatMessage(kMessageFileExplanation, {ServerName()});
}

std::string frmNewArchiveWizard::PathLabel() const {
  return common::FormatMessage(kMessagePathLabel, {ServerName()});
}

std::string frmNewArchiveWizard::ResultText() const {
  return common::FormatMessage(kMessageSuccessText, {collection_name_});
}

std::string frmNewArchiveWizard::WelcomeTitle() const {
  return common::LoadMessage(page_ == kPageResult ? kMessageSuccessTitle : kMessageWelcomeTitle);
}

std::string frmNewArchiveWizard::WelcomeText() const {
  return page_ == kPageResult ? ResultText() : common::LoadMessage(kMessageWelcomeText);
}

std::string frmNewArchiveWizard::BrowseCaption() {
  return common::LoadMessage(kMessageSelectFolder);
}

std::string frmNewArchiveWizard::BrowsePrompt() const {
  return common::FormatMessage(kMessageChooseFolder, {ServerName()});
}

void frmNewArchiveWizard::cmdWeiter_Click() {
  if (!next_enabled_ || closed_) return;
  // Pressing a button takes a balloon away before the click arrives.
  balloon_.reset();
  switch (page_) {
    case kPageWelcome:
      back_enabled_ = true;
      page_ = kPageName;
      break;
    case kPageName:
      LeaveNamePage();
      break;
    case kPageFile:
      LeaveFilePage();
      break;
    case kPageResult:
      closed_ = true;
      break;
  }
}

void frmNewArchiveWizard::LeaveNamePage() {
  std::string name = TrimBlanks(archive_name_text_);
  std::optional<Refusal> refusal =
      databases_ ? CheckCollectionName(name, *databases_) : CheckCollectionName(name, 0, {});
  if (refusal) {
    ShowBalloon(std::move(*refusal));
    return;
  }
  collection_name_ = std::move(name);
  page_ = kPageFile;
}

void frmNewArchiveWizard::LeaveFilePage() {
  std::string trimmed = TrimBlanks(archive_path_text_);
  std::string completed = CompleteDataFilePath(trimmed);
  if (completed != trimmed) archive_path_text_ = completed;
  if (std::optional<Refusal> refusal = CheckDataFilePath(completed, file_exists_)) {
    ShowBalloon(std::move(*refusal));
    return;
  }
  data_file_path_ = std::move(completed);
  Create();
}

void frmNewArchiveWizard::Create() {
  if (!databases_) return;
  platform::BusyCursor busy(ui_);
  creating_ = true;
  back_enabled_ = false;
  next_enabled_ = false;
  cancel_enabled_ = false;
  ui_.ProcessPendingEvents();
  try {
    created_ = databases_->AddNew(collection_name_, data_file_path_);
  } catch (const std::exception& error) {
    // AddNew reports its own failures; anything that still escapes it is reported here so the
    // administrator can correct the input and try again.
    const auto* product = dynamic_cast<const common::Error*>(&error);
    platform::MessageRequest request;
    request.text = common::LoadMessage(collections::kMessageCreationFailed) + '\r' +
                   (product ? product->description() : std::string(error.what()));
    request.title = servers::kMessageTitle;
    request.icon = platform::MessageIcon::kInformation;
    ui_.ShowMessage(request);
    created_.reset();
  }
  creating_ = false;
  next_enabled_ = true;
  if (created_) {
    page_ = kPageResult;
    return;
  }
  back_enabled_ = true;
  cancel_enabled_ = true;
}

void frmNewArchiveWizard::cmdZur_ck_Click() {
  if (!back_enabled_ || closed_) return;
  balloon_.reset();
  switch (page_) {
    case kPageName:
      page_ = kPageWelcome;
      back_enabled_ = false;
      break;
    case kPageFile:
      page_ = kPageName;
      break;
    case kPageResult:
      page_ = kPageFile;
      break;
  }
}

bool frmNewArchiveWizard::cmdAbbrechen_Click() {
  if (!cancel_enabled_ || balloon_) return false;
  closed_ = true;
  return true;
}

void frmNewArchiveWizard::ApplyBrowsedFolder(std::string_view folder) {
  if (folder.empty()) return;
  archive_path_text_ = std::string(folder) + collection_name_ + ".mdf";
}

}  // namespace dialogs
