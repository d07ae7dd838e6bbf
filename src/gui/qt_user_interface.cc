#include "gui/qt_user_interface.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace gui {

namespace {

QMessageBox::StandardButton ButtonOf(int answer) {
  switch (answer) {
    case platform::kAnswerOk:
      return QMessageBox::Ok;
    case platform::kAnswerCancel:
      return QMessageBox::Cancel;
    case platform::kAnswerAbort:
      return QMessageBox::Abort;
    case platform::kAnswerRetry:
      return QMessageBox::Retry;
    case platform::kAnswerIgnore:
      return QMessageBox::Ignore;
    case platform::kAnswerYes:
      return QMessageBox::Yes;
    case platform::kAnswerNo:
      return QMessageBox::No;
  }
  return QMessageBox::NoButton;
}

QMessageBox::Icon IconOf(platform::MessageIcon icon) {
  switch (icon) {
    case platform::MessageIcon::kCritical:
      return QMessageBox::Critical;
    case platform::MessageIcon::kQuestion:
      return QMessageBox::Question;
    case platform::MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case platform::MessageIcon::kInformation:
      return QMessageBox::Information;
    case platform::MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

class ProgressWindow : public platform::ProgressSink {
 public:
  explicit ProgressWindow(QWidget* owner) : dialog_(owner) {
    dialog_.setWindowModality(Qt::WindowModal);
    // The runs that may be cancelled say so through their own questions; the window offers none.
    dialog_.setCancelButton(nullptr);
    dialog_.setMinimumDuration(0);
    dialog_.setAutoClose(false);
    dialog_.setAutoReset(false);
    // Room for a collection's name on the first line without a cramped window.
    dialog_.setMinimumWidth(420);
    dialog_.show();
  }
  void SetCaption(std::string_view caption) override {
    dialog_.setWindowTitle(
        QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  }
  void SetLine(int line, std::string_view text) override {
    lines_[line == 0 ? 0 : 1] = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    dialog_.setLabelText(lines_[0] + "\n" + lines_[1]);
    QCoreApplication::processEvents();
  }
  void SetMaximum(int maximum) override { dialog_.setMaximum(maximum); }
  void SetValue(int value) override {
    dialog_.setValue(value);
    QCoreApplication::processEvents();
  }

 private:
  QProgressDialog dialog_;
  QString lines_[2];
};

}  // namespace

int QtUserInterface::ShowMessage(const platform::MessageRequest& request) {
  QMessageBox box(IconOf(request.icon), QString::fromStdString(request.title),
                  QString::fromStdString(request.text), QMessageBox::NoButton, owner_);
  std::vector<int> answers = platform::AnswersOf(request.buttons);
  for (int answer : answers) box.addButton(ButtonOf(answer));
  box.setDefaultButton(ButtonOf(platform::DefaultAnswer(request)));
  // Closing the box with Escape or the title bar counts as Cancel where there is one, else as the
  // only button of an OK box; a question without Cancel cannot be closed that way.
  for (int answer : answers) {
    if (answer == platform::kAnswerCancel || answers.size() == 1) {
      box.setEscapeButton(ButtonOf(answer));
    }
  }
  box.exec();
  if (QAbstractButton* clicked = box.clickedButton()) {
    auto button = box.standardButton(clicked);
    for (int answer : answers) {
      if (ButtonOf(answer) == button) return answer;
    }
  }
  // Closed without a button: the answer that changes nothing, never a default Yes.
  for (int safe : {platform::kAnswerCancel, platform::kAnswerNo, platform::kAnswerAbort}) {
    for (int answer : answers) {
      if (answer == safe) return answer;
    }
  }
  return answers.front();
}

void QtUserInterface::BeginBusy() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtUserInterface::EndBusy() { QApplication::restoreOverrideCursor(); }

void QtUserInterface::ProcessPendingEvents() { QCoreApplication::processEvents(); }

std::unique_ptr<platform::ProgressSink> QtUserInterface::OpenProgress() {
  return std::make_unique<ProgressWindow>(owner_);
}

std::string QtUserInterface::PickAccounts(std::string_view, int) { return {}; }

std::optional<std::string> QtUserInterface::PromptDataLink() { return std::nullopt; }

}  // namespace gui
