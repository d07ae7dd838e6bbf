#include "db/recordset.h"

#include <algorithm>
#include <cctype>
#include <numeric>
#include <optional>
#include <set>

#include "db/detail/state.h"
#include "db/filter.h"
#include "db/sql_text.h"

namespace db {

namespace detail {

struct RecordsetState {
  std::shared_ptr<ConnectionState> connection;
  int cursor_location = 0;  // 0: the connection's at Open
  int effective_location = kUseServer;
  int cursor_type = kOpenForwardOnly;
  int lock_type = kLockReadOnly;
  bool ever_opened = false;

  // The results of the batch not yet reached.
  std::vector<ResultUnit> units;
  size_t next_unit = 0;
  std::vector<ErrorRecord> batch_errors;

  // The current result.
  bool open = false;
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Value>> rows;
  std::vector<std::vector<Value>> originals;  // as read from the server, parallel to rows
  std::vector<size_t> view;                   // rows after filter and sort
  std::ptrdiff_t position = 0;                // into view; -1 before the first
  std::string filter;
  std::string sort;
  std::string source_table;

  // The edit in progress.
  int edit_mode = kEditNone;
  std::vector<std::optional<Value>> edit;
  std::vector<bool> chunk_started;

  // Edits kept for UpdateBatch: the row and which fields changed.
  struct PendingChange {
    bool insert = false;
    size_t row = 0;
    std::vector<bool> changed;
  };
  std::vector<PendingChange> pending;

  bool IsForwardOnlyServer() const {
    return effective_location == kUseServer &&
           (cursor_type == kOpenForwardOnly || cursor_type == kOpenDynamic);
  }
  bool HasCurrent() const {
    return position >= 0 && position < static_cast<std::ptrdiff_t>(view.size());
  }
  int Resolve(std::string_view name) const {
    for (size_t i = 0; i < columns.size(); ++i) {
      const std::string& c = columns[i].name;
      if (c.size() == name.size() &&
          std::equal(c.begin(), c.end(), name.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
          }))
        return static_cast<int>(i);
    }
    return -1;
  }
};

struct RecordsetAccess {
  static RecordsetState& State(Recordset& recordset) { return *recordset.state_; }
};

}  // namespace detail

namespace {

using detail::RecordsetState;
using detail::ResultUnit;
constexpr char kSource[] = "ADODB.Recordset";
constexpr char kFieldSource[] = "ADODB.Field";
constexpr char kCursorEngine[] = "Microsoft Cursor Engine";

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Error ConnectionNotUsable() {
  return Error(kErrorConnectionNotUsable, kSource,
               "The connection cannot be used to perform this operation. It is either closed or "
               "invalid in this context.");
}

Error NotUpdatable() {
  return Error(kErrorNotUpdatable, kSource,
               "Current Recordset does not support updating. This may be a limitation of the "
               "provider, or of the selected locktype.");
}

Error IllegalOperation() {
  return Error(kErrorIllegalOperation, kSource, "Operation is not allowed in this context.");
}

Error NoBaseTable(const std::string& detail) {
  return Error(kErrorUnspecified, kCursorEngine,
               "Insufficient base table information for updating or refreshing. (" + detail + ")");
}

void RequireOpen(const RecordsetState& s) {
  if (!s.open) throw ObjectClosedError(kSource);
}

bool IsNationalType(const ColumnInfo& column) {
  std::string t = Lower(column.type_name);
  return t == "nchar" || t == "nvarchar" || t == "ntext" || t == "sysname";
}

bool IsBinaryColumn(const ColumnInfo& column) {
  std::string t = Lower(column.type_name);
  return column.value_type == Value::Type::kBinary || t == "image" || t == "varbinary" ||
         t == "binary";
}

bool IsTextColumn(const ColumnInfo& column) {
  std::string t = Lower(column.type_name);
  return column.value_type == Value::Type::kText || t == "text" || t == "ntext" ||
         t.find("char") != std::string::npos;
}

// Long types cannot be compared in a WHERE clause on the server.
bool IsComparable(const ColumnInfo& column) {
  std::string t = Lower(column.type_name);
  return t != "text" && t != "ntext" && t != "image" && t != "timestamp";
}

std::string ColumnSqlName(const ColumnInfo& column) {
  return SqlName(column.base_column.empty() ? column.name : column.base_column);
}

int FixedSize(const ColumnInfo& column) {
  std::string t = Lower(column.type_name);
  if (t == "tinyint") return 1;
  if (t == "smallint" || t == "bit") return 2;
  if (t == "int" || t == "real" || t == "smalldatetime" || t == "smallmoney") return 4;
  if (t == "bigint" || t == "float" || t == "money" || t == "datetime") return 8;
  if (t == "uniqueidentifier") return 16;
  if (t == "decimal" || t == "numeric") return 19;
  if (t == "text" || t == "image") return 2147483647;
  if (t == "ntext") return 1073741823;
  switch (column.value_type) {
    case Value::Type::kBool:
      return 2;
    case Value::Type::kInt:
      return 4;
    case Value::Type::kDouble:
    case Value::Type::kDateTime:
      return 8;
    case Value::Type::kGuid:
      return 16;
    default:
      return 0;
  }
}

std::int64_t Utf16Units(const std::string& text) {
  std::int64_t units = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += c >= 0xF0 ? 2 : 1;        // characters outside the BMP take a surrogate pair
  }
  return units;
}

