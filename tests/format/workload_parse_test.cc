// The statements the product and the collection format send to a server: every one must parse,
// and the ones with T-SQL's peculiarities must come out with the right structure.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/install_script.h"
#include "format/procedures.h"
#include "format/upgrade_ladder.h"
#include "sandbox/tsql/parser.h"
#include "sandbox/tsql/printer.h"

namespace sandbox::tsql {
namespace {

// The installation script with the values of a sample collection.
std::vector<std::string> InstallScript() {
  return format::InstallationScript({"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", 37622});
}

// The one statement of the installation script that holds `part`.
std::string ScriptStatement(std::string_view part) {
  std::string found;
  for (const std::string& text : InstallScript()) {
    if (text.find(part) == std::string::npos) continue;
    EXPECT_TRUE(found.empty()) << "two statements hold " << part;
    found = text;
  }
  EXPECT_FALSE(found.empty()) << part;
  return found;
}

// The creation text of a view or procedure of the collection format.
std::string ObjectText(std::string_view name) {
  std::optional<std::string> text = format::CreationText(name);
  EXPECT_TRUE(text.has_value()) << name;
  return text.value_or("");
}

// Every statement the upgrade ladder sends, rung after rung.
std::vector<std::string> LadderStatements() {
  std::vector<std::string> texts;
  for (const format::UpgradeRung& rung : format::UpgradeLadder()) {
    for (const format::UpgradeStep& step : rung.steps) {
      switch (step.kind) {
        case format::StepKind::kStatement:
        case format::StepKind::kStatementIfPreviousFailed:
        case format::StepKind::kCountedStatement:
        case format::StepKind::kRepeatUntilSameCount:
          texts.push_back(step.text);
          break;
        default:
          break;
      }
    }
  }
  return texts;
}

// Statements of the console, the collection objects and the security dialogs, with sample names
// and values put in where the program concatenates them.
constexpr const char* kConsoleStatements[] = {
    R"sql(EXEC master..sp_helpdb)sql",
    R"sql(CREATE DATABASE Test1 ON ( NAME = Test1, FILENAME = 'C:\Data\Test1.mdf'))sql",
    R"sql(SELECT SUSER_SNAME())sql",
    R"sql(EXEC master..sp_helpuser 'sa')sql",
    R"sql(SELECT IS_SRVROLEMEMBER ('sysadmin','DOMAIN\admin'))sql",
    R"sql(SELECT IS_SRVROLEMEMBER ('dbcreator'))sql",
    R"sql(EXEC master..xp_msver 'ProductVersion')sql",
    R"sql(EXEC master..xp_loginconfig 'login mode')sql",
    R"sql(SET NOCOUNT ON)sql",
    R"sql(SET ANSI_NULL_DFLT_ON ON)sql",
    R"sql(SELECT name FROM master..sysdatabases Where SUSER_SNAME(sid) Is Null)sql",
    R"sql(USE Quillarchive_Test1)sql",
    R"sql(EXEC sp_changedbowner 'sa')sql",
    R"sql(USE master)sql",
    R"sql(SELECT db_name(), name FROM sysusers WHERE sid=suser_sid('DOMAIN\user1'))sql",
    R"sql(EXEC sp_revokedbaccess 'user1')sql",
    R"sql(EXEC master..sp_droplogin 'user1')sql",
    R"sql(EXEC master..sp_revokelogin 'DOMAIN\user1')sql",
    R"sql(EXEC sp_attach_db 'Quillarchive_Test1', 'C:\Data\Test1.mdf', 'C:\Data\Test1_log.ldf')sql",
    R"sql(EXEC sp_attach_single_file_db 'Quillarchive_Test1', 'C:\Data\Test1.mdf')sql",
    R"sql(sp_detach_db @dbname='Quillarchive_Test1';)sql",
    R"sql(DROP DATABASE Quillarchive_Test1)sql",
    R"sql(KILL 53)sql",
    R"sql(sp_dboption @dbname ='Test1' , @optname = 'single user', @optvalue = 'true')sql",
    R"sql(sp_renamedb @dbname ='Test1' , @newname = 'Quillarchive_Test1')sql",
    R"sql(sp_dboption @dbname ='Quillarchive_Test1' , @optname = 'single user', @optvalue = 'false')sql",
    R"sql(ALTER DATABASE Quillarchive_Test1 SET AUTO_SHRINK ON;)sql",
    R"sql(EXEC sp_dboption 'Quillarchive_Test1', 'autoshrink', 'true')sql",
    R"sql(EXEC sp_helprole)sql",
    R"sql(EXEC sp_helprolemember 'qa_reader')sql",
    R"sql(EXEC sp_helpuser 'user1')sql",
    R"sql(SELECT IS_MEMBER ('db_owner'))sql",
    R"sql(EXEC sp_grantdbaccess 'DOMAIN\user1', 'user1')sql",
    R"sql(sp_renamedb @dbname ='Quillarchive_Test1' , @newname = 'Quillarchive_Test2')sql",
    R"sql(SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND sysdatabases.name='Quillarchive_Test1')sql",
    R"sql(BACKUP LOG Quillarchive_Test1 WITH TRUNCATE_ONLY)sql",
    R"sql(DBCC SHRINKFILE(Test1_log, 3))sql",
    R"sql(SELECT * FROM ExtendedField WHERE FieldName='Compatibility' AND FieldType=1;)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName, Visible, UserProperty) SELECT Max(ExtFieldID)+1, 1, 'Compatibility', 0, 0 FROM ExtendedField;)sql",
    R"sql(UPDATE ExtendedData SET FieldValue='1.50' WHERE EntryID=0 And ExtFieldID=11)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 11, '1.50');)sql",
    R"sql(SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND ((ExtendedField.ExtFieldID)=3));)sql",
    R"sql(SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND ((ExtendedField.FieldType)=1) AND ((ExtendedField.FieldName)='Quillarchive: Search in PlainText'));)sql",
    R"sql(SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled'))sql",
    R"sql(EXEC sp_help_fulltext_catalogs 'Doc_Desc')sql",
    R"sql(EXEC sp_fulltext_database 'enable')sql",
    R"sql(EXEC sp_fulltext_catalog 'Doc_Desc', 'create')sql",
    R"sql(EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document')sql",
    R"sql(EXEC sp_fulltext_column 'Document','Title','add')sql",
    R"sql(EXEC sp_fulltext_column 'Document','PlainText','add')sql",
    R"sql(EXEC sp_fulltext_column 'Document','Comment','add')sql",
    R"sql(Exec sp_fulltext_table 'Document','activate')sql",
    R"sql(EXEC sp_fulltext_table Document, 'Start_change_tracking')sql",
    R"sql(EXEC sp_fulltext_table Document, 'Start_background_updateindex')sql",
    R"sql(EXEC sp_fulltext_table Document, 'Stop_background_updateindex')sql",
    R"sql(EXEC sp_fulltext_table Document, 'stop_change_tracking')sql",
    R"sql(Exec sp_fulltext_table 'Document','stop')sql",
    R"sql(EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop')sql",
    R"sql(EXEC sp_fulltext_table 'Document', 'stop')sql",
    R"sql(EXEC sp_fulltext_table 'Document', 'drop')sql",
    R"sql(EXEC sp_fulltext_catalog 'Doc_Desc', 'drop')sql",
    R"sql(EXEC sp_fulltext_database 'disable')sql",
    R"sql(sp_help_fulltext_catalogs)sql",
    R"sql(SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'ItemCount'))sql",
    R"sql(SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'IndexSize'))sql",
    R"sql(SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'PopulateCompletionAge'))sql",
    R"sql(SELECT SYSTEM_USER;)sql",
    R"sql(sp_who)sql",
    R"sql(SELECT Count(EntryID) AS MaxDoc FROM Document WHERE BinaryData=0)sql",
    R"sql(SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID)sql",
    R"sql(SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM master.dbo.syslogins WHERE loginname='user1')sql",
    R"sql(EXEC master..sp_helpsrvrolemember 'sysadmin')sql",
    R"sql(EXEC sp_helpuser)sql",
    R"sql(EXEC master..sp_addlogin 'user1', 'secret')sql",
    R"sql(EXEC master..sp_grantlogin 'DOMAIN\user1')sql",
    R"sql(EXEC master..sp_denylogin 'DOMAIN\user1')sql",
    R"sql(EXEC master..sp_addsrvrolemember 'user1', 'securityadmin')sql",
    R"sql(EXEC master..sp_dropsrvrolemember 'user1', 'dbcreator')sql",
    R"sql(EXEC Quillarchive_Test1..sp_grantdbaccess 'user1')sql",
    R"sql(EXEC Quillarchive_Test1..sp_addrolemember 'qa_reader', 'user1')sql",
    R"sql(EXEC Quillarchive_Test1..sp_revokedbaccess 'user1')sql",
    R"sql(EXEC master..sp_password @old=NULL, @new='secret' , @loginame='user1')sql",
    R"sql(EXEC sp_addrolemember 'qa_structurer', 'user1')sql",
    R"sql(EXEC sp_droprolemember 'qa_writer', 'user1')sql",
    R"sql(sp_helpdb @dbname='Quillarchive_Test1')sql",
    R"sql(sp_changedbowner 'user1')sql",
    R"sql(SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM master.dbo.syslogins)sql",
    R"sql(SELECT @@VERSION)sql",
    R"sql(EXEC master..xp_msver)sql",
    R"sql(SELECT SERVERPROPERTY('Collation') AS Server_Default_Collation;)sql",
    R"sql(EXEC sp_helpsrvrolemember 'sysadmin')sql",
    R"sql(SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = sysaltfiles.dbid WHERE sysdatabases.name='Quillarchive_Test1')sql",
    R"sql(SELECT DATABASEPROPERTYEX('Quillarchive_Test1', 'Collation') AS Database_Default_Collation)sql",
    R"sql(EXEC master..xp_fixeddrives)sql",
    R"sql(EXEC master..xp_dirtree 'C:\Data', 1, 0)sql",
    R"sql(EXEC master..xp_dirtree 'C:\Data', 1, 1)sql",
};

// Parses a text that must hold exactly one statement.
template <class T>
const T& Single(const Batch& batch, Statement::Kind kind) {
  EXPECT_EQ(batch.statements.size(), 1u) << batch.text;
  EXPECT_EQ(batch.statements.at(0)->kind, kind) << batch.text;
  return batch.statements.at(0)->As<T>();
}

std::string Text(const Expr& e) { return ToSql(e); }

ParseError ErrorOf(std::string_view text) {
  try {
    ParseBatch(text);
  } catch (const ParseError& e) {
    return e;
  }
  ADD_FAILURE() << "parsed without error: " << text;
  return ParseError(0, "", 0);
}

TEST(WorkloadTest, EveryInstallationStatementIsOneStatement) {
  int grants = 0, tables = 0, indexes = 0, inserts = 0, execs = 0, objects = 0;
  for (const std::string& text : InstallScript()) {
    SCOPED_TRACE(text);
    Batch b = ParseBatch(text);
    ASSERT_EQ(b.statements.size(), 1u);
    switch (b.statements[0]->kind) {
      case Statement::Kind::kPermission:
        ++grants;
        break;
      case Statement::Kind::kCreateTable:
        ++tables;
        break;
      case Statement::Kind::kCreateIndex:
        ++indexes;
        break;
      case Statement::Kind::kInsert:
        ++inserts;
        break;
      case Statement::Kind::kExecute:
        ++execs;
        break;
      case Statement::Kind::kCreateView:
      case Statement::Kind::kCreateProcedure:
        ++objects;
        break;
      default:
        ADD_FAILURE() << "unexpected statement kind";
    }
  }
  EXPECT_EQ(InstallScript().size(), format::kInstallationStatementCount);
  EXPECT_EQ(objects, 19);  // the view and eighteen procedures
  EXPECT_EQ(execs, 3);
  EXPECT_EQ(tables, 11);
  EXPECT_EQ(indexes, 4);
  EXPECT_EQ(grants, 39);
  EXPECT_EQ(inserts, 37);
}

TEST(WorkloadTest, DocumentTableKeepsDefaultsNullabilityAndTheCommalessKey) {
  Batch b = ParseBatch(ScriptStatement("CREATE TABLE dbo.Document "));
  const auto& t = Single<CreateTableStatement>(b, Statement::Kind::kCreateTable);
  EXPECT_EQ(t.name.owner, "dbo");
  EXPECT_EQ(t.name.name, "Document");
  ASSERT_EQ(t.definition.columns.size(), 20u);
  const ColumnDef& entry = t.definition.columns[0];
  EXPECT_EQ(entry.name, "EntryID");
  EXPECT_EQ(entry.type.name, "INTEGER");
  EXPECT_TRUE(entry.identity);
  EXPECT_EQ(entry.identity_seed, 1);
  EXPECT_EQ(entry.identity_increment, 1);
  EXPECT_EQ(entry.nullability, Nullability::kNotNull);
  // "VisibleInFolderID SMALLINT DEFAULT 0 ,Url": nullability left to the connection default.
  const ColumnDef& visible = t.definition.columns[3];
  EXPECT_EQ(visible.name, "VisibleInFolderID");
  EXPECT_EQ(visible.nullability, Nullability::kNotStated);
  ASSERT_TRUE(visible.default_value);
  EXPECT_EQ(Text(*visible.default_value), "0");
  const ColumnDef& url = t.definition.columns[4];
  EXPECT_EQ(url.type.ToString(), "NVARCHAR(4000)");
  EXPECT_EQ(Text(*url.default_value), "''");
  EXPECT_EQ(t.definition.columns[8].nullability, Nullability::kNull);  // Title ... NULL
  EXPECT_EQ(t.definition.columns[10].default_value, nullptr);          // BinaryContent
  // "Status INT DEFAULT 0 CONSTRAINT PK_Document PRIMARY KEY ( EntryID )": the key names its
  // own column list, so it belongs to the table, not to Status.
  const ColumnDef& status = t.definition.columns[19];
  EXPECT_EQ(status.name, "Status");
  EXPECT_TRUE(status.constraints.empty());
  ASSERT_EQ(t.definition.constraints.size(), 1u);
  const TableConstraint& pk = t.definition.constraints[0];
  EXPECT_EQ(pk.type, TableConstraint::Type::kPrimaryKey);
  EXPECT_EQ(pk.name, "PK_Document");
  ASSERT_EQ(pk.columns.size(), 1u);
  EXPECT_EQ(pk.columns[0].name, "EntryID");
}

TEST(WorkloadTest, CategoryKeyAfterACommaIsATableConstraint) {
  Batch b = ParseBatch(ScriptStatement("CREATE TABLE dbo.Category "));
  const auto& t = Single<CreateTableStatement>(b, Statement::Kind::kCreateTable);
  EXPECT_EQ(t.name.name, "Category");
  EXPECT_EQ(t.definition.columns.size(), 3u);
  ASSERT_EQ(t.definition.constraints.size(), 1u);
  EXPECT_EQ(t.definition.constraints[0].name, "PK_Category");
}

TEST(WorkloadTest, GrantsOfStatementsAndObjects) {
  {
    Batch b = ParseBatch("GRANT CREATE TABLE TO qa_reader");
    const auto& g = Single<PermissionStatement>(b, Statement::Kind::kPermission);
    EXPECT_EQ(g.action, PermissionStatement::Action::kGrant);
    EXPECT_EQ(g.permissions, std::vector<std::string>{"CREATE TABLE"});
    EXPECT_TRUE(g.object.empty());
    EXPECT_EQ(g.principals, std::vector<std::string>{"qa_reader"});
  }
  {
    Batch b = ParseBatch("GRANT SELECT, INSERT, UPDATE, DELETE ON dbo.DocLink TO qa_reader");
    const auto& g = Single<PermissionStatement>(b, Statement::Kind::kPermission);
    EXPECT_EQ(g.permissions, (std::vector<std::string>{"SELECT", "INSERT", "UPDATE", "DELETE"}));
    EXPECT_EQ(g.object.owner, "dbo");
    EXPECT_EQ(g.object.name, "DocLink");
  }
  {
    Batch b = ParseBatch("GRANT EXEC ON DeleteFolder TO qa_structurer");
    const auto& g = Single<PermissionStatement>(b, Statement::Kind::kPermission);
    EXPECT_EQ(g.permissions, std::vector<std::string>{"EXECUTE"});
    EXPECT_EQ(g.object.ToString(), "DeleteFolder");
  }
}

TEST(WorkloadTest, SeedRowsKeepNegativeNumbersAndNiladicFunctions) {
  Batch b = ParseBatch(ScriptStatement("'Suchergebnisse'"));
  const auto& ins = Single<InsertStatement>(b, Statement::Kind::kInsert);
  EXPECT_EQ(ins.table.name, "Folder");
  EXPECT_EQ(ins.columns,
            (std::vector<std::string>{"FolderID", "Name", "CreationTime", "Status", "Virtual"}));
  ASSERT_EQ(ins.rows.size(), 1u);
  const auto& row = ins.rows[0];
  ASSERT_EQ(row.size(), 5u);
  EXPECT_EQ(row[1]->As<Literal>().text, "Suchergebnisse");
  const auto& now = row[2]->As<FunctionCall>();
  EXPECT_TRUE(now.niladic);
  EXPECT_EQ(now.name.name, "current_timestamp");
  const auto& minus_one = row[4]->As<Literal>();
  EXPECT_EQ(minus_one.type, Literal::Type::kInteger);
  EXPECT_EQ(minus_one.int_value, -1);
}

TEST(WorkloadTest, UnicodeSeedTextKeepsItsBytes) {
  Batch b = ParseBatch(ScriptStatement("'Gelöschte Dokumente'"));
  const auto& ins = Single<InsertStatement>(b, Statement::Kind::kInsert);
  EXPECT_EQ(ins.rows[0][1]->As<Literal>().text, "Gelöschte Dokumente");
}

TEST(WorkloadTest, EveryObjectTextParsesAndKeepsItsText) {
  for (const format::SchemaObject& object : format::ViewAndProcedures()) {
    const std::string& text = object.creation_text;
    SCOPED_TRACE(text);
    Batch b = ParseBatch(text);
    ASSERT_EQ(b.statements.size(), 1u);
    const Statement& s = *b.statements[0];
    if (s.kind == Statement::Kind::kCreateView) {
      EXPECT_EQ(s.As<CreateViewStatement>().text, text);
    } else {
      ASSERT_EQ(s.kind, Statement::Kind::kCreateProcedure);
      const auto& p = s.As<CreateProcedureStatement>();
      EXPECT_EQ(p.text, text);
      EXPECT_EQ(p.name.name, object.name);
      // The two multi-line procedures name no owner.
      bool multi_line = text.find('\n') != std::string::npos;
      EXPECT_EQ(p.name.owner, multi_line ? "" : "dbo");
      EXPECT_FALSE(p.body.empty());
    }
  }
}

const CreateProcedureStatement& Procedure(const Batch& b) {
  return Single<CreateProcedureStatement>(b, Statement::Kind::kCreateProcedure);
}

TEST(WorkloadTest, ProceduresWithAndWithoutParenthesisedParameters) {
  Batch by_url_size = ParseBatch(ObjectText("DocByUrlSize"));
  const auto& p1 = Procedure(by_url_size);
  EXPECT_TRUE(p1.parenthesized);
  ASSERT_EQ(p1.parameters.size(), 2u);
  EXPECT_EQ(p1.parameters[0].name, "@sUrl");
  EXPECT_EQ(p1.parameters[0].type.ToString(), "NVARCHAR(4000)");
  EXPECT_EQ(p1.parameters[1].name, "@lFileSize");
  EXPECT_FALSE(p1.parameters[1].output);
  ASSERT_EQ(p1.body.size(), 1u);
  const auto& q = p1.body[0]->As<SelectStatement>().query->As<QuerySpec>();
  ASSERT_EQ(q.items.size(), 1u);
  EXPECT_EQ(q.items[0].kind, SelectItem::Kind::kTableStar);
  EXPECT_EQ(q.items[0].table.name, "Document");
  EXPECT_EQ(Text(*q.where), "Document.Url = @sUrl AND Document.FileSize = @lFileSize");

  Batch count = ParseBatch(ObjectText("DocCount"));
  const auto& p2 = Procedure(count);
  EXPECT_FALSE(p2.parenthesized);
  EXPECT_TRUE(p2.parameters.empty());

  Batch by_id = ParseBatch(ObjectText("DocByID"));
  const auto& p3 = Procedure(by_id);
  EXPECT_FALSE(p3.parenthesized);
  ASSERT_EQ(p3.parameters.size(), 1u);
  EXPECT_EQ(p3.parameters[0].type.name, "INTEGER");
  const auto& query_spec = p3.body[0]->As<SelectStatement>().query->As<QuerySpec>();
  ASSERT_EQ(query_spec.items.size(), 2u);
  EXPECT_EQ(query_spec.items[1].alias, "SubDocsCount");
  EXPECT_EQ(query_spec.items[1].expr->kind, Expr::Kind::kSubquery);
}

TEST(WorkloadTest, InsertSearchFolderBody) {
  Batch b = ParseBatch(ObjectText("InsertSearchFolder"));
  const auto& p = Procedure(b);
  ASSERT_EQ(p.parameters.size(), 2u);
  EXPECT_TRUE(p.parameters[1].output);
  EXPECT_EQ(p.parameters[0].type.ToString(), "VARCHAR(255)");
  ASSERT_EQ(p.body.size(), 5u);
  EXPECT_EQ(p.body[0]->kind, Statement::Kind::kDeclare);
  const auto& select = p.body[1]->As<SelectStatement>().query->As<QuerySpec>();
  ASSERT_EQ(select.items.size(), 1u);
  EXPECT_EQ(select.items[0].kind, SelectItem::Kind::kAssignment);
  EXPECT_EQ(select.items[0].variable, "@FolderID");
  EXPECT_EQ(Text(*select.items[0].expr), "Max(Folder.FolderID) + 1");
  const auto& if_stmt = p.body[2]->As<IfStatement>();
  EXPECT_EQ(Text(*if_stmt.condition), "@FolderID < 1000");
  ASSERT_EQ(if_stmt.then_branch->kind, Statement::Kind::kBlock);
  const auto& set =
      if_stmt.then_branch->As<BlockStatement>().statements.at(0)->As<SetVariableStatement>();
  EXPECT_EQ(set.variable, "@FolderID");
  EXPECT_EQ(if_stmt.else_branch, nullptr);
  EXPECT_EQ(p.body[3]->kind, Statement::Kind::kInsert);
  EXPECT_EQ(p.body[4]->kind, Statement::Kind::kInsert);
  EXPECT_EQ(Text(*p.body[3]->As<InsertStatement>().rows[0][2]), "GETDATE()");
}

TEST(WorkloadTest, RemoveSearchFolderDeletesThroughAParenthesisedJoin) {
  Batch b = ParseBatch(ObjectText("RemoveSearchFolder"));
  const auto& p = Procedure(b);
  ASSERT_EQ(p.body.size(), 1u);
  const auto& if_stmt = p.body[0]->As<IfStatement>();
  EXPECT_EQ(if_stmt.condition->kind, Expr::Kind::kExists);
  const auto& block = if_stmt.then_branch->As<BlockStatement>();
  ASSERT_EQ(block.statements.size(), 3u);
  const auto& del = block.statements[2]->As<DeleteStatement>();
  EXPECT_EQ(del.target.name, "ExtendedData");
  ASSERT_EQ(del.from.size(), 1u);
  ASSERT_EQ(del.from[0]->kind, TableSource::Kind::kJoin);
  const auto& join = del.from[0]->As<Join>();
  EXPECT_EQ(join.type, JoinType::kInner);
  EXPECT_EQ(join.left->As<TableRef>().name.name, "ExtendedData");
  EXPECT_EQ(join.right->As<TableRef>().name.name, "ExtendedField");
  EXPECT_EQ(Text(*del.where), "ExtendedField.FieldType = 2 AND ExtendedData.EntryID = @FolderID");
}

TEST(WorkloadTest, DocWithSubIsAUnionAll) {
  Batch b = ParseBatch(ObjectText("DocWithSub"));
  const auto& p = Procedure(b);
  EXPECT_EQ(p.name.name, "DocWithSub");
  const Query& q = *p.body.at(0)->As<SelectStatement>().query;
  ASSERT_EQ(q.kind, Query::Kind::kUnion);
  const auto& u = q.As<UnionQuery>();
  EXPECT_TRUE(u.all);
  const auto& right = u.right->As<QuerySpec>();
  EXPECT_EQ(right.items[1].alias, "SubDocsCount");
  EXPECT_EQ(ToSql(*right.from[0]),
            "SubDocument INNER JOIN Document ON SubDocument.ChildEntryID = Document.EntryID");
}

TEST(WorkloadTest, FoldersOpenConditionBindsAndBeforeOr) {
  Batch b = ParseBatch(ObjectText("FoldersOpen"));
  const auto& p = Procedure(b);
  EXPECT_EQ(p.name.name, "FoldersOpen");
  const Query& q = *p.body.at(0)->As<SelectStatement>().query;
  ASSERT_EQ(q.order_by.size(), 1u);
  EXPECT_EQ(Text(*q.order_by[0].expr), "Folder.Name");
  const auto& query_spec = q.As<QuerySpec>();
  const auto& where = query_spec.where->As<BinaryExpr>();
  ASSERT_EQ(where.op, BinaryOp::kOr);
  EXPECT_EQ(Text(*where.left), "Folder.FolderID > 1000 AND Folder_1.Expanded = 1");
  EXPECT_EQ(Text(*where.right),
            "Folder.FolderID > 1000 AND Folder_1.Expanded = 0 AND SubFolder.ParentFolderID = 1");
  // Two joins, the second with the alias Folder_1 written without AS.
  const auto& outer = query_spec.from.at(0)->As<Join>();
  EXPECT_EQ(outer.right->As<TableRef>().alias, "Folder_1");
  EXPECT_EQ(outer.left->kind, TableSource::Kind::kJoin);
}

TEST(WorkloadTest, FolderByIdUsesRightJoinAndAnAliasWithAs) {
  Batch b = ParseBatch(ObjectText("FolderByID"));
  const auto& query_spec = Procedure(b).body.at(0)->As<SelectStatement>().query->As<QuerySpec>();
  const auto& join = query_spec.from.at(0)->As<Join>();
  EXPECT_EQ(join.type, JoinType::kRight);
  const auto& sub = query_spec.items[2].expr->As<SubqueryExpr>().query->As<QuerySpec>();
  EXPECT_EQ(sub.from.at(0)->As<TableRef>().alias, "SubFolder_1");
  EXPECT_EQ(query_spec.items[2].alias, "SubFolderCount");
}

TEST(WorkloadTest, DeleteDocBody) {
  std::string text = format::DeleteDocText();
  Batch b = ParseBatch(text);
  const auto& p = Procedure(b);
  EXPECT_EQ(p.text, text);
  EXPECT_EQ(p.name.ToString(), "DeleteDoc");
  EXPECT_TRUE(p.parenthesized);
  ASSERT_EQ(p.parameters.size(), 1u);
  EXPECT_EQ(p.parameters[0].type.name, "INT");
  EXPECT_EQ(p.body_span.line, 3);
  EXPECT_EQ(p.body_span.TextIn(text).substr(0, 17), "BEGIN TRANSACTION");
  ASSERT_EQ(p.body.size(), 16u);
  EXPECT_EQ(p.body[0]->kind, Statement::Kind::kBeginTransaction);
  EXPECT_EQ(p.body[0]->As<TransactionStatement>().name, "");
  const auto& temp = p.body[1]->As<CreateTableStatement>();
  EXPECT_EQ(temp.name.name, "#TempDocument1");
  EXPECT_TRUE(temp.name.IsTemporary());
  EXPECT_EQ(p.body[2]->kind, Statement::Kind::kInsert);

  const auto& loop = p.body[3]->As<WhileStatement>();
  EXPECT_EQ(Text(*loop.condition), "@@ROWCOUNT > 0");
  EXPECT_EQ(loop.span.line, 6);
  const auto& inner = loop.body->As<BlockStatement>().statements.at(0)->As<InsertStatement>();
  EXPECT_EQ(inner.span.line, 8);
  ASSERT_EQ(inner.source, InsertStatement::Source::kQuery);
  const auto& query_spec = inner.query->As<QuerySpec>();
  EXPECT_TRUE(query_spec.distinct);
  const auto& join = query_spec.from.at(0)->As<Join>();
  EXPECT_EQ(join.type, JoinType::kRight);
  EXPECT_EQ(join.left->As<TableRef>().name.name, "#TempDocument1");
  EXPECT_EQ(join.left->As<TableRef>().alias, "#TempDocument1_1");
  EXPECT_EQ(join.right->kind, TableSource::Kind::kJoin);
  EXPECT_EQ(Text(*query_spec.where), "#TempDocument1_1.EntryID IS NULL");

  const auto& into2 = p.body[4]->As<SelectStatement>().query->As<QuerySpec>();
  EXPECT_EQ(into2.into.name, "#TempDocument2");
  EXPECT_EQ(into2.from.at(0)->As<Join>().type, JoinType::kLeft);
  const auto& into3 = p.body[5]->As<SelectStatement>().query->As<QuerySpec>();
  EXPECT_EQ(into3.into.name, "#TempDocument3");

  const auto& del = p.body[6]->As<DeleteStatement>();
  EXPECT_EQ(del.target.name, "Document");
  EXPECT_EQ(del.from.at(0)->As<Join>().left->As<TableRef>().name.name, "Document");
  for (int i = 6; i <= 11; ++i) EXPECT_EQ(p.body[i]->kind, Statement::Kind::kDelete);
  for (int i = 12; i <= 14; ++i) EXPECT_EQ(p.body[i]->kind, Statement::Kind::kDropTable);
  EXPECT_EQ(p.body[15]->kind, Statement::Kind::kCommit);
  EXPECT_EQ(p.body[15]->span.line, 21);
}

TEST(WorkloadTest, DeleteFolderBody) {
  std::string text = format::DeleteFolderText();
  Batch b = ParseBatch(text);
  const auto& p = Procedure(b);
  EXPECT_EQ(p.text, text);
  EXPECT_FALSE(p.parenthesized);
  ASSERT_EQ(p.parameters.size(), 1u);
  EXPECT_EQ(p.parameters[0].name, "@FolderID");
  EXPECT_EQ(p.parameters[0].type.name, "SMALLINT");
  ASSERT_EQ(p.body.size(), 15u);
  EXPECT_EQ(p.body[0]->As<DeclareStatement>().variables.at(0).type.name, "BIT");
  EXPECT_EQ(p.body[1]->kind, Statement::Kind::kBeginTransaction);
  const auto& first_insert = p.body[3]->As<InsertStatement>();  // spread over two lines
  EXPECT_EQ(first_insert.source, InsertStatement::Source::kQuery);
  EXPECT_EQ(first_insert.span.line, 7);

  const auto& loop = p.body[5]->As<WhileStatement>();
  const auto& loop_insert = loop.body->As<BlockStatement>().statements.at(0)->As<InsertStatement>();
  const auto& not_in = loop_insert.query->As<QuerySpec>().where->As<InExpr>();
  EXPECT_TRUE(not_in.negated);
  ASSERT_NE(not_in.subquery, nullptr);

  const auto& assign = p.body[6]->As<SelectStatement>().query->As<QuerySpec>();
  EXPECT_EQ(assign.items.at(0).kind, SelectItem::Kind::kAssignment);
  EXPECT_EQ(assign.items.at(0).variable, "@Virtual");
  EXPECT_EQ(assign.items.at(0).expr->kind, Expr::Kind::kSubquery);

  // IF (@Virtual=0) BEGIN ... END ELSE one DELETE; the tab-indented deletes follow the IF.
  const auto& branch = p.body[7]->As<IfStatement>();
  EXPECT_EQ(Text(*branch.condition), "@Virtual = 0");
  EXPECT_EQ(branch.then_branch->As<BlockStatement>().statements.size(), 10u);
  ASSERT_NE(branch.else_branch, nullptr);
  const auto& else_delete = branch.else_branch->As<DeleteStatement>();
  EXPECT_EQ(else_delete.target.name, "DocLink");
  EXPECT_EQ(p.body[8]->As<DeleteStatement>().target.name, "Folder");
  EXPECT_EQ(p.body[8]->span.line, 33);
  EXPECT_EQ(p.body[12]->kind, Statement::Kind::kDropTable);
  const auto& last_if = p.body[13]->As<IfStatement>();
  EXPECT_EQ(last_if.span.line, 39);
  EXPECT_EQ(last_if.then_branch->kind, Statement::Kind::kUpdate);
  EXPECT_EQ(p.body[14]->kind, Statement::Kind::kCommit);
}

TEST(WorkloadTest, LadderParsesExceptTheOtherDialect) {
  int failures = 0;
  for (const std::string& text : LadderStatements()) {
    SCOPED_TRACE(text);
    try {
      Batch b = ParseBatch(text);
      EXPECT_EQ(b.statements.size(), 1u);
    } catch (const ParseError& e) {
      ++failures;
    }
  }
  EXPECT_EQ(failures, 3);
}

TEST(WorkloadTest, LadderFirstRungFailsLikeSqlServer) {
  const std::vector<std::string> ladder = LadderStatements();
  ParseError proc = ErrorOf(ladder.at(0));
  EXPECT_EQ(proc.number(), 102);
  EXPECT_EQ(proc.message(), "Incorrect syntax near 'CategoryID'.");
  EXPECT_EQ(proc.severity(), 15);
  ParseError add = ErrorOf(ladder.at(1));
  EXPECT_EQ(add.number(), 156);
  EXPECT_EQ(add.message(), "Incorrect syntax near the keyword 'COLUMN'.");
  EXPECT_EQ(ErrorOf(ladder.at(2)).number(), 156);
  // The last statement of that rung is valid T-SQL.
  Batch alter = ParseBatch(ladder.at(3));
  const auto& a = Single<AlterTableStatement>(alter, Statement::Kind::kAlterTable);
  EXPECT_EQ(a.action, AlterTableStatement::Action::kAlterColumn);
  EXPECT_EQ(a.alter_column.name, "Url");
  EXPECT_EQ(a.alter_column.type.ToString(), "VARCHAR(4000)");
}

TEST(WorkloadTest, UpdateFromWithTheTargetInFromAgain) {
  Batch b = ParseBatch(
      "UPDATE Document Set Document.FolderID = ParentDoc.FolderID FROM Document INNER JOIN "
      "SubDocument ON Document.EntryID = SubDocument.ChildEntryID INNER JOIN Document ParentDoc "
      "ON   SubDocument.ParentEntryID = ParentDoc.EntryID WHERE (Document.FolderID = 0) AND "
      "(Document.TypeID = 100) AND (Document.EntryID > 1)            ");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  EXPECT_EQ(u.target.name, "Document");
  ASSERT_EQ(u.sets.size(), 1u);
  EXPECT_EQ(u.sets[0].kind, SetClause::Kind::kColumn);
  EXPECT_EQ(u.sets[0].column->table.name, "Document");
  EXPECT_EQ(u.sets[0].column->column, "FolderID");
  const auto& value = u.sets[0].value->As<ColumnRef>();
  EXPECT_EQ(value.table.name, "ParentDoc");
  ASSERT_EQ(u.from.size(), 1u);
  const auto& outer = u.from[0]->As<Join>();
  const auto& parent = outer.right->As<TableRef>();
  EXPECT_EQ(parent.name.name, "Document");
  EXPECT_EQ(parent.alias, "ParentDoc");
  const auto& first = outer.left->As<Join>();
  EXPECT_EQ(first.left->As<TableRef>().name.name, "Document");
  EXPECT_EQ(first.left->As<TableRef>().alias, "");
  EXPECT_EQ(Text(*u.where),
            "Document.FolderID = 0 AND Document.TypeID = 100 AND Document.EntryID > 1");
}

TEST(WorkloadTest, UpdateFromWithLeftOuterJoinAndTwoColumns) {
  Batch b = ParseBatch(
      "UPDATE Document Set Document.FolderID = 600, Document.VisibleInFolderID = 600 FROM "
      "Document LEFT OUTER JOIN SubDocument ON Document.EntryID = SubDocument.ChildEntryID WHERE "
      "(Document.FolderID = 0) AND (SubDocument.ParentEntryID IS NULL) AND (Document.EntryID > "
      "1)");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  ASSERT_EQ(u.sets.size(), 2u);
  EXPECT_EQ(u.sets[1].column->column, "VisibleInFolderID");
  EXPECT_EQ(u.from.at(0)->As<Join>().type, JoinType::kLeft);
}

TEST(WorkloadTest, UpdateTargetNamedByItsAlias) {
  Batch b = ParseBatch("UPDATE d SET d.Title = N'x' FROM Document d WHERE d.EntryID = 2");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  EXPECT_EQ(u.target.name, "d");
  EXPECT_EQ(u.from.at(0)->As<TableRef>().alias, "d");
  EXPECT_EQ(u.sets[0].value->As<Literal>().type, Literal::Type::kUnicodeString);
}

TEST(WorkloadTest, EveryConsoleStatementParses) {
  for (const char* text : kConsoleStatements) {
    SCOPED_TRACE(text);
    Batch b = ParseBatch(text);
    EXPECT_EQ(b.statements.size(), 1u);
  }
}

TEST(WorkloadTest, ProcedureCallsWithoutExecAndThreePartNames) {
  {
    Batch b = ParseBatch("sp_detach_db @dbname='Quillarchive_Test1';");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_TRUE(e.implicit);
    EXPECT_EQ(e.procedure.name, "sp_detach_db");
    ASSERT_EQ(e.args.size(), 1u);
    EXPECT_EQ(e.args[0].name, "@dbname");
    EXPECT_EQ(e.args[0].value->As<Literal>().text, "Quillarchive_Test1");
  }
  {
    Batch b = ParseBatch("EXEC master..sp_helpdb");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_FALSE(e.implicit);
    EXPECT_EQ(e.procedure.database, "master");
    EXPECT_EQ(e.procedure.owner, "");
    EXPECT_EQ(e.procedure.name, "sp_helpdb");
    EXPECT_EQ(e.procedure.part_count, 3);
    EXPECT_EQ(e.procedure.ToString(), "master..sp_helpdb");
    EXPECT_TRUE(e.args.empty());
  }
  {
    Batch b = ParseBatch("EXEC Quillarchive_Test1..sp_addrolemember 'qa_reader', 'user1'");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_EQ(e.procedure.database, "Quillarchive_Test1");
    ASSERT_EQ(e.args.size(), 2u);
    EXPECT_EQ(e.args[1].value->As<Literal>().text, "user1");
  }
  {
    Batch b = ParseBatch("EXEC master..sp_password @old=NULL, @new='secret' , @loginame='user1'");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    ASSERT_EQ(e.args.size(), 3u);
    EXPECT_EQ(e.args[0].value->As<Literal>().type, Literal::Type::kNull);
    EXPECT_EQ(e.args[2].name, "@loginame");
  }
  {
    Batch b = ParseBatch("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    const auto& bare = e.args.at(0).value->As<Literal>();
    EXPECT_EQ(bare.type, Literal::Type::kString);
    EXPECT_TRUE(bare.bare_word);
    EXPECT_EQ(bare.text, "Document");
  }
  {
    Batch b = ParseBatch("EXEC master..xp_dirtree 'C:\\Data', 1, 0");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_EQ(e.args.at(0).value->As<Literal>().text, "C:\\Data");
    EXPECT_EQ(e.args.at(2).value->As<Literal>().int_value, 0);
  }
}

TEST(WorkloadTest, ServerStatements) {
  {
    Batch b =
        ParseBatch("CREATE DATABASE Test1 ON ( NAME = Test1, FILENAME = 'C:\\Data\\Test1.mdf')");
    const auto& c = Single<CreateDatabaseStatement>(b, Statement::Kind::kCreateDatabase);
    EXPECT_EQ(c.name, "Test1");
    ASSERT_EQ(c.files.size(), 1u);
    EXPECT_EQ(c.files[0].name, "Test1");
    EXPECT_EQ(c.files[0].filename, "C:\\Data\\Test1.mdf");
    EXPECT_TRUE(c.log_files.empty());
    EXPECT_FALSE(c.for_attach);
  }
  {
    Batch b = ParseBatch("ALTER DATABASE Quillarchive_Test1 SET AUTO_SHRINK ON;");
    const auto& a = Single<AlterDatabaseStatement>(b, Statement::Kind::kAlterDatabase);
    ASSERT_EQ(a.options.size(), 1u);
    EXPECT_EQ(a.options[0].name, "AUTO_SHRINK");
    EXPECT_EQ(a.options[0].value, "ON");
  }
  {
    Batch b = ParseBatch("BACKUP LOG Quillarchive_Test1 WITH TRUNCATE_ONLY");
    const auto& k = Single<BackupStatement>(b, Statement::Kind::kBackup);
    EXPECT_TRUE(k.log);
    EXPECT_EQ(k.database, "Quillarchive_Test1");
    ASSERT_EQ(k.options.size(), 1u);
    EXPECT_EQ(k.options[0].name, "TRUNCATE_ONLY");
  }
  {
    Batch b = ParseBatch("DBCC SHRINKFILE(Test1_log, 3)");
    const auto& d = Single<DbccStatement>(b, Statement::Kind::kDbcc);
    EXPECT_EQ(d.command, "SHRINKFILE");
    ASSERT_EQ(d.args.size(), 2u);
    EXPECT_EQ(d.args[0]->As<ColumnRef>().column, "Test1_log");
    EXPECT_EQ(d.args[1]->As<Literal>().int_value, 3);
  }
  {
    Batch b = ParseBatch("KILL 53");
    EXPECT_EQ(Single<KillStatement>(b, Statement::Kind::kKill).target->As<Literal>().int_value, 53);
  }
  {
    Batch b = ParseBatch("USE Quillarchive_Test1");
    EXPECT_EQ(Single<UseStatement>(b, Statement::Kind::kUse).database, "Quillarchive_Test1");
  }
  {
    Batch b = ParseBatch("DROP INDEX Document.IDX_Document1");
    const auto& d = Single<DropIndexStatement>(b, Statement::Kind::kDropIndex);
    ASSERT_EQ(d.targets.size(), 1u);
    EXPECT_EQ(d.targets[0].table.name, "Document");
    EXPECT_EQ(d.targets[0].index, "IDX_Document1");
  }
}

TEST(WorkloadTest, QueriesOfTheConsole) {
  {
    Batch b =
        ParseBatch("SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID");
    const Query& q = *Single<SelectStatement>(b, Statement::Kind::kSelect).query;
    const auto& query_spec = q.As<QuerySpec>();
    EXPECT_EQ(query_spec.top->As<Literal>().int_value, 250);
    EXPECT_FALSE(query_spec.top_percent);
    EXPECT_EQ(q.order_by.size(), 1u);
  }
  {
    Batch b =
        ParseBatch("SELECT loginname, isntgroup FROM master.dbo.syslogins WHERE loginname='user1'");
    const auto& query_spec =
        Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
    const auto& table = query_spec.from.at(0)->As<TableRef>().name;
    EXPECT_EQ(table.database, "master");
    EXPECT_EQ(table.owner, "dbo");
    EXPECT_EQ(table.name, "syslogins");
  }
  {
    Batch b = ParseBatch("SELECT SYSTEM_USER;");
    const auto& query_spec =
        Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
    EXPECT_TRUE(query_spec.items.at(0).expr->As<FunctionCall>().niladic);
  }
  {
    Batch b = ParseBatch(
        "SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = "
        "sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND sysdatabases.name='x'");
    const auto& query_spec =
        Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
    const auto& like = query_spec.where->As<BinaryExpr>().left->As<LikeExpr>();
    EXPECT_EQ(like.pattern->As<Literal>().text, "%.LDF%");
  }
}

}  // namespace
}  // namespace sandbox::tsql
