// The console's dialogs and wizards against the demonstration sandbox server, opened from their
// menu entries and driven through their widgets: each scenario checks what the window shows
// afterwards and what the server holds. With TESSERA_SCREENSHOTS set to a folder, the tests save
// a picture of every dialog and wizard page there (scripts/screenshots).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/server_manager/workspace.h"
#include "collections/databases.h"
#include "common/messages.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "gui/account_picker.h"
#include "gui/add_login_wizard.h"
#include "gui/balloon.h"
#include "gui/change_owner_dialog.h"
#include "gui/collection_user_dialog.h"
#include "gui/demo_window_fixture.h"
#include "gui/folder_browser_dialog.h"
#include "gui/login_properties_dialog.h"
#include "gui/main_window.h"
#include "gui/new_collection_wizard.h"
#include "gui/open_collection_dialog.h"
#include "gui/password_dialog.h"
#include "gui/registration_dialog.h"
#include "platform/scripted_user_interface.h"
#include "servers/registration_form.h"

namespace {

namespace fs = std::filesystem;
using namespace gui_test;
using platform::kAnswerOk;
using platform::kAnswerYes;

std::string Message(int number) { return common::LoadMessage(number); }
std::string Format(int number, const std::string& value) {
  return common::FormatMessage(number, {common::Value(value)});
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The first column of every row a query returns.
std::vector<std::string> Column(db::Connection connection, const std::string& query,
                                const std::string& column) {
  std::vector<std::string> values;
  db::Recordset records = connection.Execute(query);
  while (records.State() == db::kStateOpen && records.Fields().Count() == 0) {
    records = records.NextRecordset();
  }
  for (; records.State() == db::kStateOpen && !records.Eof(); records.MoveNext()) {
    values.push_back(records.Fields(column).Value().ToText());
  }
  return values;
}

class DialogsTest : public gui_test::DemoWindowTest {
 protected:
  static void SetUpTestSuite() { PrepareDemo("tessera-gui-dialogs"); }

  std::vector<std::vector<std::string>> Rows() { return gui_test::Rows(window_->details()); }
  bool HasRow(const std::vector<std::string>& cells) {
    return gui_test::HasRow(window_->details(), cells);
  }
  // The item of a list or tree by its text.
  static QListWidgetItem* Item(QListWidget* list, const std::string& text) {
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->text().toStdString() == text) return list->item(i);
    }
    return nullptr;
  }
  static QTreeWidgetItem* Child(QTreeWidgetItem* parent, const std::string& text) {
    for (int i = 0; i < parent->childCount(); ++i) {
      if (parent->child(i)->text(0).toStdString() == text) return parent->child(i);
    }
    return nullptr;
  }
  static std::vector<std::string> Checked(QListWidget* list) {
    std::vector<std::string> checked;
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->checkState() == Qt::Checked)
        checked.push_back(list->item(i)->text().toStdString());
    }
    return checked;
  }
  // The demonstration server's connection as its administrator, or a collection's own.
  db::Connection Admin(const std::string& collection = "") {
    if (collection.empty()) return server_->Connection();
    auto& catalogue = dynamic_cast<collections::Databases&>(server_->Databases());
    for (const auto& database : catalogue) {
      if (database->Name() == collection) return database->Connection();
    }
    ADD_FAILURE() << "no collection " << collection;
    return server_->Connection();
  }
  // Members of a role of a collection, or of a server role.
  std::vector<std::string> RoleMembers(const std::string& collection, const std::string& role) {
    if (collection.empty())
      return Column(Admin(), "EXEC master..sp_helpsrvrolemember '" + role + "'", "MemberName");
    return Column(Admin(collection), "EXEC sp_helprolemember '" + role + "'", "MemberName");
  }
};

