#include "sandbox/fulltext.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/functions.h"
#include "sandbox/instance.h"
#include "sandbox/machine.h"
#include "sandbox/messages.h"
#include "sandbox/session.h"

namespace sandbox {

using common::Value;

namespace {

constexpr const char* kCatalogs = "sandbox$ftcatalogs";
constexpr const char* kTables = "sandbox$fttables";
constexpr const char* kColumns = "sandbox$ftcolumns";
constexpr const char* kChanges = "sandbox$ftchanges";
constexpr const char* kEnabledSetting = "fulltext";
// Set for a table a view searches: SQLite expands the view's text without asking us, so
// nothing could apply noted changes before such a read; with background updating, such a
// table's index is kept current in each statement instead.
constexpr const char* kImmediateSetting = "fulltext_immediate_";

// The first catalogue of a database gets the number SQL Server gives it.
constexpr int kFirstCatalogId = 5;
// How far apart NEAR terms may be, in tokens.
constexpr int kNearDistance = 50;

std::string Named(const char* prefix, std::int64_t id) { return prefix + std::to_string(id); }
std::string VocabularyTable(std::int64_t id) { return Named("sandbox$ftvocab_", id); }
std::string TriggerName(const char* kind, std::int64_t id) {
  return "sandbox$ft" + std::string(kind) + "_" + std::to_string(id);
}
std::string IndexColumn(size_t ordinal) { return "c" + std::to_string(ordinal); }

SqlError NotIndexed(std::string_view kind, std::string_view name) {
  return errors::Raise<7601>(kind, name);
}

// --- search conditions -------------------------------------------------------------------

SqlError ConditionSyntax(std::string_view near, std::string_view condition) {
  return errors::Raise<7630>(near, condition);
}

SqlError EmptyCondition() { return errors::Raise<7645>(); }

// An FTS5 phrase for a word or a quoted phrase; a trailing "*" makes it a prefix search.
std::string Phrase(std::string_view text) {
  std::string body(text);
  bool prefix = false;
  while (!body.empty() && (body.back() == '*' || body.back() == ' ' || body.back() == '\t')) {
    if (body.back() == '*') prefix = true;
    body.pop_back();
  }
  std::string out = "\"";
  for (char c : body) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  if (prefix && body.size() > 0) out += " *";
  return out;
}

class ConditionParser {
 public:
  explicit ConditionParser(std::string_view condition) : text_(condition) {}

  std::string Parse() {
    Next();
    if (token_.kind == Kind::kEnd) throw EmptyCondition();
    std::string out = Or();
    if (token_.kind != Kind::kEnd) throw Syntax();
    return out;
  }

 private:
  enum class Kind { kEnd, kWord, kPhrase, kOpen, kClose, kComma, kAnd, kAndNot, kOr, kNear, kNot };
  struct Token {
    Kind kind = Kind::kEnd;
    std::string text;
  };

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool IsSpecial(char c) {
    return IsSpace(c) || c == '"' || c == '(' || c == ')' || c == ',' || c == '&' || c == '|' ||
           c == '~' || c == '!';
  }

  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  void Next() {
    SkipSpace();
    token_ = Token{};
    if (pos_ >= text_.size()) return;
    char c = text_[pos_];
    if (c == '"') {
      size_t end = text_.find('"', pos_ + 1);
      if (end == std::string_view::npos) {
        token_.text = std::string(text_.substr(pos_));
        throw Syntax();
      }
      token_.kind = Kind::kPhrase;
      token_.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return;
    }
    auto symbol = [&](Kind kind, size_t length) {
      token_.kind = kind;
      token_.text = std::string(text_.substr(pos_, length));
      pos_ += length;
    };
    switch (c) {
      case '(':
        return symbol(Kind::kOpen, 1);
      case ')':
        return symbol(Kind::kClose, 1);
      case ',':
        return symbol(Kind::kComma, 1);
      case '|':
        return symbol(Kind::kOr, 1);
      case '~':
        return symbol(Kind::kNear, 1);
      case '!':
        return symbol(Kind::kNot, 1);
      case '&':
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '!') return symbol(Kind::kAndNot, 2);
        return symbol(Kind::kAnd, 1);
      default:
        break;
    }
    size_t start = pos_;
    while (pos_ < text_.size() && !IsSpecial(text_[pos_])) ++pos_;
    token_.kind = Kind::kWord;
    token_.text = std::string(text_.substr(start, pos_ - start));
    std::string upper = Upper(token_.text);
    if (upper == "OR") {
      token_.kind = Kind::kOr;
    } else if (upper == "NEAR") {
      token_.kind = Kind::kNear;
    } else if (upper == "NOT") {
      token_.kind = Kind::kNot;
    } else if (upper == "AND") {
      token_.kind = Kind::kAnd;
      size_t save = pos_;
      SkipSpace();
      size_t word = pos_;
      while (pos_ < text_.size() && !IsSpecial(text_[pos_])) ++pos_;
      if (Upper(text_.substr(word, pos_ - word)) == "NOT") {
        token_.kind = Kind::kAndNot;
        token_.text = std::string(text_.substr(start, pos_ - start));
      } else {
        pos_ = save;
      }
    }
  }

  SqlError Syntax() const { return ConditionSyntax(token_.text, text_); }

  void Expect(Kind kind) {
    if (token_.kind != kind) throw Syntax();
    Next();
  }

  bool IsWord(std::string_view upper) const {
    return token_.kind == Kind::kWord && Upper(token_.text) == upper;
  }

  // Chains come out flat, so long conditions do not nest the index's own parser deeply.
  std::string Or() {
    std::vector<std::string> terms = {And()};
    while (token_.kind == Kind::kOr) {
      Next();
      terms.push_back(And());
    }
    return Join(terms, " OR ");
  }

