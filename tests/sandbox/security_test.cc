// Server logins: SQL Server logins with passwords, Windows accounts and groups, login modes,
// fixed server roles, and who may manage them.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sandbox/security_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;
namespace fs = std::filesystem;

TEST_F(SecurityTest, SqlLoginsConnectWithTheirPasswordOnly) {
  EXPECT_EQ(Infos("EXEC sp_addlogin 'clerk', 'S3cret!', 'tempdb'"),
            std::vector<std::string>{"New login created."});
  auto clerk = As("clerk", "S3cret!");
  EXPECT_EQ(ScalarOf(*clerk, "SELECT SUSER_SNAME()"), Value("clerk"));
  EXPECT_EQ(ScalarOf(*clerk, "SELECT SYSTEM_USER"), Value("clerk"));
  EXPECT_EQ(clerk->CurrentDatabase(), "tempdb");
  ServerMessage refused = SqlRefusal("clerk", "s3cret!");
  EXPECT_EQ(refused.number, 18456);
  EXPECT_EQ(refused.text, "Login failed for user 'clerk'.");
  EXPECT_EQ(SqlRefusal("nobody", "").number, 18456);
  EXPECT_EQ(SqlRefusal("clerk", "").number, 18456);

  RowSet row = Query(
      "SELECT loginname, name, isntname, isntgroup, isntuser, denylogin, hasaccess, password, "
      "dbname, sysadmin, securityadmin, dbcreator FROM master.dbo.syslogins WHERE loginname = "
      "'clerk'");
  ASSERT_EQ(row.rows.size(), 1u);
  EXPECT_EQ(row.rows[0], (std::vector<Value>{Value("clerk"), Value("clerk"), Value(0), Value(0),
                                             Value(0), Value(0), Value(1), Value(), Value("tempdb"),
                                             Value(0), Value(0), Value(0)}));
  std::vector<std::string> columns;
  for (const sandbox::Column& c : Query("SELECT * FROM master..syslogins").columns)
    columns.push_back(c.name);
  EXPECT_EQ(
      columns,
      (std::vector<std::string>{
          "sid",       "status",     "createdate",    "updatedate",  "accdate",    "totcpu",
          "totio",     "spacelimit", "timelimit",     "resultlimit", "name",       "dbname",
          "password",  "language",   "denylogin",     "hasaccess",   "isntname",   "isntgroup",
          "isntuser",  "sysadmin",   "securityadmin", "serveradmin", "setupadmin", "processadmin",
          "diskadmin", "dbcreator",  "bulkadmin",     "loginname"}));
  EXPECT_EQ(Scalar("SELECT SUSER_SNAME(SUSER_SID('clerk'))"), Value("clerk"));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..syslogins WHERE sid = SUSER_SID('clerk')"),
            Value(1));
  EXPECT_EQ(Scalar("SELECT SUSER_SID('nobody')"), Value());

  // Changing the default database moves where the next session starts.
  EXPECT_EQ(Infos("EXEC sp_defaultdb 'clerk', 'msdb'"),
            std::vector<std::string>{"Default database changed."});
  EXPECT_EQ(As("clerk", "S3cret!")->CurrentDatabase(), "msdb");
  EXPECT_EQ(Error("EXEC sp_defaultdb 'clerk', 'NoSuchDb'"), 15010);
  EXPECT_EQ(Error("EXEC sp_defaultdb 'nobody', 'master'"), 15007);
}