void ResetCurrent(RecordsetState& s) {
  s.open = false;
  s.columns.clear();
  s.rows.clear();
  s.originals.clear();
  s.view.clear();
  s.position = 0;
  s.filter.clear();
  s.sort.clear();
  s.edit_mode = kEditNone;
  s.edit.clear();
  s.chunk_started.clear();
  s.pending.clear();
}

void RebuildView(RecordsetState& s) {
  std::optional<FilterExpression> filter;
  auto resolve = [&s](std::string_view name) { return s.Resolve(name); };
  if (!s.filter.empty()) filter = FilterExpression::Parse(s.filter, resolve);
  std::vector<SortKey> keys;
  if (!s.sort.empty()) keys = ParseSort(s.sort, resolve);
  std::vector<size_t> view;
  for (size_t i = 0; i < s.rows.size(); ++i) {
    if (!filter || filter->Matches(s.rows[i])) view.push_back(i);
  }
  if (!keys.empty()) {
    std::stable_sort(view.begin(), view.end(), [&](size_t a, size_t b) {
      for (const SortKey& key : keys) {
        int cmp = CompareForSort(s.rows[a][key.column], s.rows[b][key.column]);
        if (cmp != 0) return key.descending ? cmp > 0 : cmp < 0;
      }
      return false;
    });
  }
  s.view = std::move(view);
  s.position = 0;
}

// Makes the next result of the batch current. Raises its error after it has become current,
// so rows that came before the error can still be read.
void Advance(RecordsetState& s, std::int64_t* records_affected) {
  ResetCurrent(s);
  if (records_affected) *records_affected = -1;
  if (s.next_unit >= s.units.size()) {
    s.units.clear();
    s.next_unit = 0;
    return;
  }
  ResultUnit unit = std::move(s.units[s.next_unit++]);
  if (unit.has_rowset) {
    s.open = true;
    s.columns = std::move(unit.columns);
    s.rows = std::move(unit.rows);
    s.originals = s.rows;
    s.view.resize(s.rows.size());
    std::iota(s.view.begin(), s.view.end(), size_t{0});
  } else if (records_affected) {
    *records_affected = unit.rows_affected;
  }
  if (unit.error) {
    Error error(*unit.error);
    error.set_errors(s.batch_errors);
    throw error;
  }
}

void Attach(RecordsetState& s, std::shared_ptr<detail::ConnectionState> connection,
            detail::BatchResults results) {
  s.connection = std::move(connection);
  s.effective_location = s.cursor_location != 0 ? s.cursor_location : s.connection->cursor_location;
  if (s.effective_location == kUseClient) s.cursor_type = kOpenStatic;
  s.units = std::move(results.units);
  s.next_unit = 0;
  s.batch_errors = std::move(results.errors);
  s.ever_opened = true;
}

