// The plain-text generation run on a real collection object: a 1.50 collection and documents of
// every kind converted once, a run stopped by a server failure or by the administrator, and a
// second run that finishes the rest.
#include <map>
#include <string>
#include <vector>

#include "collections/plain_text_fixture.h"
#include "common/code_page.h"
#include "format/html_text.h"
#include "format/mht.h"
#include "format/older_layouts.h"
#include "format/progress_window.h"

namespace collections::testing {
namespace {

constexpr char kMarkerQuery[] =
    "SELECT FieldValue FROM ExtendedData d JOIN ExtendedField f ON d.ExtFieldID = f.ExtFieldID "
    "WHERE d.EntryID = 0 AND f.FieldType = 1 AND f.FieldName = 'Quillarchive: Search in "
    "PlainText'";

// What a document held before the run.
struct Before {
  int type = 0;
  std::string content;
  int code_page = 0;
  std::string file_name;
};

class PlainTextRunTest : public PlainTextFixture {
 protected:
  void SetUp() override {
    PlainTextFixture::SetUp();
    // A new collection is born marked; these stand for collections that still need the run.
    collection_->Connection().Execute(
        "DELETE FROM ExtendedData WHERE EntryID = 0 AND ExtFieldID IN (SELECT ExtFieldID FROM "
        "ExtendedField WHERE FieldType = 1 AND FieldName = 'Quillarchive: Search in PlainText')");
    ASSERT_EQ(Marker(), "");
  }

  bool Run() {
    format::frmProgress window(platform_.ui, *collection_, format::frmProgress::kPlainText);
    return window.Show();
  }

  std::map<std::int32_t, Before> Unconverted() {
    std::map<std::int32_t, Before> rows;
    db::Recordset rs;
    rs.Open(
        "SELECT EntryID, TypeID, Content, CodePage, Filename FROM Document WHERE BinaryData = 0",
        collection_->Connection());
    for (; !rs.Eof(); rs.MoveNext()) {
      rows[static_cast<std::int32_t>(rs.Fields(0).Value().ToInt().value())] = {
          static_cast<int>(rs.Fields(1).Value().ToInt().value()), rs.Fields(2).Value().ToText(),
          static_cast<int>(rs.Fields(3).Value().ToInt().value()), rs.Fields(4).Value().ToText()};
    }
    rs.Close();
    return rows;
  }

  std::string Marker() { return Scalar(collection_->Connection(), kMarkerQuery).ToText(); }

  std::int64_t Count(const std::string& where) {
    return Scalar(collection_->Connection(), "SELECT COUNT(*) FROM Document WHERE " + where)
        .ToInt()
        .value();
  }

  int StatementsStartingWith(const std::string& start) {
    int count = 0;
    for (const std::string& text : log_->Texts()) {
      if (text.rfind(start, 0) == 0) ++count;
    }
    return count;
  }

  // The searchable text the row must get, computed apart from the run.
  static std::string ExpectedPlainText(const Before& d) {
    if (d.type == 90) return d.content;
    if (d.type == 100 || d.type == 500) {
      std::string lower = d.file_name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower.find(".mht") != std::string::npos) return format::MhtToText(d.content);
      return format::HTML2Text(d.content);
    }
    return "";
  }

  // The row is converted completely: bytes in its code page, its text, Content emptied.
  void ExpectConverted(std::int32_t entry, const Before& d) {
    SCOPED_TRACE("entry " + std::to_string(entry) + " " + d.file_name);
    EXPECT_EQ(Column(entry, "BinaryData").ToBool(), true);
    EXPECT_EQ(Column(entry, "Content").ToText(), "");
    if (d.content.empty()) {
      EXPECT_TRUE(Column(entry, "BinaryContent").IsNull());
      EXPECT_EQ(Column(entry, "PlainText").ToText(), "");
      return;
    }
    const common::Bytes bytes = common::TextToBytes(d.content, d.code_page);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(StoredBytes(entry), bytes);
    EXPECT_EQ(common::BytesToText(StoredBytes(entry), d.code_page), d.content);
    EXPECT_EQ(Column(entry, "PlainText").ToText(), ExpectedPlainText(d));
  }