TEST_F(SecurityTest, AddLoginRefusesBadInputAndKeepsTheCatalogue) {
  AddLogin("first", "pw");
  EXPECT_EQ(ErrorText("EXEC sp_addlogin 'FIRST', 'x'"), "The login 'FIRST' already exists.");
  EXPECT_EQ(ErrorText("EXEC sp_addlogin 'dom\\user', 'x'"),
            "'dom\\user' is not a valid name because it contains invalid characters.");
  EXPECT_EQ(Error("EXEC sp_addlogin NULL, 'x'"), 15004);
  EXPECT_EQ(Error("EXEC sp_addlogin"), 201);
  EXPECT_EQ(ErrorText("EXEC sp_addlogin 'second', 'x', 'NoSuchDb'"),
            "The database 'NoSuchDb' does not exist. Use sp_helpdb to show available databases.");
  std::string long_name(129, 'n');
  EXPECT_EQ(Error("EXEC sp_addlogin '" + long_name + "', 'x'"), 103);
  EXPECT_EQ(Error("EXEC sp_addlogin 'third', '" + std::string(129, 'p') + "'"), 15156);
  // Names the product sends unescaped fail to parse; nothing half-made stays behind.
  EXPECT_EQ(ErrorText("EXEC master..sp_addlogin 'O'Brien', 'pw'"),
            "Unclosed quotation mark before the character string ''.");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..syslogins"), Value(3));
  // Quotes, brackets and semicolons are just characters of a name when quoted properly.
  AddLogin("O''Brien", "it''s; DROP TABLE x --");
  AddLogin(std::string(128, 'm'), "");
  AddLogin("x]", "]");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..syslogins WHERE name IN ('O''Brien', 'x]')"),
            Value(2));
  EXPECT_EQ(ScalarOf(*As("O'Brien", "it's; DROP TABLE x --"), "SELECT SUSER_SNAME()"),
            Value("O'Brien"));
  EXPECT_EQ(ScalarOf(*As("x]", "]"), "SELECT SUSER_SNAME()"), Value("x]"));
  EXPECT_EQ(ScalarOf(*As(std::string(128, 'm'), ""), "SELECT LEN(SUSER_SNAME())"), Value(128));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..syslogins"), Value(6));
}

TEST_F(SecurityTest, OnlySecurityAdministratorsManageLogins) {
  AddLogin("plain", "p");
  AddLogin("keeper", "k", {"securityadmin"});
  AddLogin("maker", "m", {"dbcreator"});
  auto plain = As("plain", "p");
  auto keeper = As("keeper", "k");
  auto maker = As("maker", "m");
  EXPECT_EQ(ErrorText(*plain, "EXEC sp_addlogin 'x', 'x'"),
            "User does not have permission to perform this action.");
  EXPECT_EQ(Error(*maker, "EXEC sp_addlogin 'x', 'x'"), 15247);
  EXPECT_EQ(Error(*plain, "EXEC sp_grantlogin 'SANDBOX\\eve'"), 15247);
  EXPECT_EQ(Error(*plain, "EXEC sp_droplogin 'maker'"), 15247);
  EXPECT_EQ(Error(*plain, "EXEC sp_helplogins"), 15247);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..syslogins WHERE name = 'x'"), Value(0));
  Ok(*keeper, "EXEC sp_addlogin 'x', 'x'");
  Ok(*keeper, "EXEC sp_grantlogin 'SANDBOX\\eve'");
  // A role's members may add others to that role only; sysadmin to any.
  Ok(*keeper, "EXEC sp_addsrvrolemember 'x', 'securityadmin'");
  EXPECT_EQ(Error(*keeper, "EXEC sp_addsrvrolemember 'x', 'sysadmin'"), 15247);
  EXPECT_EQ(Error(*keeper, "EXEC sp_addsrvrolemember 'x', 'dbcreator'"), 15247);
  Ok(*maker, "EXEC sp_addsrvrolemember 'x', 'dbcreator'");
  EXPECT_EQ(Error(*plain, "EXEC sp_addsrvrolemember 'plain', 'dbcreator'"), 15247);
  RowSet members = Query("EXEC sp_helpsrvrolemember 'dbcreator'");
  ASSERT_EQ(members.columns.size(), 3u);
  EXPECT_EQ(members.columns[0].name, "ServerRole");
  EXPECT_EQ(members.columns[1].name, "MemberName");
  EXPECT_EQ(members.columns[2].name, "MemberSID");
  EXPECT_EQ(Column(members, 1), (std::vector<std::string>{"maker", "x"}));
  EXPECT_EQ(Error("EXEC sp_helpsrvrolemember 'kings'"), 15412);
  // The procedures refuse to run inside a transaction.
  EXPECT_EQ(ErrorText("BEGIN TRAN EXEC sp_addlogin 'y', 'y' ROLLBACK"),
            "The procedure 'sp_addlogin' cannot be executed within a transaction.");
}