  // AND NOT excludes what any of its terms finds from what all the AND terms find.
  std::string And() {
    std::vector<std::string> all = {Proximity()};
    std::vector<std::string> excluded;
    while (token_.kind == Kind::kAnd || token_.kind == Kind::kAndNot) {
      bool negated = token_.kind == Kind::kAndNot;
      Next();
      (negated ? excluded : all).push_back(Proximity());
    }
    std::string out = Join(all, " AND ");
    if (excluded.empty()) return out;
    return "(" + out + ") NOT (" + Join(excluded, " OR ") + ")";
  }

  static std::string Join(const std::vector<std::string>& terms, const char* op) {
    if (terms.size() == 1) return terms[0];
    std::string out;
    for (const std::string& t : terms) out += (out.empty() ? "(" : std::string(op) + "(") + t + ")";
    return out;
  }

  std::string Proximity() {
    if (token_.kind == Kind::kOpen) {
      // Deeper nesting than anyone writes would only serve to exhaust the stack.
      if (++depth_ > kMaxNesting) throw Syntax();
      Next();
      std::string inner = Or();
      Expect(Kind::kClose);
      --depth_;
      if (token_.kind == Kind::kNear) throw Syntax();
      return "(" + inner + ")";
    }
    if (IsWord("FORMSOF") || IsWord("ISABOUT")) return Generation();
    std::vector<std::string> phrases = {Term()};
    while (token_.kind == Kind::kNear) {
      Next();
      phrases.push_back(Term());
    }
    if (phrases.size() == 1) return phrases[0];
    std::string out = "NEAR(";
    for (size_t i = 0; i < phrases.size(); ++i) out += (i ? " " : "") + phrases[i];
    return out + ", " + std::to_string(kNearDistance) + ")";
  }

  std::string Term() {
    if (token_.kind != Kind::kWord && token_.kind != Kind::kPhrase) throw Syntax();
    std::string out = Phrase(token_.text);
    Next();
    return out;
  }

  // FORMSOF(INFLECTIONAL, ...) and ISABOUT(...): the sandbox has no stemmer or thesaurus, so
  // any of the terms given is a match.
  std::string Generation() {
    bool formsof = IsWord("FORMSOF");
    Next();
    Expect(Kind::kOpen);
    if (formsof) {
      if (!IsWord("INFLECTIONAL") && !IsWord("THESAURUS")) throw Syntax();
      Next();
      Expect(Kind::kComma);
    }
    std::vector<std::string> terms;
    while (true) {
      if (!formsof && (IsWord("FORMSOF"))) {
        terms.push_back(Generation());
      } else {
        terms.push_back(Term());
      }
      if (!formsof && IsWord("WEIGHT")) {
        Next();
        Expect(Kind::kOpen);
        if (token_.kind != Kind::kWord) throw Syntax();
        Next();
        Expect(Kind::kClose);
      }
      if (token_.kind != Kind::kComma) break;
      Next();
    }
    Expect(Kind::kClose);
    std::string out;
    for (const std::string& t : terms) out += (out.empty() ? "" : " OR ") + t;
    return "(" + out + ")";
  }

  static constexpr int kMaxNesting = 20;
  std::string_view text_;
  size_t pos_ = 0;
  int depth_ = 0;
  Token token_;
};

// FREETEXT: every word and quoted phrase of the text, any of which matches.
std::string FreeText(std::string_view text) {
  std::string out;
  size_t pos = 0;
  auto add = [&](std::string_view term) {
    if (term.empty()) return;
    out += (out.empty() ? "" : " OR ") + Phrase(term);
  };
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '"') {
      size_t end = text.find('"', pos + 1);
      if (end == std::string_view::npos) end = text.size();
      add(text.substr(pos + 1, end - pos - 1));
      pos = end + 1;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ',' ||
        c == '&' || c == '|' || c == '~' || c == '!') {
      ++pos;
      continue;
    }
    size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t' && text[pos] != '\r' &&
           text[pos] != '\n' && text[pos] != '"')
      ++pos;
    add(text.substr(start, pos - start));
  }
  if (out.empty()) throw EmptyCondition();
  return out;
}

void QueryFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  try {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) throw EmptyCondition();
    std::string condition(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                          static_cast<size_t>(sqlite3_value_bytes(argv[0])));
    std::vector<int> columns;
    std::string list = sqlite3_value_type(argv[1]) == SQLITE_NULL
                           ? std::string()
                           : reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    size_t start = 0;
    while (start < list.size()) {
      size_t comma = list.find(',', start);
      if (comma == std::string::npos) comma = list.size();
      columns.push_back(std::stoi(list.substr(start, comma - start)));
      start = comma + 1;
    }
    std::string query = FullTextQuery(condition, columns, sqlite3_value_int(argv[2]) != 0);
    sqlite3_result_text(ctx, query.c_str(), static_cast<int>(query.size()), SQLITE_TRANSIENT);
  } catch (const SqlError& e) {
    std::string text = EncodeFunctionError(e);
    sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
  }
}

}  // namespace

std::string FullTextQuery(std::string_view condition, const std::vector<int>& columns,
                          bool freetext) {
  std::string query = freetext ? FreeText(condition) : ConditionParser(condition).Parse();
  if (columns.empty()) return query;
  std::string filter;
  for (int c : columns) filter += (filter.empty() ? "" : " ") + IndexColumn(c);
  return "{" + filter + "} : (" + query + ")";
}

void RegisterFullTextFunctions(sqlite3* db) {
  sqlite3_create_function_v2(db, "tsql_fulltext_query", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                             nullptr, QueryFunction, nullptr, nullptr, nullptr);
}

// --- the database's full-text state ------------------------------------------------------

bool FullTextTableInfo::HasColumn(std::string_view column) const {
  for (const std::string& c : columns)
    if (EqualsNoCase(c, column)) return true;
  return false;
}

