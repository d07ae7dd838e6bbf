#include "gui/wizard_frame.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/icons.h"

namespace gui {

WizardFrame::WizardFrame(const QString& caption, int icon, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  setModal(true);
  // The buttons' letters come first, so no label takes them.
  for (QChar letter : {QChar('b'), QChar('n'), QChar('c')}) mnemonics_.Reserve(letter);

  welcome_ = new QWidget;
  welcome_->setObjectName("welcome");
  welcome_->setAutoFillBackground(true);
  welcome_->setBackgroundRole(QPalette::Base);
  auto* picture = new QLabel;
  picture->setPixmap(ConsoleIcon(icon).pixmap(64, 64));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  picture->setFixedWidth(110);
  welcome_title_ = Named(Heading(QString(), 4), "welcomeTitle");
  welcome_text_ = Named(Explanation(QString()), "welcomeText");
  welcome_hint_ = Named(Explanation(Message(143)), "welcomeHint");
  auto* texts = new QVBoxLayout;
  texts->addWidget(welcome_title_);
  texts->addSpacing(12);
  texts->addWidget(welcome_text_);
  texts->addStretch();
  texts->addWidget(welcome_hint_);
  auto* welcome_layout = new QHBoxLayout(welcome_);
  welcome_layout->setContentsMargins(12, 24, 24, 16);
  welcome_layout->addWidget(picture);
  welcome_layout->addLayout(texts, 1);

  pages_ = new QStackedWidget;
  pages_->addWidget(welcome_);

  back_ = Named(new QPushButton("< &" + Message(141).mid(2)), "cmdZur_ck");
  back_->setAccessibleName(AccessibleText(Message(141)));
  next_ = Named(new QPushButton, "cmdWeiter");
  cancel_ = Named(new QPushButton(Message(91)), "cmdAbbrechen");
  cancel_->setAccessibleName(Message(91));
  auto* rule = new QFrame;
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(12, 4, 12, 12);
  buttons->addStretch();
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addSpacing(8);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(pages_, 1);
  layout->addWidget(rule);
  layout->addLayout(buttons);
  setMinimumSize(560, 400);
}

void WizardFrame::SetWelcome(const QString& title, const QString& text, bool hint_visible) {
  welcome_title_->setText(title);
  welcome_text_->setText(text);
  welcome_hint_->setVisible(hint_visible);
}

QWidget* WizardFrame::AddPage(QLabel* header, QLabel* subheader) {
  auto* page = new QWidget;
  auto* body = new QWidget;
  auto* rule = new QFrame;
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(WizardHeader(header, subheader));
  layout->addWidget(rule);
  layout->addWidget(body, 1);
  pages_->addWidget(page);
  return body;
}

void WizardFrame::SetNextCaption(const QString& caption) {
  QString marked = caption;
  for (qsizetype i = 0; i < marked.size(); ++i) {
    if (marked[i].isLetter()) {
      marked.insert(i, '&');
      break;
    }
  }
  next_->setText(marked);
  next_->setAccessibleName(AccessibleText(caption));
  next_->setDefault(true);
}

}  // namespace gui