TEST_F(SecurityTest, ServerRolesCountFromTheNextBatch) {
  AddLogin("builder", "b");
  auto builder = As("builder", "b");
  EXPECT_EQ(ErrorText(*builder, "CREATE DATABASE Built"),
            "CREATE DATABASE permission denied in database 'master'.");
  EXPECT_EQ(ScalarOf(*builder, "SELECT IS_SRVROLEMEMBER('dbcreator')"), Value(0));
  // A session of another process on the same instance folder learns of the change as well.
  auto elsewhere = OpenHost(root_);
  LoginRequest builder_request;
  builder_request.login = "builder";
  builder_request.password = "b";
  auto builder_elsewhere = elsewhere->Find("")->Connect(builder_request);
  EXPECT_EQ(Infos("EXEC sp_addsrvrolemember 'builder', 'dbcreator'"),
            std::vector<std::string>{"'builder' added to role 'dbcreator'."});
  EXPECT_EQ(Scalar("SELECT IS_SRVROLEMEMBER('dbcreator', 'builder')"), Value(1));
  EXPECT_EQ(ScalarOf(*builder, "SELECT IS_SRVROLEMEMBER('dbcreator')"), Value(1));
  EXPECT_EQ(ScalarOf(*builder_elsewhere, "SELECT IS_SRVROLEMEMBER('dbcreator')"), Value(1));
  builder_elsewhere.reset();
  Ok(*builder, "CREATE DATABASE Built");
  // The creator owns the new database and is dbo in it.
  EXPECT_EQ(ScalarOf(*builder, "USE Built SELECT USER_NAME()"), Value("dbo"));
  Ok(*builder, "USE master");
  EXPECT_EQ(Infos("EXEC sp_dropsrvrolemember 'builder', 'dbcreator'"),
            std::vector<std::string>{"'builder' dropped from role 'dbcreator'."});
  EXPECT_EQ(Error(*builder, "CREATE DATABASE Again"), 262);
  // A grant of the statement permission in master lets a login create databases too.
  Ok("EXEC sp_grantdbaccess 'builder' GRANT CREATE DATABASE TO builder");
  Ok(*builder, "CREATE DATABASE Granted");

  EXPECT_EQ(ErrorText("EXEC sp_addsrvrolemember 'builder', 'kings'"),
            "'kings' is not a fixed server role.");
  EXPECT_EQ(Error("EXEC sp_addsrvrolemember 'nobody', 'dbcreator'"), 15007);
  EXPECT_EQ(ErrorText("EXEC sp_dropsrvrolemember 'sa', 'sysadmin'"),
            "Cannot use the reserved user or role name 'sa'.");
  EXPECT_EQ(Scalar("SELECT IS_SRVROLEMEMBER('sysadmin', 'sa')"), Value(1));
  EXPECT_EQ(Scalar("SELECT IS_SRVROLEMEMBER('sysadmin', 'nobody')"), Value());
  EXPECT_EQ(Scalar("SELECT IS_SRVROLEMEMBER('kings')"), Value());
  RowSet roles = Query("EXEC sp_helpsrvrole");
  EXPECT_EQ(Column(roles, 0),
            (std::vector<std::string>{"sysadmin", "securityadmin", "serveradmin", "setupadmin",
                                      "processadmin", "diskadmin", "dbcreator", "bulkadmin"}));
}

