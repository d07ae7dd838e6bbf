// The product's user-interface services on Qt Widgets: modal message boxes owned by the console
// window, the busy pointer, pending events and the progress window.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/user_interface.h"

namespace gui {

class QtUserInterface : public platform::UserInterface {
 public:
  // Boxes and progress windows are owned by `owner` (may be null until the window exists).
  explicit QtUserInterface(QWidget* owner = nullptr) : owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }

  int ShowMessage(const platform::MessageRequest& request) override;
  void BeginBusy() override;
  void EndBusy() override;
  void ProcessPendingEvents() override;
  std::unique_ptr<platform::ProgressSink> OpenProgress() override;
  // The account picker lists the accounts of one server's machine, which only the login dialogs
  // know: they offer it through their own PickerUserInterface, and here it answers "cancelled".
  // The data-link prompt has no window yet and answers "cancelled" too; every caller handles
  // that as the user backing out.
  std::string PickAccounts(std::string_view title, int flags) override;
  std::optional<std::string> PromptDataLink() override;

 private:
  QPointer<QWidget> owner_;
};

}  // namespace gui