  void ExpectUntouched(std::int32_t entry, const Before& d) {
    SCOPED_TRACE("entry " + std::to_string(entry) + " " + d.file_name);
    EXPECT_EQ(Column(entry, "BinaryData").ToBool(), false);
    EXPECT_EQ(Column(entry, "Content").ToText(), d.content);
    EXPECT_TRUE(Column(entry, "BinaryContent").IsNull());
  }

  // Documents of every kind the generation meets, HTML of every shape among them.
  void AddMixedDocuments() {
    Add({100, "kaputt.htm", "<html><body><p>Offen <b>fett <i>schief</p><td>Zelle</html"});
    Add({100, "skript.htm",
         "<html><head><script>document.write('geheim')</script><style>p{}</style></head>"
         "<body onload=\"go()\"><p>Sichtbar</p><noscript>ohne</noscript></body></html>"});
    Add({100, "tabelle.htm",
         "<table><tr><td>Eins</td><td>Zwei</td></tr><tr><td>Drei</td></tr></table>"});
    Add({500, "objekt.html",
         "<p>Vor</p><OBJECT classid=\"x\"><param name=a value=b>Objekttext</OBJECT>"
         "<embed src=\"y\">Einbettung</embed><applet code=z>Applet</applet><p>Nach</p>"});
    Add({100, "adressen.htm",
         "<a href=\"http://www.example.com/x?a=1&b=2\">Link</a><img src='http://a.b/c.gif'>"
         "<frame src=http://evil.example.com/>Rahmen"});
    Add({90, "notiz.txt", "Zeile 1\r\nO'Brien; [x] \"y\" <kein> &amp;"});
    Add({90, "russisch.txt", "Привет из Москвы", 1251});
    Add({90, "leer.txt", ""});
    Add({500, "ARCHIV.MHT",
         "MIME-Version: 1.0\r\nContent-Type: text/html; "
         "charset=\"utf-8\"\r\n\r\n<p>Archiviert</p>"});
    Add({100, "seite.MHT",
         "MIME-Version: 1.0\r\nContent-Type: text/html; charset=\"utf-8\"\r\n\r\n<p>Auch</p>"});
    Add({200, "daten.bin", "kein Text zum Suchen"});
    Add({100, "null.htm", "<p>Seite 0</p>", 0});
  }
};

TEST_F(PlainTextRunTest, ConvertsEveryKindOfDocumentOnce) {
  AddMixedDocuments();
  const std::map<std::int32_t, Before> before = Unconverted();
  ASSERT_EQ(before.size(), 12u);
  const std::int64_t binary_before = Count("BinaryData = 1");
  log_->Clear();

  EXPECT_TRUE(Run());
  EXPECT_TRUE(platform_.ui.boxes().empty()) << platform_.ui.boxes()[0].text;
  for (const auto& [entry, d] : before) ExpectConverted(entry, d);
  EXPECT_EQ(Count("BinaryData = 0"), 0);
  EXPECT_EQ(Count("BinaryData = 1"), binary_before + 12);
  EXPECT_EQ(Marker(), "True");
  // One save per document, one batch with rows and the empty one that ends the run.
  EXPECT_EQ(StatementsStartingWith("UPDATE Document SET"), 12);
  EXPECT_EQ(StatementsStartingWith(
                "SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID"),
            2);

  // What the renderer made of the hard cases.
  auto plain = [&](const std::string& name) {
    for (const auto& [entry, d] : before) {
      if (d.file_name == name) return Column(entry, "PlainText").ToText();
    }
    return std::string("no such document");
  };
  EXPECT_NE(plain("kaputt.htm").find("Zelle"), std::string::npos);
  EXPECT_EQ(plain("skript.htm").find("geheim"), std::string::npos);
  EXPECT_NE(plain("skript.htm").find("Sichtbar"), std::string::npos);
  EXPECT_NE(plain("tabelle.htm").find("Eins"), std::string::npos);
  EXPECT_EQ(plain("tabelle.htm").find("EinsZwei"), std::string::npos);
  EXPECT_EQ(plain("objekt.html").find("Objekttext"), std::string::npos);
  EXPECT_EQ(plain("objekt.html").find("Applet"), std::string::npos);
  EXPECT_NE(plain("objekt.html").find("Nach"), std::string::npos);
  EXPECT_NE(plain("adressen.htm").find("Link"), std::string::npos);
  EXPECT_EQ(plain("ARCHIV.MHT").find("MIME"), std::string::npos);
  EXPECT_NE(plain("ARCHIV.MHT").find("Archiviert"), std::string::npos);
  EXPECT_NE(plain("seite.MHT").find("Auch"), std::string::npos);
  EXPECT_EQ(plain("daten.bin"), "");

  // A second run finds nothing left and sets the marker again.
  log_->Clear();
  EXPECT_TRUE(Run());
  EXPECT_EQ(StatementsStartingWith("UPDATE Document SET"), 0);
  EXPECT_EQ(StatementsStartingWith("SELECT Top 250"), 0);
}

TEST_F(PlainTextRunTest, PlainHtmlUnderAnArchiveNameIsReadInItsOwnCodePage) {
  // Pages saved with ".mht" in their names that are plain HTML: the browser rendering reads the
  // exported bytes by their declaration, else by the document's code page.
  struct Page {
    NewDocument document;
    std::string words;
  };
  const Page pages[] = {
      {{100, "brief.mht", "<html><body><p>Grüße aus Köln</p></body></html>", 1252},
       "Grüße aus Köln"},
      {{100, "pismo.mht",
        "<html><head><meta charset=windows-1251></head><body>Привет из Москвы</body></html>", 1251},
       "Привет из Москвы"},
      {{500, "STRONA.MHT", "<p>Zażółć gęślą jaźń</p>", 1250}, "Zażółć gęślą jaźń"},
      {{100, "nihongo.mht",
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">日本語", 932},
       "日本語"},
  };
  std::map<std::int32_t, std::string> expected;
  for (const Page& page : pages) expected[Add(page.document)] = page.words;
  EXPECT_TRUE(Run());
  EXPECT_TRUE(platform_.ui.boxes().empty()) << platform_.ui.boxes()[0].text;
  for (const auto& [entry, words] : expected)
    EXPECT_EQ(Column(entry, "PlainText").ToText(), words) << "entry " << entry;
}

TEST_F(PlainTextRunTest, TheWindowShowsTheCollectionAndTheCount) {
  for (int i = 0; i < 40; ++i)
    Add({90, "n" + std::to_string(i) + ".txt", "Text " + std::to_string(i)});
  ASSERT_TRUE(Run());
  ASSERT_EQ(platform_.ui.progress().size(), 1u);
  const auto& progress = platform_.ui.progress()[0];
  EXPECT_EQ(progress.caption, "Tessera Server Manager");
  EXPECT_EQ(progress.lines[0],
            "Generating full-text information\nfor the network collection 'Texts'");
  EXPECT_EQ(progress.lines[1], "40 of 40 items processed");
  EXPECT_EQ(progress.maximum, 40);
  EXPECT_EQ(progress.value, 40);
  EXPECT_FALSE(progress.open);
}

TEST_F(PlainTextRunTest, AnOlderCollectionIsConvertedAndMarked) {
  db::Connection server = Open(kSandboxSa);
  server.Execute("CREATE DATABASE Quillarchive_Alt");
  db::Connection old = Open(kSandboxSa, "Quillarchive_Alt");
  format::BuildOlderCollection(old, format::OlderLayout::k150);
  old.Close();
  server.Close();
  auto older = std::make_shared<Database>(Context{platform_.services(), environment_, {}, {}});
  older->SetServer(Server());
  older->SetName("Alt");
  older->SetArchiveID(77);
  ASSERT_TRUE(older->Connect());
  collection_ = older;

  const std::map<std::int32_t, Before> before = Unconverted();
  ASSERT_GT(before.size(), 10u);
  EXPECT_EQ(Marker(), "");
  EXPECT_TRUE(Run());
  for (const auto& [entry, d] : before) ExpectConverted(entry, d);
  EXPECT_EQ(Marker(), "True");
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(PlainTextRunTest, AServerFailurePartWayLosesNothingAndASecondRunFinishes) {
  AddMixedDocuments();
  const std::map<std::int32_t, Before> before = Unconverted();
  sandbox::ServerMessage error;
  error.number = 1205;
  error.severity = 13;
  error.text = "Transaction was deadlocked on lock resources with another process.";
  instance_->InjectFault({"UPDATE Document SET", 5, error});
  platform_.ui.QueueAnswer(platform::kAnswerOk);

  EXPECT_FALSE(Run());
  instance_->ClearFaults();
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            "Beim Laden/Aktualisieren der Datensätze ist folgender Fehler aufgetreten:\r" +
                error.text + "\rFehlernummer: " + std::to_string(db::ProviderNumberFor(1205)));
  EXPECT_EQ(platform_.ui.boxes()[0].title, "Tessera Server Manager");
  EXPECT_EQ(platform_.ui.boxes()[0].buttons, platform::MessageButtons::kOk);
  EXPECT_EQ(Marker(), "");
  int index = 0;
  for (const auto& [entry, d] : before) {
    if (index++ < 4) {
      ExpectConverted(entry, d);
    } else {
      ExpectUntouched(entry, d);
    }
  }

  log_->Clear();
  EXPECT_TRUE(Run());
  EXPECT_EQ(StatementsStartingWith("UPDATE Document SET"), 8);
  for (const auto& [entry, d] : before) ExpectConverted(entry, d);
  EXPECT_EQ(Marker(), "True");
}

TEST_F(PlainTextRunTest, FailuresToCountOrToLoadEndTheRunWithoutTheMarker) {
  AddMixedDocuments();
  const std::map<std::int32_t, Before> before = Unconverted();
  sandbox::ServerMessage error;
  error.number = 229;
  error.severity = 14;
  error.text = "SELECT permission denied on object 'Document'.";
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  instance_->InjectFault({"SELECT Count(EntryID)", 1, error});
  EXPECT_FALSE(Run());
  instance_->InjectFault({"SELECT Top 250", 1, error});
  EXPECT_FALSE(Run());
  instance_->ClearFaults();
  ASSERT_EQ(platform_.ui.boxes().size(), 2u);
  for (const auto& box : platform_.ui.boxes()) {
    EXPECT_EQ(box.text.rfind("Beim Laden/Aktualisieren der Datensätze ist folgender Fehler "
                             "aufgetreten:\rSELECT permission denied",
                             0),
              0u)
        << box.text;
  }
  for (const auto& [entry, d] : before) ExpectUntouched(entry, d);
  EXPECT_EQ(Marker(), "");
}

TEST_F(PlainTextRunTest, AMarkerThatCannotBeWrittenIsNotASuccess) {
  Add({90, "a.txt", "a"});
  sandbox::ServerMessage error;
  error.number = 229;
  error.severity = 14;
  error.text = "UPDATE permission denied on object 'ExtendedData'.";
  instance_->InjectFault({"UPDATE ExtendedData", 1, error});
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(Run());
  instance_->ClearFaults();
  EXPECT_EQ(Marker(), "");
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text.rfind(
                "Beim Laden/Aktualisieren der Datensätze ist folgender Fehler aufgetreten:\r", 0),
            0u);
  // The document itself was converted and stays so; the next run only writes the marker.
  EXPECT_EQ(Count("BinaryData = 0"), 0);
  EXPECT_TRUE(Run());
  EXPECT_EQ(Marker(), "True");
}