TEST_F(SecurityTest, DroppingALogin) {
  AddLogin("leaver", "l");
  AddLogin("owner", "o", {"dbcreator"});
  {
    auto leaver = As("leaver", "l");
    EXPECT_EQ(ErrorText("EXEC sp_droplogin 'leaver'"),
              "Could not drop login 'leaver' as the user is currently logged in.");
  }
  Ok(*As("owner", "o"), "CREATE DATABASE Owned1 CREATE DATABASE Owned2");
  CollectingSink sink = Run("EXEC sp_droplogin 'owner'");
  ASSERT_EQ(sink.FirstError(), 15174);
  EXPECT_EQ(sink.Errors()[0]->text,
            "Login 'owner' owns one or more database(s). Change the owner of the following "
            "database(s) before dropping login:");
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(Column(sink.sets[0], 0), (std::vector<std::string>{"Owned1", "Owned2"}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..syslogins WHERE name = 'owner'"), Value(1));

  Ok("USE Owned1 EXEC sp_grantdbaccess 'leaver' USE master");
  EXPECT_EQ(ErrorText("EXEC sp_droplogin 'leaver'"),
            "Login 'leaver' is aliased or mapped to a user in one or more database(s). Drop the "
            "user or alias before dropping the login.");
  Ok("USE Owned1 EXEC sp_revokedbaccess 'leaver' USE master");
  EXPECT_EQ(Infos("EXEC sp_droplogin 'leaver'"), std::vector<std::string>{"Login dropped."});
  EXPECT_EQ(SqlRefusal("leaver", "l").number, 18456);
  EXPECT_EQ(ErrorText("EXEC sp_droplogin 'leaver'"), "The login 'leaver' does not exist.");
  EXPECT_EQ(Error("EXEC sp_droplogin 'sa'"), 15405);
  EXPECT_EQ(Error("EXEC sp_droplogin 'BUILTIN\\Administrators'"), 15007);
}

TEST_F(SecurityTest, PasswordsAreChangedByTheirOwnerOrBySysadmin) {
  AddLogin("walker", "old");
  AddLogin("keeper", "k", {"securityadmin"});
  auto walker = As("walker", "old");
  EXPECT_EQ(ErrorText(*walker, "EXEC sp_password 'wrong', 'new'"),
            "Old (current) password incorrect for user. The password was not changed.");
  EXPECT_EQ(Error(*walker, "EXEC sp_password NULL, 'new'"), 15211);
  EXPECT_EQ(Infos(*walker, "EXEC sp_password 'old', 'new'"),
            std::vector<std::string>{"Password changed."});
  EXPECT_EQ(SqlRefusal("walker", "old").number, 18456);
  As("walker", "new");
  // Another login's password: a security administrator's to set without the old one, except a
  // sysadmin's, which only a sysadmin resets without it.
  EXPECT_EQ(Error(*walker, "EXEC sp_password NULL, 'x', 'keeper'"), 15247);
  auto keeper = As("keeper", "k");
  EXPECT_EQ(Infos(*keeper, "EXEC master..sp_password @old=NULL, @new='byk' , @loginame='walker'"),
            std::vector<std::string>{"Password changed."});
  As("walker", "byk");
  AddLogin("chief", "c", {"sysadmin"});
  EXPECT_EQ(Error(*keeper, "EXEC sp_password NULL, 'x', 'chief'"), 15211);
  EXPECT_EQ(SqlRefusal("chief", "x").number, 18456);
  EXPECT_EQ(Error(*keeper, "EXEC sp_password 'c', 'x', 'chief'"), 0);
  As("chief", "x");
  Ok("EXEC master..sp_password @old=NULL, @new='reset' , @loginame='walker'");
  As("walker", "reset");
  Ok("EXEC sp_password NULL, NULL, 'walker'");
  As("walker", "");
  EXPECT_EQ(Error("EXEC sp_password NULL, 'x', 'nobody'"), 15007);
  EXPECT_EQ(Error("EXEC sp_password NULL, 'x', 'BUILTIN\\Administrators'"), 15007);
}

TEST_F(SecurityTest, WindowsAccountsAndGroups) {
  InstanceConfig config;
  config.machine_name = "WS01";
  config.creator = "admin";
  auto ws = host_->Create("Win", config);
  auto admin = AsWindows(*ws, "admin");
  EXPECT_EQ(ScalarOf(*admin, "SELECT SUSER_SNAME()"), Value("WS01\\admin"));
  EXPECT_EQ(ScalarOf(*admin, "SELECT IS_SRVROLEMEMBER('sysadmin')"), Value(1));
  EXPECT_EQ(
      ScalarOf(*admin, "SELECT sysadmin FROM master.dbo.syslogins WHERE loginname = 'WS01\\admin'"),
      Value(1));
  EXPECT_EQ(ScalarOf(*admin, "SELECT IS_MEMBER('BUILTIN\\Administrators')"), Value(1));

  LoginRequest bob;
  bob.integrated = true;
  bob.os_user = "bob";
  ServerMessage refused = Refusal(*ws, bob);
  EXPECT_EQ(refused.number, 18456);
  EXPECT_EQ(refused.text, "Login failed for user 'WS01\\bob'.");
  EXPECT_EQ(Infos(*admin, "EXEC sp_grantlogin 'WS01\\bob'"),
            std::vector<std::string>{"Granted login access to 'WS01\\bob'."});
  auto bob_session = AsWindows(*ws, "bob");
  EXPECT_EQ(ScalarOf(*bob_session, "SELECT SUSER_SNAME()"), Value("WS01\\bob"));
  EXPECT_EQ(ScalarOf(*bob_session, "SELECT IS_SRVROLEMEMBER('sysadmin')"), Value(0));
  EXPECT_EQ(ScalarOf(*bob_session, "SELECT IS_MEMBER('BUILTIN\\Administrators')"), Value(0));
  EXPECT_EQ(ScalarOf(*bob_session, "SELECT IS_MEMBER('BUILTIN\\Users')"), Value(1));
  RowSet row = Query(*admin,
                     "SELECT isntname, isntgroup, isntuser, denylogin, hasaccess FROM "
                     "master.dbo.syslogins WHERE loginname = 'WS01\\bob'");
  EXPECT_EQ(row.rows.at(0), (std::vector<Value>{Value(1), Value(0), Value(1), Value(0), Value(1)}));
  EXPECT_EQ(Infos(*admin, "EXEC sp_denylogin 'WS01\\bob'"),
            std::vector<std::string>{"Denied login access to 'WS01\\bob'."});
  EXPECT_EQ(Refusal(*ws, bob).number, 18456);
  row = Query(*admin,
              "SELECT denylogin, hasaccess FROM master.dbo.syslogins WHERE loginname = "
              "'WS01\\bob'");
  EXPECT_EQ(row.rows.at(0), (std::vector<Value>{Value(1), Value(0)}));
  Ok(*admin, "EXEC sp_grantlogin 'WS01\\bob'");
  AsWindows(*ws, "bob");
  EXPECT_EQ(Infos(*admin, "EXEC sp_revokelogin 'WS01\\bob'"),
            std::vector<std::string>{"Revoked login access from 'WS01\\bob'."});
  EXPECT_EQ(Refusal(*ws, bob).number, 18456);
  Ok(*admin, "EXEC sp_revokelogin 'WS01\\bob'");  // nothing left to revoke

  // A group's login lets its members in, and a denied group keeps them out.
  Ok(*admin, "EXEC sp_grantlogin 'BUILTIN\\Users'");
  EXPECT_EQ(ScalarOf(*AsWindows(*ws, "carol"), "SELECT SUSER_SNAME()"), Value("WS01\\carol"));
  EXPECT_EQ(
      ScalarOf(*admin, "SELECT isntgroup FROM master.dbo.syslogins WHERE name = 'BUILTIN\\Users'"),
      Value(1));
  // Through its group's user a member reaches a database too.
  Ok(*admin,
     "CREATE DATABASE Shared USE Shared EXEC sp_grantdbaccess 'BUILTIN\\Users' "
     "EXEC sp_addrolemember 'db_datareader', 'BUILTIN\\Users' USE master");
  RowSet shared = Query(*AsWindows(*ws, "carol", "Shared"),
                        "SELECT USER_NAME(), IS_MEMBER('db_datareader'), IS_MEMBER('db_owner')");
  EXPECT_EQ(shared.rows.at(0), (std::vector<Value>{Value("BUILTIN\\Users"), Value(1), Value(0)}));
  Ok(*admin, "EXEC sp_denylogin 'BUILTIN\\Users'");
  LoginRequest carol = bob;
  carol.os_user = "carol";
  EXPECT_EQ(Refusal(*ws, carol).number, 18456);
  Ok(*admin, "EXEC sp_revokelogin 'BUILTIN\\Users'");

  EXPECT_EQ(ErrorText(*admin, "EXEC sp_grantlogin 'bob'"),
            "'bob' is not a valid Windows NT name. Give the complete name: <domain\\username>.");
  EXPECT_EQ(ErrorText(*admin, "EXEC sp_grantlogin 'ELSEWHERE\\bob'"),
            "Windows NT user or group 'ELSEWHERE\\bob' not found. Check the name again.");
  EXPECT_EQ(Error(*admin, "EXEC sp_denylogin 'BUILTIN\\Nobodies'"), 15401);
  EXPECT_EQ(Error(*admin, "EXEC sp_revokelogin 'bob'"), 15407);
  EXPECT_EQ(ScalarOf(*admin, "SELECT COUNT(*) FROM master..syslogins"), Value(3));
}

TEST_F(SecurityTest, TheLoginModeDecidesWhichConnectionsAreAccepted) {
  InstanceConfig windows_only;
  windows_only.login_mode = LoginMode::kWindowsOnly;
  auto nt = host_->Create("NtOnly", windows_only);
  LoginRequest sa;
  sa.login = "sa";
  ServerMessage refused = Refusal(*nt, sa);
  EXPECT_EQ(refused.number, 18452);
  EXPECT_EQ(refused.text,
            "Login failed for user 'sa'. Reason: Not associated with a trusted SQL Server "
            "connection.");
  EXPECT_EQ(ScalarOf(*AsWindows(*nt, "anyone"), "SELECT IS_SRVROLEMEMBER('sysadmin')"), Value(1));

  InstanceConfig sql_only;
  sql_only.login_mode = LoginMode::kSqlOnly;
  sql_only.sa_password = "Start#1";
  auto standard = host_->Create("Standard", sql_only);
  LoginRequest windows;
  windows.integrated = true;
  windows.os_user = "anyone";
  EXPECT_EQ(Refusal(*standard, windows).number, 18452);
  EXPECT_EQ(Refusal(*standard, sa).number, 18456);  // sa has the configured password now
  sa.password = "Start#1";
  EXPECT_EQ(Refusal(*standard, sa).number, 0);
}

TEST_F(SecurityTest, ALoginWithoutAccessToItsDatabaseCannotConnect) {
  Ok("CREATE DATABASE Closed");
  Ok("EXEC sp_addlogin 'outsider', 'o', 'Closed'");
  LoginRequest request;
  request.login = "outsider";
  request.password = "o";
  ServerMessage refused = Refusal(*instance_, request);
  EXPECT_EQ(refused.number, 4064);
  EXPECT_EQ(refused.text, "Cannot open user default database. Login failed.");
  request.database = "master";
  EXPECT_EQ(Refusal(*instance_, request).number, 0);
  request.database = "Closed";
  refused = Refusal(*instance_, request);
  EXPECT_EQ(refused.number, 4060);
  EXPECT_EQ(refused.text, "Cannot open database requested in login 'Closed'. Login fails.");
  Ok("USE Closed EXEC sp_grantdbaccess 'outsider' USE master");
  EXPECT_EQ(Refusal(*instance_, request).number, 0);
}

TEST_F(SecurityTest, HelpLoginsListsLoginsAndTheirUsers) {
  AddLogin("reader", "r");
  Ok("CREATE DATABASE Shelf USE Shelf EXEC sp_grantdbaccess 'reader', 'rd' EXEC sp_addrole 'qa' "
     "EXEC sp_addrolemember 'qa', 'rd' USE master");
  CollectingSink sink = Run("EXEC sp_helplogins 'reader'");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 2u);
  EXPECT_EQ(sink.sets[0].columns[0].name, "LoginName");
  EXPECT_EQ(sink.sets[0].columns[4].name, "AUser");
  ASSERT_EQ(sink.sets[0].rows.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows[0][2], Value("master"));
  EXPECT_EQ(sink.sets[0].rows[0][4], Value("yes"));
  ASSERT_EQ(sink.sets[1].rows.size(), 2u);
  EXPECT_EQ(sink.sets[1].rows[0],
            (std::vector<Value>{Value("reader"), Value("Shelf"), Value("rd"), Value("User")}));
  EXPECT_EQ(sink.sets[1].rows[1],
            (std::vector<Value>{Value("reader"), Value("Shelf"), Value("qa"), Value("MemberOf")}));
  EXPECT_EQ(Error("EXEC sp_helplogins 'nobody'"), 15007);
}

// Every file of the instance, as bytes.
std::string AllFiles(const fs::path& directory) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return all;
}

