// The collection's text extraction: the searchable text of one document, and the export of a
// document with its sub-documents to files that the renderer reads.
#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "collections/sql.h"
#include "common/code_page.h"
#include "common/text.h"
#include "format/html_text.h"
#include "format/mht.h"

namespace collections {

namespace {

constexpr int kTypePlainText = 90;
constexpr int kTypeHtml = 100;
constexpr int kTypeHtmlDocument = 500;

constexpr char kCacheFolder[] = "isCache";
constexpr char kFileInfix[] = "_qaDoc_";
// The longest file name the file systems we write to take, in bytes.
constexpr std::size_t kMaxFileNameBytes = 255;
// An extension longer than this is part of the name, not a file type.
constexpr std::size_t kMaxExtensionBytes = 16;
// Sub-documents nest a few levels in practice; a deeper chain is a broken link table.
constexpr int kMaxNesting = 32;

// ASCII case folding is enough: the markers and extensions searched for are ASCII.
std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  return AsciiLower(text).find(AsciiLower(part)) != std::string::npos;
}

bool IsHtmlType(int type) { return type == kTypeHtml || type == kTypeHtmlDocument; }

bool IsWebArchiveName(std::string_view name) { return ContainsNoCase(name, ".mht"); }

bool IsHtmlName(std::string_view name) {
  const std::string lower = AsciiLower(name);
  return lower.ends_with(".htm") || lower.ends_with(".html");
}

// One row of DocWithSub.
struct StoredDocument {
  std::int32_t entry = 0;
  int type = 0;
  std::string content;
  std::string file_name;
  bool binary = false;
  common::Bytes bytes;
  std::int64_t file_size = 0;
  std::int64_t sub_documents = 0;
  int code_page = 0;
};

// A file the export wrote.
struct ExportedFile {
  std::filesystem::path path;
  std::string file_name;
  int type = 0;
  int code_page = 0;
  bool html = false;
};

// The cut never splits a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

// A name the file system takes: no folder separators or zero characters, never "." or "..",
// at most kMaxFileNameBytes bytes with the extension kept, so the renderer still knows the kind.
std::string SafeFileName(std::string_view name) {
  std::string safe;
  safe.reserve(name.size());
  for (char c : name) safe += (c == '\0') ? ' ' : c;
  safe = common::MakeValidFileName(safe);
  if (safe.empty() || safe == "." || safe == "..") safe = "_" + safe;
  if (safe.size() <= kMaxFileNameBytes) return safe;
  std::string extension;
  const std::size_t dot = safe.rfind('.');
  if (dot != std::string::npos && safe.size() - dot <= kMaxExtensionBytes) {
    extension = safe.substr(dot);
  }
  return CutUtf8(safe, kMaxFileNameBytes - extension.size()) + extension;
}

// The identifying comment the desktop application finds its documents by.
std::string IdentifyingComment(std::int32_t archive_id, std::int32_t entry) {
  return "<!-- quillarchive archiveid=\"" + std::to_string(archive_id) + "\" entryid=\"" +
         std::to_string(entry) + "\" -->";
}

// Inserts `text` right after the first `marker` (without regard to case); unchanged without it.
std::string InsertAfter(std::string_view html, std::string_view marker, std::string_view text) {
  const std::size_t at = AsciiLower(html).find(AsciiLower(marker));
  if (at == std::string::npos) return std::string(html);
  std::string out(html.substr(0, at + marker.size()));
  out += text;
  out += html.substr(at + marker.size());
  return out;
}

bool EndsReference(char c) {
  return c == '"' || c == '\'' || c == ' ' || c == '>' || c == '#' || c == '?' || c == '\t' ||
         c == '\r' || c == '\n';
}

bool StartsReference(char c) { return c == '"' || c == '\'' || c == '=' || c == '/'; }

// Points every reference to `stored_name` (an attribute value naming the file, alone or at the
// end of a path) at `exported_name`. Names that only contain the stored name stay as they are.
std::string RewriteReferences(std::string_view html, std::string_view stored_name,
                              std::string_view exported_name) {
  if (stored_name.empty()) return std::string(html);
  const std::string lower_html = AsciiLower(html);
  const std::string lower_name = AsciiLower(stored_name);
  std::string out;
  out.reserve(html.size());
  std::size_t copied = 0;
  for (std::size_t at = lower_html.find(lower_name); at != std::string::npos;
       at = lower_html.find(lower_name, at + 1)) {
    const std::size_t end = at + lower_name.size();
    if (at == 0 || !StartsReference(html[at - 1])) continue;
    if (end < html.size() && !EndsReference(html[end])) continue;
    if (at < copied) continue;
    // A path in front of the name pointed at the document's old place: the file is beside us.
    std::size_t start = at;
    if (html[at - 1] == '/') {
      while (start > 0 && html[start - 1] != '"' && html[start - 1] != '\'' &&
             html[start - 1] != '=' && html[start - 1] != ' ' && html[start - 1] != '\n') {
        --start;
      }
      if (start < copied) start = at;
    }
    out.append(html.substr(copied, start - copied));
    out.append(exported_name);
    copied = end;
  }
  out.append(html.substr(copied));
  return out;
}

// What an exported text document's file holds: the text in the code page, without the
// terminating zero; nothing (no file) for an empty text.
std::optional<std::string> TextFileBytes(std::string_view text, int code_page) {
  const common::Bytes bytes = common::TextToBytes(text, code_page);
  const std::size_t terminator = (code_page == 1200 || code_page == 1201)     ? 2
                                 : (code_page == 12000 || code_page == 12001) ? 4
                                                                              : 1;
  if (bytes.size() <= terminator) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size() - terminator);
}

