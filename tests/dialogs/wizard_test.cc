// The New Collection wizard and the Open Collection dialog against the sandbox server: what they
// show, what they send, and what the server holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "collections/sandbox_fixture.h"
#include "dialogs/new_archive_wizard.h"
#include "dialogs/open_archive.h"

namespace dialogs {
namespace {

bool NoFile(std::string_view) { return false; }

class NewArchiveWizardTest : public collections::testing::SandboxFixture {
 protected:
  frmNewArchiveWizard NewWizard(FileExistsFunction exists = NoFile) {
    frmNewArchiveWizard wizard(platform_.ui, std::move(exists));
    wizard.SetDatabases(Catalogue());
    return wizard;
  }
  // Brings the wizard to page 3 with the name.
  void ToFilePage(frmNewArchiveWizard& wizard, const std::string& name) {
    wizard.cmdWeiter_Click();
    wizard.SetArchiveName(name);
    wizard.cmdWeiter_Click();
    ASSERT_EQ(wizard.CurrentPage(), kPageFile)
        << (wizard.Balloon() ? wizard.Balloon()->text : "no balloon");
  }
  bool SentCreateDatabase() {
    std::vector<std::string> texts = log_->Texts();
    return std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
      return text.find("CREATE DATABASE") != std::string::npos;
    });
  }
};

TEST_F(NewArchiveWizardTest, WalksFromWelcomeToACreatedCollection) {
  frmNewArchiveWizard wizard = NewWizard();
  EXPECT_EQ(frmNewArchiveWizard::Caption(), "Create New Network Collection Wizard");
  EXPECT_EQ(wizard.CurrentPage(), kPageWelcome);
  EXPECT_FALSE(wizard.BackEnabled());
  EXPECT_EQ(wizard.WelcomeTitle(), "Welcome to the Create New Network Collection Wizard");
  EXPECT_TRUE(wizard.WelcomeHintVisible());

  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageName);
  EXPECT_TRUE(wizard.BackEnabled());
  wizard.SetArchiveName("  Sales_1  ");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageFile);
  EXPECT_EQ(wizard.CollectionName(), "Sales_1");
  EXPECT_EQ(wizard.FileHeader(), "Specify collection file");
  EXPECT_EQ(wizard.FileExplanation(),
            "Type the name for the database file and select a folder on (sandbox)\nwhere the file "
            "will be saved.");
  EXPECT_EQ(wizard.PathLabel(), "Path and file name on (sandbox):");
  EXPECT_FALSE(SentCreateDatabase());

  wizard.SetArchivePath(" C:\\Data\\sales ");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.ArchivePath(), "C:\\Data\\sales.mdf");
  ASSERT_EQ(wizard.CurrentPage(), kPageResult);
  ASSERT_NE(wizard.Created(), nullptr);
  EXPECT_EQ(wizard.Created()->Name(), "Sales_1");
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales_1"));
  EXPECT_EQ(Catalogue().Count(), 1);
  EXPECT_FALSE(wizard.BackEnabled());
  EXPECT_FALSE(wizard.CancelEnabled());
  EXPECT_TRUE(wizard.NextEnabled());
  EXPECT_EQ(wizard.NextCaption(), "Close");
  EXPECT_EQ(wizard.WelcomeTitle(), "Collection created successfully!");
  EXPECT_EQ(wizard.WelcomeText(),
            "The network collection 'Sales_1' has been created and attached to SQL Server.\n\n\n"
            "Tessera users can now open the collection and save documents in it.");
  EXPECT_FALSE(wizard.WelcomeHintVisible());
  EXPECT_EQ(platform_.ui.busy_depth(), 0);
  EXPECT_TRUE(platform_.ui.boxes().empty());

  EXPECT_FALSE(wizard.cmdAbbrechen_Click());
  wizard.cmdWeiter_Click();
  EXPECT_TRUE(wizard.Closed());
}