TEST_F(PlainTextRunTest, ACollectionWithNothingToConvertIsOnlyMarked) {
  log_->Clear();
  EXPECT_TRUE(Run());
  EXPECT_EQ(StatementsStartingWith("SELECT Top 250"), 0);
  EXPECT_EQ(StatementsStartingWith("UPDATE Document"), 0);
  EXPECT_EQ(Marker(), "True");
  EXPECT_EQ(platform_.ui.progress()[0].lines[1], "Please wait...");
}

std::string DocumentBox(const std::string& url, const std::string& description) {
  return "Beim der Generierung von Volltextinformation ist bei folgendem Dokument ein Fehler "
         "aufgetreten:\r\nURL: " +
         url + "\r\nFehlertext: " + description + "\r\nFehlernummer: 5";
}

// A Russian text filed under the Western code page: stored in it, the letters would be lost.
NewDocument Unstorable() {
  return {90, "falsch.txt", "Привет", 1252, "file:///C:\\Notizen\\['falsch'; --].txt"};
}

TEST_F(PlainTextRunTest, AbortLeavesTheDocumentAndTheRestAsTheyWere) {
  const std::int32_t first = Add({90, "a.txt", "erstes"});
  const std::int32_t bad = Add(Unstorable());
  const std::int32_t last = Add({90, "c.txt", "letztes"});
  const std::map<std::int32_t, Before> before = Unconverted();
  platform_.ui.QueueAnswer(platform::kAnswerAbort);

  EXPECT_FALSE(Run());
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            DocumentBox(Unstorable().url,
                        "The text holds characters that code page 1252 cannot represent."));
  EXPECT_EQ(platform_.ui.boxes()[0].buttons, platform::MessageButtons::kAbortRetryIgnore);
  ExpectConverted(first, before.at(first));
  ExpectUntouched(bad, before.at(bad));
  ExpectUntouched(last, before.at(last));
  EXPECT_EQ(Marker(), "");
}

