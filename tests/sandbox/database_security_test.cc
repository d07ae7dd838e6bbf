// Inside a database: users and their logins, fixed and user-defined roles, the owner, and the
// permissions GRANT, DENY and the roles give, as a collection's logins meet them.
#include "sandbox/security_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

// A collection-like database: roles with grants, a table, a procedure, and logins of every kind.
class DatabaseSecurityTest : public SecurityTest {
 protected:
  void SetUp() override {
    SecurityTest::SetUp();
    AddLogin("owner", "o");
    AddLogin("access", "a");
    AddLogin("keeper", "k");
    AddLogin("reader", "r");
    AddLogin("stranger", "s");
    Ok("CREATE DATABASE Coll");
    Ok("USE Coll "
       "EXEC sp_addrole 'qa_reader' EXEC sp_addrole 'qa_writer' "
       "CREATE TABLE Document (id INT PRIMARY KEY, title NVARCHAR(50)) "
       "INSERT INTO Document VALUES (1, 'first') "
       "GRANT SELECT ON Document TO qa_reader "
       "GRANT INSERT, UPDATE, DELETE ON Document TO qa_writer "
       "EXEC sp_grantdbaccess 'owner' EXEC sp_addrolemember 'db_owner', 'owner' "
       "EXEC sp_grantdbaccess 'access' EXEC sp_addrolemember 'db_accessadmin', 'access' "
       "EXEC sp_grantdbaccess 'keeper' EXEC sp_addrolemember 'db_securityadmin', 'keeper' "
       "EXEC sp_grantdbaccess 'reader', 'rd' EXEC sp_addrolemember 'qa_reader', 'rd' "
       "USE master");
    Ok("USE Coll EXEC('CREATE PROCEDURE CountDocuments AS SELECT COUNT(*) FROM Document') "
       "GRANT EXECUTE ON CountDocuments TO qa_reader USE master");
  }
  std::unique_ptr<Session> In(const std::string& login, const std::string& password) {
    return As(login, password, "Coll");
  }
};

