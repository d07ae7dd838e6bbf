#include "format/older_layouts.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "common/code_page.h"
#include "db/constants.h"
#include "db/recordset.h"
#include "format/html_text.h"
#include "format/install_script.h"
#include "format/mht.h"
#include "format/names.h"
#include "format/procedures.h"
#include "format/template_document.h"

namespace format {
namespace {

struct LayoutInfo {
  OlderLayout layout;
  std::string_view version;
  int number;
};

constexpr std::array<LayoutInfo, 9> kLayouts = {{
    {OlderLayout::k130, "1.30", 130},
    {OlderLayout::k136, "1.36", 136},
    {OlderLayout::k140, "1.40", 140},
    {OlderLayout::k141, "1.41", 141},
    {OlderLayout::k150, "1.50", 150},
    {OlderLayout::k153, "1.53", 153},
    {OlderLayout::k154, "1.54", 154},
    {OlderLayout::k155, "1.55", 155},
    {OlderLayout::k156, "1.56", 156},
}};

const LayoutInfo& Info(OlderLayout layout) {
  for (const LayoutInfo& info : kLayouts) {
    if (info.layout == layout) return info;
  }
  throw std::invalid_argument("not an older collection layout");
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string Current(std::string_view name) {
  std::optional<std::string> text = CreationText(name);
  if (!text) throw std::logic_error("no creation text for " + std::string(name));
  return *text;
}

// Before VisibleInFolderID, documents were shown in the folder they were filed in.
std::string CountingByFiledFolder(std::string text) {
  return ReplaceAll(std::move(text), "VisibleInFolderID", "FolderID");
}

// FoldersSub as the rung to 1.50 creates it; the rung to 1.61 adds parent and sub-folder count.
constexpr std::string_view kFoldersSub150Text =
    "CREATE PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, (SELECT "
    "Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = "
    "Folder.FolderID) AS DocsCount FROM Folder INNER JOIN SubFolder ON Folder.FolderID = "
    "SubFolder.ChildFolderID WHERE (((SubFolder.ParentFolderID)= @FolderID)) ORDER BY "
    "Folder.Name;";

// DocsInFolder as the rung to 1.50 creates it; the rung to 1.53 adds Status.
constexpr std::string_view kDocsInFolder150Text =
    "CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, "
    "Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, "
    "Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, "
    "Document.Categories From Document WHERE (((Document.VisibleInFolderID) = @FolderID));";

// The procedures of a layout in the order the installation creates them, each with the role
// that may run it. Nothing for a procedure the layout does not have yet.
struct Procedure {
  std::string_view name;
  std::string_view role;
  std::string text;
};

std::vector<Procedure> Procedures(int v) {
  std::vector<Procedure> procedures;
  auto add = [&](std::string_view name, std::string text, std::string_view role = kReaderRole) {
    procedures.push_back({name, role, std::move(text)});
  };
  add("DocByID", Current("DocByID"));
  // The rung to 1.55 widens Url to Unicode and recreates these two to match.
  if (v >= 155) {
    add("DocByUrl", Current("DocByUrl"));
    add("DocByUrlSize", Current("DocByUrlSize"));
  } else {
    add("DocByUrl", ReplaceAll(Current("DocByUrl"), "NVARCHAR(4000)", "VARCHAR(4000)"));
    add("DocByUrlSize", ReplaceAll(Current("DocByUrlSize"), "NVARCHAR(4000)", "VARCHAR(4000)"));
  }
  if (v >= 141) add("DocWithSub", Current("DocWithSub"));
  if (v >= 153) {
    add("DocsInFolder", Current("DocsInFolder"));
  } else if (v >= 150) {
    add("DocsInFolder", std::string(kDocsInFolder150Text));
  } else {
    add("DocsInFolder", CountingByFiledFolder(std::string(kDocsInFolder150Text)));
  }
  add("DocsSub", Current("DocsSub"));
  // The rung to 1.36 brings it in the desktop database's dialect; on the server it has the
  // current text without the columns the rung to 1.53 adds.
  if (v >= 153) {
    add("DocsWithCategory", Current("DocsWithCategory"));
  } else if (v >= 136) {
    add("DocsWithCategory",
        ReplaceAll(ReplaceAll(Current("DocsWithCategory"), ", Document.Status", ""),
                   ", Folder.Icon", ""));
  }
  add("FolderByID", CountingByFiledFolder(Current("FolderByID")));
  if (v >= 150) {
    add("FoldersRoot", Current("FoldersRoot"));
    add("FoldersOpen", Current("FoldersOpen"));
    add("FoldersSub", std::string(kFoldersSub150Text));
    add("DocCount", Current("DocCount"));
  } else {
    add("FoldersRoot", CountingByFiledFolder(Current("FoldersRoot")));
    add("FoldersOpen", CountingByFiledFolder(Current("FoldersOpen")));
    add("FoldersSub", CountingByFiledFolder(std::string(kFoldersSub150Text)));
    add("DocCount", CountingByFiledFolder(Current("DocCount")));
  }
  add("FolderCount", Current("FolderCount"));
  add("CategoriesSub", Current("CategoriesSub"));
  if (v >= 140) {
    add("InsertSearchFolder", Current("InsertSearchFolder"));
    add("RemoveSearchFolder", Current("RemoveSearchFolder"));
  }
  if (v >= 141) {
    add("DeleteDoc", DeleteDocText(), kWriterRole);
    add("DeleteFolder", DeleteFolderText(), kStructurerRole);
  }
  return procedures;
}

// The view as the rung to 1.40 (and again the rung to 1.56) creates it.
constexpr std::string_view kSearchFolderViewLadderText =
    "CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder INNER "
    "JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID "
    "= 500)";

// A T-SQL Unicode text literal, quotes doubled.
std::string Text(std::string_view value) {
  std::string literal = "N'";
  for (char c : value) {
    literal += c;
    if (c == '\'') literal += '\'';
  }
  literal += '\'';
  return literal;
}

std::string Binary(const common::Bytes& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string literal = "0x";
  literal.reserve(2 + bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    literal += kHex[b >> 4];
    literal += kHex[b & 15];
  }
  return literal;
}

// Unambiguous under every date format setting of the server.
std::string Time(const common::DateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "'%04d%02d%02d %02d:%02d:%02d'", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

common::DateTime HoursAfter(const common::DateTime& base, int hours) {
  // Whole days and hours are enough for sample times; months are kept below their length.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  common::DateTime t = base;
  int total = t.hour + hours;
  t.hour = total % 24;
  for (int days = total / 24; days > 0; --days) {
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int length = t.month == 2 && leap ? 29 : kDays[t.month - 1];
    if (++t.day > length) {
      t.day = 1;
      if (++t.month > 12) {
        t.month = 1;
        ++t.year;
      }
    }
  }
  return t;
}

std::vector<std::string> SeedFolders(const common::DateTime& time) {
  struct Seed {
    int id;
    const char* name;
    int parent;
    bool is_virtual;
  };
  static constexpr Seed kSeeds[] = {
      {1, "Wurzelordner", 0, false},           {100, "Schablonen", 1, false},
      {110, "Kategorien", 100, false},         {140, "Suchvorlagen", 100, false},
      {150, "Kontaktpersonen", 100, false},    {200, "Ideen", 1, false},
      {300, "Notierte Webadressen", 1, false}, {400, "Neu erfasste Dokumente", 1, false},
      {500, "Suchergebnisse", 1, true},        {600, "Gelöschte Dokumente", 1, false},
      {700, "Dokumenteneingang", 1, false},
  };
  std::vector<std::string> statements;
  for (const Seed& seed : kSeeds) {
    statements.push_back("INSERT INTO Folder (FolderID, Name, CreationTime" +
                         std::string(seed.is_virtual ? ", Virtual" : "") + ") VALUES (" +
                         std::to_string(seed.id) + ", " + Text(seed.name) + ", " + Time(time) +
                         (seed.is_virtual ? ", -1" : "") + ")");
    if (seed.parent != 0) {
      statements.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) VALUES (" +
                           std::to_string(seed.parent) + ", " + std::to_string(seed.id) + ")");
    }
  }
  return statements;
}

std::string ExtendedField(int id, int type, std::string_view name, std::string_view flags = {}) {
  return "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName" +
         std::string(flags.empty() ? "" : ", Visible, UserProperty") + ") VALUES (" +
         std::to_string(id) + ", " + std::to_string(type) + ", " + Text(name) +
         (flags.empty() ? "" : ", " + std::string(flags)) + ")";
}

std::string ExtendedValue(int entry, int field, std::string_view value) {
  return "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (" +
         std::to_string(entry) + ", " + std::to_string(field) + ", " + Text(value) + ")";
}

// Where the upgrade defines the legacy "Compatibility" field: one above the seeded fields.
constexpr int kLegacyCompatibilityField = 11;

// The sample's own field comes after the fields the layout defines.
int UserFieldFor(int v) {
  return v >= 150 ? kLegacyCompatibilityField + 1 : kLegacyCompatibilityField;
}

// ---- sample content ----

enum class Kind { kHtml, kText, kWebArchive, kBinary, kFrame, kImage };

struct SampleDocument {
  int entry_id = 0;
  Kind kind = Kind::kHtml;
  int type_id = 0;
  int folder_id = 0;       // where the document is filed in the oldest layouts
  int root_folder_id = 0;  // for sub-documents: the folder of the page they belong to
  std::string url;
  std::string title;
  std::string filename;
  std::string comment;
  std::string text;     // HTML, text or MIME source; empty for binary documents
  common::Bytes bytes;  // binary documents
  int code_page = 1252;
  int importance = 2;
  bool categories = false;
  common::DateTime time;
};

constexpr std::array<int, 7> kFiling = {
    kSampleProjectsFolder, 400, kSampleYearFolder, kSampleHostileFolder, 600, 200, 300};

std::string Page(const std::string& title, const std::string& body) {
  return "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>";
}

common::Bytes SampleImage(int n) {
  common::Bytes image = TemplateImage();
  // Vary the palette so every image is a file of its own.
  image[13] = static_cast<std::uint8_t>(n & 0xFF);
  image[14] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
  return image;
}

common::Bytes SampleBinary(int n) {
  const std::string head = "%PDF-1.3\n% Beispiel " + std::to_string(n) + "\n";
  common::Bytes bytes(head.begin(), head.end());
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>((i * 7 + n) & 0xFF));
  bytes.push_back(0);
  bytes.push_back(0xFF);
  return bytes;
}

std::string WebArchive(int n, const std::string& html) {
  const std::string boundary = "----=_NextPart_000_" + std::to_string(n);
  return "From: <Gespeichert von Quillarchive>\r\nSubject: Archiv " + std::to_string(n) +
         "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related;\r\n\tboundary=\"" + boundary +
         "\";\r\n\ttype=\"text/html\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n"
         "--" +
         boundary +
         "\r\nContent-Type: text/html;\r\n\tcharset=\"utf-8\"\r\nContent-Transfer-Encoding: "
         "8bit\r\nContent-Location: http://www.example.com/archiv/" +
         std::to_string(n) + ".htm\r\n\r\n" + html + "\r\n\r\n--" + boundary +
         "\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\nContent-Location: "
         "http://www.example.com/archiv/bild.gif\r\n\r\nR0lGODlhAQABAIAAAP///"
         "wAAACwAAAAAAQABAAACAkQB"
         "ADs=\r\n\r\n--" +
         boundary + "--\r\n";
}

// `wide_urls`: the layout's Url column takes more than 255 characters.
std::vector<SampleDocument> SampleDocuments(const SampleOptions& options, bool wide_urls) {
  std::vector<SampleDocument> documents;
  int next_id = kTemplateEntryID + 1;
  for (int i = 0; i < options.document_count; ++i) {
    const int n = i + 1;
    SampleDocument d;
    d.entry_id = next_id++;
    d.time = HoursAfter(options.base_time, n);
    d.code_page = options.code_page;
    d.importance = i % 3 + 1;
    d.folder_id = i % 8 == 5 ? 0 : kFiling[static_cast<std::size_t>(i % 7)];
    d.categories = i % 5 == 0 || i % 5 == 3;
    const std::string number = std::to_string(n);
    if (i % 11 == 4) d.comment = "Kommentar mit 'Anführungszeichen'; DROP TABLE Document; --";
    if (i % 11 == 9) d.comment = std::string(4000, 'k');
    switch (i % 4) {
      case 0:
        d.kind = Kind::kHtml;
        d.type_id = 100;
        d.title = "Bericht " + number + " [Entwurf]";
        d.filename = "bericht" + number + ".htm";
        d.url = "http://www.example.com/berichte/" + number + ".htm";
        d.text = Page("Bericht " + number,
                      "<h1>Bericht " + number +
                          "</h1><p>Grüße aus Köln &amp; \"Zitat\" 'einfach'</p><table><tr><td>"
                          "Spalte</td><td>" +
                          number +
                          "</td></tr></table><p><img src=\"http://www.example.com/logo.gif\">"
                          "</p>" +
                          (i % 8 == 0 ? "<iframe src=\"frame" + number + "_1.htm\"></iframe>"
                                      : std::string()));
        break;
      case 1:
        d.kind = Kind::kText;
        d.type_id = 90;
        d.filename = "notiz" + number + ".txt";
        d.url = "file:///C:\\Notizen\\notiz" + number + ".txt";
        if (i % 8 == 1) {
          d.title = "Notiz " + number;
          d.text = "Notiz " + number + "\r\nGrüße, O'Brien; [wichtig] -- 100% erledigt";
        } else {
          d.title = "Заметка " + number;
          d.text = "Заметка " + number + "\r\nПривет из Москвы";
          d.code_page = 1251;
        }
        break;
      case 2:
        d.kind = Kind::kWebArchive;
        d.type_id = 500;
        d.title = "Archiv " + number;
        d.filename = "archiv" + number + ".mht";
        d.url = "http://www.example.com/archiv/" + number + ".htm";
        d.text = WebArchive(n, Page("Archiv " + number, "<p>Gespeicherte Seite " + number +
                                                            " mit Bild</p>"
                                                            "<img src=\"bild.gif\">"));
        break;
      default:
        d.kind = Kind::kBinary;
        d.type_id = 200;
        d.title = "Dokument " + number;
        d.filename = "dokument" + number + ".pdf";
        d.url = "file:///C:\\Dokumente\\dokument" + number + ".pdf";
        d.bytes = SampleBinary(n);
        break;
    }
    // One address as long as the layout's column allows, well below the index key limit.
    if (i == 1) {
      d.url = "http://www.example.com/" + std::string(wide_urls ? 360 : 220, 'a') + "/lang.txt";
    }
    const SampleDocument root = d;
    documents.push_back(std::move(d));
    if (i % 8 != 0) continue;

    // A page embedding frames three deep, the last frame embedding an image.
    for (int level = 1; level <= 3; ++level) {
      SampleDocument frame;
      frame.entry_id = next_id++;
      frame.kind = Kind::kFrame;
      frame.type_id = 100;
      frame.root_folder_id = root.folder_id;
      frame.time = root.time;
      frame.code_page = options.code_page;
      const std::string name = "frame" + number + "_" + std::to_string(level);
      frame.title = "Rahmen " + std::to_string(level) + " von Bericht " + number;
      frame.filename = name + ".htm";
      frame.url = "http://www.example.com/berichte/" + number + "/" + name + ".htm";
      frame.text =
          Page(frame.title, "<p>Rahmen " + std::to_string(level) + "</p>" +
                                (level < 3 ? "<iframe src=\"frame" + number + "_" +
                                                 std::to_string(level + 1) + ".htm\"></iframe>"
                                           : std::string("<img src=\"bild" + number + ".gif\">")));
      documents.push_back(std::move(frame));
    }
    SampleDocument image;
    image.entry_id = next_id++;
    image.kind = Kind::kImage;
    image.type_id = kTemplateTypeID;
    image.root_folder_id = root.folder_id;
    image.time = root.time;
    image.code_page = options.code_page;
    image.title = "Bild " + number;
    image.filename = "bild" + number + ".gif";
    image.url = "http://www.example.com/berichte/" + number + "/bild" + number + ".gif";
    image.bytes = SampleImage(n);
    documents.push_back(std::move(image));
  }
  return documents;
}

// Parent and child of every sub-document link.
std::vector<std::pair<int, int>> SubDocumentLinks(const std::vector<SampleDocument>& documents) {
  std::vector<std::pair<int, int>> links;
  int first_image = 0;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const SampleDocument& d = documents[i];
    if (d.kind == Kind::kFrame || d.kind == Kind::kImage) {
      links.emplace_back(documents[i - 1].entry_id, d.entry_id);
    }
    if (d.kind == Kind::kImage) {
      if (first_image == 0) {
        first_image = d.entry_id;
      } else if (first_image > 0) {
        // The second chain's page: four documents before this image.
        links.emplace_back(documents[i - 4].entry_id, first_image);
        first_image = -1;
      }
    }
  }
  return links;
}

int ByteSize(const SampleDocument& d) {
  if (!d.bytes.empty()) return static_cast<int>(d.bytes.size());
  common::Bytes bytes = common::TextToBytes(d.text, d.code_page);
  return bytes.empty() ? 0 : static_cast<int>(bytes.size()) - 1;  // without the closing zero
}

std::string UniqueID(int entry_id) {
  char text[40];
  std::snprintf(text, sizeof text, "'%08X-51A7-4E00-8000-%012X'", static_cast<unsigned>(entry_id),
                static_cast<unsigned>(entry_id * 7919));
  return text;
}

std::string InsertDocument(const SampleDocument& d, int v, const HtmlTextRenderer& renderer) {
  const bool sub_document = d.kind == Kind::kFrame || d.kind == Kind::kImage;
  int folder = d.folder_id;
  int visible = d.folder_id;
  if (v >= 150) {
    // As the rung to 1.50 refiles them: documents without a folder to the deleted documents,
    // frame pages (TypeID 100) to their page's folder but shown in none.
    if (sub_document) {
      folder = d.type_id == 100 ? d.root_folder_id : 0;
      visible = 0;
    } else if (folder == 0) {
      folder = visible = kDeletedDocumentsFolder;
    }
  }
  std::string columns =
      "EntryID, FolderID, Url, TypeID, CodePage, FileSize, Title, Filename, "
      "CreationTime, FileModifiedDate, Comment, Importance, Categories";
  std::string values = std::to_string(d.entry_id) + ", " + std::to_string(folder) + ", " +
                       Text(d.url) + ", " + std::to_string(d.type_id) + ", " +
                       std::to_string(d.code_page) + ", " + std::to_string(ByteSize(d)) + ", " +
                       Text(d.title) + ", " + Text(d.filename) + ", " + Time(d.time) + ", " +
                       Time(d.time) + ", " + (d.comment.empty() ? "NULL" : Text(d.comment)) + ", " +
                       std::to_string(d.importance) + ", " + (d.categories ? "-1" : "0");
  if (v >= 136) {
    columns += ", UniqueID";
    values += ", " + UniqueID(d.entry_id);
  }
  if (v >= 150) {
    columns += ", VisibleInFolderID";
    values += ", " + std::to_string(visible);
  }
  if (v >= 153) {
    columns += ", Status";
    values += ", 0";
  }
  if (!d.bytes.empty()) {
    columns += ", BinaryContent, BinaryData, Content";
    values += ", " + Binary(d.bytes) + ", -1, N''";
  } else if (v < 153) {
    // Still stored as text, waiting for the plain-text generation.
    columns += ", Content, BinaryData";
    values += ", " + Text(d.text) + ", 0";
  } else {
    std::string plain;
    if (d.kind == Kind::kText) {
      plain = d.text;
    } else if (d.kind == Kind::kWebArchive) {
      plain = MhtToText(d.text);
    } else {
      plain = renderer.HTML2Text(d.text);
    }
    columns += ", BinaryContent, BinaryData, Content, PlainText";
    values += ", " + Binary(common::TextToBytes(d.text, d.code_page)) + ", -1, N'', " + Text(plain);
  }
  return "INSERT INTO Document (" + columns + ") VALUES (" + values + ")";
}

std::string InsertTemplate(int v, const SampleOptions& options) {
  std::string columns =
      "EntryID, Url, TypeID, FolderID, Filename, FileModifiedDate, CreationTime, Title, Comment, "
      "Importance, CodePage, BinaryContent, BinaryData, Content, FileSize";
  std::string values = std::to_string(kTemplateEntryID) + ", " + Text(kTemplateUrl) + ", " +
                       std::to_string(kTemplateTypeID) + ", 0, " + Text(kTemplateFilename) + ", " +
                       Time(options.base_time) + ", " + Time(options.base_time) + ", " +
                       Text(kTemplateTitle) + ", " + Text(kTemplateTitle) + ", " +
                       std::to_string(kTemplateImportance) + ", " +
                       std::to_string(options.code_page) + ", " + Binary(TemplateImage()) +
                       ", -1, N'', " + std::to_string(TemplateImage().size());
  if (v >= 150) {
    columns += ", VisibleInFolderID";
    values += ", 0";
  }
  if (v >= 153) {
    columns += ", Status";
    values += ", 0";
  }
  return "INSERT INTO Document (" + columns + ") VALUES (" + values + ")";
}

constexpr std::size_t kStatementsPerBatch = 50;

// Refuses options the sample cannot be built from, before anything is written.
void CheckOptions(const SampleOptions& options) {
  if (options.document_count < 0) {
    throw std::invalid_argument("the sample's document count must not be negative, not " +
                                std::to_string(options.document_count));
  }
  if (common::CodePageCharset(options.code_page).empty() || options.code_page <= 0) {
    throw std::invalid_argument("the sample's code page " + std::to_string(options.code_page) +
                                " is not a code page");
  }
  const common::DateTime& t = options.base_time;
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59) {
    throw std::invalid_argument("the sample's base time " + t.ToText() + " is not a time of day");
  }
  DayNumber(t);  // throws std::invalid_argument for a day the calendar does not have
}

