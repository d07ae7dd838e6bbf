// Runs the statements of a batch: procedural statements are interpreted here, queries and
// changes are translated to SQLite and run on the session's connection, DDL keeps the
// catalogue and the SQLite schema in step. Results and messages go to the sink in the order
// SQL Server sends them.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/server.h"
#include "sandbox/session.h"
#include "sandbox/sql_error.h"
#include "sandbox/translator.h"
#include "sandbox/tsql/ast.h"

namespace sandbox {

// Unwinds a batch when the time-out expires or the session is dropped.
struct Interrupted {
  bool timeout = true;
};

// Unwinds the rest of a procedure after an error that ends its scope, or the whole batch when
// whole_batch is set; the error has been reported already.
struct AbortScope {
  bool whole_batch = false;
};

struct ConstraintDetails;
struct Cursor;

// An argument of a procedure call, as the caller wrote it.
struct ProcedureArgument {
  std::string name;     // "@x", or empty for a positional argument
  common::Value value;  // storage form
  std::optional<SqlType> type;
  bool output = false;
  bool is_default = false;      // DEFAULT
  std::string target_variable;  // where an OUTPUT value goes back
  Parameter* client = nullptr;  // or which client parameter
};

class Executor : public Resolver {
 public:
  Executor(SessionImpl& session, ResultSink& sink, std::vector<Parameter>& parameters);
  ~Executor() override;

  // Runs a parsed batch; parameters named in it are its variables, OUTPUT ones are updated.
  void RunBatch(const tsql::Batch& batch);
  // Runs a remote procedure call: the procedure with parameters as its arguments.
  void RunProcedureCall(const tsql::ObjectName& procedure);
  // Runs text as a batch in a scope of its own (EXEC of a string, sp_executesql) whose only
  // variables are the given ones, by name with "@"; they hold what the batch left in them
  // afterwards. Throws SqlError when the text does not parse.
  void RunNestedBatch(const std::string& sql, std::map<std::string, VariableSlot>& variables);

  // Resolver
  ResolvedTable ResolveTable(const tsql::ObjectName& name) override;
  void CheckRead(const ResolvedTable& table) override;
  VariableSlot* FindVariable(std::string_view name) override;
  std::optional<std::pair<common::Value, SqlType>> GlobalVariable(std::string_view name) override;
  std::optional<common::Value> ParameterMarker(int index) override;
  std::string CurrentDatabaseName() override;
  std::string CurrentUserName() override;
  std::string LoginName() override;
  std::string HostName() override;
  std::string ApplicationName() override;
  std::optional<std::int64_t> ScopeIdentity() override;
  DateSettings Dates() override;
  std::optional<TypedSql> UserFunction(const tsql::FunctionCall& call,
                                       const std::vector<TypedSql>& args) override;
  ResolvedTable ResolveTableFunction(const tsql::TableRef& ref) override;
  int MajorVersion() override;
  int CompatibilityLevel() override;
  std::string FullTextPredicate(const SourceBinding& source,
                                const std::vector<std::string>& columns,
                                const std::string& search_sql, bool freetext,
                                bool in_view) override;
  std::optional<int> CursorStatus(std::string_view scope, std::string_view name) override;
  std::optional<TypedSql> TriggerColumns(const tsql::FunctionCall& call) override;

  // For system procedures.
  SessionImpl& session() { return session_; }
  ResultSink& sink() { return sink_; }
  void SendRows(const std::vector<OutputColumn>& columns,
                const std::vector<std::vector<common::Value>>& rows);  // rows in storage form
  void Info(std::int32_t number, std::string text, int severity = 10);
  // Runs SQL on the session's connection; rows go to on_row. Throws SqlError.
  void RunSql(const std::string& sql, const std::vector<common::Value>& params,
              const std::function<void(sqlite3_stmt*)>& on_row = {},
              const LiveVariables* live = nullptr);
  // The database the running statement resolves names in.
  AttachedDatabase& Db();
  void CheckPermission(std::string_view action, AttachedDatabase& db, const ObjectInfo* object);
  // The owner a CREATE names, else the session's user: a user (not a role) the session may
  // create objects for (2760 otherwise).
  const PrincipalInfo& OwnerForCreate(AttachedDatabase& db, const std::string& owner_named);
  // Makes a table anew as after describes it (columns, indexes, storage name), copying the rows
  // into it: copy pairs a target column with the SQL of its value in the old table.
  void RebuildTable(AttachedDatabase& db, const ObjectInfo& before, ObjectInfo after,
                    const std::vector<std::pair<std::string, std::string>>& copy);
  // The database the caller of a running system procedure is in; the procedure itself runs in
  // the database its name gives ("master..sp_x").
  int CallerDatabase() const { return caller_dbid_; }

