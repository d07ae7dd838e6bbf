#include "db/sql_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace db {

namespace {

// SQL Server 2000's reserved keywords: a name that is one of them works only in brackets. Both
// lists are sorted for binary_search.
// clang-format off
constexpr std::string_view kReserved[] = {
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
    "WITH", "WRITETEXT"};

// The ODBC reserved keywords SQL Server's documentation lists beside its own, so that names stay
// usable through any ODBC layer (the words both lists hold are above).
constexpr std::string_view kOdbcReserved[] = {
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
static_assert(std::is_sorted(std::begin(kReserved), std::end(kReserved)));
static_assert(std::is_sorted(std::begin(kOdbcReserved), std::end(kOdbcReserved)));

bool IsReserved(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::binary_search(std::begin(kReserved), std::end(kReserved), upper) ||
         std::binary_search(std::begin(kOdbcReserved), std::end(kOdbcReserved), upper);
}

std::string QuotePart(std::string_view part) {
  if (part.size() >= 2 && part.front() == '[' && part.back() == ']') {
    // Already bracketed: keep it when the inside has no lone "]".
    std::string_view inside = part.substr(1, part.size() - 2);
    bool valid = true;
    for (size_t i = 0; i < inside.size(); ++i) {
      if (inside[i] == ']') {
        if (i + 1 < inside.size() && inside[i + 1] == ']') {
          ++i;
        } else {
          valid = false;
          break;
        }
      }
    }
    if (valid) return std::string(part);
  }
  if (IsPlainIdentifier(part)) return std::string(part);
  std::string out = "[";
  for (char c : part) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

}  // namespace

bool IsPlainIdentifier(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  auto first = static_cast<unsigned char>(name[0]);
  if (!(std::isalpha(first) || first == '_' || first == '#' || first == '@')) return false;
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (!(std::isalnum(c) || c == '_' || c == '#' || c == '@' || c == '$')) return false;
  }
  return !IsReserved(name);
}

std::string SqlName(std::string_view name) {
  // Split on dots outside brackets, so "dbo.Document" and "[a.b].c" keep their parts.
  std::string out;
  size_t start = 0;
  bool in_brackets = false;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size()) {
      char c = name[i];
      if (c == '[' && !in_brackets && i == start) {
        in_brackets = true;
        continue;
      }
      if (c == ']' && in_brackets) {
        if (i + 1 < name.size() && name[i + 1] == ']') {
          ++i;
          continue;
        }
        in_brackets = false;
        continue;
      }
      if (c != '.' || in_brackets) continue;
    }
    std::string_view part = name.substr(start, i - start);
    if (!out.empty() || start > 0) out += '.';
    // An empty part ("master..sysdatabases") stays empty: the server's default schema.
    if (!part.empty()) out += QuotePart(part);
    start = i + 1;
  }
  return out;
}

std::string SqlLiteral(const common::Value& value, bool national) {
  using Type = common::Value::Type;
  switch (value.type()) {
    case Type::kNull:
      return "NULL";
    case Type::kBool:
      return *value.ToBool() ? "1" : "0";
    case Type::kInt:
      return value.ToText();
    case Type::kDouble: {
      // Infinities and NaN have no literal; NULL is the nearest the server can store.
      double d = *value.ToDouble();
      if (!std::isfinite(d)) return "NULL";
      return value.ToText();
    }
    case Type::kText: {
      // Documents make literals of many kilobytes: copied in runs between quotes.
      const std::string& text = *value.AsText();
      std::string out;
      out.reserve(text.size() + 3);
      out += national ? "N'" : "'";
      std::size_t start = 0;
      for (std::size_t quote = text.find('\''); quote != std::string::npos;
           quote = text.find('\'', start)) {
        out.append(text, start, quote + 1 - start);
        out += '\'';
        start = quote + 1;
      }
      out.append(text, start, std::string::npos);
      out += '\'';
      return out;
    }
    case Type::kDateTime: {
      const common::DateTime& d = *value.AsDateTime();
      char buffer[48];
      std::snprintf(buffer, sizeof buffer, "'%04d-%02d-%02dT%02d:%02d:%02d.%03d'", d.year, d.month,
                    d.day, d.hour, d.minute, d.second, d.millisecond);
      return buffer;
    }
    case Type::kBinary: {
      static const char* kHex = "0123456789ABCDEF";
      const common::Bytes& bytes = *value.AsBytes();
      std::string out(2 + 2 * bytes.size(), '\0');
      out[0] = '0';
      out[1] = 'x';
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 + 2 * i] = kHex[bytes[i] >> 4];
        out[3 + 2 * i] = kHex[bytes[i] & 15];
      }
      return out;
    }
    case Type::kGuid: {
      std::string text = value.AsGuid()->ToText();
      return "'" + text.substr(1, text.size() - 2) + "'";
    }
  }
  return "NULL";
}

}  // namespace db
