#include "gui/dialog_kit.h"

#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QVBoxLayout>

#include "common/messages.h"

namespace gui {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Message(int number) { return Text(common::LoadMessage(number)); }

QString Mnemonics::operator()(const QString& text) {
  QString escaped = text;
  escaped.replace("&", "&&");
  for (qsizetype i = 0; i < escaped.size(); ++i) {
    QChar c = escaped[i];
    if (c == '&') {
      ++i;  // an escaped ampersand
      continue;
    }
    if (!c.isLetterOrNumber() || c.unicode() > 127 || used_.contains(c.toLower())) continue;
    used_.insert(c.toLower());
    return escaped.left(i) + "&" + escaped.mid(i);
  }
  return escaped;
}

QString AccessibleText(const QString& text) {
  QString plain = text;
  plain.replace("&&", "\x01").remove('&').replace("\x01", "&");
  plain = plain.simplified();
  if (plain.endsWith(':')) plain.chop(1);
  return plain;
}

QLabel* BuddyLabel(Mnemonics& mnemonics, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(mnemonics(text));
  label->setBuddy(buddy);
  buddy->setAccessibleName(AccessibleText(text));
  return label;
}

QLabel* Explanation(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QLabel* Heading(const QString& text, int point_delta) {
  auto* label = Explanation(text);
  QFont font = label->font();
  font.setBold(true);
  if (point_delta) font.setPointSize(font.pointSize() + point_delta);
  label->setFont(font);
  return label;
}

QPushButton* Button(Mnemonics& mnemonics, const QString& text, const char* name) {
  auto* button = Named(new QPushButton(mnemonics(text)), name);
  button->setAccessibleName(AccessibleText(text));
  return button;
}

void Bind(QWidget* widget, const security::ControlState& state) {
  widget->setEnabled(state.enabled);
  widget->setVisible(state.visible);
}

void BindLine(QLineEdit* line, const security::ControlState& state) {
  if (line->text().toStdString() != state.text) line->setText(Text(state.text));
  line->setReadOnly(state.read_only);
  line->setFrame(state.border);
  // The button-face background shows a field that takes no input, as the form draws it.
  QPalette palette = line->palette();
  palette.setColor(QPalette::Base, line->style()->standardPalette().color(state.window_background
                                                                              ? QPalette::Base
                                                                              : QPalette::Window));
  line->setPalette(palette);
  Bind(line, state);
}

QWidget* WizardHeader(QLabel* header, QLabel* subheader) {
  auto* band = new QWidget;
  band->setAutoFillBackground(true);
  band->setBackgroundRole(QPalette::Base);
  auto* layout = new QVBoxLayout(band);
  layout->addWidget(header);
  subheader->setIndent(16);
  layout->addWidget(subheader);
  return band;
}

}  // namespace gui