TEST_F(SecurityTest, PasswordsNeverReachTheInstanceFilesInClear) {
  InstanceConfig config;
  config.sa_password = "Sa-Secret-0815";
  auto other = host_->Create("Vault", config);
  LoginRequest sa;
  sa.login = "sa";
  sa.password = "Sa-Secret-0815";
  {
    auto session = other->Connect(sa);
    Ok(*session, "EXEC sp_addlogin 'zebra', 'Zebra-Password-4711'");
    Ok(*session, "EXEC sp_password NULL, 'Second-Zebra-4712', 'zebra'");
    Ok(*session, "CREATE DATABASE Cage USE Cage EXEC sp_grantdbaccess 'zebra'");
    LoginRequest zebra;
    zebra.login = "zebra";
    zebra.password = "Second-Zebra-4712";
    Ok(*other->Connect(zebra), "EXEC sp_password 'Second-Zebra-4712', 'Third-Zebra-4713'");
  }
  other.reset();
  session_.reset();
  instance_.reset();
  host_ = OpenHost(root_);
  std::string files = AllFiles(root_ / "VAULT");
  ASSERT_NE(files.find("zebra"), std::string::npos);  // the search does see the catalogue
  for (const char* secret :
       {"Sa-Secret-0815", "Zebra-Password-4711", "Second-Zebra-4712", "Third-Zebra-4713"})
    EXPECT_EQ(files.find(secret), std::string::npos) << secret;
  auto reopened = host_->Find("Vault");
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(Refusal(*reopened, sa).number, 0);
}

}  // namespace
}  // namespace sandbox::testing