TEST_F(DialogsTest, CreateACollectionWithTheWizardAndTheFolderBrowser) {
  QTreeWidgetItem* collections = Select(Walk(admin_, {Message(7)}));
  ASSERT_NE(collections, nullptr);
  WhenDialogOpens([&](QDialog& dialog) {
    auto& wizard = dynamic_cast<gui::NewCollectionWizard&>(dialog);
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(138));
    EXPECT_EQ(Control<QLabel>(dialog, "welcomeTitle")->text().toStdString(), Message(304));
    EXPECT_FALSE(wizard.back()->isEnabled());
    Screenshot(&dialog, "new-collection-1-welcome.png");
    wizard.next()->click();

    // A name outside the rules: the balloon with its title, and the page stays.
    auto* name = Control<QLineEdit>(dialog, "txtArchiveName");
    EXPECT_EQ(dialog.focusWidget(), name);
    name->setText("New Reports");
    wizard.next()->click();
    EXPECT_EQ(wizard.form().CurrentPage(), dialogs::kPageName);
    ASSERT_TRUE(wizard.balloon()->isVisible());
    EXPECT_EQ(Control<QLabel>(dialog, "balloonText")->text().toStdString(), Message(126));
    Screenshot(&dialog, "new-collection-2-name-refused.png");
    // An existing collection's name is refused with its own text.
    name->setText("Archive");
    wizard.next()->click();
    EXPECT_EQ(Control<QLabel>(dialog, "balloonText")->text().toStdString(), Message(127));
    EXPECT_EQ(name->selectedText(), "Archive");
    name->setText("  Reports_2 ");
    wizard.next()->click();
    EXPECT_FALSE(wizard.balloon()->isVisible());
    ASSERT_EQ(wizard.form().CurrentPage(), dialogs::kPageFile);

    // Browse: the server's drives, then its folders; the chosen folder gives the path.
    WhenDialogOpens([&](QDialog& browser) {
      EXPECT_EQ(browser.windowTitle().toStdString(), Message(95));
      auto* folders = Control<QTreeWidget>(browser, "TreeView1");
      ASSERT_GT(folders->topLevelItemCount(), 0);
      QTreeWidgetItem* drive = folders->topLevelItem(0);
      EXPECT_TRUE(drive->text(0).startsWith("C:\\ (")) << drive->text(0).toStdString();
      EXPECT_TRUE(drive->text(0).endsWith(" MB " + QString::fromStdString(Message(97)) + ")"));
      drive->setExpanded(true);
      QTreeWidgetItem* data = Child(drive, "Data");
      ASSERT_NE(data, nullptr) << "children: " << ::testing::PrintToString(Texts(drive));
      folders->setCurrentItem(data);
      Screenshot(&browser, "folder-browser.png");
      Press(browser, "cmdOK");
    });
    Press(dialog, "cmdDurchsuchenZielordner");
    auto* path = Control<QLineEdit>(dialog, "txtArchivePath");
    EXPECT_EQ(path->text().toStdString(), "C:\\Data\\Reports_2.mdf");
    Screenshot(&dialog, "new-collection-3-file.png");

    // The working look shows while the server creates the collection.
    ui_.SetOnPendingEvents([&] {
      EXPECT_EQ(Control<QPushButton>(dialog, "cmdWeiter")->isEnabled(), false);
      EXPECT_FALSE(path->isVisible());
      Screenshot(&dialog, "new-collection-3-creating.png");
      ui_.SetOnPendingEvents({});
    });
    wizard.next()->click();
    ASSERT_EQ(wizard.form().CurrentPage(), dialogs::kPageResult);
    EXPECT_EQ(Control<QLabel>(dialog, "welcomeTitle")->text().toStdString(), Message(134));
    EXPECT_EQ(Control<QLabel>(dialog, "welcomeText")->text().toStdString(),
              Format(135, "Reports_2"));
    EXPECT_FALSE(wizard.back()->isEnabled());
    EXPECT_FALSE(wizard.cancel()->isEnabled());
    EXPECT_EQ(wizard.next()->accessibleName().toStdString(), Message(136));
    Screenshot(&dialog, "new-collection-4-done.png");
    wizard.next()->click();
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuAddNewDatabase");

  // The tree lists it, the list beside shows it, and the server holds its files.
  EXPECT_TRUE(Contains(Texts(collections), "Reports_2"));
  bool listed = false;
  for (int i = 0; i < window_->icons()->count(); ++i)
    listed |= window_->icons()->item(i)->text() == "Reports_2";
  EXPECT_TRUE(listed);
  std::vector<std::string> files = Column(
      Admin(), "SELECT filename FROM master..sysdatabases WHERE name = 'Quillarchive_Reports_2'",
      "filename");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.front(), "C:\\Data\\Reports_2.mdf");
}

