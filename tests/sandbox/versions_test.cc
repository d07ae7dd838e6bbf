// Instances of later product versions: what they say about themselves, what they no longer
// accept, and the recovery model that takes the place of truncating a log.
#include <map>
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"
#include "sandbox/server_info.h"

namespace sandbox::testing {
namespace {

using common::Value;

class VersionsTest : public SandboxTest {
 protected:
  Value ScalarOn(Session& session, const std::string& query) {
    RowSet set = Query(session, query);
    EXPECT_EQ(set.rows.size(), 1u) << query;
    return set.rows.empty() ? Value() : set.rows[0].at(0);
  }
};

struct VersionFacts {
  const char* version;
  const char* level;
  const char* first_line;  // of @@VERSION
  long long internal_version;
  const char* platform;
  const char* file_version;
  int compatibility_level;
};

const VersionFacts kVersions[] = {
    {"7.00.1063", "SP4", "Microsoft SQL Server  7.00 - 7.00.1063 (Intel X86) ", 458752,
     "NT INTEL X86", "1998.070.1063.00", 70},
    {"8.00.2039", "SP4", "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) ", 524288,
     "NT INTEL X86", "2000.080.2039.00", 80},
    {"9.00.5000", "SP4", "Microsoft SQL Server 2005 - 9.00.5000 (Intel X86) ", 589824,
     "NT INTEL X86", "2005.090.5000.00", 90},
    {"10.50.6000", "SP3", "Microsoft SQL Server 2008 R2 (SP3) - 10.50.6000 (X64) ", 655410,
     "NT x64", "2009.0100.6000.00", 100},
    {"11.00.7001", "SP4", "Microsoft SQL Server 2012 (SP4) - 11.00.7001 (X64) ", 720896, "NT x64",
     "2011.0110.7001.00", 110},
    {"15.00.2000", "RTM", "Microsoft SQL Server 2019 (RTM) - 15.00.2000 (X64) ", 983040, "NT x64",
     "2019.0150.2000.00", 150},
};

TEST_F(VersionsTest, EachVersionDescribesItselfTheSameWayEverywhere) {
  for (const VersionFacts& facts : kVersions) {
    SCOPED_TRACE(facts.version);
    EXPECT_EQ(ProductLevelOf(facts.version), facts.level);
    auto session = SessionOn(facts.version);
    if (std::stoi(facts.version) >= 8) {  // 7.0 has no SERVERPROPERTY
      EXPECT_EQ(ScalarOn(*session, "SELECT SERVERPROPERTY('ProductVersion')"),
                Value(facts.version));
      EXPECT_EQ(ScalarOn(*session, "SELECT SERVERPROPERTY('ProductLevel')"), Value(facts.level));
    }
    std::string text = ScalarOn(*session, "SELECT @@VERSION").ToText();
    EXPECT_EQ(text.substr(0, text.find('\n')), facts.first_line);

    std::map<std::string, std::vector<Value>> msver;
    for (auto& row : Query(*session, "EXEC master..xp_msver").rows) msver[row[1].ToText()] = row;
    EXPECT_EQ(msver["ProductVersion"].at(2), Value(facts.internal_version));
    EXPECT_EQ(msver["ProductVersion"].at(3), Value(facts.version));
    EXPECT_EQ(msver["FileVersion"].at(3), Value(facts.file_version));
    EXPECT_EQ(msver["Platform"].at(3), Value(facts.platform));
    // The Windows version's number and build, packed as the server packs them.
    EXPECT_GT(msver["WindowsVersion"].at(2).ToInt().value_or(0), 0);

    Ok(*session, "CREATE DATABASE Work");
    EXPECT_EQ(ScalarOn(*session, "SELECT cmptlevel FROM master..sysdatabases WHERE name = 'Work'"),
              Value(facts.compatibility_level));
  }
}

TEST_F(VersionsTest, OnlyVersionNumbersOfSevenAndLaterAreProductVersions) {
  for (const char* good : {"7.00.1063", "8.00.2039", "9.00.5000", "10.50.6000", "15.00.2000"})
    EXPECT_TRUE(IsProductVersion(good)) << good;
  for (const char* bad : {"", "6.50.201", "15", "15.0", "15.0.2000", "15.00.", "x.00.1",
                          "15.00.2000'; --", "115.00.1", "15.00.123456", "\xC3\xA9.00.1"})
    EXPECT_FALSE(IsProductVersion(bad)) << bad;
}

TEST_F(VersionsTest, ShortNamesStandForTheLastServicePack) {
  const std::pair<const char*, const char*> cases[] = {
      {"7", "7.00.1063"},        {"7.0", "7.00.1063"},   {"7.00", "7.00.1063"},
      {"8.00", "8.00.2039"},     {"2000", "8.00.2039"},  {"2008 R2", "10.50.6000"},
      {"8.00.194", "8.00.194"},  // a full build is kept as given
  };
  for (const auto& [name, build] : cases) EXPECT_EQ(ProductVersionNamed(name), build) << name;
  for (const char* bad : {"", "6.5", "7.1", "7.000", "1999", " 2000", "2000'; --", "\xC3\xA9"})
    EXPECT_FALSE(ProductVersionNamed(bad).has_value()) << bad;
}

// What a version removed, refused there with that version's error and accepted before it.
struct Removal {
  const char* statement;
  int removed_in;  // the first major version without it
  int error;
  const char* text;
  const char* check;  // a query whose answer shows whether the statement took effect
  const char* effect;
};

const Removal kRemovals[] = {
    {"BACKUP LOG Work WITH TRUNCATE_ONLY", 10, 155,
     "'TRUNCATE_ONLY' is not a recognized BACKUP option.", nullptr, nullptr},
    {"BACKUP LOG [Work] WITH NO_LOG", 10, 155, "'NO_LOG' is not a recognized BACKUP option.",
     nullptr, nullptr},
    {"EXEC sp_dboption 'Work', 'autoshrink', 'true'", 11, 2812,
     "Could not find stored procedure 'sp_dboption'.",
     "SELECT DATABASEPROPERTY('Work', 'IsAutoShrink')", "1"},
    {"sp_dboption @dbname ='Work' , @optname = 'read only', @optvalue = 'true'", 11, 2812,
     "Could not find stored procedure 'sp_dboption'.",
     "SELECT DATABASEPROPERTY('Work', 'IsReadOnly')", "1"},
    {"EXEC [SP_DBOPTION] 'Work', 'autoshrink', 'true'", 11, 2812,
     "Could not find stored procedure 'SP_DBOPTION'.",
     "SELECT DATABASEPROPERTY('Work', 'IsAutoShrink')", "1"},
};

TEST_F(VersionsTest, WhatAVersionRemovedIsRefusedThereAndChangesNothing) {
  for (const VersionFacts& facts : kVersions) {
    const int major = std::stoi(facts.version);
    auto session = SessionOn(facts.version);
    for (const Removal& removal : kRemovals) {
      SCOPED_TRACE(std::string(facts.version) + ": " + removal.statement);
      Ok(*session, "CREATE DATABASE Work");
      std::string before =
          removal.check ? ScalarOn(*session, removal.check).ToText() : std::string();
      CollectingSink sink = Run(*session, removal.statement);
      if (major >= removal.removed_in) {
        ASSERT_EQ(sink.FirstError(), removal.error) << sink.ErrorText();
        EXPECT_EQ(sink.Errors().at(0)->text, removal.text);
        if (removal.check) {
          EXPECT_EQ(ScalarOn(*session, removal.check).ToText(), before);
        }
      } else {
        EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
        if (removal.check) {
          EXPECT_EQ(ScalarOn(*session, removal.check).ToText(), removal.effect);
        }
      }
      Ok(*session, "DROP DATABASE Work");
    }
  }
}

TEST_F(VersionsTest, AnUnknownBackupOptionStopsTheBatchOnLaterVersions) {
  auto session = SessionOn("15.00.2000");
  Ok(*session, "CREATE DATABASE Work CREATE TABLE Work..t (a INT)");
  CollectingSink sink =
      Run(*session, "BACKUP LOG Work WITH TRUNCATE_ONLY INSERT INTO Work..t VALUES (1)");
  EXPECT_EQ(sink.FirstError(), 155);
  EXPECT_EQ(ScalarOn(*session, "SELECT COUNT(*) FROM Work..t"), Value(0));
  // The procedures the later versions kept are still there.
  Ok(*session, "EXEC sp_renamedb 'Work', 'Renamed'");
  Ok(*session, "EXEC sp_helpdb 'Renamed'");
}

TEST_F(VersionsTest, TheRecoveryModelIsSwitchedAndReported) {
  for (const char* version : {"8.00.2039", "15.00.2000"}) {
    SCOPED_TRACE(version);
    auto session = SessionOn(version);
    Ok(*session, "CREATE DATABASE [Work; it's]");
    const std::string property = "SELECT DATABASEPROPERTYEX('Work; it''s', 'Recovery')";
    EXPECT_EQ(ScalarOn(*session, property), Value("FULL"));
    for (const char* model : {"SIMPLE", "BULK_LOGGED", "FULL", "simple"}) {
      Ok(*session, std::string("ALTER DATABASE [Work; it's] SET RECOVERY ") + model);
      std::string upper = model;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(ScalarOn(*session, property), Value(upper));
    }
    // A log of a database in simple recovery is shrunk without being backed up.
    Ok(*session, "USE [Work; it's] DBCC SHRINKFILE([Work; it's_log], 0) USE master");

    for (const char* hostile : {"ALTER DATABASE [Work; it's] SET RECOVERY [FULL'; DROP --]",
                                "ALTER DATABASE [Work; it's] SET RECOVERY NONE",
                                "ALTER DATABASE [Work; it's] SET RECOVERY \xC3\xA9t\xC3\xA9"}) {
      EXPECT_NE(Run(*session, hostile).FirstError(), 0) << hostile;
      EXPECT_EQ(ScalarOn(*session, property), Value("SIMPLE"));
    }
    EXPECT_EQ(
        Run(*session, "BEGIN TRAN ALTER DATABASE [Work; it's] SET RECOVERY FULL").FirstError(),
        226);
    Ok(*session, "IF @@TRANCOUNT > 0 ROLLBACK");
    EXPECT_EQ(ScalarOn(*session, property), Value("SIMPLE"));
  }
}

}  // namespace
}  // namespace sandbox::testing
