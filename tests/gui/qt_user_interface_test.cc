// The message boxes of the console window: the buttons, icon, title and default button asked
// for, and the answer of the button chosen, also when the box is closed without one.
#include "gui/qt_user_interface.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

// Runs `act` on the message box once it is shown.
void WhenBoxOpens(std::function<void(QMessageBox&)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    timer->stop();
    timer->deleteLater();
    act(*box);
  });
  timer->start(10);
}

TEST(QtUserInterfaceTest, BoxesShowWhatWasAskedAndReturnTheChosenButton) {
  struct Case {
    MessageButtons buttons;
    MessageIcon icon;
    int default_button;
    QMessageBox::StandardButton expected_default;
    QMessageBox::Icon expected_icon;
    // Clicks this button; NoButton closes the box with Escape instead, Close with reject().
    QMessageBox::StandardButton click;
    int expected_answer;
  };
  const std::vector<Case> cases = {
      {MessageButtons::kYesNo, MessageIcon::kQuestion, 1, QMessageBox::Yes, QMessageBox::Question,
       QMessageBox::Yes, platform::kAnswerYes},
      {MessageButtons::kYesNo, MessageIcon::kExclamation, 2, QMessageBox::No, QMessageBox::Warning,
       QMessageBox::No, platform::kAnswerNo},
      // Escape on a question whose default is Yes still answers No.
      {MessageButtons::kYesNo, MessageIcon::kNone, 1, QMessageBox::Yes, QMessageBox::NoIcon,
       QMessageBox::NoButton, platform::kAnswerNo},
      // Closed by the program (its owner going away) rather than by a button: No as well.
      {MessageButtons::kYesNo, MessageIcon::kQuestion, 1, QMessageBox::Yes, QMessageBox::Question,
       QMessageBox::Close, platform::kAnswerNo},
      {MessageButtons::kAbortRetryIgnore, MessageIcon::kCritical, 2, QMessageBox::Retry,
       QMessageBox::Critical, QMessageBox::Ignore, platform::kAnswerIgnore},
      {MessageButtons::kAbortRetryIgnore, MessageIcon::kCritical, 1, QMessageBox::Abort,
       QMessageBox::Critical, QMessageBox::NoButton, platform::kAnswerAbort},
      {MessageButtons::kYesNoCancel, MessageIcon::kQuestion, 1, QMessageBox::Yes,
       QMessageBox::Question, QMessageBox::NoButton, platform::kAnswerCancel},
      {MessageButtons::kOk, MessageIcon::kInformation, 1, QMessageBox::Ok, QMessageBox::Information,
       QMessageBox::NoButton, platform::kAnswerOk},
      {MessageButtons::kRetryCancel, MessageIcon::kNone, 1, QMessageBox::Retry, QMessageBox::NoIcon,
       QMessageBox::Retry, platform::kAnswerRetry},
  };
  gui::QtUserInterface ui;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& test = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    const std::string text = "Delete 'x'; [y]?\nZoë";
    WhenBoxOpens([&](QMessageBox& box) {
      EXPECT_EQ(box.text().toStdString(), text);
      EXPECT_EQ(box.windowTitle().toStdString(), "Tessera Server Manager");
      EXPECT_EQ(box.icon(), test.expected_icon);
      ASSERT_NE(box.defaultButton(), nullptr);
      EXPECT_EQ(box.standardButton(box.defaultButton()), test.expected_default);
      EXPECT_EQ(box.buttons().size(),
                static_cast<qsizetype>(platform::AnswersOf(test.buttons).size()));
      if (const char* folder = std::getenv("TESSERA_SCREENSHOTS");
          folder && *folder && test.buttons == MessageButtons::kAbortRetryIgnore) {
        box.grab().save(
            QString::fromStdString((std::filesystem::path(folder) / "message-box.png").string()));
      }
      if (test.click == QMessageBox::Close) {
        box.reject();
      } else if (test.click == QMessageBox::NoButton) {
        QTest::keyClick(&box, Qt::Key_Escape);
        // A box that Escape cannot close is closed as its window would be.
        if (box.isVisible()) box.reject();
      } else {
        box.button(test.click)->click();
      }
    });
    int answer = ui.ShowMessage(
        {text, "Tessera Server Manager", test.buttons, test.icon, test.default_button});
    EXPECT_EQ(answer, test.expected_answer);
  }
}

// The progress window of long runs: caption, the two lines and the bar; no Cancel, since none
// of the runs it shows can stop half-way. It closes with the run.
TEST(QtUserInterfaceTest, ProgressWindowShowsCaptionLinesAndBar) {
  QWidget owner;
  owner.resize(400, 300);
  owner.show();
  gui::QtUserInterface ui(&owner);
  {
    std::unique_ptr<platform::ProgressSink> progress = ui.OpenProgress();
    progress->SetCaption("Tessera Server Manager");
    progress->SetLine(0, "Upgrading the collection 'Zoë [1]'...");
    progress->SetLine(1, "Please wait...");
    progress->SetMaximum(40);
    progress->SetValue(10);
    auto* dialog = owner.findChild<QProgressDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Tessera Server Manager");
    EXPECT_EQ(dialog->labelText().toStdString(),
              "Upgrading the collection 'Zoë [1]'...\nPlease wait...");
    EXPECT_EQ(dialog->maximum(), 40);
    EXPECT_EQ(dialog->value(), 10);
    EXPECT_EQ(dialog->findChild<QPushButton*>(), nullptr);
    if (const char* folder = std::getenv("TESSERA_SCREENSHOTS"); folder && *folder) {
      EXPECT_TRUE(dialog->grab().save(
          QString::fromStdString((std::filesystem::path(folder) / "progress.png").string())));
    }
  }
  EXPECT_EQ(owner.findChild<QProgressDialog*>(), nullptr);
}

}  // namespace