TEST_F(DialogsTest, WizardBalloonBlocksCancelUntilAKeyTakesItAway) {
  Select(Walk(admin_, {Message(7)}));
  WhenDialogOpens([&](QDialog& dialog) {
    auto& wizard = dynamic_cast<gui::NewCollectionWizard&>(dialog);
    wizard.next()->click();
    wizard.next()->click();  // no name
    ASSERT_TRUE(wizard.balloon()->isVisible());
    EXPECT_EQ(Control<QLabel>(dialog, "balloonText")->text().toStdString(), Message(124));
    // Escape and Cancel do nothing while the balloon is shown.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    // A key pressed after 700 ms takes the balloon away; then Cancel closes the wizard.
    QTest::qWait(security::ValidationBalloon::kFirstCheckMs + 100);
    QTest::keyClick(Control<QLineEdit>(dialog, "txtArchiveName"), Qt::Key_A);
    QTest::qWait(50);
    EXPECT_FALSE(wizard.balloon()->isVisible());
    wizard.cancel()->click();
    EXPECT_FALSE(dialog.isVisible());
  });
  const int before = static_cast<int>(Texts(Walk(admin_, {Message(7)})).size());
  Click("mnuAddNewDatabase");
  EXPECT_EQ(static_cast<int>(Texts(Walk(admin_, {Message(7)})).size()), before);
}

TEST_F(DialogsTest, AttachACollectionWithTheOpenDialogAndTheFileBrowser) {
  // Close Projects first: its files stay on the server.
  Select(Walk(admin_, {Message(7), "Projects"}));
  ui_.QueueAnswer(kAnswerYes);
  Click("mnuCloseDatabase");
  QTreeWidgetItem* collections = Select(Walk(admin_, {Message(7)}));
  ASSERT_NE(collections, nullptr);
  ASSERT_FALSE(Contains(Texts(collections), "Projects"));

  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(160));
    // Nothing typed: the dialog says what is missing and stays open.
    ui_.QueueAnswer(kAnswerOk);
    Press(dialog, "cmdOK");
    EXPECT_EQ(ui_.boxes().back().text, Message(151));
    EXPECT_TRUE(dialog.isVisible());

    // A name that is no plain identifier never reaches the server.
    auto* name = Control<QLineEdit>(dialog, "txtDatabaseName");
    name->setText("x'; DROP DATABASE [Quillarchive_Archive]--");
    Control<QLineEdit>(dialog, "txtMDFFilename")->setText("C:\\Data\\Projects.mdf");
    ui_.QueueAnswer(kAnswerOk);
    Press(dialog, "cmdOK");
    EXPECT_EQ(ui_.boxes().back().text, Message(152));
    EXPECT_TRUE(dialog.isVisible());
    name->setText("Projects");
    WhenDialogOpens([&](QDialog& browser) {
      EXPECT_EQ(browser.windowTitle().toStdString(), Message(307));
      auto* files = Control<QTreeWidget>(browser, "TreeView1");
      ASSERT_GT(files->topLevelItemCount(), 0);
      QTreeWidgetItem* drive = files->topLevelItem(0);
      drive->setExpanded(true);
      QTreeWidgetItem* data = Child(drive, "Data");
      ASSERT_NE(data, nullptr);
      data->setExpanded(true);
      // Data files only: no log file is offered.
      for (const std::string& file : Texts(data)) {
        EXPECT_EQ(file.substr(file.size() - 4), ".mdf") << file;
      }
      QTreeWidgetItem* projects = Child(data, "Projects.mdf");
      ASSERT_NE(projects, nullptr);
      files->setCurrentItem(projects);
      Screenshot(&browser, "file-browser.png");
      Press(browser, "cmdOK");
    });
    Press(dialog, "cmdSelectMDF");
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtMDFFilename")->text().toStdString(),
              "C:\\Data\\Projects.mdf");
    // A cancelled log file browser leaves the log file field empty.
    auto* log = Control<QLineEdit>(dialog, "txtLDFFilename");
    log->setText("C:\\elsewhere.ldf");
    WhenDialogOpens([&](QDialog& browser) {
      EXPECT_EQ(browser.windowTitle().toStdString(), Message(308));
      Press(browser, "cmdCancel");
    });
    Press(dialog, "cmdSelectLDF");
    EXPECT_EQ(log->text().toStdString(), "");
    Screenshot(&dialog, "open-collection.png");
    Press(dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuOpenDatabase");

  EXPECT_TRUE(Contains(Texts(collections), "Projects"));
  std::vector<std::string> attached = Column(
      Admin(), "SELECT filename FROM master..sysdatabases WHERE name = 'Quillarchive_Projects'",
      "filename");
  ASSERT_EQ(attached.size(), 1u);
  EXPECT_EQ(attached.front(), "C:\\Data\\Projects.mdf");
  // Its users came back with it.
  Select(Walk(admin_, {Message(7), "Projects", Message(6)}));
  EXPECT_TRUE(HasRow({"reader", "reader", "Grant"}));
}