void Run(db::Connection& connection, const std::string& statement) {
  connection.Execute(statement, nullptr, db::kCmdText | db::kExecuteNoRecords);
}

}  // namespace

std::vector<OlderLayout> OlderLayouts() {
  std::vector<OlderLayout> layouts;
  for (const LayoutInfo& info : kLayouts) layouts.push_back(info.layout);
  return layouts;
}

std::string_view LayoutVersion(OlderLayout layout) { return Info(layout).version; }

int LayoutVersionNumber(OlderLayout layout) { return Info(layout).number; }

std::optional<OlderLayout> LayoutForVersion(std::string_view version) {
  for (const LayoutInfo& info : kLayouts) {
    if (info.version == version) return info.layout;
  }
  return std::nullopt;
}

std::vector<std::string> LayoutSchemaStatements(OlderLayout layout, const SampleOptions& options) {
  const int v = LayoutVersionNumber(layout);
  std::vector<std::string> s;
  s.emplace_back("EXEC sp_addrole @rolename = 'qa_reader'");
  if (v >= 140) s.emplace_back("GRANT CREATE TABLE TO qa_reader");
  s.emplace_back("EXEC sp_addrole @rolename = 'qa_writer'");
  s.emplace_back("EXEC sp_addrole @rolename = 'qa_structurer'");

  // Columns a rung appends come last, in the order the rungs add them.
  const std::string url = v >= 155 ? "NVARCHAR(4000)" : v >= 136 ? "VARCHAR(4000)" : "VARCHAR(255)";
  std::string document =
      "CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY (1,1) NOT NULL, " +
      std::string(v >= 136 ? "UniqueID uniqueidentifier, " : "") +
      "FolderID SMALLINT NOT NULL DEFAULT 0, Url " + url +
      " NOT NULL DEFAULT '', TypeID SMALLINT NOT NULL DEFAULT 0, CodePage INT NOT NULL DEFAULT 0, "
      "FileSize INT NOT NULL DEFAULT 0, Title NVARCHAR(255) NULL DEFAULT '', Content NTEXT DEFAULT "
      "'', BinaryContent IMAGE NULL, " +
      std::string(v >= 136 ? "PlainText NTEXT DEFAULT '', " : "") +
      "Filename NVARCHAR(255) NOT NULL DEFAULT '', CreationTime DATETIME NOT NULL, "
      "FileModifiedDate DATETIME NOT NULL, Comment NVARCHAR(4000) NULL, Importance TINYINT NOT "
      "NULL DEFAULT 2, BinaryData BIT DEFAULT 0, Categories BIT DEFAULT 0" +
      std::string(v >= 150 ? ", VisibleInFolderID SMALLINT DEFAULT 0" : "") +
      std::string(v >= 153 ? ", Status INT DEFAULT 0" : "") +
      " CONSTRAINT PK_Document PRIMARY KEY ( EntryID ) )";
  s.push_back(document);
  // The rung to 1.61 recreates it with VisibleInFolderID.
  s.emplace_back("CREATE INDEX IDX_Document1 ON dbo.Document (Url, FileSize, FolderID)");
  s.emplace_back("GRANT SELECT ON dbo.Document TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.Document TO qa_writer");
  s.emplace_back(
      "CREATE TABLE dbo.DocLink ( FolderID SMALLINT NOT NULL , EntryID INTEGER NOT NULL)");
  s.emplace_back("GRANT SELECT, INSERT, UPDATE, DELETE ON dbo.DocLink TO qa_reader");
  s.emplace_back(
      "CREATE TABLE dbo.SubDocument (ParentEntryID INTEGER NOT NULL , ChildEntryID INTEGER NOT "
      "NULL)");
  s.emplace_back("CREATE INDEX IDX_SubDocument ON dbo.SubDocument (ParentEntryID, ChildEntryID)");
  s.emplace_back("GRANT SELECT ON dbo.SubDocument TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubDocument TO qa_writer");
  // Icon and Status are appended later, after the view, as the rung to 1.53 did.
  s.emplace_back(
      "CREATE TABLE dbo.Folder (FolderID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL DEFAULT "
      "'', FolderType SMALLINT DEFAULT 0, Comment NVARCHAR(4000) NULL DEFAULT '', CreationTime "
      "DATETIME NOT NULL , Expanded BIT DEFAULT 0, Virtual BIT DEFAULT 0 CONSTRAINT PK_Folder "
      "PRIMARY KEY ( FolderID ) )");
  s.emplace_back("CREATE INDEX IDX_Folder ON dbo.Folder (FolderID)");
  s.emplace_back("GRANT SELECT ON dbo.Folder TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.Folder TO qa_structurer");
  s.emplace_back(
      "CREATE TABLE dbo.SubFolder ( ParentFolderID SMALLINT NOT NULL , ChildFolderID SMALLINT NOT "
      "NULL )");
  s.emplace_back("CREATE INDEX IDX_SubFolder ON dbo.SubFolder (ParentFolderID, ChildFolderID)");
  s.emplace_back("GRANT SELECT ON dbo.SubFolder TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubFolder TO qa_structurer");
  if (v >= 140 && v < 156) {
    s.emplace_back(kSearchFolderViewLadderText);
    s.emplace_back("GRANT SELECT, UPDATE ON SearchFolderView TO qa_reader");
  }
  s.emplace_back(
      "CREATE TABLE dbo.Category (CategoryID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL "
      "DEFAULT '', Comment NVARCHAR(4000) NULL DEFAULT '', CONSTRAINT PK_Category PRIMARY KEY ( "
      "CategoryID ) )");
  s.emplace_back("INSERT INTO dbo.Category (CategoryID, Name ) VALUES (1, 'Wurzelkategorie')");
  s.emplace_back("GRANT SELECT ON dbo.Category TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.Category TO qa_structurer");
  s.emplace_back(
      "CREATE TABLE dbo.DocCategory (EntryID INT NOT NULL , CategoryID SMALLINT NOT NULL)");
  s.emplace_back("GRANT SELECT ON dbo.DocCategory TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.DocCategory TO qa_structurer");
  s.emplace_back(
      "CREATE TABLE dbo.SubCategory (ParentCategoryID SMALLINT NOT NULL , ChildCategoryID SMALLINT "
      "NOT NULL )");
  s.emplace_back("GRANT SELECT ON dbo.SubCategory TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubCategory TO qa_structurer");
  s.emplace_back(
      "CREATE TABLE dbo.ExtendedField ( ExtFieldID SMALLINT NOT NULL , FieldType TINYINT NOT NULL, "
      "FieldName NVARCHAR(100) NOT NULL , Visible BIT, UserProperty BIT )");
  if (v >= 140)
    s.emplace_back("GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader");
  s.emplace_back(
      "CREATE TABLE dbo.ExtendedData (EntryID INTEGER NOT NULL, ExtFieldID SMALLINT NOT NULL, "
      "FieldValue NTEXT NULL DEFAULT '')");
  if (v >= 140) s.emplace_back("GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedData TO qa_reader");
  s.emplace_back("CREATE TABLE dbo.BlackList ( Url NVARCHAR(255) NOT NULL, Userdefined BIT);");
  s.emplace_back("GRANT SELECT ON BlackList TO qa_reader");
  s.emplace_back("GRANT INSERT, UPDATE, DELETE ON BlackList TO qa_writer");
  for (const Procedure& procedure : Procedures(v)) {
    s.push_back(procedure.text);
    s.push_back("GRANT EXEC ON " + std::string(procedure.name) + " TO " +
                std::string(procedure.role));
  }
  for (std::string& statement : SeedFolders(options.base_time)) s.push_back(std::move(statement));

  // The rungs to 1.53 and 1.54, as they changed the folders.
  if (v >= 153) {
    s.emplace_back("ALTER TABLE Folder ADD Icon SMALLINT DEFAULT 0");
    s.emplace_back("Update Folder SET Icon=0");
    s.emplace_back("ALTER TABLE Folder ADD Status INT DEFAULT 0");
    s.emplace_back("Update Folder SET Status=0");
  }
  if (v >= 154) {
    s.emplace_back(
        "Update Folder SET Status=2 WHERE FolderID=140 OR FolderID=200 OR FolderID=500 OR "
        "FolderID=700");
  }
  if (v >= 156) {
    s.emplace_back(kSearchFolderViewLadderText);
    s.emplace_back("GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader");
  }

  for (const ExtendedFieldDefinition& field : kSeededExtendedFields) {
    if (field.id == kArchiveCompatibilityField) {
      // Defined by the upgrade to 1.50, which writes both compatibility fields as not visible
      // and not a user property.
      if (v >= 150) s.push_back(ExtendedField(field.id, field.type, field.name, "0, 0"));
    } else if (field.id == kSearchInPlainTextField && v >= 153) {
      // Written by the plain-text generation the same way.
      s.push_back(ExtendedField(field.id, field.type, field.name, "0, 0"));
    } else {
      s.push_back(ExtendedField(field.id, field.type, field.name));
    }
  }
  if (v >= 150) {
    s.push_back(ExtendedField(kLegacyCompatibilityField, kCollectionProperty,
                              kLegacyCompatibilityName, "0, 0"));
  }
  s.push_back(ExtendedValue(kCollectionEntry, kArchiveTypeField, "Server Archive"));
  s.push_back(ExtendedValue(kCollectionEntry, kArchiveVersionField, LayoutVersion(layout)));
  if (v >= 150) {
    s.push_back(ExtendedValue(kCollectionEntry, kArchiveCompatibilityField, kCompatibilityVersion));
  }
  s.push_back(ExtendedValue(kCollectionEntry, kArchiveGuidField, options.collection_guid));
  s.push_back(ExtendedValue(kCollectionEntry, kArchiveCreationTimeField,
                            std::to_string(DayNumber(options.base_time))));
  if (v >= 153) s.push_back(ExtendedValue(kCollectionEntry, kSearchInPlainTextField, "True"));
  if (v >= 150) {
    s.push_back(ExtendedValue(kCollectionEntry, kLegacyCompatibilityField, kCompatibilityVersion));
  }
  return s;
}