TEST_F(PlainTextRunTest, RetryAsksAgainAndIgnoreKeepsTheTextRecoverable) {
  const std::int32_t bad = Add(Unstorable());
  const std::int32_t unknown = Add({100, "x.htm", "<p>Seite</p>", 4242, "http://x/"});
  const std::int32_t good = Add({90, "c.txt", "gut"});
  const std::map<std::int32_t, Before> before = Unconverted();
  platform_.ui.QueueAnswer(platform::kAnswerRetry);
  platform_.ui.QueueAnswer(platform::kAnswerRetry);
  platform_.ui.QueueAnswer(platform::kAnswerIgnore);
  platform_.ui.QueueAnswer(platform::kAnswerIgnore);

  EXPECT_TRUE(Run());
  ASSERT_EQ(platform_.ui.boxes().size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(platform_.ui.boxes()[i].text, platform_.ui.boxes()[0].text);
  EXPECT_EQ(platform_.ui.boxes()[3].text,
            DocumentBox("http://x/", "The code page 4242 is not known."));
  // Ignored documents leave the selection with their text where it was.
  for (std::int32_t entry : {bad, unknown}) {
    EXPECT_EQ(Column(entry, "BinaryData").ToBool(), true);
    EXPECT_EQ(Column(entry, "Content").ToText(), before.at(entry).content);
    EXPECT_TRUE(Column(entry, "BinaryContent").IsNull());
    EXPECT_EQ(Column(entry, "PlainText").ToText(), "");
  }
  ExpectConverted(good, before.at(good));
  EXPECT_EQ(Marker(), "True");
  EXPECT_EQ(platform_.ui.progress()[0].lines[1], "3 of 3 items processed");

  // Nothing is selected again.
  log_->Clear();
  EXPECT_TRUE(Run());
  EXPECT_EQ(StatementsStartingWith("SELECT Top 250"), 0);
  EXPECT_EQ(platform_.ui.boxes().size(), 4u);
}

}  // namespace
}  // namespace collections::testing