TEST_F(DatabaseSecurityTest, GrantingAndRevokingAccess) {
  auto access = In("access", "a");
  LoginRequest request;
  request.login = "stranger";
  request.password = "s";
  request.database = "Coll";
  EXPECT_EQ(Refusal(*instance_, request).number, 4060);
  EXPECT_EQ(ErrorText(*As("stranger", "s"), "USE Coll"),
            "Server user 'stranger' is not a valid user in database 'Coll'.");
  EXPECT_EQ(Infos(*access, "EXEC sp_grantdbaccess 'stranger', 'guest1'"),
            std::vector<std::string>{"Granted database access to 'guest1'."});
  auto stranger = In("stranger", "s");
  EXPECT_EQ(ScalarOf(*stranger, "SELECT USER_NAME()"), Value("guest1"));
  EXPECT_EQ(ScalarOf(*stranger, "SELECT HAS_DBACCESS('Coll')"), Value(1));
  EXPECT_EQ(ScalarOf(*stranger, "SELECT IS_MEMBER('public')"), Value(1));
  EXPECT_EQ(ScalarOf(*stranger, "SELECT IS_MEMBER('qa_reader')"), Value(0));
  EXPECT_EQ(ScalarOf(*stranger, "SELECT IS_MEMBER('no_such_role')"), Value());
  EXPECT_EQ(ErrorText(*access, "EXEC sp_grantdbaccess 'stranger', 'again'"),
            "The login already has an account under a different user name.");
  EXPECT_EQ(ErrorText(*access, "EXEC sp_grantdbaccess 'stranger', 'guest1'"),
            "User or role 'guest1' already exists in the current database.");
  EXPECT_EQ(Error(*access, "EXEC sp_grantdbaccess 'owner', 'qa_reader'"), 15063);
  EXPECT_EQ(ErrorText(*access, "EXEC sp_grantdbaccess 'nobody'"),
            "The login 'nobody' does not exist.");
  EXPECT_EQ(Error(*access, "EXEC sp_grantdbaccess 'ELSEWHERE\\x'"), 15401);
  EXPECT_EQ(ErrorText(*access, "EXEC sp_grantdbaccess 'sa', 'guest'"),
            "The guest user cannot be mapped to a login name.");
  // The owner's login is dbo already.
  EXPECT_EQ(Error(*access, "EXEC sp_grantdbaccess 'sa'"), 15063);
  // A Windows account of the machine can be a user without a login of its own.
  Ok(*access, "EXEC sp_grantdbaccess 'SANDBOX\\alice', 'alice'");
  RowSet alice = Query(*access,
                       "SELECT isntname, isntuser, issqluser FROM sysusers WHERE name = "
                       "'alice'");
  EXPECT_EQ(alice.rows.at(0), (std::vector<Value>{Value(1), Value(1), Value(0)}));
  // The output parameter tells the name given.
  AddLogin("second", "x");
  EXPECT_EQ(ScalarOf(*access,
                     "DECLARE @n sysname EXEC sp_grantdbaccess 'second', @n OUTPUT "
                     "SELECT @n"),
            Value("second"));

  EXPECT_EQ(Infos(*access, "EXEC sp_revokedbaccess 'guest1'"),
            std::vector<std::string>{"User has been dropped from current database."});
  EXPECT_EQ(ErrorText(*access, "EXEC sp_revokedbaccess 'guest1'"),
            "User 'guest1' does not exist in the current database.");
  EXPECT_EQ(Error(*access, "EXEC sp_revokedbaccess 'qa_reader'"), 15008);
  EXPECT_EQ(ErrorText(*access, "EXEC sp_revokedbaccess 'dbo'"), "Cannot drop the database owner.");
  EXPECT_EQ(ErrorText("EXEC sp_revokedbaccess 'guest'"),
            "Cannot disable access to the guest user in master or tempdb.");
  // A revoked user is no longer let into the database.
  EXPECT_EQ(Error(*As("stranger", "s"), "USE Coll"), 916);

  // Neither a plain user nor a role administrator gives access.
  EXPECT_EQ(Error(*In("reader", "r"), "EXEC sp_grantdbaccess 'stranger'"), 15247);
  EXPECT_EQ(Error(*In("keeper", "k"), "EXEC sp_grantdbaccess 'stranger'"), 15247);
  Ok(*In("owner", "o"), "EXEC sp_grantdbaccess 'stranger'");
  EXPECT_EQ(Error(*access, "BEGIN TRAN EXEC sp_revokedbaccess 'stranger' COMMIT"), 15002);
}