TEST_F(DialogsTest, AddALoginWithTheWizardAndEditItInLoginProperties) {
  // Quotes, brackets and a semicolon go to the server as the name they are.
  const std::string name = "o'hara [ops];";
  QTreeWidgetItem* logins = Select(Walk(admin_, {Message(8)}));
  ASSERT_NE(logins, nullptr);
  WhenDialogOpens([&](QDialog& dialog) {
    auto& wizard = dynamic_cast<gui::AddLoginWizard&>(dialog);
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(260));
    Screenshot(&dialog, "add-login-1-welcome.png");
    wizard.next()->click();
    auto* windows = Control<QRadioButton>(dialog, "optWindowsAuthentication");
    EXPECT_TRUE(windows->isChecked());
    Screenshot(&dialog, "add-login-2-authentication.png");
    wizard.next()->click();

    // A Windows account, picked from the server machine's accounts.
    EXPECT_TRUE(Control<QPushButton>(dialog, "cmdPickLoginName")->isVisible());
    EXPECT_FALSE(Control<QLineEdit>(dialog, "txtPassword")->isVisible());
    std::string picked;
    WhenDialogOpens([&](QDialog& picker) {
      EXPECT_EQ(picker.windowTitle().toStdString(), Message(117));
      auto* accounts = Control<QListWidget>(picker, "lstAccounts");
      ASSERT_GT(accounts->count(), 0);
      accounts->item(0)->setSelected(true);
      picked = accounts->item(0)->text().toStdString();
      Screenshot(&picker, "account-picker.png");
      Press(picker, "cmdOK");
    });
    Press(dialog, "cmdPickLoginName");
    EXPECT_FALSE(picked.empty());
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtLoginName")->text().toStdString(), picked);
    Screenshot(&dialog, "add-login-3-windows-account.png");

    // Back to a SQL Server login instead: the name is asked afresh.
    wizard.back()->click();
    Control<QRadioButton>(dialog, "optSQLServerAuthentication")->click();
    wizard.next()->click();
    auto* login = Control<QLineEdit>(dialog, "txtLoginName");
    EXPECT_EQ(login->text().toStdString(), "");
    login->setText(QString::fromStdString(name));
    Control<QLineEdit>(dialog, "txtPassword")->setText("first");
    Control<QLineEdit>(dialog, "txtPassword2")->setText("other");
    wizard.next()->click();
    EXPECT_EQ(wizard.form().CurrentPage(), security::kWizardAccount);
    ASSERT_TRUE(wizard.balloon()->isVisible());
    EXPECT_EQ(Control<QLabel>(dialog, "balloonText")->text().toStdString(), Message(254));
    Screenshot(&dialog, "add-login-3-sql-login-refused.png");
    Control<QLineEdit>(dialog, "txtPassword2")->setText("first");
    wizard.next()->click();
    ASSERT_EQ(wizard.form().CurrentPage(), security::kWizardCollections);

    auto* collections = Control<QListWidget>(dialog, "lstDatabases");
    QListWidgetItem* archive = Item(collections, "Archive");
    ASSERT_NE(archive, nullptr);
    archive->setCheckState(Qt::Checked);
    Screenshot(&dialog, "add-login-4-collections.png");
    wizard.next()->click();
    ASSERT_EQ(wizard.form().CurrentPage(), security::kWizardResult);
    EXPECT_EQ(Control<QLabel>(dialog, "welcomeTitle")->text().toStdString(), Message(258));
    EXPECT_FALSE(wizard.cancel()->isEnabled());
    Screenshot(&dialog, "add-login-5-done.png");
    wizard.next()->click();
  });
  Click("mnuGrantLogin");

  EXPECT_TRUE(HasRow({name, "Standard", "Grant"}));
  EXPECT_EQ(Column(Admin(),
                   "SELECT loginname FROM master.dbo.syslogins WHERE loginname = "
                   "'o''hara [ops];'",
                   "loginname")
                .size(),
            1u);
  for (const char* role : {"qa_reader", "qa_writer", "qa_structurer"}) {
    EXPECT_TRUE(Contains(RoleMembers("Archive", role), name)) << role;
  }

  // Login Properties: a server role, one more collection and a new password.
  ASSERT_TRUE(SelectRow(name));
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(98));
    auto* login = Control<QLineEdit>(dialog, "txtLoginName");
    EXPECT_EQ(login->text().toStdString(), name);
    EXPECT_TRUE(login->isReadOnly());
    EXPECT_TRUE(Control<QRadioButton>(dialog, "optSQLServerAuthentication")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(dialog, "optGrantLogin")->isEnabled());
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtPassword")->text().toStdString(),
              security::kMaskedPassword);
    Screenshot(&dialog, "login-properties-common.png");

    // The confirmation must match; then the new password waits for OK.
    WhenDialogOpens([&](QDialog& password) {
      EXPECT_EQ(password.windowTitle().toStdString(), Message(164));
      Control<QLineEdit>(password, "txtPassword")->setText("n3w;'pw");
      Control<QLineEdit>(password, "txtPasswordRepeated")->setText("typo");
      ui_.QueueAnswer(kAnswerOk);
      Press(password, "cmdOK");
      EXPECT_EQ(ui_.boxes().back().text, Message(167));
      EXPECT_TRUE(password.isVisible());
      Control<QLineEdit>(password, "txtPasswordRepeated")->setText("n3w;'pw");
      Screenshot(&password, "change-password.png");
      Press(password, "cmdOK");
      EXPECT_FALSE(password.isVisible());
    });
    Press(dialog, "cmdChangePassword");
    EXPECT_TRUE(dynamic_cast<gui::LoginPropertiesDialog&>(dialog).form().PasswordChanged());

    auto* tabs = Control<QTabWidget>(dialog, "TabStrip");
    tabs->setCurrentIndex(1);
    auto* roles = Control<QListWidget>(dialog, "lstServerRoles");
    ASSERT_EQ(roles->count(), 3);
    EXPECT_TRUE(Checked(roles).empty());
    roles->setCurrentRow(2);
    EXPECT_EQ(Control<QLabel>(dialog, "lblDescription")->text().toStdString(), Message(115));
    roles->item(2)->setCheckState(Qt::Checked);
    Screenshot(&dialog, "login-properties-server-roles.png");

    tabs->setCurrentIndex(2);
    auto* collections = Control<QListWidget>(dialog, "lstDatabases");
    EXPECT_EQ(Checked(collections), std::vector<std::string>{"Archive"});
    Item(collections, "Letters")->setCheckState(Qt::Checked);
    Screenshot(&dialog, "login-properties-collections.png");
    Press(dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuLoginProperties", true);

  EXPECT_TRUE(HasRow({name, "Standard", "Grant"}));
  EXPECT_TRUE(Contains(RoleMembers("", "dbcreator"), name));
  EXPECT_TRUE(Contains(RoleMembers("Letters", "qa_writer"), name));
  // The new password opens a connection; the old one no longer does.
  servers::Servers& list = workspace_->Servers();
  const int before = list.Count();
  list.Add(servers::BuildRegistrationString(kDemo, false, name, "n3w;'pw"));
  ASSERT_EQ(list.Count(), before + 1);
  EXPECT_TRUE(list.Item(before + 1)->Connected());
  list.Remove(std::to_string(list.Item(before + 1)->ServerID()));
}

