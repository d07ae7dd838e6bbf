// The searchable text of single documents and the export the web-archive rendering reads.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "collections/plain_text_fixture.h"
#include "common/code_page.h"
#include "common/text.h"
#include "format/html_text.h"
#include "format/mht.h"

namespace collections::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WebArchive(const std::string& html) {
  return "MIME-Version: 1.0\r\nContent-Type: multipart/related;\r\n\tboundary=\"XX\";\r\n"
         "\ttype=\"text/html\"\r\n\r\n--XX\r\nContent-Type: text/html;\r\n\tcharset=\"utf-8\"\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
         html + "\r\n--XX--\r\n";
}

// Every file below the folder, relative to it.
std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    files.push_back(fs::relative(item.path(), folder).string());
  }
  return files;
}

using PlainTextTest = PlainTextFixture;

TEST_F(PlainTextTest, EachKindGivesItsOwnText) {
  const std::string note = "Notiz mit 'Quotes'; [Klammern] \"und\" <b>kein HTML</b>";
  EXPECT_EQ(collection_->CreatePlainText(0, note, 90, "notiz.txt"), note);

  const std::string page =
      "<html><body><script>alert('x')</script><table><tr><td>A</td><td>B</td></tr></table>"
      "<object><param name=x>Objekt</object><p>Text</p></body></html>";
  const std::string rendered = collection_->CreatePlainText(0, page, 100, "seite.htm");
  EXPECT_EQ(rendered, format::HTML2Text(page));
  EXPECT_NE(rendered.find("Text"), std::string::npos);
  EXPECT_EQ(rendered.find("alert"), std::string::npos);
  EXPECT_EQ(rendered.find("Objekt"), std::string::npos);
  EXPECT_EQ(collection_->HTML2Text(page), rendered);

  // Kinds without text to search give none, whatever their content.
  EXPECT_EQ(collection_->CreatePlainText(0, page, 200, "seite.htm"), "");
  EXPECT_EQ(collection_->CreatePlainText(0, note, 0, "notiz.txt"), "");
}

TEST_F(PlainTextTest, PagesGiveTheSameTextFromTheirContentAloneOnAnyThread) {
  const std::string page =
      "<html><head><title>Kopf</title></head><body><p>Absatz &amp; <b>mehr</b></p>"
      "<table><tr><td>A</td><td>B</td></tr></table><a href=\"http://x/y\">Link</a></body></html>";
  const std::string expected = collection_->CreatePlainText(0, page, 100, "seite.htm");
  ASSERT_NE(expected.find("Absatz & mehr"), std::string::npos) << expected;
  EXPECT_EQ(collection_->ContentPlainText(page, 100, "seite.htm"), expected);
  EXPECT_EQ(collection_->ContentPlainText(page, 500, "seite.htm"),
            collection_->CreatePlainText(0, page, 500, "seite.htm"));
  // Web archives need their export, texts and other kinds no rendering: the run asks
  // CreatePlainText for them.
  EXPECT_EQ(collection_->ContentPlainText(page, 500, "Seite.MHT"), std::nullopt);
  EXPECT_EQ(collection_->ContentPlainText(page, 100, "a.mht.htm"), std::nullopt);
  EXPECT_EQ(collection_->ContentPlainText(page, 90, "seite.htm"), std::nullopt);
  EXPECT_EQ(collection_->ContentPlainText(page, 200, "seite.htm"), std::nullopt);

  // A fresh collection object makes its renderer when two threads ask first at once.
  Database fresh(Context{platform_.services(), environment_, {}, {}});
  std::optional<std::string> other;
  std::thread second([&] { other = fresh.ContentPlainText(page, 100, "seite.htm"); });
  const std::string here = fresh.HTML2Text(page);
  second.join();
  EXPECT_EQ(here, expected);
  EXPECT_EQ(other, expected);
}

