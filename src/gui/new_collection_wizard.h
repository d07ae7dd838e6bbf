// The "Create New Network Collection Wizard": welcome, name and data file pages and the result,
// bound to dialogs::frmNewArchiveWizard, which checks the input and creates the collection.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "collections/databases.h"
#include "dialogs/new_archive_wizard.h"
#include "gui/balloon.h"
#include "gui/wizard_frame.h"

namespace gui {

class NewCollectionWizard : public WizardFrame {
  Q_OBJECT

 public:
  // `databases` is the server's catalogue; it and `ui` must outlive the wizard.
  NewCollectionWizard(platform::UserInterface& ui, collections::Databases& databases,
                      QWidget* parent = nullptr);

  dialogs::frmNewArchiveWizard& form() { return form_; }
  // The balloon shown at a refused field (hidden when there is none).
  Balloon* balloon() const { return balloon_; }

 public slots:
  // Escape and the title bar close the wizard only where Cancel would.
  void reject() override;

 private:
  void Pull();
  void Push();
  void Browse();

  RepaintingUserInterface ui_;
  collections::Databases& databases_;
  dialogs::frmNewArchiveWizard form_;
  security::ValidationBalloon validation_;
  Balloon* balloon_ = nullptr;
  int shown_page_ = 0;
  QLineEdit* name_ = nullptr;
  QLabel* file_header_ = nullptr;
  QLabel* file_explanation_ = nullptr;
  QLabel* path_label_ = nullptr;
  QLineEdit* path_ = nullptr;
  QPushButton* browse_ = nullptr;
};

}  // namespace gui