  // SET options end with the procedure, trigger or EXEC string that set them: SQL Server
  // restores the caller's when control returns.
  struct OptionsScope {
    explicit OptionsScope(SessionImpl& s) : session(s), saved(s.options()) {}
    ~OptionsScope() { session.options() = saved; }
    OptionsScope(const OptionsScope&) = delete;
    OptionsScope& operator=(const OptionsScope&) = delete;
    SessionImpl& session;
    SessionOptions saved;
  };

  // A procedure frame's return status.
  struct Frame {
    std::string procedure;
    std::int64_t procedure_id = 0;                  // @@PROCID: the running procedure's object id
    std::string text;                               // the text spans refer to
    std::map<std::string, VariableSlot> variables;  // by lower-case name
    int dbid = 0;
    int depth = 0;
    // The owner (uid in dbid) of a running procedure: objects of the same owner are used on
    // its rights (the ownership chain); -1 where no chain starts (batches, EXEC of strings).
    int chain_owner = -1;
    std::optional<std::int64_t> return_status;
    std::optional<std::int64_t> scope_identity;
    // LOCAL cursors by lower-case name, and cursor variables by "@name"; they end with the frame.
    std::map<std::string, std::shared_ptr<Cursor>> cursors;
    std::map<std::string, std::string> table_variables;  // "@t" (lower case) -> its #table key
    std::vector<const tsql::Statement*> declared;        // DECLAREs a loop passes again skip
    // A user-defined function's frame: errors end it, RETURN converts to `returns`.
    bool function = false;
    std::optional<SqlType> returns;
    common::Value result;
    bool trigger = false;  // a trigger's frame: errors and ROLLBACK end the batch
    std::string columns_updated;  // a trigger's COLUMNS_UPDATED(): bit colid-1, low bit first
    bool rolled_back = false;
  };

  // The rows a change touches, recorded for the AFTER triggers of its table (exec_trigger.cc).
  struct TriggerCapture {
    int dbid = 0;
    std::int64_t table_id = 0;
    char action = 'I';                   // 'I'nsert, 'U'pdate, 'D'elete
    std::vector<std::int64_t> triggers;  // ids, in creation order
    std::vector<std::string> sqlite_triggers;
    std::string inserted, deleted;  // temporary tables holding the rows
    std::string columns_updated;    // the columns the statement named, as COLUMNS_UPDATED()
    std::string instead_savepoint;  // an INSTEAD OF trigger's: undoes the statement's own change
  };
  // Before a change of the table: what to record, or nothing when no enabled AFTER trigger
  // listens. After it (constraints checked): runs the triggers with the rows.
  std::optional<TriggerCapture> CaptureForTriggers(const ResolvedTable& table, char action);
  void FireTriggers(TriggerCapture& capture, std::int64_t changed);

 private:
  enum class Flow { kNext, kBreak, kContinue, kReturn, kGoto };

  Flow RunList(const tsql::StatementList& list);
  Flow Run(const tsql::Statement& statement);
  // Runs one statement that does work (not control of flow) with statement-level rollback.
  void RunLeaf(const tsql::Statement& statement);
  void Dispatch(const tsql::Statement& statement);
  void ReportError(SqlError& error, const tsql::Statement& statement);
  void CheckInterrupt();