// The table an edit goes to: the one table the changed fields come from.
std::string TableFor(const RecordsetState& s, const std::vector<bool>& changed) {
  std::set<std::string> tables;
  bool any_changed = false;
  for (size_t i = 0; i < s.columns.size(); ++i) {
    if (!changed[i]) continue;
    any_changed = true;
    const ColumnInfo& c = s.columns[i];
    if (!c.base_table.empty()) {
      tables.insert(c.base_table);
    } else if (!s.source_table.empty()) {
      tables.insert(s.source_table);
    } else {
      throw NoBaseTable("the field \"" + c.name + "\" is not a column of a table");
    }
  }
  if (!any_changed) {
    for (const ColumnInfo& c : s.columns) {
      if (!c.base_table.empty()) tables.insert(c.base_table);
    }
    if (tables.empty() && !s.source_table.empty()) tables.insert(s.source_table);
  }
  if (tables.empty()) throw NoBaseTable("the recordset names no table");
  if (tables.size() > 1) throw NoBaseTable("the changed fields come from several tables");
  return *tables.begin();
}

bool InTable(const RecordsetState& s, const ColumnInfo& c, const std::string& table) {
  if (!c.base_table.empty()) return c.base_table == table;
  return !s.source_table.empty() && s.source_table == table;
}

detail::BatchResults RunEdit(RecordsetState& s, const std::string& text) {
  if (!s.connection || !s.connection->IsOpen()) throw ConnectionNotUsable();
  DriverRequest request = detail::MakeRequest(text, kCmdText, s.connection->command_timeout);
  detail::BatchResults results = s.connection->Run(request);
  if (auto error = results.FirstError()) throw *error;
  return results;
}

// Sends an INSERT of the assigned fields and reads back an identity the server gave the row.
void SendInsert(RecordsetState& s, std::vector<Value>& row, const std::vector<bool>& changed) {
  std::string table = TableFor(s, changed);
  std::string names, values;
  for (size_t i = 0; i < s.columns.size(); ++i) {
    if (!changed[i]) continue;
    if (!names.empty()) {
      names += ", ";
      values += ", ";
    }
    names += ColumnSqlName(s.columns[i]);
    values += SqlLiteral(row[i], IsNationalType(s.columns[i]));
  }
  std::string text =
      "INSERT INTO " + SqlName(table) +
      (names.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + values + ")");
  RunEdit(s, text);
  for (size_t i = 0; i < s.columns.size(); ++i) {
    if (!s.columns[i].identity || changed[i] || !InTable(s, s.columns[i], table)) continue;
    detail::BatchResults identity = RunEdit(s, "SELECT @@IDENTITY");
    for (const ResultUnit& unit : identity.units) {
      if (unit.has_rowset && !unit.rows.empty() && !unit.rows[0].empty()) {
        const Value& v = unit.rows[0][0];
        auto as_int = v.ToInt();
        row[i] = as_int ? Value(static_cast<long long>(*as_int)) : v;
        break;
      }
    }
    break;
  }
}

// Sends an UPDATE of the changed fields, found by the key columns and the original values of
// the changed fields (all comparable fields when the table's key is unknown).
void SendUpdate(RecordsetState& s, const std::vector<Value>& row,
                const std::vector<Value>& original, const std::vector<bool>& changed) {
  std::string table = TableFor(s, changed);
  std::string assignments;
  for (size_t i = 0; i < s.columns.size(); ++i) {
    if (!changed[i]) continue;
    if (!assignments.empty()) assignments += ", ";
    assignments +=
        ColumnSqlName(s.columns[i]) + " = " + SqlLiteral(row[i], IsNationalType(s.columns[i]));
  }
  if (assignments.empty()) return;
  bool has_key = false;
  for (const ColumnInfo& c : s.columns) {
    if (c.key_column && InTable(s, c, table)) has_key = true;
  }
  std::string criteria;
  std::set<std::string> used;
  for (size_t i = 0; i < s.columns.size(); ++i) {
    const ColumnInfo& c = s.columns[i];
    if (!InTable(s, c, table) || !IsComparable(c)) continue;
    if (has_key && !c.key_column && !changed[i]) continue;
    std::string name = ColumnSqlName(c);
    if (!used.insert(Lower(name)).second) continue;
    if (!criteria.empty()) criteria += " AND ";
    criteria += original[i].IsNull() ? name + " IS NULL"
                                     : name + " = " + SqlLiteral(original[i], IsNationalType(c));
  }
  std::string text = "UPDATE " + SqlName(table) + " SET " + assignments;
  if (!criteria.empty()) text += " WHERE " + criteria;
  detail::BatchResults results = RunEdit(s, text);
  if (results.last_count == 0) {
    throw Error(kErrorRowNotLocated, kCursorEngine,
                "Row cannot be located for updating. Some values may have been changed since it "
                "was last read.");
  }
}

