// What every dialog view shares: message texts as Qt strings, labels bound to their controls with
// a mnemonic and the control's accessible name, the look of a control state, the wizards' pages
// and button row, and a user interface that forwards to the window's own.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "platform/user_interface.h"
#include "security/statements.h"

namespace gui {

QString Text(const std::string& text);
QString Message(int number);

// Hands out mnemonics within one dialog: each text gets the first letter no earlier text took.
class Mnemonics {
 public:
  // Reserves the letters of mnemonics set elsewhere ("&Next >").
  void Reserve(QChar letter) { used_.insert(letter.toLower()); }
  QString operator()(const QString& text);

 private:
  QSet<QChar> used_;
};

// The text without its mnemonic marker and trailing colon: what a screen reader says.
QString AccessibleText(const QString& text);

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

// A label for `buddy` with a mnemonic that focuses it; the control takes the label's words as
// its accessible name.
QLabel* BuddyLabel(Mnemonics& mnemonics, const QString& text, QWidget* buddy);
// A label of plain explanatory text that wraps.
QLabel* Explanation(const QString& text);
// A bold page or panel header.
QLabel* Heading(const QString& text, int point_delta = 0);
// A button with a mnemonic; its accessible name is its words.
QPushButton* Button(Mnemonics& mnemonics, const QString& text, const char* name);

// Enabled and visible as the state says.
void Bind(QWidget* widget, const security::ControlState& state);
// A text field as the state says: text, read-only, border and background too.
void BindLine(QLineEdit* line, const security::ControlState& state);

// The header band of a wizard's inner pages: header and subheader on the window background.
QWidget* WizardHeader(QLabel* header, QLabel* subheader);

// A user interface that forwards to another one; a dialog overrides what it shows itself.
class ForwardingUserInterface : public platform::UserInterface {
 public:
  explicit ForwardingUserInterface(platform::UserInterface& base) : base_(base) {}
  int ShowMessage(const platform::MessageRequest& request) override {
    return base_.ShowMessage(request);
  }
  void BeginBusy() override { base_.BeginBusy(); }
  void EndBusy() override { base_.EndBusy(); }
  void ProcessPendingEvents() override { base_.ProcessPendingEvents(); }
  std::unique_ptr<platform::ProgressSink> OpenProgress() override { return base_.OpenProgress(); }
  std::string PickAccounts(std::string_view title, int flags) override {
    return base_.PickAccounts(title, flags);
  }
  std::optional<std::string> PromptDataLink() override { return base_.PromptDataLink(); }

 protected:
  platform::UserInterface& base_;
};

// Lets a view redraw from its form model before the model lets pending events run, so a look the
// model switches to in the middle of a long step (a wizard's working page) is painted.
class RepaintingUserInterface : public ForwardingUserInterface {
 public:
  RepaintingUserInterface(platform::UserInterface& base, std::function<void()> before_events)
      : ForwardingUserInterface(base), before_events_(std::move(before_events)) {}
  void ProcessPendingEvents() override {
    if (before_events_) before_events_();
    base_.ProcessPendingEvents();
  }

 private:
  std::function<void()> before_events_;
};

}  // namespace gui