TEST_F(PlainTextTest, AWebArchiveMadeAheadIsTakenOnlyWhenItsExportWritesTheSameFile) {
  const std::string archive =
      WebArchive("<html><body><p>Vorab =C3=BCbersetzt; it's [fine]</p></body></html>");
  const std::int32_t entry = Add({500, "vorab.mht", archive});
  const std::string expected = collection_->CreatePlainText(entry, archive, 500, "vorab.mht");
  ASSERT_NE(expected.find("Vorab übersetzt"), std::string::npos) << expected;

  // Made ahead: the file the export writes, and its text.
  std::optional<format::ArchiveText> ahead =
      collection_->ArchivePlainText(archive, 1252, 500, "vorab.mht");
  ASSERT_TRUE(ahead.has_value());
  EXPECT_EQ(ahead->text, expected);
  EXPECT_EQ(ahead->file, archive);  // ASCII: the same bytes in code page 1252
  // Only web archives in a code page of their own are made ahead.
  EXPECT_FALSE(collection_->ArchivePlainText(archive, 0, 500, "vorab.mht").has_value());
  EXPECT_FALSE(collection_->ArchivePlainText(archive, 1252, 100, "vorab.htm").has_value());
  EXPECT_FALSE(collection_->ArchivePlainText(archive, 1252, 90, "vorab.mht").has_value());
  EXPECT_FALSE(collection_->ArchivePlainText("", 1252, 500, "vorab.mht").has_value());

  // The text made ahead is taken when the exported file is the one it was made from...
  format::ArchiveText marked{ahead->file, "made ahead"};
  EXPECT_EQ(collection_->CreatePlainTextOfArchive(entry, archive, 500, "vorab.mht", marked),
            "made ahead");
  // ...and not when the stored document says otherwise (it changed, or the guess was wrong).
  format::ArchiveText stale{ahead->file + "x", "made ahead"};
  EXPECT_EQ(collection_->CreatePlainTextOfArchive(entry, archive, 500, "vorab.mht", stale),
            expected);
  // A document that cannot be exported has no text, whatever was made ahead.
  EXPECT_EQ(collection_->CreatePlainTextOfArchive(987654, archive, 500, "vorab.mht", marked), "");
  // Other kinds go the usual way.
  EXPECT_EQ(collection_->CreatePlainTextOfArchive(0, "notiz", 90, "n.txt", marked), "notiz");
  EXPECT_TRUE(FilesBelow(CacheFolder()).empty());
}

TEST_F(PlainTextTest, WebArchivesAreRenderedFromTheExportedFile) {
  const std::string archive = WebArchive(
      "<html><head><title>T</title></head><body><p>Gespeichert =C3=BCber "
      "alles</p></body></html>");
  const std::int32_t upper = Add({500, "SEITE.MHT", archive});
  const std::int32_t as_page = Add({100, "seite.htm", archive});
  const std::string expected = format::MhtToText(archive);
  ASSERT_NE(expected.find("Gespeichert über alles"), std::string::npos) << expected;

  // The extension is searched without regard to case, for both HTML kinds; the stored content
  // handed in is not what is rendered: the file exported from the collection is.
  EXPECT_EQ(collection_->CreatePlainText(upper, "ignored", 500, "SEITE.MHT"), expected);
  EXPECT_EQ(collection_->CreatePlainText(upper, "ignored", 100, "x.Mht"), expected);
  // Another extension renders the content as HTML, MIME headers and all.
  EXPECT_EQ(collection_->CreatePlainText(as_page, archive, 100, "seite.htm"),
            format::HTML2Text(archive));

  // Nothing of the export is left behind.
  EXPECT_TRUE(FilesBelow(CacheFolder()).empty()) << FilesBelow(CacheFolder())[0];
}

TEST_F(PlainTextTest, DocumentsThatCannotBeRenderedGiveTheEmptyText) {
  EXPECT_EQ(collection_->CreatePlainTextInIE(987654), "");
  EXPECT_EQ(collection_->CreatePlainText(987654, "<p>x</p>", 100, "gone.mht"), "");
  const std::int32_t image = Add({200, "bild.gif", "", 1252, "", common::Bytes{'G', 'I', 'F', 0}});
  EXPECT_EQ(collection_->CreatePlainTextInIE(image), "");

  // Without a temporary folder nothing can be exported, and nothing is raised.
  const std::int32_t archive = Add({500, "a.mht", WebArchive("<p>x</p>")});
  platform_.system.temp_folder = "";
  EXPECT_EQ(collection_->CreatePlainTextInIE(archive), "");
  platform_.system.temp_folder = (temp_ / "missing" / "deeper").string() + "/";
  EXPECT_EQ(collection_->CreatePlainTextInIE(archive), "");
}