TEST_F(NewArchiveWizardTest, NameRulesKeepPageTwoWithTheirBalloon) {
  Created("Sales", "C:\\Data\\Sales.mdf");
  frmNewArchiveWizard wizard = NewWizard();
  wizard.cmdWeiter_Click();
  struct Case {
    std::string name;
    int message;
  };
  for (const Case& c : std::vector<Case>{{"", kMessageNameMissing},
                                         {"   ", kMessageNameMissing},
                                         {"O'Brien", kMessageInvalidName},
                                         {"[Sales];--", kMessageInvalidName},
                                         {"Sales", kMessageNameInUse}}) {
    wizard.SetArchiveName(c.name);
    wizard.cmdWeiter_Click();
    EXPECT_EQ(wizard.CurrentPage(), kPageName) << c.name;
    ASSERT_TRUE(wizard.Balloon()) << c.name;
    EXPECT_EQ(wizard.Balloon()->message, c.message) << c.name;
    // Cancel does nothing while a balloon is shown.
    EXPECT_FALSE(wizard.cmdAbbrechen_Click());
    EXPECT_FALSE(wizard.Closed());
  }
  // Another letter case is another name; this is no 7.0 server, so length is not limited.
  wizard.SetArchiveName("SALES_and_a_long_name");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageFile);
  EXPECT_FALSE(wizard.Balloon());
  EXPECT_EQ(Catalogue().Count(), 1);

  wizard.cmdZur_ck_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageName);
  wizard.cmdZur_ck_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageWelcome);
  EXPECT_FALSE(wizard.BackEnabled());
  EXPECT_TRUE(wizard.cmdAbbrechen_Click());
  EXPECT_TRUE(wizard.Closed());
}

TEST_F(NewArchiveWizardTest, APathWithoutFolderNeverReachesTheCreation) {
  std::vector<std::string> asked;
  frmNewArchiveWizard wizard = NewWizard([&](std::string_view path) {
    asked.emplace_back(path);
    return path == "exists.mdf";
  });
  ToFilePage(wizard, "Sales");
  log_->Clear();

  wizard.SetArchivePath("sales");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.ArchivePath(), "sales.mdf");
  ASSERT_TRUE(wizard.Balloon());
  EXPECT_EQ(wizard.Balloon()->message, kMessagePathInvalid);
  EXPECT_EQ(wizard.CurrentPage(), kPageFile);

  wizard.SetArchivePath("exists.MDF");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.ArchivePath(), "exists.MDF");
  ASSERT_TRUE(wizard.Balloon());
  EXPECT_EQ(wizard.Balloon()->message, kMessagePathInvalid);

  wizard.SetArchivePath("exists");
  wizard.cmdWeiter_Click();
  ASSERT_TRUE(wizard.Balloon());
  EXPECT_EQ(wizard.Balloon()->message, kMessageFileExists);

  wizard.SetArchivePath("   ");
  wizard.cmdWeiter_Click();
  ASSERT_TRUE(wizard.Balloon());
  EXPECT_EQ(wizard.Balloon()->message, kMessagePathInvalid);
  EXPECT_EQ(wizard.ArchivePath(), "   ");

  EXPECT_EQ(asked, (std::vector<std::string>{"sales.mdf", "exists.MDF", "exists.mdf", ""}));
  EXPECT_FALSE(SentCreateDatabase());
  EXPECT_EQ(Catalogue().Count(), 0);
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
}

TEST_F(NewArchiveWizardTest, BrowsingFillsThePathFromTheChosenFolder) {
  frmNewArchiveWizard wizard = NewWizard();
  ToFilePage(wizard, "Sales");
  EXPECT_EQ(frmNewArchiveWizard::BrowseCaption(), "Select Folder");
  EXPECT_EQ(wizard.BrowsePrompt(), "Please choose a folder on (sandbox):");
  wizard.SetArchivePath("C:\\typed.mdf");
  wizard.ApplyBrowsedFolder("");
  EXPECT_EQ(wizard.ArchivePath(), "C:\\typed.mdf");
  wizard.ApplyBrowsedFolder("C:\\Data\\");
  EXPECT_EQ(wizard.ArchivePath(), "C:\\Data\\Sales.mdf");
}

TEST_F(NewArchiveWizardTest, AFailedCreationReturnsPageThreeToItsInputLook) {
  frmNewArchiveWizard wizard = NewWizard();
  ToFilePage(wizard, "Sales");
  // The drive does not exist on the server's machine; the creation reports that itself.
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  wizard.SetArchivePath("Q:\\Nowhere\\sales.mdf");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageFile);
  EXPECT_EQ(wizard.Created(), nullptr);
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_TRUE(platform_.ui.boxes()[0].text.starts_with(
      "The following error occurred while creating the network collection:\r"));
  EXPECT_TRUE(wizard.PathControlsVisible());
  EXPECT_EQ(wizard.FileHeader(), "Specify collection file");
  EXPECT_TRUE(wizard.BackEnabled());
  EXPECT_TRUE(wizard.NextEnabled());
  EXPECT_TRUE(wizard.CancelEnabled());
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_EQ(platform_.ui.busy_depth(), 0);

  // Corrected, the same wizard creates it.
  wizard.SetArchivePath("C:\\Data\\sales");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageResult);
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales"));
}

