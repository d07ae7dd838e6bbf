#include "dialogs/open_archive.h"

#include <exception>

#include "common/error.h"
#include "common/messages.h"
#include "servers/server.h"

namespace dialogs {

namespace {

constexpr int kMessageDataFileCaption = 307;
constexpr int kMessageLogFileCaption = 308;
constexpr int kMessageSelectDatabaseFile = 158;

}  // namespace

std::string frmOpenArchive::Caption() { return common::LoadMessage(kMessageOpenCaption); }

std::string frmOpenArchive::DataFileBrowseCaption() {
  return common::LoadMessage(kMessageDataFileCaption);
}

std::string frmOpenArchive::LogFileBrowseCaption() {
  return common::LoadMessage(kMessageLogFileCaption);
}

std::string frmOpenArchive::BrowsePrompt() const {
  std::string server_name;
  if (databases_ && databases_->Server()) server_name = databases_->Server()->Name();
  return common::FormatMessage(kMessageSelectDatabaseFile, {server_name});
}

std::optional<Refusal> frmOpenArchive::Validate() const {
  if (std::optional<Refusal> refusal = CheckAttachName(database_name_)) return refusal;
  return CheckAttachDataFile(mdf_filename_);
}

void frmOpenArchive::Show(const Refusal& refusal) {
  platform::MessageRequest request;
  request.text = refusal.text;
  request.title = refusal.title.empty() ? std::string(servers::kMessageTitle) : refusal.title;
  request.icon = refusal.icon;
  ui_.ShowMessage(request);
}

bool frmOpenArchive::cmdOK_Click() {
  if (std::optional<Refusal> refusal = Validate()) {
    Show(*refusal);
    return false;
  }
  if (!databases_) return false;
  ui_.ProcessPendingEvents();
  if (std::optional<Refusal> refusal =
          CheckDataFileNotOpened(mdf_filename_, OpenedDataFiles(*databases_))) {
    Show(*refusal);
    return false;
  }
  try {
    attached_ = databases_->Add(database_name_, mdf_filename_, ldf_filename_);
  } catch (const std::exception& error) {
    const auto* product = dynamic_cast<const common::Error*>(&error);
    Show(Refusal{kMessageOpenFailed, servers::kMessageTitle,
                 common::LoadMessage(kMessageOpenFailed) + '\r' +
                     (product ? product->description() : std::string(error.what())),
                 platform::MessageIcon::kCritical});
    return false;
  }
  return true;
}

}  // namespace dialogs