void FinishEditIfAny(RecordsetState& s);

void CheckUpdatable(const RecordsetState& s) {
  RequireOpen(s);
  if (s.lock_type == kLockReadOnly) throw NotUpdatable();
}

void BeginEdit(RecordsetState& s) {
  if (s.edit_mode != kEditNone) return;
  if (!s.HasCurrent()) throw NoCurrentRecordError(kSource);
  s.edit_mode = kEditInProgress;
  s.edit.assign(s.columns.size(), std::nullopt);
  s.chunk_started.assign(s.columns.size(), false);
}

void DoUpdate(RecordsetState& s) {
  if (s.edit_mode == kEditNone) return;
  std::vector<bool> changed(s.columns.size());
  for (size_t i = 0; i < s.columns.size(); ++i) changed[i] = s.edit[i].has_value();
  bool batch = s.lock_type == kLockBatchOptimistic;
  if (s.edit_mode == kEditAdd) {
    std::vector<Value> row(s.columns.size());
    for (size_t i = 0; i < s.columns.size(); ++i) {
      if (s.edit[i]) row[i] = *s.edit[i];
    }
    if (!batch) SendInsert(s, row, changed);
    s.rows.push_back(row);
    s.originals.push_back(batch ? std::vector<Value>(s.columns.size()) : row);
    s.view.push_back(s.rows.size() - 1);
    s.position = static_cast<std::ptrdiff_t>(s.view.size()) - 1;
    if (batch) s.pending.push_back({true, s.rows.size() - 1, changed});
  } else {
    size_t index = s.view[s.position];
    std::vector<Value> row = s.rows[index];
    for (size_t i = 0; i < s.columns.size(); ++i) {
      if (s.edit[i]) row[i] = *s.edit[i];
    }
    if (batch) {
      auto it = std::find_if(s.pending.begin(), s.pending.end(),
                             [&](const auto& p) { return p.row == index; });
      if (it == s.pending.end()) {
        s.pending.push_back({false, index, changed});
      } else {
        for (size_t i = 0; i < changed.size(); ++i) it->changed[i] = it->changed[i] || changed[i];
      }
    } else {
      SendUpdate(s, row, s.originals[index], changed);
      s.originals[index] = row;
    }
    s.rows[index] = std::move(row);
  }
  s.edit_mode = kEditNone;
  s.edit.clear();
  s.chunk_started.clear();
}

// Moving off a record saves its edit, as the interface always has.
void FinishEditIfAny(RecordsetState& s) {
  if (s.edit_mode != kEditNone) DoUpdate(s);
}

const ColumnInfo& ColumnAt(const RecordsetState& s, int index) {
  if (index < 0 || index >= static_cast<int>(s.columns.size())) throw ItemNotFoundError(kSource);
  return s.columns[index];
}

}  // namespace

namespace detail {

Recordset RecordsetFromResults(std::shared_ptr<ConnectionState> connection, BatchResults results,
                               std::int64_t* records_affected) {
  Recordset recordset;
  RecordsetState& s = RecordsetAccess::State(recordset);
  Attach(s, std::move(connection), std::move(results));
  Advance(s, records_affected);
  return recordset;
}

}  // namespace detail

// Field ------------------------------------------------------------------------------------

const std::string& Field::Name() const { return ColumnAt(*state_, index_).name; }

int Field::Type() const {
  const ColumnInfo& c = ColumnAt(*state_, index_);
  return detail::TypeFor(c.type_name, c.value_type);
}

int Field::DefinedSize() const {
  const ColumnInfo& c = ColumnAt(*state_, index_);
  return c.size > 0 ? c.size : FixedSize(c);
}

db::Value Field::Value() const {
  const RecordsetState& s = *state_;
  RequireOpen(s);
  ColumnAt(s, index_);
  if (s.edit_mode != kEditNone && s.edit[index_]) return *s.edit[index_];
  if (s.edit_mode == kEditAdd) return db::Value();
  if (!s.HasCurrent()) throw NoCurrentRecordError(kFieldSource);
  return s.rows[s.view[s.position]][index_];
}