// The first `length` bytes (never more than there are).
std::string_view Prefix(std::string_view bytes, std::size_t length) {
  return bytes.substr(0, std::min(length, bytes.size()));
}

// A folder's identifying text: the database's name cut to what is safe in a path.
std::string FolderSafe(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    out += plain ? c : '_';
  }
  return CutUtf8(out, 100);
}

// Writes a document and its sub-documents to files in a folder of its own under the system's
// temporary folder, as the renderer reads them. One object serves one export: it keeps the
// folder chosen at its first document and the files written so far, so a sub-document embedded
// twice is written once and a link table that loops ends.
class DocumentExport {
 public:
  DocumentExport(db::Connection connection, platform::FileSystem& files, std::string temp_folder,
                 int ansi_code_page, std::int32_t archive_id, std::string collection_text)
      : connection_(std::move(connection)),
        files_(files),
        temp_folder_(std::move(temp_folder)),
        ansi_code_page_(ansi_code_page),
        archive_id_(archive_id),
        collection_text_(std::move(collection_text)) {}

  // The main file of `entry`; nothing when the document does not exist or cannot be written.
  // Database errors reach the caller.
  std::optional<ExportedFile> Export(std::int32_t entry) { return ExportEntry(entry, 0, false); }

  // Where the files went; empty before the first document was read.
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::optional<ExportedFile> ExportEntry(std::int32_t entry, int depth, bool sub_document) {
    if (depth > kMaxNesting) return std::nullopt;
    std::vector<StoredDocument> rows = ReadWithSubDocuments(entry);
    if (rows.empty()) return std::nullopt;
    if (folder_.empty() && !ChooseFolder(entry)) return std::nullopt;
    return Write(rows[0], std::span(rows).subspan(1), depth, sub_document);
  }

  std::vector<StoredDocument> ReadWithSubDocuments(std::int32_t entry) {
    db::Command command;
    command.SetActiveConnection(connection_);
    command.SetCommandType(db::kCmdStoredProc);
    command.SetCommandText("DocWithSub");
    command.Parameters().Append(command.CreateParameter("@EntryID", db::kTypeInteger,
                                                        db::kParamInput, 4, db::Value(entry)));
    db::Recordset recordset;
    recordset.Open(command);
    detail::SkipToRows(recordset);
    std::vector<StoredDocument> rows;
    if (recordset.State() != db::kStateOpen) return rows;
    for (; !recordset.Eof(); recordset.MoveNext()) {
      StoredDocument row;
      row.entry =
          static_cast<std::int32_t>(recordset.Fields("EntryID").Value().ToInt().value_or(0));
      row.type = static_cast<int>(recordset.Fields("TypeID").Value().ToInt().value_or(0));
      row.content = recordset.Fields("Content").Value().ToText();
      row.file_name = recordset.Fields("Filename").Value().ToText();
      row.binary = recordset.Fields("BinaryData").Value().ToBool().value_or(false);
      const db::Value bytes = recordset.Fields("BinaryContent").Value();
      if (const common::Bytes* b = bytes.AsBytes()) row.bytes = *b;
      row.file_size = recordset.Fields("FileSize").Value().ToInt().value_or(0);
      row.sub_documents = recordset.Fields("SubDocsCount").Value().ToInt().value_or(0);
      row.code_page = static_cast<int>(recordset.Fields("CodePage").Value().ToInt().value_or(0));
      rows.push_back(std::move(row));
    }
    detail::CloseQuietly(recordset);
    return rows;
  }