TEST_F(PlainTextTest, ExportWritesPageFramesAndImagesWithTheirReferences) {
  const common::Bytes image_bytes = {'G', 'I', 'F', '8', '9', 'a', 0, 1, 0xFF, 0};
  const std::int32_t image = Add({200, "bild.gif", "", 1252, "", image_bytes});
  const std::int32_t frame =
      Add({100, "rahmen.htm",
           "<html><head><title>Rahmen</title></head><body><img src=\"bild.gif\"></body></html>"});
  const std::int32_t page = Add(
      {100, "index.htm",
       "<html><body><iframe src=\"rahmen.htm\"></iframe><a href='grossrahmen.htm'>x</a>"
       "<img src=\"http://www.example.com/alt/bild.gif\"><p>bild.gif bleibt</p></body></html>"});
  Link(page, frame);
  Link(frame, image);
  Link(page, image);  // embedded twice: written once

  const std::string main = collection_->ExportDocument(page);
  ASSERT_FALSE(main.empty());
  const fs::path folder = fs::path(main).parent_path();
  EXPECT_EQ(folder, CacheFolder() / ("Quillarchive_Texts_" + std::to_string(page)));
  EXPECT_EQ(fs::path(main).filename().string(), std::to_string(page) + "_qaDoc_index.htm");

  const std::string frame_file = std::to_string(frame) + "_qaDoc_rahmen.htm";
  const std::string image_file = std::to_string(image) + "_qaDoc_bild.gif";
  std::vector<std::string> files = FilesBelow(folder);
  std::sort(files.begin(), files.end());
  std::vector<std::string> expected_files = {fs::path(main).filename().string(), frame_file,
                                             image_file};
  std::sort(expected_files.begin(), expected_files.end());
  EXPECT_EQ(files, expected_files);

  const std::string id = std::to_string(collection_->ArchiveID());
  EXPECT_EQ(ReadAll(main), "<html><!-- quillarchive archiveid=\"" + id + "\" entryid=\"" +
                               std::to_string(page) + "\" --><body><iframe src=\"" + frame_file +
                               "\"></iframe><a href='grossrahmen.htm'>x</a><img src=\"" +
                               image_file + "\"><p>bild.gif bleibt</p></body></html>");
  EXPECT_EQ(ReadAll(folder / frame_file),
            "<html><head><title>Rahmen</title><!-- quillarchive archiveid=\"" + id +
                "\" entryid=\"" + std::to_string(frame) + "\" --></head><body><img src=\"" +
                image_file + "\"></body></html>");
  const std::string image_data = ReadAll(folder / image_file);
  EXPECT_EQ(common::Bytes(image_data.begin(), image_data.end()), image_bytes);
  fs::remove_all(folder);
}

TEST_F(PlainTextTest, ExportWritesTextInTheDocumentsCodePage) {
  const std::int32_t page =
      Add({100, "index.htm", "<html><body><p>Привет</p></body></html>", 1251});
  const std::string main = collection_->ExportDocument(page);
  ASSERT_FALSE(main.empty());
  const std::string data = ReadAll(main);
  const common::Bytes cyrillic = common::TextToBytes("Привет", 1251);
  EXPECT_NE(data.find(std::string(cyrillic.begin(), cyrillic.end() - 1)), std::string::npos);
  EXPECT_EQ(common::BytesToText(data, 1251).find("<html><!-- quillarchive"), 0u);
  fs::remove_all(fs::path(main).parent_path());
}

TEST_F(PlainTextTest, ForeignCodePageNamesAreReducedToTheAnsiCodePage) {
  // Russian in a Russian document: the ANSI code page 1252 cannot hold the name.
  const std::int32_t russian = Add({100, "Заметка.htm", "<p>x</p>", 1251});
  // The same name in a document of the ANSI code page is used as it is.
  const std::int32_t local = Add({100, "Заметка.htm", "<p>x</p>", 1252});
  // A foreign document with a name the ANSI code page holds keeps it too.
  const std::int32_t plain = Add({100, "Grüße.htm", "<p>x</p>", 1251});

  const std::string reduced = common::MakeValidFileName(
      common::BytesToText(common::TextToBytes("Заметка.htm", 1252), 1252));
  ASSERT_EQ(reduced, "       .htm");
  EXPECT_EQ(fs::path(collection_->ExportDocument(russian)).filename().string(),
            std::to_string(russian) + "_qaDoc_" + reduced);
  EXPECT_EQ(fs::path(collection_->ExportDocument(local)).filename().string(),
            std::to_string(local) + "_qaDoc_Заметка.htm");
  EXPECT_EQ(fs::path(collection_->ExportDocument(plain)).filename().string(),
            std::to_string(plain) + "_qaDoc_Grüße.htm");
}

