// A recordset: the rows of one result of a statement, walked with a cursor, filtered and sorted
// on the client, and updatable when it reads from one table. A batch can hold several results;
// NextRecordset moves to the next one. Results without rows (a statement that changed rows, a
// procedure that printed) come as closed recordsets, State 0, in the order the server sent them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "db/command.h"
#include "db/connection.h"
#include "db/constants.h"

namespace db {

namespace detail {
struct RecordsetState;
struct RecordsetAccess;
}  // namespace detail

class Field {
 public:
  const std::string& Name() const;
  int Type() const;         // kTypeInteger, kTypeVarChar, ...
  int DefinedSize() const;  // declared length, or the type's size
  // The current record's value (the edited value while an edit is in progress). Raises 3021
  // without a current record.
  db::Value Value() const;
  // Starts an edit of the current record (or changes the record being added).
  void SetValue(const db::Value& value);
  // Bytes of the current value: text as stored (two bytes a character for national types),
  // binary by length, fixed sizes for numbers; 0 for NULL.
  std::int64_t ActualSize() const;
  // The first call after the record was entered or the value set replaces the value, later
  // calls append. Binary chunks to binary fields, text to text fields.
  void AppendChunk(const db::Value& chunk);
  // The value as read from the server, before any edit.
  db::Value OriginalValue() const;

 private:
  friend class Recordset;
  friend class Fields;
  Field(std::shared_ptr<detail::RecordsetState> state, int index)
      : state_(std::move(state)), index_(index) {}
  std::shared_ptr<detail::RecordsetState> state_;
  int index_;
};

class Fields {
 public:
  int Count() const;
  Field Item(std::string_view name) const;
  Field Item(int index) const;

 private:
  friend class Recordset;
  explicit Fields(std::shared_ptr<detail::RecordsetState> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::RecordsetState> state_;
};

class Recordset {
 public:
  Recordset();

  Connection ActiveConnection() const;
  void SetActiveConnection(const Connection& connection);
  // Unless set, the connection's cursor location at Open. Client cursors are always static.
  int CursorLocation() const;
  void SetCursorLocation(int location);
  int CursorType() const;
  void SetCursorType(int type);
  int LockType() const;
  void SetLockType(int type);

  // Source: statement text, a table name (options kCmdTable) or a stored procedure
  // (kCmdStoredProc). Raises the error of the first result when it has one; rows that arrived
  // before the error stay readable.
  void Open(std::string_view source, const Connection& connection,
            int cursor_type = kOpenUnspecified, int lock_type = kLockUnspecified,
            int options = kCmdUnspecified);
  // On the active connection.
  void Open(std::string_view source, int cursor_type = kOpenUnspecified,
            int lock_type = kLockUnspecified, int options = kCmdUnspecified);
  void Open(const Command& command, int cursor_type = kOpenUnspecified,
            int lock_type = kLockUnspecified);
  // Moves this recordset to the next result of its batch and returns it. At the end of the
  // batch the recordset is closed (State 0) for good. Raises that result's error, if any.
  Recordset NextRecordset(std::int64_t* records_affected = nullptr);
  void Close();
  int State() const;

  bool Eof() const;
  bool Bof() const;
  void MoveNext();
  void MovePrevious();
  void MoveFirst();
  void MoveLast();
  // -1 for forward-only and dynamic server cursors; otherwise the visible records.
  std::int64_t RecordCount() const;

  db::Fields Fields() const;
  Field Fields(std::string_view name) const;
  Field Fields(int index) const;

  const std::string& Filter() const;
  void SetFilter(std::string_view filter);  // "" clears
  const std::string& Sort() const;
  void SetSort(std::string_view sort);  // "" restores the server's order

  int EditMode() const;
  void AddNew();
  // Sends the edit: INSERT for a new record (identity read back with SELECT @@IDENTITY), UPDATE
  // with the original values as criteria otherwise. With batch optimistic locking the edit is
  // kept until UpdateBatch.
  void Update();
  void CancelUpdate();
  void UpdateBatch();
  void CancelBatch();

  friend bool operator==(const Recordset& a, const Recordset& b) { return a.state_ == b.state_; }

 private:
  friend struct detail::RecordsetAccess;
  std::shared_ptr<detail::RecordsetState> state_;
};

}  // namespace db