FullText::FullText(SessionImpl& session, AttachedDatabase& db) : session_(session), db_(db) {}

std::string FullText::Table(const char* name) const {
  return QuoteIdentifier(db_.schema) + "." + QuoteIdentifier(name);
}

std::string FullText::IndexTable(std::int64_t id) const { return Named("sandbox$ftindex_", id); }
std::string FullText::KeyTable(std::int64_t id) const { return Named("sandbox$ftkeys_", id); }

bool FullText::Exists(const std::string& name) const {
  Statement s = session_.connection().Prepare("SELECT 1 FROM " + QuoteIdentifier(db_.schema) +
                                              ".sqlite_master WHERE name = ?");
  s.Bind(1, Value(name));
  return s.Step();
}

void FullText::EnsureTables() {
  if (Exists(kChanges)) return;
  Connection& c = session_.connection();
  c.Exec("CREATE TABLE IF NOT EXISTS " + Table(kCatalogs) +
         " (ftcatid INTEGER PRIMARY KEY, name TEXT NOT NULL, root TEXT NOT NULL DEFAULT '', "
         "populated TEXT)");
  c.Exec("CREATE TABLE IF NOT EXISTS " + Table(kTables) +
         " (id INTEGER PRIMARY KEY, ftcatid INTEGER NOT NULL, key_index TEXT NOT NULL, "
         "key_column TEXT NOT NULL, integer_key INTEGER NOT NULL, active INTEGER NOT NULL, "
         "tracking INTEGER NOT NULL, background INTEGER NOT NULL)");
  c.Exec("CREATE TABLE IF NOT EXISTS " + Table(kColumns) +
         " (id INTEGER NOT NULL, ordinal INTEGER NOT NULL, name TEXT NOT NULL, "
         "PRIMARY KEY (id, ordinal))");
  c.Exec("CREATE TABLE IF NOT EXISTS " + Table(kChanges) +
         " (id INTEGER NOT NULL, key NOT NULL, PRIMARY KEY (id, key))");
}

bool FullText::Enabled() const {
  auto value = db_.catalog->Setting(session_.connection(), kEnabledSetting);
  return value && *value == "enabled";
}

void FullText::Enable() {
  EnsureTables();
  db_.catalog->SetSetting(session_.connection(), kEnabledSetting, "enabled");
  // Catalogues come back empty; their definitions are kept.
  for (const FullTextTableInfo& info : Tables()) {
    RecreateIndex(info);
    session_.connection().Exec("DELETE FROM " + Table(kChanges) +
                               " WHERE id = " + std::to_string(info.object_id));
    SyncTriggers(info);
  }
  session_.connection().Exec("UPDATE " + Table(kCatalogs) + " SET populated = NULL");
  for (const FullTextCatalogInfo& catalog : Catalogs())
    session_.instance().machine().CreateFolders(CatalogFolder(catalog));
}

void FullText::Disable() {
  db_.catalog->SetSetting(session_.connection(), kEnabledSetting, "disabled");
  if (!Exists(kChanges)) return;
  for (const FullTextTableInfo& info : Tables()) {
    DropTriggers(info.object_id);
    RecreateIndex(info);
  }
  session_.connection().Exec("DELETE FROM " + Table(kChanges));
  session_.connection().Exec("UPDATE " + Table(kCatalogs) + " SET populated = NULL");
  for (const FullTextCatalogInfo& catalog : Catalogs()) {
    auto host = session_.instance().machine().ToHost(CatalogFolder(catalog));
    std::error_code ec;
    if (host) std::filesystem::remove_all(*host, ec);
  }
}

std::vector<FullTextCatalogInfo> FullText::Catalogs() const {
  std::vector<FullTextCatalogInfo> out;
  if (!Exists(kCatalogs)) return out;
  Statement s = session_.connection().Prepare("SELECT ftcatid, name, root, populated FROM " +
                                              Table(kCatalogs) + " ORDER BY ftcatid");
  while (s.Step()) {
    FullTextCatalogInfo c;
    c.id = static_cast<int>(s.ColumnInt(0));
    c.name = s.ColumnText(1);
    c.root = s.ColumnText(2);
    if (!s.ColumnIsNull(3)) c.populated = s.ColumnText(3);
    out.push_back(std::move(c));
  }
  return out;
}

std::optional<FullTextCatalogInfo> FullText::FindCatalog(std::string_view name) const {
  for (FullTextCatalogInfo& c : Catalogs())
    if (EqualsNoCase(c.name, name)) return std::move(c);
  return std::nullopt;
}

const ObjectInfo* FullText::Object(std::int64_t id) const {
  const ObjectInfo* object = db_.catalog->FindById(id);
  return object && object->type == ObjectType::kTable ? object : nullptr;
}

std::vector<FullTextTableInfo> FullText::Tables() const {
  std::vector<FullTextTableInfo> out;
  if (!Exists(kTables)) return out;
  Connection& c = session_.connection();
  Statement s = c.Prepare(
      "SELECT id, ftcatid, key_index, key_column, integer_key, active, tracking, background "
      "FROM " +
      Table(kTables) + " ORDER BY id");
  while (s.Step()) {
    FullTextTableInfo t;
    t.object_id = s.ColumnInt(0);
    // A table that went without DROP TABLE would leave its definitions behind: skip them.
    if (!Object(t.object_id)) continue;
    t.catalog_id = static_cast<int>(s.ColumnInt(1));
    t.key_index = s.ColumnText(2);
    t.key_column = s.ColumnText(3);
    t.integer_key = s.ColumnInt(4) != 0;
    t.active = s.ColumnInt(5) != 0;
    t.change_tracking = s.ColumnInt(6) != 0;
    t.background = s.ColumnInt(7) != 0;
    Statement columns =
        c.Prepare("SELECT name FROM " + Table(kColumns) + " WHERE id = ? ORDER BY ordinal");
    columns.Bind(1, Value(static_cast<long long>(t.object_id)));
    while (columns.Step()) t.columns.push_back(columns.ColumnText(0));
    out.push_back(std::move(t));
  }
  return out;
}