class NewArchiveWizardOn70Test : public NewArchiveWizardTest {
 protected:
  void SetUp() override { StartInstance("7.00.1063", false); }
};

TEST_F(NewArchiveWizardOn70Test, ElevenCharactersPassAndTwelveAreRefused) {
  ASSERT_EQ(Server().ProductVersion(), 7);
  EXPECT_FALSE(CheckCollectionName("Abcdefghijk", Catalogue()));
  frmNewArchiveWizard wizard = NewWizard();
  wizard.cmdWeiter_Click();
  wizard.SetArchiveName("Abcdefghijkl");
  wizard.cmdWeiter_Click();
  ASSERT_TRUE(wizard.Balloon());
  EXPECT_EQ(wizard.Balloon()->message, kMessageNameTooLongOn70);
  EXPECT_EQ(wizard.CurrentPage(), kPageName);
  // Blanks around the name do not count.
  wizard.SetArchiveName("  Abcdefghijk  ");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageFile);
}

class OpenArchiveTest : public NewArchiveWizardTest {
 protected:
  frmOpenArchive NewDialog() {
    frmOpenArchive dialog(platform_.ui);
    dialog.SetDatabases(Catalogue());
    return dialog;
  }
  std::vector<std::string> ServerTexts() { return log_->TextsOn(Server().Connection().Id()); }
};