db::Value Field::OriginalValue() const {
  const RecordsetState& s = *state_;
  RequireOpen(s);
  ColumnAt(s, index_);
  if (s.edit_mode == kEditAdd) return db::Value();
  if (!s.HasCurrent()) throw NoCurrentRecordError(kFieldSource);
  return s.originals[s.view[s.position]][index_];
}

void Field::SetValue(const db::Value& value) {
  RecordsetState& s = *state_;
  CheckUpdatable(s);
  ColumnAt(s, index_);
  BeginEdit(s);
  s.edit[index_] = value;
  s.chunk_started[index_] = true;
}

std::int64_t Field::ActualSize() const {
  const ColumnInfo& c = ColumnAt(*state_, index_);
  db::Value v = this->Value();
  switch (v.type()) {
    case db::Value::Type::kNull:
      return 0;
    case db::Value::Type::kBinary:
      return static_cast<std::int64_t>(v.AsBytes()->size());
    case db::Value::Type::kText:
      return IsNationalType(c) ? 2 * Utf16Units(*v.AsText())
                               : static_cast<std::int64_t>(v.AsText()->size());
    default: {
      int size = FixedSize(c);
      return size > 0 && size < 1000 ? size : static_cast<std::int64_t>(v.ToText().size());
    }
  }
}

void Field::AppendChunk(const db::Value& chunk) {
  RecordsetState& s = *state_;
  CheckUpdatable(s);
  const ColumnInfo& c = ColumnAt(s, index_);
  bool binary = IsBinaryColumn(c);
  if (!binary && !IsTextColumn(c)) {
    throw InvalidArgumentError(kFieldSource, "AppendChunk needs a binary or text field, and \"" +
                                                 c.name + "\" is neither");
  }
  if (chunk.type() != db::Value::Type::kBinary && chunk.type() != db::Value::Type::kText &&
      !chunk.IsNull()) {
    throw InvalidArgumentError(kFieldSource, "AppendChunk takes binary or text chunks");
  }
  BeginEdit(s);
  db::Value current = s.chunk_started[index_] ? this->Value() : db::Value();
  s.chunk_started[index_] = true;
  if (chunk.IsNull()) {
    s.edit[index_] = current;
    return;
  }
  if (binary) {
    common::Bytes bytes;
    if (const common::Bytes* b = current.AsBytes()) bytes = *b;
    if (const std::string* t = current.AsText()) bytes.assign(t->begin(), t->end());
    if (const common::Bytes* b = chunk.AsBytes()) bytes.insert(bytes.end(), b->begin(), b->end());
    if (const std::string* t = chunk.AsText()) bytes.insert(bytes.end(), t->begin(), t->end());
    s.edit[index_] = db::Value(std::move(bytes));
  } else {
    std::string text = current.ToText();
    if (const common::Bytes* b = current.AsBytes()) text.assign(b->begin(), b->end());
    if (const common::Bytes* b = chunk.AsBytes()) text.append(b->begin(), b->end());
    if (const std::string* t = chunk.AsText()) text += *t;
    s.edit[index_] = db::Value(std::move(text));
  }
}

// Fields -----------------------------------------------------------------------------------

int Fields::Count() const {
  RequireOpen(*state_);
  return static_cast<int>(state_->columns.size());
}

Field Fields::Item(std::string_view name) const {
  RequireOpen(*state_);
  int index = state_->Resolve(name);
  if (index < 0) throw ItemNotFoundError(kSource);
  return Field(state_, index);
}

Field Fields::Item(int index) const {
  RequireOpen(*state_);
  ColumnAt(*state_, index);
  return Field(state_, index);
}

// Recordset --------------------------------------------------------------------------------

Recordset::Recordset() : state_(std::make_shared<RecordsetState>()) {}

Connection Recordset::ActiveConnection() const {
  return state_->connection ? Connection(state_->connection) : Connection();
}

void Recordset::SetActiveConnection(const Connection& connection) {
  if (state_->open) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  state_->connection = connection.state_;
}

int Recordset::CursorLocation() const {
  if (state_->open || state_->cursor_location == 0) {
    return state_->open ? state_->effective_location
                        : (state_->connection ? state_->connection->cursor_location : kUseServer);
  }
  return state_->cursor_location;
}