TEST_F(DialogsTest, AddAUserAndChangeAUsersRoles) {
  QTreeWidgetItem* users = Select(Walk(admin_, {Message(7), "Letters", Message(6)}));
  ASSERT_NE(users, nullptr);
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(52));
    auto* login = Control<QComboBox>(dialog, "cmbLoginName");
    // Logins that are users already, and sa, are not offered; a new login is.
    std::vector<std::string> offered;
    for (int i = 0; i < login->count(); ++i) offered.push_back(login->itemText(i).toStdString());
    EXPECT_FALSE(Contains(offered, "reader"));
    EXPECT_FALSE(Contains(offered, "sa"));
    EXPECT_TRUE(Contains(offered, security::kNewLoginEntry));
    ASSERT_TRUE(Contains(offered, "archive_admin"));
    auto* roles = Control<QListWidget>(dialog, "lstDatabaseRoles");
    EXPECT_EQ(Checked(roles), (std::vector<std::string>{Message(235), Message(236), Message(237)}));
    const int index = login->findText("archive_admin");
    login->setCurrentIndex(index);
    emit login->activated(index);
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtDBUsername")->text().toStdString(), "archive_admin");
    // Unchecking reading unchecks writing and structuring too.
    roles->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(Checked(roles).empty());
    roles->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(Checked(roles), (std::vector<std::string>{Message(235), Message(236)}));
    Screenshot(&dialog, "new-user.png");
    Press(dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuNewDatabaseUser");
  EXPECT_TRUE(HasRow({"archive_admin", "archive_admin", "Grant"}));
  EXPECT_TRUE(Contains(RoleMembers("Letters", "qa_writer"), "archive_admin"));
  EXPECT_FALSE(Contains(RoleMembers("Letters", "qa_structurer"), "archive_admin"));

  // The reader's roles: structuring brings writing with it.
  ASSERT_TRUE(SelectRow("reader"));
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(226));
    EXPECT_FALSE(Control<QComboBox>(dialog, "cmbLoginName")->isVisible());
    auto* user = Control<QLineEdit>(dialog, "txtDBUsername");
    EXPECT_EQ(user->text().toStdString(), "reader");
    EXPECT_TRUE(user->isReadOnly());
    auto* roles = Control<QListWidget>(dialog, "lstDatabaseRoles");
    EXPECT_EQ(Checked(roles), std::vector<std::string>{Message(235)});
    roles->item(2)->setCheckState(Qt::Checked);
    EXPECT_EQ(Checked(roles), (std::vector<std::string>{Message(235), Message(236), Message(237)}));
    roles->setCurrentRow(4);
    EXPECT_EQ(Control<QLabel>(dialog, "lblDescription")->text().toStdString(), Message(230));
    Screenshot(&dialog, "collection-user-properties.png");
    Press(dialog, "cmdOK");
  });
  Click("mnuUserProperties", true);
  EXPECT_TRUE(HasRow({"reader", "reader", "Grant"}));
  EXPECT_TRUE(Contains(RoleMembers("Letters", "qa_writer"), "reader"));
  EXPECT_TRUE(Contains(RoleMembers("Letters", "qa_structurer"), "reader"));
}