TEST_F(PlainTextTest, HostileFileNamesStayInsideTheExportFolder) {
  // Names as long as the column takes: with the entry number in front they are too long for a
  // file name, in bytes even more so when the characters are not ASCII.
  const std::string long_name = std::string(250, 'n') + ".htm";
  std::string wide_name;
  for (int i = 0; i < 200; ++i) wide_name += "ü";
  wide_name += ".htm";
  const std::vector<std::string> names = {"../../entkommen.htm",
                                          "..\\..\\win.htm",
                                          "\"zitat\" [x]; DROP TABLE Document; --.htm",
                                          "a/b/c.htm",
                                          "..",
                                          long_name};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::int32_t entry = Add({100, name, "<html><p>Inhalt</p></html>"});
    const std::string main = collection_->ExportDocument(entry);
    ASSERT_FALSE(main.empty());
    const fs::path folder = fs::path(main).parent_path();
    EXPECT_EQ(folder.parent_path(), CacheFolder());
    const std::string file = fs::path(main).filename().string();
    EXPECT_LE(file.size(), 255u);
    EXPECT_EQ(file.rfind(std::to_string(entry) + "_qaDoc_", 0), 0u);
    EXPECT_NE(ReadAll(main).find("Inhalt"), std::string::npos);
    EXPECT_EQ(FilesBelow(folder), std::vector<std::string>{file});
    if (name == long_name || name == wide_name) {
      EXPECT_TRUE(file.ends_with(".htm"));
      EXPECT_GT(file.size(), 240u);
    }
    EXPECT_NE(collection_->CreatePlainTextInIE(entry).find("Inhalt"), std::string::npos);
  }
  // Nothing went anywhere but the cache.
  std::vector<std::string> top;
  for (const auto& item : fs::directory_iterator(temp_)) {
    top.push_back(item.path().filename().string());
  }
  EXPECT_EQ(top, std::vector<std::string>{"isCache"});
}

TEST_F(PlainTextTest, AHostileDatabaseNameMakesNoPathOfItsOwn) {
  const std::int32_t entry = Add({100, "x.htm", "<p>x</p>"});
  collection_->SetDatabaseName("Quillarchive_../../'x'; [y]/" + std::string(300, 'z'));
  const std::string main = collection_->ExportDocument(entry);
  ASSERT_FALSE(main.empty());
  const fs::path folder = fs::path(main).parent_path();
  EXPECT_EQ(folder.parent_path(), CacheFolder());
  EXPECT_EQ(folder.filename().string().rfind("Quillarchive________x____y__zzz", 0), 0u)
      << folder.filename();
  EXPECT_TRUE(folder.filename().string().ends_with("_" + std::to_string(entry)));
}

TEST_F(PlainTextTest, SubDocumentLinksThatLoopEndTheExport) {
  const std::int32_t a = Add({100, "a.htm",
                              "<html><head><title>A</title></head>"
                              "<iframe src=\"b.htm\"></iframe></html>"});
  const std::int32_t b = Add({100, "b.htm",
                              "<html><head><title>B</title></head>"
                              "<iframe src=\"a.htm\"></iframe></html>"});
  Link(a, b);
  Link(b, a);
  Link(b, b);
  const std::string main = collection_->ExportDocument(a);
  ASSERT_FALSE(main.empty());
  std::vector<std::string> files = FilesBelow(fs::path(main).parent_path());
  EXPECT_EQ(files.size(), 2u);
  // The page embedded by its own frame points back at the page's file.
  const std::string b_text =
      ReadAll(fs::path(main).parent_path() / (std::to_string(b) + "_qaDoc_b.htm"));
  EXPECT_NE(b_text.find("src=\"" + std::to_string(a) + "_qaDoc_a.htm\""), std::string::npos)
      << b_text;
}

TEST_F(PlainTextTest, ALeftoverFolderIsReplaced) {
  const std::int32_t entry = Add({100, "x.htm", "<p>neu</p>"});
  const fs::path folder = CacheFolder() / ("Quillarchive_Texts_" + std::to_string(entry));
  fs::create_directories(folder / "alt");
  std::ofstream(folder / "alt" / "rest.txt") << "alt";
  const std::string main = collection_->ExportDocument(entry);
  ASSERT_EQ(fs::path(main).parent_path(), folder);
  EXPECT_EQ(FilesBelow(folder), std::vector<std::string>{fs::path(main).filename().string()});
}

