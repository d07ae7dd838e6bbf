#include "db/sql_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <limits>
#include <string>

namespace db {
namespace {

using common::Value;

TEST(SqlTextTest, LiteralsForEveryKindOfValue) {
  EXPECT_EQ(SqlLiteral(Value()), "NULL");
  EXPECT_EQ(SqlLiteral(Value(true)), "1");
  EXPECT_EQ(SqlLiteral(Value(false)), "0");
  EXPECT_EQ(SqlLiteral(Value(-42)), "-42");
  EXPECT_EQ(SqlLiteral(Value(0.1)), "0.1");
  EXPECT_EQ(SqlLiteral(Value(std::numeric_limits<double>::infinity())), "NULL");
  EXPECT_EQ(SqlLiteral(Value(std::numeric_limits<double>::quiet_NaN())), "NULL");
  EXPECT_EQ(SqlLiteral(Value("")), "''");
  EXPECT_EQ(SqlLiteral(Value("it's")), "'it''s'");
  EXPECT_EQ(SqlLiteral(Value("''")), "''''''");
  EXPECT_EQ(SqlLiteral(Value("x"), true), "N'x'");
  EXPECT_EQ(SqlLiteral(Value(common::DateTime{1899, 12, 30})), "'1899-12-30T00:00:00.000'");
  EXPECT_EQ(SqlLiteral(Value(common::Bytes{})), "0x");
  EXPECT_EQ(SqlLiteral(Value(common::Bytes{0x00, 0xAB, 0xff})), "0x00ABFF");
  auto guid = common::Guid::Parse("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  ASSERT_TRUE(guid.has_value());
  EXPECT_EQ(SqlLiteral(Value(*guid)), "'6F9619FF-8B86-D011-B42D-00C04FC964FF'");
}

TEST(SqlTextTest, HostileTextStaysInsideItsLiteral) {
  std::string hostile = "'); DROP DATABASE master; --";
  std::string literal = SqlLiteral(Value(hostile));
  EXPECT_EQ(literal, "'''); DROP DATABASE master; --'");
  // Every quote inside is doubled, so the literal ends exactly at its last character.
  std::string inside = literal.substr(1, literal.size() - 2);
  for (size_t i = 0; i < inside.size(); ++i) {
    if (inside[i] == '\'') {
      ASSERT_LT(i + 1, inside.size());
      EXPECT_EQ(inside[i + 1], '\'');
      ++i;
    }
  }
  std::string long_text(100000, '\'');
  EXPECT_EQ(SqlLiteral(Value(long_text)).size(), 200002u);
}

TEST(SqlTextTest, NamesAreBracketedWhenTheyAreNotPlain) {
  EXPECT_EQ(SqlName("Document"), "Document");
  EXPECT_EQ(SqlName("dbo.Document"), "dbo.Document");
  EXPECT_EQ(SqlName("master..sysdatabases"), "master..sysdatabases");
  EXPECT_EQ(SqlName("#temp"), "#temp");
  EXPECT_EQ(SqlName("my table"), "[my table]");
  EXPECT_EQ(SqlName("file"), "[file]");  // reserved
  EXPECT_EQ(SqlName("a]b"), "[a]]b]");
  EXPECT_EQ(SqlName("x; DROP TABLE y"), "[x; DROP TABLE y]");
  EXPECT_EQ(SqlName("[already quoted]"), "[already quoted]");
  EXPECT_EQ(SqlName("[a.b].c"), "[a.b].c");
  EXPECT_EQ(SqlName("[bad]name]"), "[[bad]]name]]]");
  EXPECT_EQ(SqlName("1abc"), "[1abc]");
  EXPECT_EQ(SqlName(std::string(200, 'a')), "[" + std::string(200, 'a') + "]");
  EXPECT_FALSE(IsPlainIdentifier(""));
  EXPECT_FALSE(IsPlainIdentifier("Select"));
  EXPECT_TRUE(IsPlainIdentifier("Quillarchive_Sales"));
}

// SQL Server 2000's reserved keywords and the ODBC ones its documentation lists: each works as a
// name only in brackets, in any case.
// clang-format off
const char* const kKeywords[] = {
    "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BACKUP", "BEGIN", "BETWEEN",
    "BREAK", "BROWSE", "BULK", "BY", "CASCADE", "CASE", "CHECK", "CHECKPOINT", "CLOSE", "CLUSTERED",
    "COALESCE", "COLLATE", "COLUMN", "COMMIT", "COMPUTE", "CONSTRAINT", "CONTAINS", "CONTAINSTABLE",
    "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME",
    "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATABASE", "DBCC", "DEALLOCATE", "DECLARE",
    "DEFAULT", "DELETE", "DENY", "DESC", "DISK", "DISTINCT", "DISTRIBUTED", "DOUBLE", "DROP",
    "DUMMY", "DUMP", "ELSE", "END", "ERRLVL", "ESCAPE", "EXCEPT", "EXEC", "EXECUTE", "EXISTS",
    "EXIT", "FETCH", "FILE", "FILLFACTOR", "FOR", "FOREIGN", "FREETEXT", "FREETEXTTABLE", "FROM",
    "FULL", "FUNCTION", "GOTO", "GRANT", "GROUP", "HAVING", "HOLDLOCK", "IDENTITY", "IDENTITYCOL",
    "IDENTITY_INSERT", "IF", "IN", "INDEX", "INNER", "INSERT", "INTERSECT", "INTO", "IS", "JOIN",
    "KEY", "KILL", "LEFT", "LIKE", "LINENO", "LOAD", "NATIONAL", "NOCHECK", "NONCLUSTERED", "NOT",
    "NULL", "NULLIF", "OF", "OFF", "OFFSETS", "ON", "OPEN", "OPENDATASOURCE", "OPENQUERY",
    "OPENROWSET", "OPENXML", "OPTION", "OR", "ORDER", "OUTER", "OVER", "PERCENT", "PLAN",
    "PRECISION", "PRIMARY", "PRINT", "PROC", "PROCEDURE", "PUBLIC", "RAISERROR", "READ", "READTEXT",
    "RECONFIGURE", "REFERENCES", "REPLICATION", "RESTORE", "RESTRICT", "RETURN", "REVOKE", "RIGHT",
    "ROLLBACK", "ROWCOUNT", "ROWGUIDCOL", "RULE", "SAVE", "SCHEMA", "SELECT", "SESSION_USER", "SET",
    "SETUSER", "SHUTDOWN", "SOME", "STATISTICS", "SYSTEM_USER", "TABLE", "TEXTSIZE", "THEN", "TO",
    "TOP", "TRAN", "TRANSACTION", "TRIGGER", "TRUNCATE", "TSEQUAL", "UNION", "UNIQUE", "UPDATE",
    "UPDATETEXT", "USE", "USER", "VALUES", "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE",
    "WITH", "WRITETEXT",
    "ABSOLUTE", "ACTION", "ADA", "ALLOCATE", "ARE", "ASSERTION", "AT", "AVG", "BIT", "BIT_LENGTH",
    "BOTH", "CASCADED", "CAST", "CATALOG", "CHAR", "CHARACTER", "CHARACTER_LENGTH", "CHAR_LENGTH",
    "COLLATION", "CONNECT", "CONNECTION", "CONSTRAINTS", "CORRESPONDING", "COUNT", "DATE", "DAY",
    "DEC", "DECIMAL", "DEFERRABLE", "DEFERRED", "DESCRIBE", "DESCRIPTOR", "DIAGNOSTICS",
    "DISCONNECT", "DOMAIN", "EXCEPTION", "EXTERNAL", "EXTRACT", "FALSE", "FIRST", "FLOAT",
    "FORTRAN", "FOUND", "GET", "GLOBAL", "GO", "HOUR", "IMMEDIATE", "INCLUDE", "INDICATOR",
    "INITIALLY", "INPUT", "INSENSITIVE", "INT", "INTEGER", "INTERVAL", "ISOLATION", "LANGUAGE",
    "LAST", "LEADING", "LEVEL", "LOCAL", "LOWER", "MATCH", "MAX", "MIN", "MINUTE", "MODULE",
    "MONTH", "NAMES", "NATURAL", "NCHAR", "NEXT", "NO", "NONE", "NUMERIC", "OCTET_LENGTH", "ONLY",
    "OUTPUT", "OVERLAPS", "PAD", "PARTIAL", "PASCAL", "POSITION", "PREPARE", "PRESERVE", "PRIOR",
    "PRIVILEGES", "REAL", "RELATIVE", "ROWS", "SCROLL", "SECOND", "SECTION", "SESSION", "SIZE",
    "SMALLINT", "SPACE", "SQL", "SQLCA", "SQLCODE", "SQLERROR", "SQLSTATE", "SQLWARNING",
    "SUBSTRING", "SUM", "TEMPORARY", "TIME", "TIMESTAMP", "TIMEZONE_HOUR", "TIMEZONE_MINUTE",
    "TRAILING", "TRANSLATE", "TRANSLATION", "TRIM", "TRUE", "UNKNOWN", "UPPER", "USAGE", "USING",
    "VALUE", "VARCHAR", "WHENEVER", "WORK", "WRITE", "YEAR", "ZONE"};
// clang-format on

TEST(SqlTextTest, EveryReservedKeywordIsBracketed) {
  EXPECT_EQ(std::size(kKeywords), 174u + 127u);
  for (std::string word : kKeywords) {
    SCOPED_TRACE(word);
    EXPECT_FALSE(IsPlainIdentifier(word));
    EXPECT_EQ(SqlName(word), "[" + word + "]");
    std::string mixed = word;
    for (std::size_t i = 1; i < mixed.size(); i += 2)
      mixed[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mixed[i])));
    EXPECT_EQ(SqlName("dbo." + mixed), "dbo.[" + mixed + "]");
    // Words that only contain a keyword stay plain.
    EXPECT_TRUE(IsPlainIdentifier(word + "_1"));
  }
}

}  // namespace
}  // namespace db