TEST_F(DatabaseSecurityTest, RoleMembershipByTheRightRoles) {
  auto access = In("access", "a");
  auto keeper = In("keeper", "k");
  auto owner = In("owner", "o");
  Ok("USE Coll EXEC sp_grantdbaccess 'stranger' USE master");
  // db_securityadmin manages the collection's own roles, db_owner also the fixed ones.
  EXPECT_EQ(Error(*access, "EXEC sp_addrolemember 'qa_reader', 'stranger'"), 15247);
  EXPECT_EQ(Infos(*keeper, "EXEC sp_addrolemember 'qa_reader', 'stranger'"),
            std::vector<std::string>{"'stranger' added to role 'qa_reader'."});
  EXPECT_EQ(Error(*keeper, "EXEC sp_addrolemember 'db_owner', 'stranger'"), 15247);
  EXPECT_EQ(Error(*keeper, "EXEC sp_addrolemember 'db_accessadmin', 'stranger'"), 15247);
  Ok(*owner, "EXEC sp_addrolemember 'db_accessadmin', 'stranger'");
  Ok(*keeper, "EXEC sp_addrolemember 'qa_reader', 'stranger'");  // again: no change, no error
  EXPECT_EQ(ScalarOf(*In("stranger", "s"), "SELECT IS_MEMBER('qa_reader')"), Value(1));
  EXPECT_EQ(Infos(*keeper, "EXEC sp_droprolemember 'qa_reader', 'stranger'"),
            std::vector<std::string>{"'stranger' dropped from role 'qa_reader'."});
  EXPECT_EQ(ScalarOf(*In("stranger", "s"), "SELECT IS_MEMBER('qa_reader')"), Value(0));

  EXPECT_EQ(ErrorText(*owner, "EXEC sp_addrolemember 'qa_nothing', 'stranger'"),
            "The role 'qa_nothing' does not exist in the current database.");
  EXPECT_EQ(ErrorText(*owner, "EXEC sp_addrolemember 'qa_reader', 'nobody'"),
            "User or role 'nobody' does not exist in this database.");
  EXPECT_EQ(ErrorText(*owner, "EXEC sp_addrolemember 'public', 'stranger'"),
            "Membership of the public role cannot be changed.");
  EXPECT_EQ(ErrorText(*owner, "EXEC sp_addrolemember 'qa_reader', 'qa_reader'"),
            "Cannot make a role a member of itself.");
  EXPECT_EQ(ErrorText(*owner, "EXEC sp_addrolemember 'db_owner', 'dbo'"),
            "Cannot use the reserved user or role name 'dbo'.");
  // Roles nest, but never in a circle.
  Ok(*owner, "EXEC sp_addrolemember 'qa_reader', 'qa_writer'");
  EXPECT_EQ(Error(*owner, "EXEC sp_addrolemember 'qa_writer', 'qa_reader'"), 15413);
  Ok(*owner, "EXEC sp_addrolemember 'qa_writer', 'stranger'");
  EXPECT_EQ(ScalarOf(*In("stranger", "s"), "SELECT IS_MEMBER('qa_reader')"), Value(1));
  EXPECT_EQ(ScalarOf(*In("stranger", "s"), "SELECT COUNT(*) FROM Document"), Value(1));

  EXPECT_EQ(Infos(*owner, "EXEC sp_addrole 'qa_structurer'"),
            std::vector<std::string>{"New role added."});
  EXPECT_EQ(Error(*owner, "EXEC sp_addrole 'qa_structurer'"), 15023);
  EXPECT_EQ(Error(*owner, "EXEC sp_addrole 'dom\\role'"), 15006);
  EXPECT_EQ(Error(*access, "EXEC sp_addrole 'qa_other'"), 15247);
  EXPECT_EQ(ErrorText(*owner, "EXEC sp_droprole 'qa_reader'"),
            "The role has members. It must be empty before it can be dropped.");
  EXPECT_EQ(ErrorText(*owner, "EXEC sp_droprole 'db_datareader'"),
            "Cannot drop the role 'db_datareader'.");
  EXPECT_EQ(Error(*owner, "EXEC sp_droprole 'rd'"), 15409);
  EXPECT_EQ(Error(*owner, "EXEC sp_droprole 'nothing'"), 15014);
  EXPECT_EQ(Infos(*keeper, "EXEC sp_droprole 'qa_structurer'"),
            std::vector<std::string>{"Role dropped."});
  EXPECT_EQ(ScalarOf(*owner, "SELECT COUNT(*) FROM sysusers WHERE name = 'qa_structurer'"),
            Value(0));
}