TEST_F(PlainTextTest, ACacheFolderNotOwnedPrivatelyIsNotUsed) {
  const std::int32_t entry = Add({500, "x.mht", WebArchive("<p>geheim</p>")});
  // Someone else's link in the shared temporary folder: followed, the export would write and
  // delete wherever it points.
  const fs::path elsewhere = root_ / "elsewhere";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "wertvoll.txt") << "bleibt";
  fs::create_directory_symlink(elsewhere, CacheFolder());
  EXPECT_EQ(collection_->ExportDocument(entry), "");
  EXPECT_EQ(collection_->CreatePlainTextInIE(entry), "");
  EXPECT_EQ(FilesBelow(elsewhere), std::vector<std::string>{"wertvoll.txt"});

  // A folder others may write into is refused as well.
  fs::remove(CacheFolder());
  fs::create_directory(CacheFolder());
  ::chmod(CacheFolder().c_str(), 0777);
  EXPECT_EQ(collection_->ExportDocument(entry), "");
  ::chmod(CacheFolder().c_str(), 0700);
  EXPECT_NE(collection_->CreatePlainTextInIE(entry).find("geheim"), std::string::npos);
}

// A disk that fails while the export writes: the run gets no text or the text of what was
// written, and no file of the export is left behind either way.
class PlainTextOnFailingDiskTest : public PlainTextFixture {
 protected:
  PlainTextOnFailingDiskTest() { real_disk_ = false; }
};

TEST_F(PlainTextOnFailingDiskTest, AFailedWriteLeavesNothingBehind) {
  const std::int32_t page = Add({100, "seite.htm",
                                 "<html><head><title>S</title></head><body><p>Rahmen</p>"
                                 "<iframe src=\"innen.htm\"></iframe></body></html>"});
  const std::int32_t inner =
      Add({100, "innen.htm", "<html><head><title>I</title></head><p>Innen</p></html>"});
  Link(page, inner);
  platform_.files.folders.insert(temp_.string());
  struct Case {
    std::string failing;  // a write whose path contains this fails
    bool text_expected;
  };
  for (const Case& c : {Case{"", true}, Case{"_qaDoc_innen", true}, Case{"_qaDoc_seite", false}}) {
    SCOPED_TRACE("failing writes: '" + c.failing + "'");
    platform_.files.fail_writes_containing = c.failing;
    const int writes_before = platform_.files.writes;
    const std::string text = collection_->CreatePlainTextInIE(page);
    EXPECT_EQ(text.find("Rahmen") != std::string::npos, c.text_expected) << text;
    EXPECT_GT(platform_.files.writes, writes_before);
    EXPECT_TRUE(platform_.files.files.empty()) << platform_.files.files.begin()->first;
    // Only the cache folder itself stays, empty, for the next document.
    EXPECT_EQ(platform_.files.folders,
              (std::set<std::string>{"/tmp", temp_.string(), (CacheFolder()).string()}));
  }
  // A cache folder that is not ours (a link planted in the shared folder) is never written to.
  platform_.files.fail_writes_containing.clear();
  platform_.files.folders.erase(CacheFolder().string());
  platform_.files.foreign_folders.insert(CacheFolder().string());
  const int writes_before = platform_.files.writes;
  EXPECT_EQ(collection_->CreatePlainTextInIE(page), "");
  EXPECT_EQ(platform_.files.writes, writes_before);
}

TEST_F(PlainTextTest, WriteFileAPIWritesExactlyTheBytesAsked) {
  const fs::path file = temp_ / "bytes.bin";
  const std::string bytes("a\0b\0\xFF", 5);
  ASSERT_TRUE(collection_->WriteFileAPI_A(file.string(), bytes, 4));
  EXPECT_EQ(ReadAll(file), std::string("a\0b\0", 4));
  // An existing file is replaced, not appended to; a length beyond the bytes writes them all.
  ASSERT_TRUE(collection_->WriteFileAPI_A(file.string(), bytes, 99));
  EXPECT_EQ(ReadAll(file), bytes);
  ASSERT_TRUE(collection_->WriteFileAPI_A(file.string(), bytes, 0));
  EXPECT_EQ(fs::file_size(file), 0u);
  EXPECT_FALSE(collection_->WriteFileAPI_A((temp_ / "no" / "such" / "f").string(), bytes, 5));
  EXPECT_FALSE(collection_->WriteFileAPI_A("", bytes, 5));
}

}  // namespace
}  // namespace collections::testing