  bool ChooseFolder(std::int32_t entry) {
    std::string temp = temp_folder_.substr(0, temp_folder_.find('\0')).substr(0, 512);
    if (temp.empty()) return false;
    const std::filesystem::path cache = std::filesystem::path(temp) / kCacheFolder;
    if (!files_.MakePrivateFolder(cache.string())) return false;
    std::filesystem::path folder = cache / (collection_text_ + "_" + std::to_string(entry));
    if (!files_.CreateFolder(folder.string())) {
      // Left over from an export that ended early: start afresh, once.
      files_.RemoveAll(folder.string());
      if (!files_.CreateFolder(folder.string())) return false;
    }
    folder_ = std::move(folder);
    return true;
  }

  int EffectiveCodePage(int code_page) const {
    return code_page == 0 ? ansi_code_page_ : code_page;
  }

  // "<entry>_qaDoc_<stored name>"; a name in a foreign code page is first reduced to what the
  // ANSI code page holds, as the desktop application names its files.
  std::string FileNameOf(const StoredDocument& document) const {
    std::string name = document.file_name;
    if (EffectiveCodePage(document.code_page) != ansi_code_page_) {
      bool substituted = false;
      common::Bytes bytes =
          common::TextToBytes(name, ansi_code_page_, common::kConvertDefault, &substituted);
      if (substituted)
        name = common::MakeValidFileName(common::BytesToText(bytes, ansi_code_page_));
    }
    return SafeFileName(std::to_string(document.entry) + kFileInfix + name);
  }

  std::optional<ExportedFile> Write(const StoredDocument& document,
                                    std::span<const StoredDocument> sub_documents, int depth,
                                    bool sub_document) {
    ExportedFile file;
    file.file_name = FileNameOf(document);
    file.path = folder_ / file.file_name;
    file.type = document.type;
    file.code_page = EffectiveCodePage(document.code_page);
    file.html = !document.binary && !IsWebArchiveName(document.file_name) &&
                (IsHtmlType(document.type) || IsHtmlName(document.file_name));
    written_[document.entry] = file.file_name;

    // Sub-documents first: the page's references are pointed at the files they become.
    std::vector<std::pair<std::string, std::string>> references;  // stored name -> file name
    for (const StoredDocument& sub : sub_documents) {
      std::string sub_file;
      if (auto known = written_.find(sub.entry); known != written_.end()) {
        sub_file = known->second;
      } else if (sub.sub_documents > 0) {
        std::optional<ExportedFile> exported = ExportEntry(sub.entry, depth + 1, true);
        if (!exported) continue;
        sub_file = exported->file_name;
      } else {
        std::optional<ExportedFile> exported = Write(sub, {}, depth + 1, true);
        if (!exported) continue;
        sub_file = exported->file_name;
      }
      references.emplace_back(sub.file_name, sub_file);
    }

    bool ok = false;
    if (document.binary) {
      std::size_t length = document.bytes.size();
      if (document.file_size > 0 && static_cast<std::uint64_t>(document.file_size) < length) {
        length = static_cast<std::size_t>(document.file_size);
      }
      ok = files_.WriteFile(
          file.path.string(),
          Prefix(std::string_view(reinterpret_cast<const char*>(document.bytes.data()),
                                  document.bytes.size()),
                 length));
    } else {
      std::string text = document.content;
      if (file.html) {
        text = InsertAfter(text, sub_document ? "</title>" : "html>",
                           IdentifyingComment(archive_id_, document.entry));
        if (IsHtmlName(document.file_name) || ContainsNoCase(document.file_name, ".htm")) {
          for (const auto& [stored, exported] : references) {
            text = RewriteReferences(text, stored, exported);
          }
        }
      }
      ok = WriteText(file.path.string(), text, file.code_page);
    }
    if (!ok) return std::nullopt;
    return file;
  }

  // What WriteTextFile writes (the text in the code page, without the terminating zero, nothing
  // for an empty text), but not forced to disk: the file is read back at once and deleted, and
  // waiting for the disk took a fifth of a generation run.
  bool WriteText(const std::string& path, std::string_view text, int code_page) {
    const std::optional<std::string> bytes = TextFileBytes(text, code_page);
    return bytes && files_.WriteFile(path, *bytes);
  }

  db::Connection connection_;
  platform::FileSystem& files_;
  std::string temp_folder_;
  int ansi_code_page_;
  std::int32_t archive_id_;
  std::string collection_text_;
  std::filesystem::path folder_;
  std::map<std::int32_t, std::string> written_;  // entry -> file name
};

}  // namespace

std::string Database::CreatePlainText(std::int32_t entry, std::string_view content, int type,
                                      std::string_view file_name) {
  try {
    if (type == kTypePlainText) return std::string(content);
    if (IsHtmlType(type)) {
      if (IsWebArchiveName(file_name)) return CreatePlainTextInIE(entry);
      return HTML2Text(content);
    }
  } catch (...) {
    // The text is for searching only; a document that cannot be rendered is found by its
    // other fields.
  }
  return {};
}

