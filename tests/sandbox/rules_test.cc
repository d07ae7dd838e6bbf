// The building blocks of the server's value rules, tested on their own: LIKE, the collation,
// conversions of dates, GUIDs and numbers, and the machine's drive paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/machine.h"
#include "sandbox/sql_error.h"
#include "sandbox/types.h"

namespace sandbox {
namespace {

using common::Value;

TEST(LikeTest, PatternsAsTransactSqlReadsThem) {
  EXPECT_TRUE(LikeMatch("a%", "ABC"));
  EXPECT_TRUE(LikeMatch("%b%", "abc"));
  EXPECT_FALSE(LikeMatch("%d%", "abc"));
  EXPECT_TRUE(LikeMatch("_b_", "abc"));
  EXPECT_FALSE(LikeMatch("_b", "abc"));
  EXPECT_TRUE(LikeMatch("[a-c]%", "Beta"));
  EXPECT_FALSE(LikeMatch("[^a-c]%", "beta"));
  EXPECT_TRUE(LikeMatch("[^a-c]%", "delta"));
  EXPECT_TRUE(LikeMatch("100[%]", "100%"));
  EXPECT_FALSE(LikeMatch("100[%]", "1000"));
  EXPECT_TRUE(LikeMatch("a!%b", "a%b", '!'));
  EXPECT_FALSE(LikeMatch("a!%b", "axb", '!'));
  EXPECT_TRUE(LikeMatch("%%%", ""));
  EXPECT_TRUE(LikeMatch("[abc", "[abc"));  // an unclosed bracket is a character
  EXPECT_TRUE(LikeMatch("ü%", "Über"));
  // Several runs over a long text that does not match end in good time.
  std::string text(20000, 'a');
  EXPECT_FALSE(LikeMatch("%a%a%a%b", text));
}

TEST(CollationTest, CaseBlindAccentAwareAndBlankTolerant) {
  EXPECT_EQ(CollateCompare("abc", "ABC"), 0);
  EXPECT_EQ(CollateCompare("abc", "abc   "), 0);
  EXPECT_NE(CollateCompare("a", "ä"), 0);
  EXPECT_EQ(CollateCompare("ÄRGER", "ärger"), 0);
  EXPECT_LT(CollateCompare("a", "ä"), 0);
  EXPECT_LT(CollateCompare("ä", "b"), 0);  // accents sort beside their letter, not after z
  EXPECT_LT(CollateCompare("Zebra", "zulu"), 0);
  EXPECT_GT(CollateCompare("abcd", "abc"), 0);
  EXPECT_TRUE(EqualsNoCase("Straße", "STRAßE"));
  EXPECT_EQ(Upper("éà ÿ"), "ÉÀ Ÿ");
  EXPECT_EQ(CodePointCount("äöü"), 3u);
  EXPECT_EQ(CodePointPrefix("äöü", 2), "äö");
}

TEST(ConvertTest, DatesFromTheTextsSqlServerAccepts) {
  auto date = [](const char* text) {
    return *Convert(Value(text), SqlType::DateTimeType(), Fit::kFail).AsText();
  };
  EXPECT_EQ(date("2003-01-31"), "2003-01-31 00:00:00.000");
  EXPECT_EQ(date("20030131"), "2003-01-31 00:00:00.000");
  EXPECT_EQ(date("1/31/2003 1:02:03 PM"), "2003-01-31 13:02:03.000");
  EXPECT_EQ(date("Jan 31 2003 12:00AM"), "2003-01-31 00:00:00.000");
  EXPECT_EQ(date("2003-01-31T10:20:30.5"), "2003-01-31 10:20:30.500");
  EXPECT_EQ(date(""), "1900-01-01 00:00:00.000");
  EXPECT_THROW(date("2003-02-30"), SqlError);
  EXPECT_THROW(date("31.31.2003"), SqlError);
  EXPECT_THROW(date("1752-12-31"), SqlError);
  EXPECT_EQ(*Convert(Value(37622), SqlType::DateTimeType(), Fit::kFail).AsText(),
            "2003-01-03 00:00:00.000");  // numbers count days from 1900-01-01
  EXPECT_EQ(DateTimeDefaultText(common::DateTime{2003, 1, 1, 13, 5, 0, 0}), "Jan  1 2003  1:05PM");
}

TEST(ConvertTest, NumbersBitsAndGuids) {
  SqlType tiny{TypeKind::kTinyInt};
  EXPECT_EQ(Convert(Value(255), tiny, Fit::kFail), Value(255));
  try {
    Convert(Value(256), tiny, Fit::kFail);
    ADD_FAILURE() << "256 fits no tinyint";
  } catch (const SqlError& e) {
    EXPECT_EQ(e.number(), 220);
    EXPECT_EQ(e.message().text, "Arithmetic overflow error for data type tinyint, value = 256.");
  }
  EXPECT_EQ(Convert(Value(2.9), SqlType::Int(), Fit::kFail), Value(2));
  EXPECT_EQ(Convert(Value(" 42 "), SqlType::Int(), Fit::kFail), Value(42));
  EXPECT_THROW(Convert(Value("4.2"), SqlType::Int(), Fit::kFail), SqlError);
  EXPECT_EQ(Convert(Value(-1), SqlType::Bit(), Fit::kFail), Value(1));
  EXPECT_EQ(Convert(Value("false"), SqlType::Bit(), Fit::kFail), Value(0));
  SqlType money{TypeKind::kDecimal, 0, 5, 2};
  EXPECT_EQ(Convert(Value(1.006), money, Fit::kFail), Value(1.01));
  EXPECT_THROW(Convert(Value(1000.0), money, Fit::kFail), SqlError);
  SqlType guid{TypeKind::kUniqueIdentifier};
  EXPECT_EQ(Convert(Value("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"), guid, Fit::kFail),
            Value("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
  EXPECT_THROW(Convert(Value("6f9619ff"), guid, Fit::kFail), SqlError);
  EXPECT_EQ(Convert(Value("abc"), SqlType{TypeKind::kChar, 5}, Fit::kFail), Value("abc  "));
  EXPECT_EQ(Convert(Value(common::Bytes{1, 2, 3}), SqlType{TypeKind::kVarBinary, 2}, Fit::kCut),
            Value(common::Bytes{1, 2}));
  EXPECT_THROW(Convert(Value(common::Bytes{1, 2, 3}), SqlType{TypeKind::kVarBinary, 2}, Fit::kFail),
               SqlError);
  EXPECT_EQ(Convert(Value(), SqlType::Int(), Fit::kFail), Value());
}

TEST(TypeTest, NamesAndClientForms) {
  EXPECT_EQ(TypeFromName("INTEGER")->Name(), "int");
  EXPECT_EQ(TypeFromName("sysname")->Declaration(), "nvarchar(128)");
  EXPECT_EQ(TypeFromName("decimal", 2, 10, 2)->Declaration(), "decimal(10,2)");
  EXPECT_EQ(TypeFromName("float", 1, 10)->kind, TypeKind::kReal);
  EXPECT_FALSE(TypeFromName("Long"));
  EXPECT_EQ(TypeFromName("ntext")->ClientSize(), 1073741823);
  EXPECT_EQ(ToClient(Value(1), SqlType::Bit()), Value(true));
  EXPECT_EQ(ToClient(Value("2003-01-01 10:00:00.000"), SqlType::DateTimeType()),
            Value(common::DateTime{2003, 1, 1, 10, 0, 0, 0}));
  EXPECT_EQ(FromClient(Value(common::DateTime{2003, 1, 1, 10, 0, 0, 5})),
            Value("2003-01-01 10:00:00.005"));
  EXPECT_EQ(FromClient(Value(false)), Value(0));
}

TEST(MachineTest, DrivePathsStayOnTheirDrive) {
  std::filesystem::path root = std::filesystem::temp_directory_path() / "sandbox-machine-test";
  std::filesystem::remove_all(root);
  Machine machine(root);
  ASSERT_TRUE(machine.CreateFolders("C:\\Data\\Sub"));
  EXPECT_EQ(*machine.ToHost("c:\\DATA\\sub\\x.mdf"),
            root / "drives" / "C" / "Data" / "Sub" / "x.mdf");
  EXPECT_EQ(*machine.ToHost("C:/Data/../../../etc/passwd"),
            root / "drives" / "C" / "etc" / "passwd");
  EXPECT_FALSE(machine.ToHost("x.mdf"));
  EXPECT_FALSE(machine.ToHost("\\\\server\\share\\x.mdf"));
  EXPECT_FALSE(machine.ToHost("C:x.mdf"));
  EXPECT_EQ(*machine.ToMachine(root / "drives" / "C" / "Data" / "x.mdf"), "C:\\Data\\x.mdf");
  EXPECT_EQ(Machine::FolderOf("C:\\Data\\x.mdf"), "C:\\Data");
  EXPECT_EQ(Machine::FolderOf("C:\\x.mdf"), "C:\\");
  EXPECT_EQ(Machine::Join("C:\\", "x.mdf"), "C:\\x.mdf");
  EXPECT_TRUE(Machine::SamePath("C:\\Data\\X.MDF", "c:/data/x.mdf"));
  std::filesystem::remove_all(root);
}

// A file is found under any spelling of its name; where two files differ only in case (made
// on this host), the spelling written finds its own file, and another spelling one of them.
TEST(MachineTest, FileNamesMatchWithoutRegardToCase) {
  std::filesystem::path root = std::filesystem::temp_directory_path() / "sandbox-machine-case";
  std::filesystem::remove_all(root);
  Machine machine(root);
  ASSERT_TRUE(machine.CreateFolders("C:\\Data"));
  std::filesystem::path data = root / "drives" / "C" / "Data";
  for (const char* name : {"Sales.mdf", "SALES.MDF", "Only.LDF"}) std::ofstream(data / name) << "x";
  const struct {
    const char* machine_path;
    std::vector<std::string> hosts;  // any of these
  } cases[] = {
      {"C:\\Data\\Sales.mdf", {"Sales.mdf"}},
      {"C:\\DATA\\SALES.MDF", {"SALES.MDF"}},
      {"c:\\data\\sales.MDF", {"Sales.mdf", "SALES.MDF"}},
      {"C:\\Data\\only.ldf", {"Only.LDF"}},
      {"C:\\Data\\New.mdf", {"New.mdf"}},  // not there: as written
  };
  for (const auto& c : cases) {
    std::optional<std::filesystem::path> host = machine.ToHost(c.machine_path);
    ASSERT_TRUE(host) << c.machine_path;
    EXPECT_EQ(host->parent_path(), data) << c.machine_path;
    EXPECT_NE(std::find(c.hosts.begin(), c.hosts.end(), host->filename().string()), c.hosts.end())
        << c.machine_path << " -> " << *host;
  }
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace sandbox