TEST_F(DatabaseSecurityTest, HelpProceduresListUsersRolesAndMembers) {
  RowSet users = Query("USE Coll EXEC sp_helpuser");
  ASSERT_EQ(users.columns.size(), 6u);
  const char* names[] = {"UserName", "GroupName", "LoginName", "DefDBName", "UserID", "SID"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(users.columns[i].name, names[i]);
  EXPECT_EQ(Column(users, 0), (std::vector<std::string>{"access", "dbo", "keeper", "owner", "rd"}));
  EXPECT_EQ(Column(users, 1),
            (std::vector<std::string>{"db_accessadmin", "db_owner", "db_securityadmin", "db_owner",
                                      "qa_reader"}));
  EXPECT_EQ(users.rows[1][2], Value("sa"));
  EXPECT_EQ(users.rows[4][2], Value("reader"));
  EXPECT_EQ(users.rows[4][3], Value("master"));
  EXPECT_EQ(users.rows[1][4], Value(1));
  // A user in several roles has a row for each; one in none is in public.
  Ok("USE Coll EXEC sp_addrolemember 'qa_writer', 'rd' EXEC sp_grantdbaccess 'stranger'");
  RowSet rd = Query("USE Coll EXEC sp_helpuser 'rd'");
  EXPECT_EQ(Column(rd, 1), (std::vector<std::string>{"qa_reader", "qa_writer"}));
  EXPECT_EQ(Column(Query("USE Coll EXEC sp_helpuser 'stranger'"), 1),
            (std::vector<std::string>{"public"}));
  RowSet role = Query("USE Coll EXEC sp_helpuser 'qa_reader'");
  ASSERT_EQ(role.columns.size(), 4u);
  EXPECT_EQ(role.columns[0].name, "Group_name");
  EXPECT_EQ(role.columns[2].name, "Users_in_group");
  EXPECT_EQ(Column(role, 2), (std::vector<std::string>{"rd"}));
  EXPECT_EQ(ErrorText("USE Coll EXEC sp_helpuser 'nobody'"),
            "The name supplied (nobody) is not a user, role, or aliased login.");

  RowSet roles = Query("USE Coll EXEC sp_helprole");
  ASSERT_EQ(roles.columns[0].name, "RoleName");
  std::vector<std::string> role_names = Column(roles, 0);
  EXPECT_EQ(role_names.front(), "public");
  for (const char* r : {"db_owner", "db_accessadmin", "db_securityadmin", "db_ddladmin",
                        "db_backupoperator", "db_datareader", "db_datawriter", "db_denydatareader",
                        "db_denydatawriter", "qa_reader", "qa_writer"})
    EXPECT_NE(std::find(role_names.begin(), role_names.end(), r), role_names.end()) << r;
  EXPECT_EQ(Query("USE Coll EXEC sp_helprole 'qa_reader'").rows.at(0).at(1), Value(16400));
  EXPECT_EQ(ErrorText("USE Coll EXEC sp_helprole 'rd'"), "'rd' is not a role.");

  RowSet owners = Query("USE Coll EXEC sp_helprolemember 'db_owner'");
  ASSERT_EQ(owners.columns[1].name, "MemberName");
  EXPECT_EQ(Column(owners, 1), (std::vector<std::string>{"dbo", "owner"}));
  EXPECT_EQ(Column(Query("USE Coll EXEC sp_helprolemember 'qa_reader'"), 1),
            (std::vector<std::string>{"rd"}));
  EXPECT_EQ(Error("USE Coll EXEC sp_helprolemember 'rd'"), 15409);
  // Listing needs access to the database.
  AddLogin("outsider", "x");
  EXPECT_EQ(Error(*As("outsider", "x"), "EXEC Coll..sp_helprole"), 916);
}

TEST_F(DatabaseSecurityTest, PermissionsFromGrantsDenialsAndRoles) {
  auto reader = In("reader", "r");
  EXPECT_EQ(ScalarOf(*reader, "SELECT title FROM Document"), Value("first"));
  EXPECT_EQ(ErrorText(*reader, "INSERT INTO Document VALUES (2, 'x')"),
            "INSERT permission denied on object 'Document', database 'Coll', owner 'dbo'.");
  EXPECT_EQ(Error(*reader, "UPDATE Document SET title = 'y'"), 229);
  EXPECT_EQ(Error(*reader, "DELETE FROM Document"), 229);
  // A DENY to the user wins over the role's GRANT; REVOKE takes it away again.
  Ok("USE Coll DENY SELECT ON Document TO rd USE master");
  EXPECT_EQ(ErrorText(*reader, "SELECT title FROM Document"),
            "SELECT permission denied on object 'Document', database 'Coll', owner 'dbo'.");
  EXPECT_EQ(ScalarOf(*reader, "SELECT PERMISSIONS(OBJECT_ID('Document'))"), Value(0));
  Ok("USE Coll REVOKE SELECT ON Document FROM rd USE master");
  EXPECT_EQ(Error(*reader, "SELECT title FROM Document"), 0);
  EXPECT_EQ(ScalarOf(*reader, "SELECT PERMISSIONS(OBJECT_ID('Document'))"), Value(0x1001));
  EXPECT_EQ(ScalarOf(*reader, "SELECT PERMISSIONS(OBJECT_ID('CountDocuments'))"), Value(0x20));
  // The fixed data roles, and the deny roles over them.
  Ok("USE Coll EXEC sp_grantdbaccess 'stranger' USE master");
  auto stranger = In("stranger", "s");
  EXPECT_EQ(Error(*stranger, "SELECT * FROM Document"), 229);
  Ok("USE Coll EXEC sp_addrolemember 'db_datareader', 'stranger' "
     "EXEC sp_addrolemember 'db_datawriter', 'stranger' USE master");
  Ok(*stranger, "INSERT INTO Document VALUES (2, 'second') SELECT * FROM Document");
  Ok("USE Coll EXEC sp_addrolemember 'db_denydatawriter', 'stranger' USE master");
  EXPECT_EQ(Error(*stranger, "INSERT INTO Document VALUES (3, 'third')"), 229);
  EXPECT_EQ(Error(*stranger, "SELECT * FROM Document"), 0);
  // A grant to public reaches every user.
  Ok("USE Coll CREATE TABLE Notice (t INT) GRANT SELECT ON Notice TO public USE master");
  EXPECT_EQ(Error(*reader, "SELECT * FROM Notice"), 0);
  // Statement permissions: the ddl role or a grant.
  EXPECT_EQ(ErrorText(*reader, "CREATE TABLE Mine (a INT)"),
            "CREATE TABLE permission denied in database 'Coll'.");
  EXPECT_EQ(ScalarOf(*reader, "SELECT PERMISSIONS()"), Value(0));
  Ok("USE Coll GRANT CREATE TABLE TO rd USE master");
  EXPECT_EQ(ScalarOf(*reader, "SELECT PERMISSIONS()"), Value(0x2));
  EXPECT_EQ(Scalar("SELECT PERMISSIONS()"), Value(0xFF));
  Ok(*reader, "CREATE TABLE Mine (a INT) INSERT INTO Mine VALUES (1) DROP TABLE Mine");
  // Objects of other owners are the owner's and the ddl role's to create.
  EXPECT_EQ(ErrorText(*reader, "CREATE TABLE dbo.Theirs (a INT)"),
            "Specified owner name 'dbo' either does not exist or you do not have permission to "
            "use it.");
  Ok(*reader, "CREATE TABLE rd.Mine (a INT) DROP TABLE rd.Mine");
  EXPECT_EQ(ErrorText(*reader, "DROP TABLE Document"),
            "User does not have permission to perform this operation on table 'Document'.");
  EXPECT_EQ(ErrorText(*reader, "GRANT SELECT ON Document TO public"),
            "Grantor does not have GRANT permission.");
  Ok("USE Coll EXEC sp_addrolemember 'db_ddladmin', 'rd' USE master");
  Ok(*reader, "CREATE VIEW Titles AS SELECT title FROM Document");
  Ok(*reader, "CREATE TABLE dbo.Theirs (a INT)");
  // db_securityadmin manages permissions; the owner role may do everything.
  Ok(*In("keeper", "k"), "GRANT SELECT ON Notice TO qa_writer");
  Ok(*In("owner", "o"), "INSERT INTO Document VALUES (9, 'by owner') DROP TABLE Notice");
  // The database's catalogue stays readable for every user.
  EXPECT_EQ(ScalarOf(*reader, "SELECT COUNT(*) FROM sysusers WHERE name = 'rd'"), Value(1));
}

TEST_F(DatabaseSecurityTest, ProceduresUseTheirOwnersRights) {
  auto reader = In("reader", "r");
  Ok("USE Coll DENY SELECT ON Document TO rd USE master");
  // EXECUTE on the procedure is enough for the tables of the same owner.
  EXPECT_EQ(ScalarOf(*reader, "EXEC CountDocuments"), Value(1));
  EXPECT_EQ(Error(*reader, "SELECT COUNT(*) FROM Document"), 229);
  Ok("USE Coll EXEC sp_grantdbaccess 'stranger' USE master");
  EXPECT_EQ(ErrorText(*In("stranger", "s"), "EXEC CountDocuments"),
            "EXECUTE permission denied on object 'CountDocuments', database 'Coll', owner 'dbo'.");
  // Dynamic SQL inside the procedure runs on the caller's rights again.
  Ok("USE Coll EXEC('CREATE PROCEDURE DynamicCount AS EXEC(''SELECT COUNT(*) FROM Document'')') "
     "GRANT EXECUTE ON DynamicCount TO qa_reader USE master");
  EXPECT_EQ(Error(*reader, "EXEC DynamicCount"), 229);
}

TEST_F(DatabaseSecurityTest, ChangingTheOwner) {
  EXPECT_EQ(ErrorText(*In("owner", "o"), "EXEC sp_changedbowner 'stranger'"),
            "User does not have permission to perform this action.");
  EXPECT_EQ(ErrorText("EXEC sp_changedbowner 'stranger'"),
            "Cannot change the owner of the master database.");
  EXPECT_EQ(ErrorText("USE Coll EXEC sp_changedbowner 'reader'"),
            "The proposed new database owner is already a user in the database.");
  EXPECT_EQ(Error("USE Coll EXEC sp_changedbowner 'nobody'"), 15007);
  EXPECT_EQ(
      Infos("USE Coll EXEC sp_changedbowner 'stranger' USE master"),
      (std::vector<std::string>{"Changed database context to 'Coll'.", "Database owner changed.",
                                "Changed database context to 'master'."}));
  EXPECT_EQ(Scalar("SELECT SUSER_SNAME(sid) FROM master..sysdatabases WHERE name = 'Coll'"),
            Value("stranger"));
  auto stranger = In("stranger", "s");
  EXPECT_EQ(ScalarOf(*stranger, "SELECT USER_NAME()"), Value("dbo"));
  EXPECT_EQ(ScalarOf(*stranger, "SELECT IS_MEMBER('db_owner')"), Value(1));
  Ok(*stranger, "DELETE FROM Document EXEC sp_addrole 'mine'");
  RowSet dbo = Query("USE Coll EXEC sp_helpuser 'dbo'");
  EXPECT_EQ(dbo.rows.at(0).at(2), Value("stranger"));
  // The former owner's login reaches the database no more.
  stranger.reset();
  EXPECT_EQ(Error("EXEC sp_droplogin 'stranger'"), 15174);
  Ok("USE Coll EXEC sp_changedbowner 'sa' USE master");
  Ok("EXEC sp_droplogin 'stranger'");
  EXPECT_EQ(Scalar("SELECT SUSER_SNAME(sid) FROM master..sysdatabases WHERE name = 'Coll'"),
            Value("sa"));
}

TEST_F(DatabaseSecurityTest, HostileNamesNeverCorruptTheCatalogue) {
  AddLogin("O''Brien", "o");
  std::string long_name(129, 'u');
  Ok("USE Coll EXEC sp_grantdbaccess 'O''Brien', 'x]' USE master");
  EXPECT_EQ(Error("USE Coll EXEC sp_grantdbaccess 'stranger', '" + long_name + "'"), 103);
  EXPECT_EQ(Error("USE Coll EXEC sp_addrole '" + long_name + "'"), 103);
  // The product's unescaped texts fail as a whole.
  EXPECT_NE(Error("USE Coll EXEC sp_addrolemember 'qa_reader', 'O'Brien'"), 0);
  Ok("USE Coll EXEC sp_addrolemember 'qa_reader', 'x]' EXEC sp_addrole 'r;--' "
     "EXEC sp_addrolemember 'r;--', 'x]'");
  EXPECT_EQ(Column(Query("USE Coll EXEC sp_helpuser 'x]'"), 1),
            (std::vector<std::string>{"qa_reader", "r;--"}));
  auto obrien = As("O'Brien", "o", "Coll");
  EXPECT_EQ(ScalarOf(*obrien, "SELECT USER_NAME()"), Value("x]"));
  EXPECT_EQ(ScalarOf(*obrien, "SELECT COUNT(*) FROM Document"), Value(1));
  EXPECT_EQ(Scalar("USE Coll SELECT COUNT(*) FROM sysusers WHERE name LIKE 'u%'"), Value(0));
  EXPECT_EQ(Scalar("USE Coll SELECT COUNT(*) FROM sysusers"), Value(22));
}

}  // namespace
}  // namespace sandbox::testing

