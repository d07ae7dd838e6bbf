#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "format/install_script.h"
#include "format/names.h"
#include "format/procedures.h"

namespace format {
namespace {

constexpr char kGuid[] = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";

std::vector<std::string> Script() { return InstallationScript({kGuid, 37622}); }

// The text literals of a T-SQL statement, quotes undoubled, plus whatever follows the last one.
struct Literals {
  std::vector<std::string> values;
  std::string tail;
  bool unterminated = false;
};

Literals ScanLiterals(const std::string& statement) {
  Literals result;
  std::size_t i = 0;
  std::size_t after_last = 0;
  while (i < statement.size()) {
    if (statement[i] != '\'') {
      ++i;
      continue;
    }
    std::string value;
    ++i;
    for (;;) {
      if (i >= statement.size()) {
        result.unterminated = true;
        return result;
      }
      if (statement[i] == '\'') {
        if (i + 1 < statement.size() && statement[i + 1] == '\'') {
          value += '\'';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      value += statement[i++];
    }
    result.values.push_back(value);
    after_last = i;
  }
  result.tail = statement.substr(after_last);
  return result;
}

std::size_t IndexOf(const std::vector<std::string>& script, const std::string& statement) {
  auto it = std::find(script.begin(), script.end(), statement);
  EXPECT_NE(it, script.end()) << "missing: " << statement;
  return static_cast<std::size_t>(it - script.begin());
}

TEST(InstallationScriptTest, HasEveryStatementInOrderWithItsExactText) {
  const auto script = Script();
  ASSERT_EQ(script.size(), kInstallationStatementCount);
  EXPECT_EQ(script[0], "EXEC sp_addrole @rolename = 'qa_reader'");
  EXPECT_EQ(script[1], "GRANT CREATE TABLE TO qa_reader");
  EXPECT_EQ(script[3], "EXEC sp_addrole @rolename = 'qa_structurer'");
  // The odd spacing is part of the text the desktop application's format was made with.
  EXPECT_THAT(script[4], testing::StartsWith("CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY "
                                             "(1,1) NOT NULL, UniqueID uniqueidentifier, "));
  EXPECT_THAT(script[4], testing::HasSubstr("VisibleInFolderID SMALLINT DEFAULT 0 ,Url "));
  EXPECT_THAT(
      script[4],
      testing::EndsWith("Status INT DEFAULT 0 CONSTRAINT PK_Document PRIMARY KEY ( EntryID ) )"));
  EXPECT_EQ(script[18],
            "CREATE TABLE dbo.SubFolder ( ParentFolderID SMALLINT NOT NULL , "
            "ChildFolderID SMALLINT NOT NULL )");
  EXPECT_EQ(script[24],
            "CREATE TABLE dbo.Category (CategoryID SMALLINT NOT NULL , Name "
            "NVARCHAR(100) NOT NULL DEFAULT '', Comment NVARCHAR(4000) NULL DEFAULT "
            "'', CONSTRAINT PK_Category PRIMARY KEY ( CategoryID ) )");
  EXPECT_EQ(script[25],
            "INSERT INTO dbo.Category (CategoryID, Name ) VALUES (1, 'Wurzelkategorie')");
  EXPECT_EQ(script[35], "GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader");
  EXPECT_EQ(script[38],
            "CREATE TABLE dbo.BlackList ( Url NVARCHAR(255) NOT NULL, Userdefined BIT);");
  EXPECT_EQ(script[77],
            "INSERT INTO Folder (FolderID, Name, CreationTime) Values (1, "
            "'Wurzelordner', current_timestamp);");
  EXPECT_EQ(script[112],
            "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 10, 'True');");
}

TEST(InstallationScriptTest, CreatesViewAndProceduresEachFollowedByItsGrant) {
  const auto script = Script();
  std::size_t previous = 0;
  for (const auto& object : ViewAndProcedures()) {
    SCOPED_TRACE(std::string(object.name));
    const auto count = std::count(script.begin(), script.end(), object.creation_text);
    ASSERT_EQ(count, 1);
    const std::size_t at = IndexOf(script, object.creation_text);
    EXPECT_GT(at, previous) << "out of order";
    previous = at;
    ASSERT_LT(at + 1, script.size());
    std::string grant;
    if (object.name == kSearchFolderView) {
      grant = "GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader";
    } else {
      std::string_view role = object.name == "DeleteDoc"      ? kWriterRole
                              : object.name == "DeleteFolder" ? kStructurerRole
                                                              : kReaderRole;
      grant = "GRANT EXEC ON " + std::string(object.name) + " TO " + std::string(role);
    }
    EXPECT_EQ(script[at + 1], grant);
  }
  // The view reads Folder and SubFolder, so it must come after both.
  EXPECT_LT(IndexOf(script, script[18]), IndexOf(script, CreationText("SearchFolderView").value()));
}

// The rights of each role, as the desktop application expects them.
TEST(InstallationScriptTest, GrantsGiveEachRoleExactlyItsRights) {
  const std::regex grant_re(R"(^GRANT (.+) ON (?:dbo\.)?(\w+) TO (\w+)$)");
  std::map<std::string, std::map<std::string, std::string>> rights;  // object -> role -> rights
  std::set<std::string> created;
  const std::regex create_re(R"(^CREATE (?:TABLE|VIEW|PROCEDURE|Procedure) (?:dbo\.)?(\w+))");
  for (const auto& statement : Script()) {
    std::smatch m;
    if (std::regex_search(statement, m, create_re)) created.insert(m[1]);
    if (!std::regex_match(statement, m, grant_re)) continue;
    EXPECT_TRUE(created.count(m[2])) << "granted before it exists: " << statement;
    EXPECT_TRUE(rights[m[2]][m[3]].empty()) << "granted twice: " << statement;
    rights[m[2]][m[3]] = m[1];
  }
  const std::string all = "SELECT, INSERT, UPDATE, DELETE";
  const std::string change = "INSERT, UPDATE, DELETE";
  std::map<std::string, std::map<std::string, std::string>> expected = {
      {"Document", {{"qa_reader", "SELECT"}, {"qa_writer", change}}},
      {"DocLink", {{"qa_reader", all}}},
      {"SubDocument", {{"qa_reader", "SELECT"}, {"qa_writer", change}}},
      {"Folder", {{"qa_reader", "SELECT"}, {"qa_structurer", change}}},
      {"SubFolder", {{"qa_reader", "SELECT"}, {"qa_structurer", change}}},
      {"Category", {{"qa_reader", "SELECT"}, {"qa_structurer", change}}},
      {"DocCategory", {{"qa_reader", "SELECT"}, {"qa_structurer", change}}},
      {"SubCategory", {{"qa_reader", "SELECT"}, {"qa_structurer", change}}},
      {"SearchFolderView", {{"qa_reader", "SELECT, UPDATE"}}},
      {"ExtendedField", {{"qa_reader", all}}},
      {"ExtendedData", {{"qa_reader", all}}},
      {"BlackList", {{"qa_reader", "SELECT"}, {"qa_writer", change}}},
      {"DeleteDoc", {{"qa_writer", "EXEC"}}},
      {"DeleteFolder", {{"qa_structurer", "EXEC"}}},
  };
  for (const auto& object : ViewAndProcedures()) {
    if (object.name != "DeleteDoc" && object.name != "DeleteFolder" &&
        object.name != kSearchFolderView) {
      expected[std::string(object.name)] = {{"qa_reader", "EXEC"}};
    }
  }
  EXPECT_EQ(rights, expected);
}

TEST(InstallationScriptTest, SeedsTheFolderTreeWithItsStatusAndVirtualFlag) {
  // Folder id -> name, status, virtual, parent (0: none).
  using Seed = std::tuple<std::string, int, int, int>;
  const std::map<int, Seed> expected = {
      {1, {"Wurzelordner", 0, 0, 0}},           {100, {"Schablonen", 1, 0, 1}},
      {110, {"Kategorien", 0, 0, 100}},         {140, {"Suchvorlagen", 2, 0, 100}},
      {150, {"Kontaktpersonen", 1, 0, 100}},    {200, {"Ideen", 2, 0, 1}},
      {300, {"Notierte Webadressen", 0, 0, 1}}, {400, {"Neu erfasste Dokumente", 0, 0, 1}},
      {500, {"Suchergebnisse", 2, -1, 1}},      {600, {"Gel\xC3\xB6schte Dokumente", 0, 0, 1}},
      {700, {"Dokumenteneingang", 2, 0, 1}},
  };
  const std::regex folder_re(
      R"(^INSERT INTO Folder \(FolderID, Name, CreationTime(, Status)?(, Virtual)?\) Values \((\d+), '([^']*)', current_timestamp(?:, (\d+))?(?:, (-?\d+))?\);$)");
  const std::regex link_re(
      R"(^INSERT INTO SubFolder \(ParentFolderID, ChildFolderID\) Values \((\d+), (\d+)\);$)");
  std::map<int, Seed> seeded;
  std::set<int> linked;
  for (const auto& statement : Script()) {
    std::smatch m;
    if (std::regex_match(statement, m, folder_re)) {
      const int id = std::stoi(m[3]);
      EXPECT_EQ(m[1].matched, m[5].matched) << statement;
      EXPECT_EQ(m[2].matched, m[6].matched) << statement;
      seeded[id] = {m[4], m[5].matched ? std::stoi(m[5]) : 0, m[6].matched ? std::stoi(m[6]) : 0,
                    0};
    } else if (std::regex_match(statement, m, link_re)) {
      const int parent = std::stoi(m[1]);
      const int child = std::stoi(m[2]);
      ASSERT_TRUE(seeded.count(parent)) << "link before its parent: " << statement;
      ASSERT_TRUE(seeded.count(child)) << "link before its child: " << statement;
      EXPECT_TRUE(linked.insert(child).second) << "second parent: " << statement;
      std::get<3>(seeded[child]) = parent;
    }
  }
  // Compared field by field, so that a wrong name shows which folder it is.
  ASSERT_EQ(seeded.size(), expected.size());
  EXPECT_EQ(linked.size(), 10u);
  for (const auto& [id, seed] : expected) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(seeded.count(id));
    EXPECT_EQ(std::get<0>(seeded[id]), std::get<0>(seed));
    EXPECT_EQ(std::get<1>(seeded[id]), std::get<1>(seed));
    EXPECT_EQ(std::get<2>(seeded[id]), std::get<2>(seed));
    EXPECT_EQ(std::get<3>(seeded[id]), std::get<3>(seed));
  }
  // UTF-8, not Latin-1: the text goes to an NVARCHAR column.
  EXPECT_EQ(std::get<0>(seeded[600]), "Gel\xC3\xB6schte Dokumente");
}

TEST(InstallationScriptTest, DefinesTheSeededExtendedFieldsAndCollectionProperties) {
  const auto script = Script();
  for (std::size_t i = 0; i < kSeededExtendedFields.size(); ++i) {
    const auto& field = kSeededExtendedFields[i];
    EXPECT_EQ(script[98 + i],
              "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (" +
                  std::to_string(field.id) + ", " + std::to_string(field.type) + ", '" +
                  std::string(field.name) + "');");
  }
  const std::string head = "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, ";
  EXPECT_EQ(script[107], head + "2, 'Server Archive');");
  EXPECT_EQ(script[108], head + "3, '" + std::string(kFormatVersion) + "');");
  EXPECT_EQ(script[108], head + "3, '1.61');");
  EXPECT_EQ(script[109], head + "6, '1.50');");
  EXPECT_EQ(script[110], head + "7, '" + kGuid + "');");
  EXPECT_EQ(script[111], head + "8, '37622');");
}

TEST(InstallationScriptTest, OnlyTheGuidAndDayStatementsDependOnTheValues) {
  const auto a = InstallationScript({kGuid, 37622});
  const auto b = InstallationScript({"", -3});
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i == 110 || i == 111) {
      EXPECT_NE(a[i], b[i]);
    } else {
      EXPECT_EQ(a[i], b[i]) << "statement " << i + 1;
    }
  }
  // No GUID could be made: the property is stored empty.
  EXPECT_EQ(b[110],
            "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7, '');");
  EXPECT_EQ(b[111],
            "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 8, '-3');");
}

TEST(InstallationScriptTest, HostileValuesStayInsideTheirLiteral) {
  const std::vector<std::string> hostile = {
      "x'); DROP TABLE Document; --",
      "'",
      "''",
      "{6B29FC40-CA47-1067-B31D-00DD010662DA}'",
      "[dbo].[Folder]; \"quoted\" \\ back",
      "Gel\xC3\xB6schte \xE2\x80\x99 Dokumente",
      std::string(100000, '\''),
  };
  for (const auto& value : hostile) {
    SCOPED_TRACE(value.substr(0, 60));
    const auto script = InstallationScript({value, 37622});
    ASSERT_EQ(script.size(), kInstallationStatementCount);
    const Literals literals = ScanLiterals(script[110]);
    ASSERT_FALSE(literals.unterminated);
    ASSERT_EQ(literals.values.size(), 1u);
    EXPECT_EQ(literals.values[0], value);
    EXPECT_EQ(literals.tail, ");");
    EXPECT_THAT(script[110], testing::StartsWith("INSERT INTO ExtendedData (EntryID, ExtFieldID, "
                                                 "FieldValue) VALUES (0, 7, '"));
  }
}

TEST(InstallationScriptTest, DayNumberCountsFromTheEndOf1899) {
  EXPECT_EQ(DayNumber({2003, 1, 1}), 37622);
  EXPECT_EQ(DayNumber({1899, 12, 30}), 0);
  EXPECT_EQ(DayNumber({1899, 12, 29}), -1);
  // 1900 was no leap year, 2000 was, 2100 will not be.
  EXPECT_EQ(DayNumber({1900, 2, 28}), 60);
  EXPECT_EQ(DayNumber({1900, 3, 1}), 61);
  EXPECT_EQ(DayNumber({2000, 2, 28}), 36584);
  EXPECT_EQ(DayNumber({2000, 3, 1}), 36586);
  EXPECT_EQ(DayNumber({2100, 3, 1}), 73110);
  EXPECT_EQ(DayNumber({9999, 12, 31}), 2958465);
  EXPECT_EQ(DayNumber({1, 1, 1}), -693593);
  // The time of day does not count: the day number is a whole day.
  EXPECT_EQ(DayNumber({2003, 1, 1, 23, 59, 59, 999}), 37622);
}

TEST(InstallationScriptTest, DayNumberRefusesWhatIsNoDate) {
  EXPECT_THROW(DayNumber({2003, 0, 1}), std::invalid_argument);
  EXPECT_THROW(DayNumber({2003, 13, 1}), std::invalid_argument);
  EXPECT_THROW(DayNumber({2003, 1, 0}), std::invalid_argument);
  EXPECT_THROW(DayNumber({2003, 1, 32}), std::invalid_argument);
  EXPECT_THROW(DayNumber({2003, 2, 29}), std::invalid_argument);
  EXPECT_THROW(DayNumber({1900, 2, 29}), std::invalid_argument);
  EXPECT_EQ(DayNumber({2004, 2, 29}), DayNumber({2004, 3, 1}) - 1);
  try {
    DayNumber({2003, 13, 1});
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), testing::HasSubstr("month 13"));
  }
}

}  // namespace
}  // namespace format