  // Evaluation through SQLite.
  common::Value Evaluate(const tsql::Expr& expr, SqlType* type = nullptr);
  bool Test(const tsql::Expr& condition);
  void Assign(const std::string& variable, const common::Value& value,
              const std::optional<SqlType>& source = std::nullopt);

  // Statements.
  void Declare(const tsql::DeclareStatement& s);
  void SetVariable(const tsql::SetVariableStatement& s);
  void SetOption(const tsql::SetOptionStatement& s);
  void SetDateOption(const std::string& option, const tsql::SetOptionStatement& s);
  void Select(const tsql::SelectStatement& s);
  void SelectInto(const tsql::Query& query);
  void Insert(const tsql::InsertStatement& s);
  void Update(const tsql::UpdateStatement& s);
  void Delete(const tsql::DeleteStatement& s);
  void Truncate(const tsql::TruncateTableStatement& s);
  void CreateTable(const tsql::CreateTableStatement& s);
  void AlterTable(const tsql::AlterTableStatement& s);
  void DropObjects(const tsql::DropObjectsStatement& s);
  void CreateIndex(const tsql::CreateIndexStatement& s);
  void DropIndex(const tsql::DropIndexStatement& s);
  void CreateView(const tsql::CreateViewStatement& s);
  void CreateProcedure(const tsql::CreateProcedureStatement& s);
  void CreateDatabase(const tsql::CreateDatabaseStatement& s);
  void DropDatabase(const tsql::DropDatabaseStatement& s);
  void AlterDatabase(const tsql::AlterDatabaseStatement& s);
  void Permission(const tsql::PermissionStatement& s);
  void Use(const tsql::UseStatement& s);
  void Execute(const tsql::ExecuteStatement& s);
  void ExecuteString(const tsql::ExecuteStringStatement& s);
  void Print(const tsql::PrintStatement& s);
  void Raiserror(const tsql::RaiserrorStatement& s);
  void WaitFor(const tsql::WaitForStatement& s);
  void Kill(const tsql::KillStatement& s);
  void Transaction(const tsql::Statement& s);
  void RunCursor(const tsql::CursorStatement& s);
  std::shared_ptr<Cursor>* FindCursor(const tsql::CursorRef& ref);
  void OpenCursor(Cursor& cursor);
  void FetchCursor(const tsql::CursorStatement& s, Cursor& cursor);
  // WHERE CURRENT OF as a condition on the target's rowid; set_columns are those UPDATE sets.
  std::string CurrentOf(const tsql::CursorRef& ref, const ResolvedTable& table,
                        const std::string& rowid_sql, const std::vector<std::string>& set_columns,
                        Translator& translator);

  // Procedures.
  using Argument = ProcedureArgument;
  std::int64_t CallProcedure(const tsql::ObjectName& name, std::vector<Argument>& arguments);
  std::int64_t CallUserProcedure(AttachedDatabase& db, const ObjectInfo& procedure,
                                 std::vector<Argument>& arguments);

  // Tables.
  // Creates the SQLite table and its indexes; storage is "schema\x1fname".
  void BuildTable(const std::string& storage, const ObjectInfo& info);
  std::string TableSql(const ResolvedTable& table) const;
  void CreateStorageIndex(const std::string& schema, const std::string& table,
                          const IndexInfo& index);
  ObjectInfo DefineTable(const std::string& name, const tsql::TableDefinition& definition);
  void RegisterTable(const tsql::ObjectName& name, ObjectInfo info);
  std::string FullTableName(const ResolvedTable& table) const;
  SqlError MapSqliteError(const SqliteError& error, const ResolvedTable* target, bool insert);
  void AfterChange(const ResolvedTable& table, std::int64_t changed, std::string_view text);
  void DropTemp(const std::string& key);
  // CHECK and FOREIGN KEY constraints (constraints.cc), each with the column it was written
  // with (empty: a table constraint); check_existing tests the rows already there (WITH CHECK).
  void AddConstraints(const ResolvedTable& table,
                      const std::vector<std::pair<const tsql::TableConstraint*, std::string>>& list,
                      bool check_existing);
  void EnableConstraints(const ResolvedTable& table, const std::vector<std::string>& names,
                         bool enable, bool check_existing);
  bool DropConstraint(const ResolvedTable& table, const std::string& name);
  void DropConstraintsOf(const ResolvedTable& table);
  // "table 'c', foreign key constraint 'FK_x'" of a foreign key of another table (or, with
  // self, of any table) that refers to this one; empty when none does.
  std::string ReferencingConstraint(const ResolvedTable& table, bool self);
  // Whether changes of the table have constraints to pass, and the checks after a change:
  // rows are the rowids the statement inserted or updated (nullptr: every row, for the
  // constraints listed in only).
  bool Guarded(const ResolvedTable& table);
  void CheckRows(const ResolvedTable& table, std::string_view verb,
                 const std::vector<std::int64_t>* rows, const std::vector<std::int64_t>& only = {});
  void CheckReferences(const ResolvedTable& table, std::string_view verb);
  // ON UPDATE CASCADE: the referenced keys are kept before an UPDATE, then carried over.
  void SaveReferencedKeys(const ResolvedTable& table);
  void CascadeUpdate(AttachedDatabase& db, std::int64_t constraint_id, const ConstraintDetails& d,
                     const std::string& parent_sql, const ObjectInfo& child);