namespace sandbox::testing {
namespace {

using common::Value;

// A login's life as the console's dialogs and server object send it, statement by statement.
TEST_F(SecurityTest, TheConsolesStatementsAsItSendsThem) {
  Ok("CREATE DATABASE Quillarchive_Sales");
  Ok("USE Quillarchive_Sales EXEC sp_addrole 'qa_reader' EXEC sp_addrole 'qa_writer' "
     "EXEC sp_addrole 'qa_structurer' USE master");
  // Add Login wizard, SQL Server authentication, one collection checked.
  Ok("EXEC master..sp_addlogin 'maria', 'pw'");
  auto sales = Connect("Quillarchive_Sales");
  Ok(*sales, "EXEC sp_grantdbaccess 'maria', 'maria'");
  for (const char* role : {"qa_reader", "qa_writer", "qa_structurer"})
    Ok(*sales, std::string("EXEC sp_addrolemember '") + role + "', 'maria'");
  // Login properties: what the dialog reads.
  RowSet login = Query(
      "SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM "
      "master.dbo.syslogins WHERE loginname='maria'");
  EXPECT_EQ(login.rows.at(0),
            (std::vector<Value>{Value("maria"), Value(0), Value(0), Value(0), Value(0), Value(1)}));
  RowSet users = Query(*sales, "EXEC sp_helpuser");
  bool found = false;
  for (const auto& row : users.rows) found = found || row[2] == Value("maria");
  EXPECT_TRUE(found);
  EXPECT_EQ(Column(Query("EXEC master..sp_helpsrvrolemember 'sysadmin'"), 1),
            (std::vector<std::string>{"BUILTIN\\Administrators", "sa"}));
  // Server roles and the password, sent at OK.
  Ok("EXEC master..sp_addsrvrolemember 'maria', 'dbcreator'");
  EXPECT_EQ(Scalar("SELECT IS_SRVROLEMEMBER ('dbcreator','maria')"), Value(1));
  Ok("EXEC master..sp_password @old=NULL, @new='new pw' , @loginame='maria'");
  auto maria = As("maria", "new pw");
  EXPECT_EQ(ScalarOf(*maria, "SELECT SUSER_SNAME()"), Value("maria"));
  EXPECT_EQ(ScalarOf(*maria, "SELECT IS_SRVROLEMEMBER ('sysadmin')"), Value(0));
  EXPECT_EQ(ScalarOf(*As("maria", "new pw", "Quillarchive_Sales"), "SELECT IS_MEMBER ('db_owner')"),
            Value(0));
  EXPECT_EQ(Error(*maria, "EXEC master..sp_helpuser 'maria'"), 15198);
  maria.reset();
  // Change owner: the login is a user, so its access goes first.
  Ok(*sales, "EXEC sp_revokedbaccess 'maria'");
  Ok(*sales, "USE Quillarchive_Sales");
  Ok(*sales, "sp_changedbowner 'maria'");
  CollectingSink help = Run("sp_helpdb @dbname='Quillarchive_Sales'");
  ASSERT_FALSE(help.sets.empty()) << help.ErrorText();
  const RowSet& database = help.sets[0];
  bool has_owner = false;
  for (size_t i = 0; i < database.columns.size(); ++i) {
    if (database.columns[i].name != "owner") continue;
    has_owner = true;
    EXPECT_EQ(database.rows.at(0).at(i), Value("maria"));
  }
  EXPECT_TRUE(has_owner);
  // Removing the login: refused while it owns the collection, as the server object reads it.
  EXPECT_EQ(Error("EXEC master..sp_droplogin 'maria'"), 15174);
  Ok(*sales, "sp_changedbowner 'sa'");
  RowSet mapped =
      Query(*sales, "SELECT db_name(), name FROM sysusers WHERE sid=suser_sid('maria')");
  EXPECT_TRUE(mapped.rows.empty());
  Ok("EXEC master..sp_droplogin 'maria'");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases Where SUSER_SNAME(sid) Is Null"),
            Value(0));
}

}  // namespace
}  // namespace sandbox::testing