void Recordset::SetCursorLocation(int location) {
  if (location != kUseServer && location != kUseClient) {
    throw InvalidArgumentError(kSource, "cursor location " + std::to_string(location));
  }
  if (state_->open) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  state_->cursor_location = location;
}

int Recordset::CursorType() const { return state_->cursor_type; }

void Recordset::SetCursorType(int type) {
  if (type < kOpenForwardOnly || type > kOpenStatic) {
    throw InvalidArgumentError(kSource, "cursor type " + std::to_string(type));
  }
  if (state_->open) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  state_->cursor_type = type;
}

int Recordset::LockType() const { return state_->lock_type; }

void Recordset::SetLockType(int type) {
  if (type < kLockReadOnly || type > kLockBatchOptimistic) {
    throw InvalidArgumentError(kSource, "lock type " + std::to_string(type));
  }
  if (state_->open) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  state_->lock_type = type;
}

void Recordset::Open(std::string_view source, const Connection& connection, int cursor_type,
                     int lock_type, int options) {
  SetActiveConnection(connection);
  Open(source, cursor_type, lock_type, options);
}

void Recordset::Open(std::string_view source, int cursor_type, int lock_type, int options) {
  RecordsetState& s = *state_;
  if (s.open) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  if (!s.connection || !s.connection->IsOpen()) throw ConnectionNotUsable();
  if (cursor_type != kOpenUnspecified) SetCursorType(cursor_type);
  if (lock_type != kLockUnspecified) SetLockType(lock_type);
  if (source.empty()) {
    throw Error(HResult(0x80040E0C), kProviderSource,
                "Command text was not set for the command "
                "object.");
  }
  ResetCurrent(s);
  DriverRequest request = detail::MakeRequest(source, options, s.connection->command_timeout);
  std::string table;
  if (options != kCmdUnspecified && !(options & kCmdStoredProc) &&
      (options & (kCmdTable | kCmdTableDirect)))
    table = std::string(source);
  detail::BatchResults results = s.connection->Run(request);
  Attach(s, s.connection, std::move(results));
  s.source_table = table;
  Advance(s, nullptr);
}

void Recordset::Open(const Command& command, int cursor_type, int lock_type) {
  RecordsetState& s = *state_;
  if (s.open) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  detail::CommandState& c = *command.state_;
  std::shared_ptr<detail::ConnectionState> connection = detail::CommandConnection(c);
  if (cursor_type != kOpenUnspecified) SetCursorType(cursor_type);
  if (lock_type != kLockUnspecified) SetLockType(lock_type);
  ResetCurrent(s);
  DriverRequest request = detail::BuildCommandRequest(c);
  detail::BatchResults results = connection->Run(request);
  detail::StoreOutputs(c, request);
  Attach(s, connection, std::move(results));
  if (c.type == kCmdTable) s.source_table = c.text;
  Advance(s, nullptr);
}

Recordset Recordset::NextRecordset(std::int64_t* records_affected) {
  RecordsetState& s = *state_;
  if (!s.ever_opened) throw ObjectClosedError(kSource);
  FinishEditIfAny(s);
  Advance(s, records_affected);
  return *this;
}

void Recordset::Close() {
  RecordsetState& s = *state_;
  if (!s.ever_opened) throw ObjectClosedError(kSource);
  if (s.edit_mode != kEditNone) throw IllegalOperation();
  ResetCurrent(s);
  s.units.clear();
  s.next_unit = 0;
  s.batch_errors.clear();
  s.source_table.clear();
}

int Recordset::State() const { return state_->open ? kStateOpen : kStateClosed; }

bool Recordset::Eof() const {
  RequireOpen(*state_);
  if (state_->edit_mode == kEditAdd) return false;
  return state_->position >= static_cast<std::ptrdiff_t>(state_->view.size());
}

bool Recordset::Bof() const {
  RequireOpen(*state_);
  if (state_->edit_mode == kEditAdd) return false;
  return state_->position < 0 || state_->view.empty();
}

void Recordset::MoveNext() {
  RecordsetState& s = *state_;
  RequireOpen(s);
  FinishEditIfAny(s);
  if (s.position >= static_cast<std::ptrdiff_t>(s.view.size())) {
    throw NoCurrentRecordError(kSource);
  }
  ++s.position;
}