std::optional<FullTextTableInfo> FullText::FindTable(std::int64_t object_id) const {
  for (FullTextTableInfo& t : Tables())
    if (t.object_id == object_id) return std::move(t);
  return std::nullopt;
}

std::vector<FullTextTableInfo> FullText::TablesOf(int catalog_id) const {
  std::vector<FullTextTableInfo> out;
  for (FullTextTableInfo& t : Tables())
    if (t.catalog_id == catalog_id) out.push_back(std::move(t));
  return out;
}

std::string FullText::RootFolder(const FullTextCatalogInfo& catalog) const {
  if (!catalog.root.empty()) return catalog.root;
  return Machine::Join(Machine::FolderOf(session_.instance().DefaultDataFolder()), "FTData");
}

std::string FullText::CatalogFolder(const FullTextCatalogInfo& catalog) const {
  // SQL Server names a catalogue's folder after the database and catalogue numbers.
  char name[32];
  std::snprintf(name, sizeof name, "SQL%05d%05d", db_.dbid, catalog.id);
  return Machine::Join(RootFolder(catalog), name);
}

int FullText::CreateCatalog(std::string_view name, std::string_view root) {
  EnsureTables();
  Connection& c = session_.connection();
  int id = kFirstCatalogId;
  {
    Statement max = c.Prepare("SELECT max(ftcatid) FROM " + Table(kCatalogs));
    if (max.Step() && !max.ColumnIsNull(0))
      id = std::max<int>(kFirstCatalogId, static_cast<int>(max.ColumnInt(0)) + 1);
  }
  Statement insert = c.Prepare("INSERT INTO " + Table(kCatalogs) +
                               " (ftcatid, name, root, populated) VALUES (?, ?, ?, NULL)");
  insert.Bind(1, Value(id));
  insert.Bind(2, Value(std::string(name)));
  insert.Bind(3, Value(std::string(root)));
  insert.Step();
  FullTextCatalogInfo catalog{id, std::string(name), std::string(root), std::nullopt};
  if (!session_.instance().machine().CreateFolders(CatalogFolder(catalog)))
    throw errors::Raise<7610>(RootFolder(catalog));
  return id;
}

void FullText::DropCatalog(const FullTextCatalogInfo& catalog) {
  Statement remove =
      session_.connection().Prepare("DELETE FROM " + Table(kCatalogs) + " WHERE ftcatid = ?");
  remove.Bind(1, Value(catalog.id));
  remove.Step();
  auto host = session_.instance().machine().ToHost(CatalogFolder(catalog));
  std::error_code ec;
  if (host) std::filesystem::remove_all(*host, ec);
}

void FullText::RebuildCatalog(const FullTextCatalogInfo& catalog) {
  Connection& c = session_.connection();
  for (const FullTextTableInfo& info : TablesOf(catalog.id)) {
    RecreateIndex(info);
    c.Exec("DELETE FROM " + Table(kChanges) + " WHERE id = " + std::to_string(info.object_id));
  }
  c.Exec("UPDATE " + Table(kCatalogs) +
         " SET populated = NULL WHERE ftcatid = " + std::to_string(catalog.id));
  session_.instance().machine().CreateFolders(CatalogFolder(catalog));
}

void FullText::PopulateCatalog(const FullTextCatalogInfo& catalog) {
  for (const FullTextTableInfo& info : TablesOf(catalog.id))
    if (info.active) Populate(info, *Object(info.object_id));
  Touch(catalog.id);
}