TEST_F(OpenArchiveTest, FieldRulesShowTheirMessageAndSendNothing) {
  frmOpenArchive dialog = NewDialog();
  EXPECT_EQ(frmOpenArchive::Caption(), "Open Network Collection");
  log_->Clear();
  struct Case {
    std::string name, mdf;
    int message;
  };
  for (const Case& c : std::vector<Case>{
           {"", "C:\\Data\\x.mdf", kMessageAttachNameMissing},
           {"x'; DROP DATABASE master--", "C:\\Data\\x.mdf", kMessageAttachNameInvalid},
           {"[x]", "C:\\Data\\x.mdf", kMessageAttachNameInvalid},
           {"Good", "", kMessageAttachFileMissing}}) {
    dialog.SetDatabaseName(c.name);
    dialog.SetMDFFilename(c.mdf);
    platform_.ui.QueueAnswer(platform::kAnswerOk);
    EXPECT_FALSE(dialog.cmdOK_Click()) << c.name;
    ASSERT_EQ(dialog.Validate()->message, c.message);
    EXPECT_EQ(platform_.ui.boxes().back().text, dialog.Validate()->text);
    EXPECT_EQ(platform_.ui.boxes().back().title, "Tessera Server Manager");
    EXPECT_EQ(platform_.ui.boxes().back().icon, platform::MessageIcon::kInformation);
  }
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(OpenArchiveTest, AttachesADetachedCollectionUnderANewName) {
  std::shared_ptr<collections::Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  ASSERT_TRUE(Catalogue().Remove(std::to_string(sales->ArchiveID())));
  sales.reset();

  frmOpenArchive dialog = NewDialog();
  dialog.SetDatabaseName("Sales_Again");
  dialog.ApplyBrowsedDataFile("C:\\Data\\Sales.mdf");
  dialog.ApplyBrowsedLogFile("");
  EXPECT_TRUE(dialog.cmdOK_Click());
  ASSERT_NE(dialog.Attached(), nullptr);
  EXPECT_EQ(dialog.Attached()->Name(), "Sales_Again");
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales_Again"));
  EXPECT_EQ(Catalogue().Count(), 1);
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(OpenArchiveTest, ADataFileAnOpenedCollectionUsesIsRefusedBeforeTheAttach) {
  ASSERT_NE(Created("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  std::vector<OpenedDataFile> opened = OpenedDataFiles(Catalogue());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].collection, "Sales");

  frmOpenArchive dialog = NewDialog();
  dialog.SetDatabaseName("Copy");
  dialog.SetMDFFilename("c:\\data\\SALES.mdf");
  log_->Clear();
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(dialog.cmdOK_Click());
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            "The selected collection with the file name 'c:\\data\\SALES.mdf'\nis already "
            "opened in Tessera Server Manager.");
  EXPECT_EQ(platform_.ui.boxes()[0].icon, platform::MessageIcon::kExclamation);
  for (const std::string& text : log_->Texts()) {
    EXPECT_EQ(text.find("attach"), std::string::npos) << text;
  }
  EXPECT_FALSE(DatabaseExists("Quillarchive_Copy"));
  EXPECT_EQ(Catalogue().Count(), 1);
}

TEST_F(OpenArchiveTest, AnAttachErrorIsReportedAndTheDialogStaysOpen) {
  frmOpenArchive dialog = NewDialog();
  dialog.SetDatabaseName("Missing");
  dialog.SetMDFFilename("C:\\Data\\missing.mdf");
  dialog.SetLDFFilename("C:\\Data\\missing_log.ldf");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(dialog.cmdOK_Click());
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  const std::string intro = "The following error occurred while opening the network collection:\r";
  EXPECT_TRUE(platform_.ui.boxes()[0].text.starts_with(intro)) << platform_.ui.boxes()[0].text;
  EXPECT_GT(platform_.ui.boxes()[0].text.size(), intro.size());
  EXPECT_EQ(platform_.ui.boxes()[0].icon, platform::MessageIcon::kCritical);
  EXPECT_EQ(dialog.Attached(), nullptr);
  EXPECT_EQ(Catalogue().Count(), 0);
  EXPECT_EQ(dialog.DatabaseName(), "Missing");
}

}  // namespace
}  // namespace dialogs

namespace dialogs {
namespace {

TEST_F(NewArchiveWizardTest, APathWithQuotesAndBracketsReachesTheServerAsOnePath) {
  frmNewArchiveWizard wizard = NewWizard();
  ToFilePage(wizard, "Odd");
  wizard.SetArchivePath("C:\\Data\\O'Brien; [x]");
  wizard.cmdWeiter_Click();
  ASSERT_EQ(wizard.CurrentPage(), kPageResult)
      << (platform_.ui.boxes().empty() ? "" : platform_.ui.boxes()[0].text);
  EXPECT_EQ(wizard.DataFilePath(), "C:\\Data\\O'Brien; [x].mdf");
  std::vector<OpenedDataFile> opened = OpenedDataFiles(Catalogue());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].data_file, "C:\\Data\\O'Brien; [x].mdf");
}

TEST_F(NewArchiveWizardTest, AVeryLongNameIsRefusedByTheServerAndLeavesNothingBehind) {
  frmNewArchiveWizard wizard = NewWizard();
  std::string name(3000, 'n');
  ToFilePage(wizard, name);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  wizard.SetArchivePath("C:\\Data\\long");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(wizard.CurrentPage(), kPageFile);
  EXPECT_EQ(wizard.Created(), nullptr);
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(Catalogue().Count(), 0);
  EXPECT_FALSE(DatabaseExists("Quillarchive_" + name));
}

}  // namespace
}  // namespace dialogs

namespace dialogs {
namespace {

TEST_F(NewArchiveWizardTest, WhileCreatingPageThreeShowsItsWorkingLookWithEveryButtonDisabled) {
  frmNewArchiveWizard wizard = NewWizard();
  ToFilePage(wizard, "Busy");
  std::vector<std::string> seen;
  platform_.ui.SetOnPendingEvents([&] {
    if (!seen.empty()) return;
    seen = {wizard.FileHeader(), wizard.FileExplanation(),
            wizard.PathControlsVisible() ? "visible" : "hidden",
            wizard.BackEnabled() || wizard.NextEnabled() || wizard.CancelEnabled() ? "enabled"
                                                                                   : "disabled",
            platform_.ui.busy_depth() > 0 ? "busy" : "idle"};
  });
  wizard.SetArchivePath("C:\\Data\\busy");
  wizard.cmdWeiter_Click();
  EXPECT_EQ(seen, (std::vector<std::string>{"Create New Network Collection",
                                            "Creating the network collection. Please wait...",
                                            "hidden", "disabled", "busy"}));
  EXPECT_EQ(wizard.CurrentPage(), kPageResult);
}

}  // namespace
}  // namespace dialogs