SampleSummary BuildOlderCollection(db::Connection& collection, OlderLayout layout,
                                   const SampleOptions& options) {
  CheckOptions(options);
  const int v = LayoutVersionNumber(layout);
  for (const std::string& statement : LayoutSchemaStatements(layout, options)) {
    Run(collection, statement);
  }

  SampleSummary summary;
  const std::vector<SampleDocument> documents = SampleDocuments(options, v >= 136);
  const HtmlTextRenderer renderer;
  std::vector<std::string> rows;
  rows.push_back("SET IDENTITY_INSERT Document ON");
  rows.push_back(InsertTemplate(v, options));
  for (const SampleDocument& d : documents) rows.push_back(InsertDocument(d, v, renderer));
  rows.push_back("SET IDENTITY_INSERT Document OFF");
  summary.documents = static_cast<int>(documents.size()) + 1;

  for (const auto& [parent, child] : SubDocumentLinks(documents)) {
    rows.push_back("INSERT INTO SubDocument (ParentEntryID, ChildEntryID) VALUES (" +
                   std::to_string(parent) + ", " + std::to_string(child) + ")");
    ++summary.sub_document_links;
  }

  // User folders; Icon and Status, where the layout has them, take their defaults.
  struct UserFolder {
    int id;
    int parent;
    const char* name;
    const char* extra_columns;
    const char* extra_values;
  };
  static constexpr UserFolder kUserFolders[] = {
      {kSampleProjectsFolder, kRootFolder, "Projekte", ", Expanded", ", -1"},
      {kSampleYearFolder, kSampleProjectsFolder, "Projekte 2003", "", ""},
      {kSampleHostileFolder, kRootFolder, "O'Brien's [Akten]; DROP TABLE Folder --", "", ""},
      {kSampleVirtualFolder, kRootFolder, "Sammlung", ", Virtual", ", -1"},
      {kSampleSearchFolder, kSearchResultsFolder, "Suche: \"Rechnung\"", "", ""},
  };
  for (const UserFolder& folder : kUserFolders) {
    rows.push_back("INSERT INTO Folder (FolderID, Name, CreationTime, Comment" +
                   std::string(folder.extra_columns) + ") VALUES (" + std::to_string(folder.id) +
                   ", " + Text(folder.name) + ", " + Time(options.base_time) + ", " +
                   Text("Ordner " + std::to_string(folder.id)) + folder.extra_values + ")");
    rows.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) VALUES (" +
                   std::to_string(folder.parent) + ", " + std::to_string(folder.id) + ")");
  }
  summary.folders = 11 + static_cast<int>(std::size(kUserFolders));
  summary.folder_links = 10 + static_cast<int>(std::size(kUserFolders));

  // Categories.
  rows.push_back("INSERT INTO Category (CategoryID, Name, Comment) VALUES (2, N'Rechnungen', N'')");
  rows.push_back(
      "INSERT INTO Category (CategoryID, Name, Comment) VALUES (3, N'Briefe ''privat''', NULL)");
  rows.push_back("INSERT INTO Category (CategoryID, Name) VALUES (4, N'2003')");
  rows.push_back("INSERT INTO SubCategory (ParentCategoryID, ChildCategoryID) VALUES (1, 2)");
  rows.push_back("INSERT INTO SubCategory (ParentCategoryID, ChildCategoryID) VALUES (1, 3)");
  rows.push_back("INSERT INTO SubCategory (ParentCategoryID, ChildCategoryID) VALUES (2, 4)");
  summary.categories = 4;

  // A user-defined document property, and the original folders the application records.
  const int user_field = UserFieldFor(v);
  rows.push_back(ExtendedField(user_field, kDocumentProperty, "Autor", "-1, -1"));
  rows.push_back(ExtendedValue(kSampleYearFolder, kFolderOriginalFolderField,
                               std::to_string(kSampleProjectsFolder)));
  rows.push_back(ExtendedValue(kSampleSearchFolder, kFolderOriginalFolderField, "500"));
  summary.extended_values = 2;

  int top = 0;
  for (const SampleDocument& d : documents) {
    if (d.kind == Kind::kFrame || d.kind == Kind::kImage) continue;
    const int i = top++;
    const std::string id = std::to_string(d.entry_id);
    if (i % 5 == 0) {
      rows.push_back("INSERT INTO DocCategory (EntryID, CategoryID) VALUES (" + id + ", 2)");
      ++summary.doc_categories;
    } else if (i % 5 == 3) {
      rows.push_back("INSERT INTO DocCategory (EntryID, CategoryID) VALUES (" + id + ", 3)");
      rows.push_back("INSERT INTO DocCategory (EntryID, CategoryID) VALUES (" + id + ", 4)");
      summary.doc_categories += 2;
    }
    if (i % 3 == 2) {
      rows.push_back("INSERT INTO DocLink (FolderID, EntryID) VALUES (" +
                     std::to_string(kSampleVirtualFolder) + ", " + id + ")");
      ++summary.doc_links;
    }
    if (i % 6 == 1) {
      rows.push_back("INSERT INTO DocLink (FolderID, EntryID) VALUES (" +
                     std::to_string(kSampleSearchFolder) + ", " + id + ")");
      ++summary.doc_links;
    }
    if (i % 2 == 0) {
      rows.push_back(
          ExtendedValue(d.entry_id, user_field, i % 4 == 0 ? "Erika Mustermann" : "Seán O'Neil"));
      ++summary.extended_values;
    }
    if (d.folder_id == kDeletedDocumentsFolder) {
      rows.push_back(ExtendedValue(d.entry_id, kDocumentOriginalFolderField,
                                   std::to_string(kSampleProjectsFolder)));
      ++summary.extended_values;
    }
  }

  rows.push_back(
      "INSERT INTO BlackList (Url, Userdefined) VALUES (N'http://werbung.example.com/', -1)");
  rows.push_back(
      "INSERT INTO BlackList (Url, Userdefined) VALUES (N'http://zähler.example.com/"
      "?id=''1''', 0)");

  Run(collection, "BEGIN TRANSACTION");
  try {
    // Several statements a batch: far fewer round trips for large samples.
    std::string batch;
    std::size_t in_batch = 0;
    for (const std::string& row : rows) {
      batch += row;
      batch += '\n';
      if (++in_batch == kStatementsPerBatch) {
        Run(collection, batch);
        batch.clear();
        in_batch = 0;
      }
    }
    if (!batch.empty()) Run(collection, batch);
    Run(collection, "COMMIT TRANSACTION");
  } catch (...) {
    try {
      Run(collection, "IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION");
    } catch (const std::exception&) {
      // The connection is gone; the server rolls back on its own.
    }
    throw;
  }
  // Collection properties of the schema besides the sample's.
  summary.extended_values += v >= 153 ? 7 : v >= 150 ? 6 : 4;
  return summary;
}

}  // namespace format
