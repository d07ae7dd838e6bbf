// What the console's two wizards look alike in: a welcome panel (also the result page) with a
// picture, title, text and hint; inner pages in a stack; Back, Next and Cancel below a rule.
// Each wizard binds these to its own form model.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

#include "gui/dialog_kit.h"

namespace gui {

class WizardFrame : public QDialog {
  Q_OBJECT

 public:
  WizardFrame(const QString& caption, int icon, QWidget* parent);

  QPushButton* back() const { return back_; }
  QPushButton* next() const { return next_; }
  QPushButton* cancel() const { return cancel_; }
  QStackedWidget* pages() const { return pages_; }

 protected:
  // The panel's texts; the hint is shown on the welcome page only.
  void SetWelcome(const QString& title, const QString& text, bool hint_visible);
  // Adds an inner page with its header band; returns the page's body to lay controls out in.
  QWidget* AddPage(QLabel* header, QLabel* subheader);
  // "Next >" or "Close": with a mnemonic, and the default button either way.
  void SetNextCaption(const QString& caption);

  Mnemonics mnemonics_;
  QWidget* welcome_ = nullptr;

 private:
  QStackedWidget* pages_ = nullptr;
  QLabel* welcome_title_ = nullptr;
  QLabel* welcome_text_ = nullptr;
  QLabel* welcome_hint_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace gui
