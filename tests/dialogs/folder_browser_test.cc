// The remote folder browser against the sandbox server's drive C: what the tree shows after
// activation and expansion, in folder and file mode, and what OK and Cancel leave behind.
#include "dialogs/folder_browser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "collections/sandbox_fixture.h"

namespace dialogs {
namespace {

class FolderBrowserTest : public collections::testing::SandboxFixture {
 protected:
  void SetUp() override {
    SandboxFixture::SetUp();
    for (const char* folder : {"C:\\Data\\Sub", "C:\\Empty", "C:\\O'Brien; [x]\\Inner"}) {
      std::filesystem::create_directories(instance_->MapPath(folder));
    }
    for (const char* file :
         {"C:\\Data\\a.mdf", "C:\\Data\\b.ldf", "C:\\Data\\b.ldf.bak", "C:\\Data\\Sub\\only.mdf"}) {
      std::ofstream(instance_->MapPath(file)) << "x";
    }
  }

  // The keys (or, for placeholders, the texts) of a node's children.
  static std::vector<std::string> Children(const FolderNode* node) {
    std::vector<std::string> shown;
    if (node == nullptr) return shown;
    for (const FolderNode& child : node->children) {
      shown.push_back(child.kind == FolderNode::Kind::kPlaceholder ? "(" + child.text + ")"
                                                                   : child.key);
    }
    return shown;
  }
};

TEST_F(FolderBrowserTest, FolderModeListsDrivesThenFoldersOnDemand) {
  frmFolderBrowser browser(Server());
  browser.Form_Activate();
  ASSERT_EQ(browser.Nodes().size(), 1u);
  const FolderNode& drive = browser.Nodes()[0];
  EXPECT_EQ(drive.key, "C:\\");
  EXPECT_TRUE(drive.text.starts_with("C:\\ (")) << drive.text;
  EXPECT_TRUE(drive.text.ends_with(" MB free)")) << drive.text;
  EXPECT_EQ(Children(&drive), std::vector<std::string>{"(HasChildren)"});

  browser.TreeView1_Expand("C:\\");
  std::vector<std::string> top = Children(browser.Find("C:\\"));
  for (const char* folder : {"C:\\Data\\", "C:\\Empty\\", "C:\\O'Brien; [x]\\"}) {
    EXPECT_NE(std::find(top.begin(), top.end(), folder), top.end()) << folder;
  }
  browser.TreeView1_Expand("C:\\Data\\");
  EXPECT_EQ(Children(browser.Find("C:\\Data\\")), std::vector<std::string>{"C:\\Data\\Sub\\"});
  // A folder without folders loses its placeholder, so it shows no expander.
  browser.TreeView1_Expand("C:\\Empty\\");
  EXPECT_EQ(Children(browser.Find("C:\\Empty\\")), std::vector<std::string>{});
  // A name with a quote and brackets is a path like any other.
  browser.TreeView1_Expand("C:\\O'Brien; [x]\\");
  EXPECT_EQ(Children(browser.Find("C:\\O'Brien; [x]\\")),
            std::vector<std::string>{"C:\\O'Brien; [x]\\Inner\\"});

  browser.cmdOK_Click("C:\\Data\\Sub\\");
  EXPECT_EQ(browser.LastBrowsedPath(), "C:\\Data\\Sub\\");
  browser.cmdCancel_Click();
  EXPECT_EQ(browser.LastBrowsedPath(), "");
}

TEST_F(FolderBrowserTest, FileModeListsFoldersFirstThenFilesHoldingTheFilter) {
  frmFolderBrowser browser(Server());
  browser.SetFolderMode(false);
  browser.SetFileFilter("ldf");
  browser.Form_Activate();
  browser.TreeView1_Expand("C:\\");
  browser.TreeView1_Expand("C:\\Data\\");
  EXPECT_EQ(
      Children(browser.Find("C:\\Data\\")),
      (std::vector<std::string>{"C:\\Data\\Sub\\", "C:\\Data\\b.ldf", "C:\\Data\\b.ldf.bak"}));
  // Only data files: the placeholder says what is missing.
  browser.TreeView1_Expand("C:\\Data\\Sub\\");
  EXPECT_EQ(Children(browser.Find("C:\\Data\\Sub\\")),
            std::vector<std::string>{"(Contains no database files (*.ldf))"});
  // Expanding again reads nothing more.
  browser.TreeView1_Expand("C:\\Data\\");
  EXPECT_EQ(Children(browser.Find("C:\\Data\\")).size(), 3u);
}

TEST_F(FolderBrowserTest, TheDefaultDataFolderIsMastersFolder) {
  std::string folder = DefaultDataFolder(Server());
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.starts_with("C:\\")) << folder;
  EXPECT_TRUE(folder.ends_with("\\")) << folder;
  frmFolderBrowser browser(Server());
  // The browser can list it.
  EXPECT_TRUE(browser.ListFolder(folder).has_value()) << folder;
}

}  // namespace
}  // namespace dialogs