  // Table variables and user-defined functions.
  void DeclareTableVariable(const std::string& variable, const tsql::TableDefinition& definition);
  std::optional<ResolvedTable> ResolveTableVariable(const tsql::ObjectName& name);
  void DropTableVariables(Frame& frame);
  void RollbackKeepingTableVariables(const std::function<void()>& rollback);
  void CreateFunction(const tsql::CreateFunctionStatement& s);
  // Triggers (exec_trigger.cc).
  void CreateTrigger(const tsql::CreateTriggerStatement& s);
  void DropTriggers(const tsql::DropObjectsStatement& s);
  void EnableTriggers(const ResolvedTable& table, const std::vector<std::string>& names,
                      bool enable);
  void DropTriggersOf(AttachedDatabase& db, std::int64_t table_id);
  void RollbackInTrigger();
  // Temporary procedures (#p) live in the session's own SQLite temp schema, so they end with
  // the connection.
  void CreateTemporaryProcedure(const tsql::CreateProcedureStatement& s);
  void DropTemporaryProcedure(const tsql::ObjectName& name);
  std::int64_t CallTemporaryProcedure(const tsql::ObjectName& name,
                                      std::vector<ProcedureArgument>& arguments);
  // Runs a function's body in a frame of its own and gives that frame back (its result, or
  // its RETURNS table among its table variables).
  std::unique_ptr<Frame> CallFunction(AttachedDatabase& db, const ObjectInfo& function,
                                      const std::vector<common::Value>& args,
                                      const std::vector<SqlType>& types);
  static void ScalarFunctionEntry(sqlite3_context* ctx, int argc, sqlite3_value** argv);

  void SendDone(std::int64_t count);
  Frame& frame() { return *frames_.back(); }

  SessionImpl& session_;
  ResultSink& sink_;
  std::vector<Parameter>& parameters_;
  std::vector<std::unique_ptr<Frame>> frames_;
  const tsql::Statement* current_ = nullptr;
  std::string goto_label_;
  int savepoint_depth_ = 0;
  int caller_dbid_ = 0;
};

// What fires a trigger (exec_trigger.cc); nothing for another kind of object.
struct TriggerFacts {
  bool insert = false, update = false, del = false;
  bool instead_of = false;
  bool disabled = false;
};
std::optional<TriggerFacts> FactsOfTrigger(SessionImpl& session, AttachedDatabase& db,
                                           const ObjectInfo& trigger);

// Checks a name given to a new object: at most 128 characters (error 103).
void CheckIdentifier(std::string_view name);
// The SQLite name of a table or view: the name, prefixed with an owner other than dbo.
std::string StorageNameFor(std::string_view owner, std::string_view name);
// A constraint name as SQL Server makes one up: PK__Document__0AD2A005, CK__t__v__1A2B3C4D.
std::string GeneratedName(std::string_view prefix, std::string_view table, std::string_view column);

}  // namespace sandbox