void FullText::SaveTable(const FullTextTableInfo& info) {
  EnsureTables();
  Connection& c = session_.connection();
  Statement save = c.Prepare("INSERT OR REPLACE INTO " + Table(kTables) +
                             " (id, ftcatid, key_index, key_column, integer_key, active, "
                             "tracking, background) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  save.Bind(1, Value(static_cast<long long>(info.object_id)));
  save.Bind(2, Value(info.catalog_id));
  save.Bind(3, Value(info.key_index));
  save.Bind(4, Value(info.key_column));
  save.Bind(5, Value(info.integer_key ? 1 : 0));
  save.Bind(6, Value(info.active ? 1 : 0));
  save.Bind(7, Value(info.change_tracking ? 1 : 0));
  save.Bind(8, Value(info.background ? 1 : 0));
  save.Step();
  Statement clear = c.Prepare("DELETE FROM " + Table(kColumns) + " WHERE id = ?");
  clear.Bind(1, Value(static_cast<long long>(info.object_id)));
  clear.Step();
  Statement add =
      c.Prepare("INSERT INTO " + Table(kColumns) + " (id, ordinal, name) VALUES (?, ?, ?)");
  for (size_t i = 0; i < info.columns.size(); ++i) {
    add.Bind(1, Value(static_cast<long long>(info.object_id)));
    add.Bind(2, Value(static_cast<long long>(i)));
    add.Bind(3, Value(info.columns[i]));
    add.Step();
    add.Reset();
  }
}

bool FullText::HasIndex(const FullTextTableInfo& info) const {
  return !info.columns.empty() && Exists(IndexTable(info.object_id));
}

void FullText::DropIndexObjects(std::int64_t id) {
  Connection& c = session_.connection();
  c.Exec("DROP TABLE IF EXISTS " + Table(VocabularyTable(id).c_str()));
  c.Exec("DROP TABLE IF EXISTS " + Table(IndexTable(id).c_str()));
  c.Exec("DROP TABLE IF EXISTS " + Table(KeyTable(id).c_str()));
}

void FullText::RecreateIndex(const FullTextTableInfo& info) {
  DropIndexObjects(info.object_id);
  if (info.columns.empty()) return;
  Connection& c = session_.connection();
  std::string columns;
  for (size_t i = 0; i < info.columns.size(); ++i) columns += IndexColumn(i) + ", ";
  c.Exec("CREATE VIRTUAL TABLE " + Table(IndexTable(info.object_id).c_str()) + " USING fts5(" +
         columns + "tokenize = 'unicode61 remove_diacritics 2')");
  c.Exec("CREATE VIRTUAL TABLE " + Table(VocabularyTable(info.object_id).c_str()) +
         " USING fts5vocab(" + QuoteIdentifier(IndexTable(info.object_id)) + ", 'row')");
  if (!info.integer_key)
    c.Exec("CREATE TABLE " + Table(KeyTable(info.object_id).c_str()) +
           " (docid INTEGER PRIMARY KEY, key UNIQUE NOT NULL)");
}

void FullText::DropTriggers(std::int64_t id) {
  Connection& c = session_.connection();
  for (const char* kind : {"ins", "upd", "del"})
    c.Exec("DROP TRIGGER IF EXISTS " + Table(TriggerName(kind, id).c_str()));
}

void FullText::SyncTriggers(const FullTextTableInfo& info) {
  DropTriggers(info.object_id);
  const ObjectInfo* table = Object(info.object_id);
  if (!table || !info.active || !info.change_tracking || !HasIndex(info) || !Enabled()) return;
  // Trigger bodies name objects of their own database without a schema.
  const std::string index = QuoteIdentifier(IndexTable(info.object_id));
  const std::string keys = QuoteIdentifier(KeyTable(info.object_id));
  const std::string key = QuoteIdentifier(info.key_column);
  auto docid = [&](const std::string& row) {
    return info.integer_key
               ? row + "." + key
               : "(SELECT docid FROM " + keys + " WHERE key = " + row + "." + key + ")";
  };
  std::string watched = key;
  std::string targets = "rowid";
  std::string values;
  for (size_t i = 0; i < info.columns.size(); ++i) {
    watched += ", " + QuoteIdentifier(info.columns[i]);
    targets += ", " + IndexColumn(i);
    values += ", NEW." + QuoteIdentifier(info.columns[i]);
  }
  const std::string remember =
      info.integer_key ? "" : "INSERT OR IGNORE INTO " + keys + " (key) VALUES (NEW." + key + "); ";
  const std::string insert = remember + "DELETE FROM " + index + " WHERE rowid = " + docid("NEW") +
                             "; INSERT INTO " + index + " (" + targets + ") VALUES (" +
                             docid("NEW") + values + "); ";
  const std::string remove = "DELETE FROM " + index + " WHERE rowid = " + docid("OLD") + "; ";
  const std::string touch = "UPDATE " + QuoteIdentifier(kCatalogs) +
                            " SET populated = datetime('now', 'localtime') WHERE ftcatid = " +
                            std::to_string(info.catalog_id) + "; ";
  auto note = [&](const char* row) {
    return "INSERT OR IGNORE INTO " + QuoteIdentifier(kChanges) + " (id, key) VALUES (" +
           std::to_string(info.object_id) + ", " + row + "." + key + "); ";
  };
  std::string on_insert, on_update, on_delete;
  if (info.background && Immediate(info.object_id)) {
    on_insert = insert + touch;
    on_update = remove + insert + touch;
    on_delete = remove + touch;
  } else {
    on_insert = note("NEW");
    on_update = note("OLD") + note("NEW");
    on_delete = note("OLD");
  }
  const std::string table_name = QuoteIdentifier(table->storage_name);
  Connection& c = session_.connection();
  c.Exec("CREATE TRIGGER " + Table(TriggerName("ins", info.object_id).c_str()) +
         " AFTER INSERT ON " + table_name + " BEGIN " + on_insert + "END");
  c.Exec("CREATE TRIGGER " + Table(TriggerName("upd", info.object_id).c_str()) +
         " AFTER UPDATE OF " + watched + " ON " + table_name + " BEGIN " + on_update + "END");
  c.Exec("CREATE TRIGGER " + Table(TriggerName("del", info.object_id).c_str()) +
         " AFTER DELETE ON " + table_name + " BEGIN " + on_delete + "END");
}

bool FullText::Immediate(std::int64_t object_id) const {
  auto value =
      db_.catalog->Setting(session_.connection(), kImmediateSetting + std::to_string(object_id));
  if (value && *value == "1") return true;
  // Views made before the setting existed are found by their text.
  Statement s = session_.connection().Prepare("SELECT 1 FROM " + QuoteIdentifier(db_.schema) +
                                              ".sqlite_master WHERE type = 'view' AND "
                                              "instr(sql, ?) > 0");
  s.Bind(1, Value(QuoteIdentifier(IndexTable(object_id))));
  return s.Step();
}

void FullText::Touch(int catalog_id) const {
  session_.connection().Exec("UPDATE " + Table(kCatalogs) +
                             " SET populated = datetime('now', 'localtime') WHERE ftcatid = " +
                             std::to_string(catalog_id));
}

void FullText::Populate(const FullTextTableInfo& info, const ObjectInfo& table) {
  if (!HasIndex(info)) return;
  Connection& c = session_.connection();
  const std::string index = Table(IndexTable(info.object_id).c_str());
  const std::string keys = Table(KeyTable(info.object_id).c_str());
  const std::string source =
      QuoteIdentifier(db_.schema) + "." + QuoteIdentifier(table.storage_name);
  const std::string key = QuoteIdentifier(info.key_column);
  // A population starts from a new, empty index rather than one full of deletion entries.
  RecreateIndex(info);
  if (!info.integer_key) {
    c.Exec("INSERT INTO " + keys + " (key) SELECT " + key + " FROM " + source + " WHERE " + key +
           " IS NOT NULL");
  }
  std::string targets = "rowid";
  std::string values =
      info.integer_key ? "s." + key : "(SELECT docid FROM " + keys + " WHERE key = s." + key + ")";
  for (size_t i = 0; i < info.columns.size(); ++i) {
    targets += ", " + IndexColumn(i);
    values += ", s." + QuoteIdentifier(info.columns[i]);
  }
  c.Exec("INSERT INTO " + index + " (" + targets + ") SELECT " + values + " FROM " + source +
         " AS s WHERE s." + key + " IS NOT NULL");
  c.Exec("DELETE FROM " + Table(kChanges) + " WHERE id = " + std::to_string(info.object_id));
  Touch(info.catalog_id);
}

void FullText::CreateTable(const ObjectInfo& table, int catalog_id, const IndexInfo& key) {
  FullTextTableInfo info;
  info.object_id = table.id;
  info.catalog_id = catalog_id;
  info.key_index = key.name;
  const ColumnInfo* column = table.FindColumn(key.columns.at(0));
  info.key_column = column ? column->name : key.columns.at(0);
  info.integer_key = column && column->type.IsInteger() && column->type.kind != TypeKind::kBit;
  SaveTable(info);
}

void FullText::DropTable(std::int64_t object_id) {
  if (!Exists(kTables)) return;
  DropTriggers(object_id);
  DropIndexObjects(object_id);
  Connection& c = session_.connection();
  if (Immediate(object_id))
    db_.catalog->SetSetting(c, kImmediateSetting + std::to_string(object_id), "");
  for (const char* t : {kTables, kChanges}) {
    Statement s = c.Prepare("DELETE FROM " + Table(t) + " WHERE id = ?");
    s.Bind(1, Value(static_cast<long long>(object_id)));
    s.Step();
  }
  Statement s = c.Prepare("DELETE FROM " + Table(kColumns) + " WHERE id = ?");
  s.Bind(1, Value(static_cast<long long>(object_id)));
  s.Step();
}

void FullText::AddColumn(const ObjectInfo& table, std::string_view column) {
  auto info = FindTable(table.id);
  if (!info || info->HasColumn(column)) return;
  const ColumnInfo* c = table.FindColumn(column);
  // The index becomes active with its first column.
  if (info->columns.empty()) info->active = true;
  info->columns.push_back(c ? c->name : std::string(column));
  SaveTable(*info);
  RecreateIndex(*info);
  if (info->active && info->change_tracking) Populate(*info, table);
  SyncTriggers(*info);
}

void FullText::DropColumn(const ObjectInfo& table, std::string_view column) {
  auto info = FindTable(table.id);
  if (!info) return;
  std::erase_if(info->columns, [&](const std::string& c) { return EqualsNoCase(c, column); });
  if (info->columns.empty()) info->active = false;
  SaveTable(*info);
  RecreateIndex(*info);
  if (info->active && info->change_tracking) Populate(*info, table);
  SyncTriggers(*info);
}

void FullText::SetActive(const ObjectInfo& table, bool active) {
  auto info = FindTable(table.id);
  if (!info) return;
  bool was = info->active;
  info->active = active;
  SaveTable(*info);
  // With change tracking on, a table coming back starts a new population.
  if (active && !was && info->change_tracking) Populate(*info, table);
  SyncTriggers(*info);
}

std::int64_t FullText::SetChangeTracking(const ObjectInfo& table, bool on) {
  auto info = FindTable(table.id);
  if (!info) return 0;
  std::int64_t discarded = 0;
  info->change_tracking = on;
  if (!on) {
    if (info->background) ApplyNoted(*info);
    info->background = false;
    discarded = PendingChanges(table.id);
    session_.connection().Exec("DELETE FROM " + Table(kChanges) +
                               " WHERE id = " + std::to_string(table.id));
  }
  SaveTable(*info);
  // Starting to track begins with a population (tables without a timestamp get a full one).
  if (on && info->active) Populate(*info, table);
  SyncTriggers(*info);
  return discarded;
}

void FullText::SetBackgroundUpdate(const ObjectInfo& table, bool on) {
  auto info = FindTable(table.id);
  if (!info) return;
  // Background changes noted so far are owed to the index either way.
  if (on || info->background) UpdateIndex(table);
  info->background = on;
  SaveTable(*info);
  SyncTriggers(*info);
}

bool FullText::HasPending(std::int64_t object_id) const {
  if (!Exists(kChanges)) return false;
  Statement s = session_.connection().Prepare("SELECT EXISTS (SELECT 1 FROM " + Table(kChanges) +
                                              " WHERE id = ?)");
  s.Bind(1, Value(static_cast<long long>(object_id)));
  return s.Step() && s.ColumnInt(0) != 0;
}

std::int64_t FullText::PendingChanges(std::int64_t object_id) const {
  if (!Exists(kChanges)) return 0;
  Statement s =
      session_.connection().Prepare("SELECT count(*) FROM " + Table(kChanges) + " WHERE id = ?");
  s.Bind(1, Value(static_cast<long long>(object_id)));
  return s.Step() ? s.ColumnInt(0) : 0;
}

void FullText::UpdateIndex(const ObjectInfo& table) {
  auto info = FindTable(table.id);
  if (info) ApplyNoted(*info);
}

void FullText::ApplyNoted(const FullTextTableInfo& info) const {
  if (!HasPending(info.object_id)) return;
  const ObjectInfo* table = Object(info.object_id);
  if (!table) return;
  Connection& c = session_.connection();
  const std::string id = std::to_string(info.object_id);
  const std::string changed = "SELECT key FROM " + Table(kChanges) + " WHERE id = " + id;
  if (HasIndex(info)) {
    const std::string index = Table(IndexTable(info.object_id).c_str());
    const std::string keys = Table(KeyTable(info.object_id).c_str());
    const std::string source =
        QuoteIdentifier(db_.schema) + "." + QuoteIdentifier(table->storage_name);
    const std::string key = QuoteIdentifier(info.key_column);
    if (info.integer_key) {
      c.Exec("DELETE FROM " + index + " WHERE rowid IN (" + changed + ")");
    } else {
      c.Exec("INSERT OR IGNORE INTO " + keys + " (key) " + changed);
      c.Exec("DELETE FROM " + index + " WHERE rowid IN (SELECT docid FROM " + keys +
             " WHERE key IN (" + changed + "))");
    }
    std::string targets = "rowid";
    std::string values = info.integer_key
                             ? "s." + key
                             : "(SELECT docid FROM " + keys + " WHERE key = s." + key + ")";
    for (size_t i = 0; i < info.columns.size(); ++i) {
      targets += ", " + IndexColumn(i);
      values += ", s." + QuoteIdentifier(info.columns[i]);
    }
    c.Exec("INSERT INTO " + index + " (" + targets + ") SELECT " + values + " FROM " + source +
           " AS s WHERE s." + key + " IN (" + changed + ")");
  }
  // The notes go last: a failure part way leaves them for the next reader to apply again.
  c.Exec("DELETE FROM " + Table(kChanges) + " WHERE id = " + id);
  Touch(info.catalog_id);
}

void FullText::CatchUp(const FullTextTableInfo& info) const {
  if (!info.background) return;
  try {
    ApplyNoted(info);
  } catch (const std::exception&) {
    // A database that cannot be written (read-only) is searched as last applied; the notes
    // stay for when it can.
  }
}

void FullText::CatchUpCatalog(int catalog_id) const {
  for (const FullTextTableInfo& info : TablesOf(catalog_id)) CatchUp(info);
}

void FullText::PopulateTable(const ObjectInfo& table) {
  auto info = FindTable(table.id);
  if (info && info->active) Populate(*info, table);
}

// --- figures ---------------------------------------------------------------------------

int FullText::Status(const FullTextCatalogInfo& catalog) const {
  // Populations run to the end before the procedure that starts them returns, so a catalogue
  // is either idle or tracking changes.
  for (const FullTextTableInfo& info : TablesOf(catalog.id))
    if (info.active && info.change_tracking) return kFullTextChangeTracking;
  return kFullTextIdle;
}

std::int64_t FullText::ItemCount(const FullTextCatalogInfo& catalog) const {
  std::int64_t count = 0;
  for (const FullTextTableInfo& info : TablesOf(catalog.id)) {
    if (!HasIndex(info)) continue;
    Statement s = session_.connection().Prepare("SELECT count(*) FROM " +
                                                Table(IndexTable(info.object_id).c_str()));
    if (s.Step()) count += s.ColumnInt(0);
  }
  return count;
}

std::int64_t FullText::IndexBytes(const FullTextCatalogInfo& catalog) const {
  std::int64_t bytes = 0;
  for (const FullTextTableInfo& info : TablesOf(catalog.id)) {
    if (!HasIndex(info)) continue;
    // The inverted index proper: FTS5's segment data and their index.
    Statement s = session_.connection().Prepare(
        "SELECT coalesce(sum(pgsize), 0) FROM dbstat(?) WHERE name IN (?, ?)");
    s.Bind(1, Value(db_.schema));
    s.Bind(2, Value(IndexTable(info.object_id) + "_data"));
    s.Bind(3, Value(IndexTable(info.object_id) + "_idx"));
    if (s.Step()) bytes += s.ColumnInt(0);
  }
  return bytes;
}

std::int64_t FullText::UniqueKeyCount(const FullTextCatalogInfo& catalog) const {
  std::string terms;
  for (const FullTextTableInfo& info : TablesOf(catalog.id)) {
    if (!HasIndex(info) || !Exists(VocabularyTable(info.object_id))) continue;
    terms += std::string(terms.empty() ? "" : " UNION ") + "SELECT term FROM " +
             Table(VocabularyTable(info.object_id).c_str());
  }
  if (terms.empty()) return 0;
  Statement s = session_.connection().Prepare("SELECT count(*) FROM (" + terms + ")");
  return s.Step() ? s.ColumnInt(0) : 0;
}

std::int64_t FullText::PopulateCompletionAge(const FullTextCatalogInfo& catalog) const {
  if (!catalog.populated) return 0;
  Statement s = session_.connection().Prepare(
      "SELECT CAST(strftime('%s', ?) AS INTEGER) - CAST(strftime('%s', '1990-01-01') AS INTEGER)");
  s.Bind(1, Value(*catalog.populated));
  if (!s.Step() || s.ColumnIsNull(0)) return 0;
  return std::max<std::int64_t>(0, s.ColumnInt(0));
}

// --- the table's own DDL ---------------------------------------------------------------

void FullText::CheckTableChange(const ObjectInfo& before, const ObjectInfo& after) const {
  auto info = FindTable(before.id);
  if (!info) return;
  std::vector<std::string> guarded = info->columns;
  guarded.push_back(info->key_column);
  for (const std::string& name : guarded) {
    const ColumnInfo* was = before.FindColumn(name);
    const ColumnInfo* now = after.FindColumn(name);
    if (!now || (was && (was->type != now->type || was->nullable != now->nullable)))
      throw errors::Raise<7614>(name);
  }
  if (!after.FindIndex(info->key_index)) throw errors::Raise<7613>(info->key_index, before.name);
}

void FullText::AfterTableRebuilt(const ObjectInfo& table) {
  auto info = FindTable(table.id);
  if (info) SyncTriggers(*info);
}

void FullText::CheckDropIndex(const ObjectInfo& table, std::string_view index) const {
  auto info = FindTable(table.id);
  if (info && EqualsNoCase(info->key_index, index))
    throw errors::Raise<7613>(info->key_index, table.name);
}

// --- queries -----------------------------------------------------------------------------

std::string FullText::Predicate(const ObjectInfo& table, const std::string& row_sql,
                                const std::vector<std::string>& columns,
                                const std::string& search_sql, bool freetext, bool in_view) {
  if (!Enabled()) throw errors::Raise<7616>();
  auto info = FindTable(table.id);
  if (!info || !info->active || !HasIndex(*info)) throw NotIndexed("table", table.name);
  if (in_view && !Immediate(info->object_id)) {
    if (info->background) ApplyNoted(*info);
    db_.catalog->SetSetting(session_.connection(),
                            kImmediateSetting + std::to_string(info->object_id), "1");
    SyncTriggers(*info);
  } else {
    CatchUp(*info);
  }
  std::string list;
  for (const std::string& column : columns) {
    size_t ordinal = info->columns.size();
    for (size_t i = 0; i < info->columns.size(); ++i)
      if (EqualsNoCase(info->columns[i], column)) ordinal = i;
    if (ordinal == info->columns.size()) throw NotIndexed("column", column);
    list += (list.empty() ? "" : ",") + std::to_string(ordinal);
  }
  // A view keeps its text across attachments, so it names tables without their schema.
  auto name = [&](const std::string& t) { return in_view ? QuoteIdentifier(t) : Table(t.c_str()); };
  const std::string index = IndexTable(table.id);
  std::string matches = "SELECT rowid FROM " + name(index) + " WHERE " + QuoteIdentifier(index) +
                        " MATCH tsql_fulltext_query(" + search_sql + ", " + QuoteLiteral(list) +
                        ", " + (freetext ? "1" : "0") + ")";
  if (!info->integer_key)
    matches = "SELECT key FROM " + name(KeyTable(table.id)) + " WHERE docid IN (" + matches + ")";
  return "(" + row_sql + "." + QuoteIdentifier(info->key_column) + " IN (" + matches + "))";
}

std::string Executor::FullTextPredicate(const SourceBinding& source,
                                        const std::vector<std::string>& columns,
                                        const std::string& search_sql, bool freetext,
                                        bool in_view) {
  if (source.kind != ResolvedTable::Kind::kTable || !source.object || source.derived)
    return Resolver::FullTextPredicate(source, columns, search_sql, freetext, in_view);
  AttachedDatabase& db = source.database.empty() ? Db() : session_.Database(source.database);
  return FullText(session_, db)
      .Predicate(*source.object, QuoteIdentifier(source.sql_alias), columns, search_sql, freetext,
                 in_view);
}

// --- properties --------------------------------------------------------------------------

bool FullTextEnabled(SessionImpl& session, AttachedDatabase& db) {
  return FullText(session, db).Enabled();
}

std::vector<std::filesystem::path> FullTextFolders(SessionImpl& session, int dbid) {
  std::vector<std::filesystem::path> out;
  try {
    FullText ft(session, session.Database(dbid));
    for (const FullTextCatalogInfo& catalog : ft.Catalogs())
      if (auto host = session.instance().machine().ToHost(ft.CatalogFolder(catalog)))
        out.push_back(*host);
  } catch (const std::exception&) {
    // A database that cannot be read has no folders we know of.
  }
  return out;
}

void RemoveFullTextFolders(const std::vector<std::filesystem::path>& folders) {
  for (const std::filesystem::path& folder : folders) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
}

Value FullTextCatalogProperty(SessionImpl& session, AttachedDatabase& db,
                              std::string_view catalog_name, std::string_view property) {
  FullText ft(session, db);
  if (!session.instance().config().full_text_installed || !ft.Enabled()) return Value();
  auto catalog = ft.FindCatalog(catalog_name);
  if (!catalog) return Value();
  // The figures, and when the catalogue last took in changes, count what is noted as applied.
  ft.CatchUpCatalog(catalog->id);
  catalog = ft.FindCatalog(catalog_name);
  std::string p = Lower(property);
  if (p == "populatestatus") return Value(ft.Status(*catalog));
  if (p == "itemcount") return Value(static_cast<long long>(ft.ItemCount(*catalog)));
  if (p == "indexsize")
    return Value(static_cast<long long>(ft.IndexBytes(*catalog) / (1024 * 1024)));
  if (p == "uniquekeycount") return Value(static_cast<long long>(ft.UniqueKeyCount(*catalog)));
  if (p == "logsize") return Value(0);
  if (p == "populatecompletionage")
    return Value(static_cast<long long>(ft.PopulateCompletionAge(*catalog)));
  return Value();
}

std::optional<Value> FullTextObjectProperty(SessionImpl& session, AttachedDatabase& db,
                                            const ObjectInfo& object, std::string_view property) {
  std::string p = Lower(property);
  static const char* kProperties[] = {
      "tablehasactivefulltextindex",   "tablefulltextcatalogid",
      "tablefulltextchangetrackingon", "tablefulltextbackgroundupdateindexon",
      "tablefulltextkeycolumn",        "tablefulltextpopulatestatus"};
  bool known = false;
  for (const char* k : kProperties) known = known || p == k;
  if (!known) return std::nullopt;
  if (object.type != ObjectType::kTable) return Value();
  auto info = FullText(session, db).FindTable(object.id);
  if (p == "tablehasactivefulltextindex") return Value(info && info->active ? 1 : 0);
  if (p == "tablefulltextcatalogid") return Value(info ? info->catalog_id : 0);
  if (p == "tablefulltextchangetrackingon") return Value(info && info->change_tracking ? 1 : 0);
  if (p == "tablefulltextbackgroundupdateindexon") return Value(info && info->background ? 1 : 0);
  if (p == "tablefulltextkeycolumn") {
    const ColumnInfo* c = info ? object.FindColumn(info->key_column) : nullptr;
    return Value(c ? c->colid : 0);
  }
  return Value(0);  // populations never outlast the call that starts them
}

}  // namespace sandbox