const format::HtmlTextRenderer* Database::Renderer() const {
  std::lock_guard<std::mutex> lock(renderer_mutex_);
  if (!renderer_) {
    try {
      renderer_ = std::make_unique<format::HtmlTextRenderer>();
    } catch (...) {
      // Tried again at the next text.
    }
  }
  return renderer_.get();
}

std::optional<format::ArchiveText> Database::ArchivePlainText(std::string_view content,
                                                              int code_page, int type,
                                                              std::string_view file_name) const {
  // The ANSI code page is the platform's to say, on the run's thread: such documents wait.
  if (!IsHtmlType(type) || !IsWebArchiveName(file_name) || code_page <= 0) return std::nullopt;
  try {
    std::optional<std::string> file = TextFileBytes(content, code_page);
    if (!file) return std::nullopt;
    std::string text = format::MhtToText(*file, code_page);
    return format::ArchiveText{std::move(*file), std::move(text)};
  } catch (...) {
    return std::nullopt;
  }
}

std::string Database::CreatePlainTextOfArchive(std::int32_t entry, std::string_view content,
                                               int type, std::string_view file_name,
                                               const format::ArchiveText& ahead) {
  try {
    if (IsHtmlType(type) && IsWebArchiveName(file_name)) return CreatePlainTextInIE(entry, &ahead);
  } catch (...) {
    return {};  // as CreatePlainText: the text is for searching only
  }
  return CreatePlainText(entry, content, type, file_name);
}

std::string Database::HTML2Text(std::string_view html) {
  if (const format::HtmlTextRenderer* renderer = Renderer()) return renderer->HTML2Text(html);
  // Without compiled patterns the single-document renderer still gives what it can.
  return format::HTML2Text(html);
}

std::optional<std::string> Database::ContentPlainText(std::string_view content, int type,
                                                      std::string_view file_name) const {
  if (!IsHtmlType(type) || IsWebArchiveName(file_name)) return std::nullopt;
  try {
    if (const format::HtmlTextRenderer* renderer = Renderer()) return renderer->HTML2Text(content);
    return format::HTML2Text(content);
  } catch (...) {
    return std::nullopt;  // CreatePlainText then says what the text is
  }
}

namespace {

// What the browser showed of the exported main file; the file is deleted once read.
std::string RenderExported(const ExportedFile& file, Database& database,
                           platform::FileSystem& files, const format::ArchiveText* ahead) {
  std::optional<std::string> data = files.ReadFile(file.path.string());
  files.Remove(file.path.string());
  if (!data) return {};
  if (IsWebArchiveName(file.file_name)) {
    // Made ahead from the very bytes the export wrote: the same text.
    if (ahead && ahead->file == *data) return ahead->text;
    return format::MhtToText(*data, file.code_page);
  }
  if (file.html || IsHtmlType(file.type))
    return database.HTML2Text(format::HtmlBytesToText(*data, file.code_page));
  if (file.type == kTypePlainText) return common::BytesToText(*data, file.code_page);
  return {};
}

}  // namespace

std::string Database::CreatePlainTextInIE(std::int32_t entry, const format::ArchiveText* ahead) {
  std::string text;
  std::filesystem::path folder;
  try {
    DocumentExport document_export(
        connection_, context_.services.files, context_.services.system.TempFolder(),
        context_.services.system.AnsiCodePage(), archive_id_, FolderSafe(database_name_));
    try {
      std::optional<ExportedFile> main = document_export.Export(entry);
      folder = document_export.folder();
      if (main) text = RenderExported(*main, *this, context_.services.files, ahead);
    } catch (...) {
      folder = document_export.folder();
      throw;
    }
  } catch (...) {
    // A document that cannot be exported or rendered has no text; the run goes on.
    text.clear();
  }
  if (!folder.empty()) {
    // Nothing reads the files once the text is taken, and each document has a folder of its
    // own, so leaving them would fill the temporary folder.
    context_.services.files.RemoveAll(folder.string());
  }
  return text;
}

std::string Database::ExportDocument(std::int32_t entry) {
  try {
    DocumentExport document_export(
        connection_, context_.services.files, context_.services.system.TempFolder(),
        context_.services.system.AnsiCodePage(), archive_id_, FolderSafe(database_name_));
    std::optional<ExportedFile> main;
    try {
      main = document_export.Export(entry);
    } catch (...) {
      main.reset();
    }
    if (main) return main->path.string();
    if (!document_export.folder().empty()) {
      context_.services.files.RemoveAll(document_export.folder().string());
    }
  } catch (...) {
    // Nothing exported then.
  }
  return {};
}

bool Database::WriteFileAPI_A(std::string_view path, std::string_view bytes, std::size_t length) {
  return context_.services.files.WriteFile(std::string(path), Prefix(bytes, length));
}

}  // namespace collections
