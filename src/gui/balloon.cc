#include "gui/balloon.h"

#include <QApplication>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"

namespace gui {

Balloon::Balloon(QWidget* dialog, security::ValidationBalloon& model, std::function<void()> removed)
    : QFrame(dialog), model_(model), removed_(std::move(removed)) {
  setObjectName("balloon");
  setFrameShape(QFrame::Box);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::ToolTipBase);
  setForegroundRole(QPalette::ToolTipText);
  title_ = Heading(QString());
  text_ = Explanation(QString());
  text_->setObjectName("balloonText");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->addWidget(title_);
  layout->addWidget(text_);
  setAccessibleName("Validation message");
  QFrame::hide();
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &Balloon::Tick);
}

void Balloon::ShowAt(QWidget* field, const QString& title) {
  title_->setText(title);
  title_->setVisible(!title.isEmpty());
  text_->setText(Text(model_.Text()));
  auto* dialog = parentWidget();
  // The message's own line breaks first; wrapped further only where the dialog is too narrow.
  const int widest = std::max(200, dialog->width() - 24);
  text_->setWordWrap(false);
  title_->setWordWrap(false);
  setMinimumWidth(0);
  setMaximumWidth(QWIDGETSIZE_MAX);
  adjustSize();
  if (width() > widest) {
    text_->setWordWrap(true);
    title_->setWordWrap(true);
    setFixedWidth(widest);
    adjustSize();
  }
  QPoint at = field->mapTo(
      dialog, QPoint(security::ValidationBalloon::kOffsetX, security::ValidationBalloon::kOffsetY));
  // Inside the dialog, so nothing of the message is cut off at its right or bottom edge.
  at.setX(std::max(4, std::min(at.x(), dialog->width() - width() - 4)));
  at.setY(std::max(4, std::min(at.y(), dialog->height() - height() - 4)));
  move(at);
  raise();
  show();
  field->setFocus();
  key_down_ = pressed_ = false;
  qApp->installEventFilter(this);
  timer_.start(model_.NextTickMs());
}

void Balloon::Hide() {
  timer_.stop();
  qApp->removeEventFilter(this);
  QFrame::hide();
}

bool Balloon::eventFilter(QObject*, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      key_down_ = pressed_ = true;
      break;
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
      key_down_ = false;
      break;
    default:
      break;
  }
  return false;
}

void Balloon::Tick() {
  // A press between two ticks counts, though the key may be up again by now.
  const bool down = key_down_ || pressed_ || QApplication::mouseButtons() != Qt::NoButton;
  pressed_ = false;
  if (model_.Tick(down)) {
    Hide();
    if (removed_) removed_();
    return;
  }
  if (model_.Shown()) timer_.start(model_.NextTickMs());
}

}  // namespace gui
