// The wizards' validation balloon: a message (with a title where the rule has one) pointing at a
// field, drawn inside the dialog so it moves with it. Its removal follows the toolkit-free
// security::ValidationBalloon: from 700 ms after showing, every 5 ms, the first key or mouse
// button pressed takes it away.
#pragma once

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <functional>

#include "security/statements.h"

namespace gui {

class Balloon : public QFrame {
  Q_OBJECT

 public:
  // `model` decides when the balloon goes; it must outlive the widget. `removed` runs after the
  // model took it away (a form model that keeps its own refusal forgets it there).
  Balloon(QWidget* dialog, security::ValidationBalloon& model, std::function<void()> removed = {});

  // Shows the model's text (and the title, when not empty) at the field, which gets the focus.
  void ShowAt(QWidget* field, const QString& title);
  // Takes the balloon away without a key press (the model no longer shows one).
  void Hide();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Tick();

  security::ValidationBalloon& model_;
  std::function<void()> removed_;
  QLabel* title_ = nullptr;
  QLabel* text_ = nullptr;
  QTimer timer_;
  bool key_down_ = false;
  bool pressed_ = false;
};

}  // namespace gui