void Recordset::MovePrevious() {
  RecordsetState& s = *state_;
  RequireOpen(s);
  if (s.IsForwardOnlyServer()) {
    throw Error(kErrorCannotFetchBackwards, kProviderSource,
                "Rowset does not support fetching backward.");
  }
  FinishEditIfAny(s);
  if (s.position < 0) throw NoCurrentRecordError(kSource);
  --s.position;
}

void Recordset::MoveFirst() {
  RecordsetState& s = *state_;
  RequireOpen(s);
  FinishEditIfAny(s);
  s.position = 0;
}

void Recordset::MoveLast() {
  RecordsetState& s = *state_;
  RequireOpen(s);
  FinishEditIfAny(s);
  s.position = s.view.empty() ? 0 : static_cast<std::ptrdiff_t>(s.view.size()) - 1;
}

std::int64_t Recordset::RecordCount() const {
  RequireOpen(*state_);
  if (state_->IsForwardOnlyServer()) return -1;
  return static_cast<std::int64_t>(state_->view.size());
}

db::Fields Recordset::Fields() const { return db::Fields(state_); }
Field Recordset::Fields(std::string_view name) const { return db::Fields(state_).Item(name); }
Field Recordset::Fields(int index) const { return db::Fields(state_).Item(index); }

const std::string& Recordset::Filter() const { return state_->filter; }

void Recordset::SetFilter(std::string_view filter) {
  RecordsetState& s = *state_;
  RequireOpen(s);
  FinishEditIfAny(s);
  std::string_view trimmed = filter;
  while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front())))
    trimmed.remove_prefix(1);
  while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back())))
    trimmed.remove_suffix(1);
  std::string previous = s.filter;
  s.filter = std::string(trimmed);
  try {
    RebuildView(s);
  } catch (...) {
    s.filter = previous;
    throw;
  }
}

const std::string& Recordset::Sort() const { return state_->sort; }

void Recordset::SetSort(std::string_view sort) {
  RecordsetState& s = *state_;
  RequireOpen(s);
  FinishEditIfAny(s);
  std::string previous = s.sort;
  s.sort = std::string(sort);
  if (s.sort.find_first_not_of(" \t") == std::string::npos) s.sort.clear();
  try {
    RebuildView(s);
  } catch (...) {
    s.sort = previous;
    throw;
  }
}

int Recordset::EditMode() const {
  RequireOpen(*state_);
  return state_->edit_mode;
}

void Recordset::AddNew() {
  RecordsetState& s = *state_;
  CheckUpdatable(s);
  FinishEditIfAny(s);
  s.edit_mode = kEditAdd;
  s.edit.assign(s.columns.size(), std::nullopt);
  s.chunk_started.assign(s.columns.size(), false);
}

void Recordset::Update() {
  RecordsetState& s = *state_;
  CheckUpdatable(s);
  DoUpdate(s);
}

void Recordset::CancelUpdate() {
  RecordsetState& s = *state_;
  RequireOpen(s);
  s.edit_mode = kEditNone;
  s.edit.clear();
  s.chunk_started.clear();
}

void Recordset::UpdateBatch() {
  RecordsetState& s = *state_;
  CheckUpdatable(s);
  FinishEditIfAny(s);
  while (!s.pending.empty()) {
    RecordsetState::PendingChange change = s.pending.front();
    std::vector<Value>& row = s.rows[change.row];
    if (change.insert) {
      SendInsert(s, row, change.changed);
    } else {
      SendUpdate(s, row, s.originals[change.row], change.changed);
    }
    s.originals[change.row] = row;
    s.pending.erase(s.pending.begin());
  }
}

void Recordset::CancelBatch() {
  RecordsetState& s = *state_;
  RequireOpen(s);
  s.edit_mode = kEditNone;
  std::vector<size_t> inserted;
  for (const auto& change : s.pending) {
    if (change.insert) {
      inserted.push_back(change.row);
    } else {
      s.rows[change.row] = s.originals[change.row];
    }
  }
  s.pending.clear();
  // Inserted rows are the last ones; drop them from the end.
  std::sort(inserted.rbegin(), inserted.rend());
  for (size_t row : inserted) {
    s.rows.erase(s.rows.begin() + static_cast<std::ptrdiff_t>(row));
    s.originals.erase(s.originals.begin() + static_cast<std::ptrdiff_t>(row));
  }
  RebuildView(s);
}

}  // namespace db