// "<neu>" in the login list opens Login Properties for a new login; its name then fills the user
// dialog, and OK makes the new login a user of the collection.
TEST_F(DialogsTest, NewUserWithANewLoginFromTheLoginList) {
  const std::string name = "Zoë_neu";
  ASSERT_NE(Select(Walk(admin_, {Message(7), "Minutes", Message(6)})), nullptr);
  WhenDialogOpens([&](QDialog& dialog) {
    auto* login = Control<QComboBox>(dialog, "cmbLoginName");
    const int index = login->findText(security::kNewLoginEntry);
    ASSERT_NE(index, -1);
    WhenDialogOpens([&](QDialog& properties) {
      EXPECT_EQ(properties.windowTitle().toStdString(), Message(241));
      auto* field = Control<QLineEdit>(properties, "txtLoginName");
      EXPECT_FALSE(field->isReadOnly());
      // An empty name is refused and the dialog stays.
      ui_.QueueAnswer(kAnswerOk);
      Press(properties, "cmdOK");
      EXPECT_EQ(ui_.boxes().back().text, Message(118));
      EXPECT_TRUE(properties.isVisible());
      Control<QRadioButton>(properties, "optSQLServerAuthentication")->click();
      auto* password = Control<QLineEdit>(properties, "txtPassword");
      EXPECT_TRUE(password->isEnabled());
      password->setText("s3cret");
      field->setText(QString::fromStdString(name));
      Screenshot(&properties, "new-login.png");
      Press(properties, "cmdOK");
      EXPECT_FALSE(properties.isVisible());
    });
    login->setCurrentIndex(index);
    emit login->activated(index);
    EXPECT_EQ(login->currentText().toStdString(), name);
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtDBUsername")->text().toStdString(), name);
    Press(dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuNewDatabaseUser");
  EXPECT_TRUE(HasRow({name, name, "Grant"}));
  EXPECT_TRUE(Contains(RoleMembers("Minutes", "qa_structurer"), name));
  Select(Walk(admin_, {Message(8)}));
  EXPECT_TRUE(HasRow({name, "Standard", "Grant"}));
}

// Opening a Windows login's row shows its properties; Deny access is sent at OK.
TEST_F(DialogsTest, DenyAWindowsLoginFromItsPropertiesOpenedFromTheRow) {
  ASSERT_NE(Select(Walk(admin_, {Message(8)})), nullptr);
  // The machine's account peter, whatever the machine is called.
  std::string peter;
  for (const auto& row : Rows()) {
    if (row.front().size() > 6 && row.front().ends_with("\\peter")) peter = row.front();
  }
  ASSERT_FALSE(peter.empty());
  ASSERT_TRUE(SelectRow(peter));
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtLoginName")->text().toStdString(), peter);
    EXPECT_TRUE(Control<QRadioButton>(dialog, "optWindowsAuthentication")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>(dialog, "optSQLServerAuthentication")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(dialog, "cmdChangePassword")->isVisible());
    EXPECT_TRUE(Control<QRadioButton>(dialog, "optGrantLogin")->isChecked());
    Control<QRadioButton>(dialog, "optDenyLogin")->click();
    Screenshot(&dialog, "login-properties-windows.png");
    Press(dialog, "cmdOK");
  });
  QTreeWidgetItem* row = window_->details()->currentItem();
  ASSERT_NE(row, nullptr);
  emit window_->details()->itemActivated(row, 0);
  EXPECT_TRUE(HasRow({peter, "Windows User", Message(73)}));
  EXPECT_EQ(Column(Admin(),
                   "SELECT denylogin FROM master.dbo.syslogins WHERE loginname = '" + peter + "'",
                   "denylogin"),
            std::vector<std::string>{"1"});
}

TEST_F(DialogsTest, ChangeACollectionsOwner) {
  QTreeWidgetItem* archive = Select(Walk(admin_, {Message(7), "Archive"}));
  ASSERT_NE(archive, nullptr);
  auto owner = [&] {
    std::vector<std::string> owners =
        Column(Admin(), "sp_helpdb @dbname='Quillarchive_Archive'", "owner");
    return owners.empty() ? std::string() : owners.front();
  };
  const std::string before = owner();
  ASSERT_NE(before, "creator");
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(94));
    EXPECT_EQ(Control<QLabel>(dialog, "lblOldOwner")->text().toStdString(), before);
    auto* logins = Control<QComboBox>(dialog, "cmbLoginName");
    EXPECT_EQ(logins->findText(QString::fromStdString(before)), -1);
    ASSERT_NE(logins->findText("creator"), -1);
    // No login chosen: asked for one, and the dialog stays.
    logins->setEditText("");
    ui_.QueueAnswer(kAnswerOk);
    Press(dialog, "cmdOK");
    EXPECT_EQ(ui_.boxes().back().text, Message(92));
    EXPECT_TRUE(dialog.isVisible());
    logins->setEditText("creator");
    Screenshot(&dialog, "change-owner.png");
    Press(dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuChangeOwner");
  EXPECT_EQ(owner(), "creator");
  // The collection's properties show the new owner; creator, a user before, is one no longer.
  Select(Walk(admin_, {Message(7), "Archive", Message(5)}));
  bool shown = false;
  for (const auto& row : Rows()) shown |= Contains(row, "creator");
  EXPECT_TRUE(shown);
  Select(Walk(admin_, {Message(7), "Archive", Message(6)}));
  EXPECT_FALSE(HasRow({"creator", "creator", "Grant"}));
}

// The login without server roles is refused before any dialog opens.
TEST_F(DialogsTest, ReaderIsRefusedBeforeTheDialogOpens) {
  struct Case {
    std::vector<std::string> path;
    std::string command;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {{Message(7)}, "mnuAddNewDatabase", Format(39, kDemo)},
      {{Message(7)}, "mnuOpenDatabase", Format(55, kDemo)},
      {{Message(8)}, "mnuGrantLogin", Format(49, kDemo)},
      {{Message(7), "Archive"}, "mnuChangeOwner", Message(40)},
      {{Message(7), "Archive", Message(6)}, "mnuNewDatabaseUser", Message(53)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.command);
    ASSERT_NE(Select(Walk(reader_, test.path)), nullptr);
    const size_t boxes = ui_.boxes().size();
    ui_.QueueAnswer(kAnswerOk);
    Click(test.command);
    ASSERT_EQ(ui_.boxes().size(), boxes + 1);
    EXPECT_EQ(ui_.boxes().back().text, test.refusal);
    EXPECT_EQ(ui_.boxes().back().icon, platform::MessageIcon::kInformation);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

// Login Properties opens for anyone; its OK refuses a login without the roles and closes, and
// nothing changes on the server.
TEST_F(DialogsTest, ReadersLoginPropertiesAreRefusedAtOk) {
  ASSERT_NE(Select(Walk(reader_, {Message(8)})), nullptr);
  ASSERT_TRUE(SelectRow("creator"));
  WhenDialogOpens([&](QDialog& dialog) {
    auto* tabs = Control<QTabWidget>(dialog, "TabStrip");
    tabs->setCurrentIndex(1);
    Control<QListWidget>(dialog, "lstServerRoles")->item(0)->setCheckState(Qt::Checked);
    ui_.QueueAnswer(kAnswerOk);
    Press(dialog, "cmdOK");
    EXPECT_EQ(ui_.boxes().back().text, Message(119));
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuLoginProperties", true);
  EXPECT_FALSE(Contains(RoleMembers("", "sysadmin"), "creator"));
}

// Every dialog reachable from the keyboard: each input control has an accessible name and is in
// the tab chain, and a dialog's mnemonics are distinct.
TEST_F(DialogsTest, DialogsHaveAccessibleNamesDistinctMnemonicsAndATabChain) {
  auto& catalogue = dynamic_cast<collections::Databases&>(server_->Databases());
  collections::Database* archive = nullptr;
  for (const auto& database : catalogue) {
    if (database->Name() == "Archive") archive = database.get();
  }
  ASSERT_NE(archive, nullptr);
  security::NoAccountLookup accounts;
  security::ApplicationState state;
  security::DialogHost host{ui_, accounts, state, {}};
  security::frmLogin login(host);
  login.SetNewLogin(false);
  login.SetServer(*server_);
  login.SetLoginName("reader");
  security::frmUser user(host);
  user.SetNewUser(true);
  user.SetDatabase(*archive);
  security::frmUserWizard wizard(host);
  wizard.SetServer(*server_);
  security::frmChangeOwner owner(ui_);
  owner.SetDatabase(*archive);
  security::frmPassword password(ui_, login);

  std::map<std::string, std::unique_ptr<QDialog>> dialogs;
  dialogs["new collection"] = std::make_unique<gui::NewCollectionWizard>(ui_, catalogue);
  dialogs["open collection"] = std::make_unique<gui::OpenCollectionDialog>(ui_, catalogue);
  dialogs["login properties"] = std::make_unique<gui::LoginPropertiesDialog>(login, ui_);
  dialogs["new user"] = std::make_unique<gui::CollectionUserDialog>(user, ui_);
  dialogs["add login"] = std::make_unique<gui::AddLoginWizard>(wizard);
  dialogs["change owner"] = std::make_unique<gui::ChangeOwnerDialog>(owner);
  dialogs["change password"] = std::make_unique<gui::PasswordDialog>(password);
  dialogs["registration"] = std::make_unique<gui::RegistrationDialog>(
      workspace_->ServerContext(), workspace_->Servers(), nullptr);
  dialogs::frmFolderBrowser folders(*server_);
  folders.Form_Activate();
  dialogs["folder browser"] =
      std::make_unique<gui::FolderBrowserDialog>(folders, "Select Folder", "Choose a folder:");
  dialogs["account picker"] = std::make_unique<gui::AccountPickerDialog>(
      "Select Windows Account", std::vector<platform::Account>{{"BUILTIN", "Users"}});
  for (auto& [name, dialog] : dialogs) {
    SCOPED_TRACE(name);
    // The tab chain as the dialog's focus chain runs.
    std::set<QWidget*> chain;
    for (QWidget* at = dialog->nextInFocusChain(); at != dialog.get();
         at = at->nextInFocusChain()) {
      chain.insert(at);
    }
    for (QWidget* control : dialog->findChildren<QWidget*>()) {
      const bool input = qobject_cast<QLineEdit*>(control) || qobject_cast<QComboBox*>(control) ||
                         qobject_cast<QAbstractItemView*>(control) ||
                         qobject_cast<QAbstractButton*>(control);
      if (!input || control->objectName().isEmpty() || control->objectName().startsWith("qt_"))
        continue;
      SCOPED_TRACE(control->objectName().toStdString());
      const auto* button = qobject_cast<QAbstractButton*>(control);
      EXPECT_FALSE(control->accessibleName().isEmpty() && (!button || button->text().isEmpty()));
      EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus);
      EXPECT_TRUE(chain.count(control));
    }
    std::map<QChar, std::string> mnemonics;
    auto note = [&](const QString& text) {
      qsizetype at = text.indexOf('&');
      while (at >= 0 && at + 1 < text.size() && text[at + 1] == '&') at = text.indexOf('&', at + 2);
      if (at < 0 || at + 1 >= text.size()) return;
      QChar letter = text[at + 1].toLower();
      EXPECT_EQ(mnemonics.count(letter), 0u) << "'" << QString(letter).toStdString() << "' in "
                                             << text.toStdString() << " and " << mnemonics[letter];
      mnemonics[letter] = text.toStdString();
    };
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      if (label->buddy()) note(label->text());
    }
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) note(button->text());
    if (auto* tabs = dialog->findChild<QTabWidget*>()) {
      for (int i = 0; i < tabs->count(); ++i) note(tabs->tabText(i));
    }
    EXPECT_FALSE(mnemonics.empty());
  }
}

}  // namespace
