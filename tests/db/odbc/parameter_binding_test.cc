// What the driver binds for a request with parameters; no server needed.
#include "db/drivers/odbc/parameter_binding.h"

#include <gtest/gtest.h>

#include <cstring>

#include "db/drivers/odbc/wide_text.h"
#include "db/error.h"
#include "db/odbc/odbc_fixture.h"

namespace db {
namespace {

std::string TextOf(const Binding& b) {
  if (b.c_type == SQL_C_CHAR) return std::string(b.buffer.begin(), b.buffer.end());
  WideString wide(b.buffer.size() / sizeof(SQLWCHAR), 0);
  std::memcpy(wide.data(), b.buffer.data(), wide.size() * sizeof(SQLWCHAR));
  return Narrow(wide);
}

// A batch goes as sp_executesql: its text untouched, a declaration, then the values; none of
// them in any text.
TEST(OdbcParameterBinding, BatchesGoAsSpExecutesqlWithTheirOwnText) {
  const std::string hostile = "O'Brien]; DROP TABLE x --";
  DriverRequest batch;
  batch.text = "SELECT * FROM t WHERE a = @P1 AND b = @P2";
  batch.parameters = {Param("@P1", Value(5), "int", 4),
                      Param("@P2", Value(hostile), "nvarchar", 40),
                      Param("@P3", Value(), "int", 4, ParameterDirection::kOutput)};
  BoundCall call = BindRequest(batch);
  EXPECT_EQ(call.text, "{call sp_executesql(?, ?, ?, ?, ?)}");
  ASSERT_EQ(call.bindings.size(), 5u);
  EXPECT_EQ(TextOf(call.bindings[0]), batch.text);
  EXPECT_EQ(TextOf(call.bindings[1]), "@P1 int, @P2 nvarchar(40), @P3 int OUTPUT");
  EXPECT_EQ(call.bindings[0].parameter, std::nullopt);
  EXPECT_EQ(call.bindings[2].parameter, 0u);
  EXPECT_EQ(call.bindings[3].parameter, 1u);
  EXPECT_EQ(TextOf(call.bindings[3]), hostile);
  EXPECT_EQ(call.bindings[3].io, SQL_PARAM_INPUT);
  EXPECT_EQ(call.bindings[4].io, SQL_PARAM_OUTPUT);
  EXPECT_EQ(call.bindings[4].indicator, SQL_NULL_DATA);
  // sp_executesql takes names, not positions, from the declaration: none are sent.
  for (const Binding& b : call.bindings) EXPECT_EQ(b.name, "");

  DriverRequest plain;
  plain.text = "SELECT 1";
  EXPECT_EQ(BindRequest(plain).text, "SELECT 1");
  EXPECT_TRUE(BindRequest(plain).bindings.empty());
  // A return value has no place in a batch.
  plain.parameters = {Param("", Value(), "int", 4, ParameterDirection::kReturnValue)};
  EXPECT_EQ(BindRequest(plain).text, "SELECT 1");
}

TEST(OdbcParameterBinding, ProceduresAreCallEscapesWithNamedArguments) {
  struct Case {
    const char* procedure;
    std::vector<DriverParameter> parameters;
    const char* text;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"dbo.NextId",
       {Param("", Value(), "int", 4, ParameterDirection::kReturnValue),
        Param("@Name", Value("x"), "varchar", 10),
        Param("@Id", Value(), "int", 4, ParameterDirection::kOutput)},
       "{? = call dbo.NextId(?, ?)}",
       {"", "@Name", "@Id"}},
      // The status comes first whatever place it has among the parameters.
      {"Twice",
       {Param("@In", Value(21), "int"),
        Param("", Value(), "int", 4, ParameterDirection::kReturnValue)},
       "{? = call Twice(?)}",
       {"", "@In"}},
      // A mixture goes by position only.
      {"Mixed",
       {Param("@In", Value(21), "int"), Param("", Value(2), "int")},
       "{call Mixed(?, ?)}",
       {"", ""}},
      {"sp_who", {}, "{call sp_who}", {}},
      {"sp_who; DROP TABLE x",
       {Param("", Value(1), "int")},
       "{call [sp_who; DROP TABLE x](?)}",
       {""}},
  };
  for (const Case& c : cases) {
    DriverRequest call;
    call.kind = DriverRequest::Kind::kProcedure;
    call.text = c.procedure;
    call.parameters = c.parameters;
    BoundCall bound = BindRequest(call);
    EXPECT_EQ(bound.text, c.text);
    std::vector<std::string> names;
    for (const Binding& b : bound.bindings) names.push_back(b.name);
    EXPECT_EQ(names, c.names) << c.procedure;
  }

  // A name is an argument's name or a declared variable's: anything else is refused.
  for (const char* name : {"@a = 1; DROP TABLE x --", "a", "@", "@x y", "@[x]"}) {
    DriverRequest call;
    call.kind = DriverRequest::Kind::kProcedure;
    call.text = "p";
    call.parameters = {Param(name, Value(1), "int")};
    EXPECT_THROW(BindRequest(call), Error) << name;
    call.kind = DriverRequest::Kind::kBatch;
    EXPECT_THROW(BindRequest(call), Error) << name;
  }
}

// Each value travels as its own kind in the SQL type that fits it; long ones in chunks.
TEST(OdbcParameterBinding, ValuesTravelInTypesThatHoldThem) {
  const std::string long_text(10000, 'x');
  const common::Bytes long_bytes(9000, 0xAB);
  struct Case {
    DriverParameter parameter;
    SQLSMALLINT c_type;
    SQLSMALLINT sql_type;
    SQLULEN column_size;
    SQLSMALLINT digits;
    std::string declared;
  };
  const Case cases[] = {
      {Param("@a", Value(7), "int"), SQL_C_SBIGINT, SQL_INTEGER, 0, 0, "int"},
      {Param("@a", Value(9000000000LL), ""), SQL_C_SBIGINT, SQL_BIGINT, 0, 0, "bigint"},
      {Param("@a", Value(), "smallint"), SQL_C_SBIGINT, SQL_SMALLINT, 0, 0, "smallint"},
      {Param("@a", Value(true), "bit"), SQL_C_BIT, SQL_BIT, 0, 0, "bit"},
      {Param("@a", Value(2.5), ""), SQL_C_DOUBLE, SQL_FLOAT, 53, 0, "float"},
      {Param("@a", Value(2.5), "money"), SQL_C_CHAR, SQL_DECIMAL, 19, 4, "money"},
      // A number as text keeps its places.
      {Param("@a", Value("12.5"), "decimal"), SQL_C_WCHAR, SQL_WVARCHAR, 4, 0, "decimal(38, 1)"},
      {Param("@a", Value(common::DateTime{2004, 2, 29, 1, 2, 3, 997}), ""), SQL_C_TYPE_TIMESTAMP,
       SQL_TYPE_TIMESTAMP, 23, 3, "datetime"},
      // Text goes as Unicode whatever the declared type; the server converts it as it would
      // a literal.
      {Param("@a", Value("it's"), "varchar", 20), SQL_C_WCHAR, SQL_WVARCHAR, 4, 0, "varchar(20)"},
      {Param("@a", Value("\xE6\x97\xA5"), ""), SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, "nvarchar(4000)"},
      {Param("@a", Value(long_text), ""), SQL_C_WCHAR, SQL_WLONGVARCHAR, 10000, 0, "ntext"},
      {Param("@a", Value(long_text), "varchar"), SQL_C_WCHAR, SQL_WLONGVARCHAR, 10000, 0, "text"},
      {Param("@a", Value(long_text), "ntext"), SQL_C_WCHAR, SQL_WLONGVARCHAR, 10000, 0, "ntext"},
      // A size of its own keeps the declaration (the server cuts the value to it).
      {Param("@a", Value(long_text), "nvarchar", 50), SQL_C_WCHAR, SQL_WLONGVARCHAR, 10000, 0,
       "nvarchar(50)"},
      {Param("@a", Value(common::Bytes{1, 2}), "varbinary", 2), SQL_C_BINARY, SQL_VARBINARY, 2, 0,
       "varbinary(2)"},
      {Param("@a", Value(long_bytes), "image"), SQL_C_BINARY, SQL_LONGVARBINARY, 9000, 0, "image"},
      {Param("@a", Value(long_bytes), ""), SQL_C_BINARY, SQL_LONGVARBINARY, 9000, 0, "image"},
      // Outputs cannot be long types: the widest that can stands in.
      {Param("@a", Value(), "ntext", 0, ParameterDirection::kOutput), SQL_C_WCHAR, SQL_WVARCHAR,
       4000, 0, "nvarchar(4000)"},
      {Param("@a", Value(), "image", 0, ParameterDirection::kOutput), SQL_C_BINARY, SQL_VARBINARY,
       8000, 0, "varbinary(8000)"},
      {Param("@a", Value(), "uniqueidentifier", 0, ParameterDirection::kOutput), SQL_C_WCHAR,
       SQL_GUID, 36, 0, "uniqueidentifier"},
  };
  for (const Case& c : cases) {
    DriverRequest batch;
    batch.text = "SELECT @a";
    batch.parameters = {c.parameter};
    BoundCall call = BindRequest(batch);
    ASSERT_EQ(call.bindings.size(), 3u);
    const Binding& b = call.bindings[2];
    const std::string what = c.parameter.type_name + " " + c.parameter.value.ToText().substr(0, 20);
    EXPECT_EQ(b.c_type, c.c_type) << what;
    EXPECT_EQ(b.sql_type, c.sql_type) << what;
    if (c.column_size) {
      EXPECT_EQ(b.column_size, c.column_size) << what;
    }
    EXPECT_EQ(b.digits, c.digits) << what;
    EXPECT_EQ(DeclaredType(c.parameter), c.declared) << what;
    EXPECT_EQ(TextOf(call.bindings[1]),
              "@a " + c.declared + (c.parameter.IsOutput() ? " OUTPUT" : ""))
        << what;
    EXPECT_EQ(b.indicator == SQL_NULL_DATA, c.parameter.value.IsNull()) << what;
  }

  // The statement itself may be long too.
  DriverRequest batch;
  batch.text = "SELECT @a /*" + long_text + "*/";
  batch.parameters = {Param("@a", Value(1), "int")};
  EXPECT_EQ(BindRequest(batch).bindings[0].sql_type, SQL_WLONGVARCHAR);
}

// A decimal is declared with its own precision and scale (room for its value without them)
// and sent as exact digits, never through a float.
TEST(OdbcParameterBinding, DecimalsKeepPrecisionScaleAndDigits) {
  struct Case {
    Value value;
    int precision;
    int scale;
    const char* declared;
    const char* digits;  // nullptr: NULL
  };
  const Case cases[] = {
      {Value(1234.5678), 10, 4, "decimal(10, 4)", "1234.5678"},
      {Value(1234.5678), 6, 1, "decimal(6, 1)", "1234.6"},
      {Value(-7.25), 0, 0, "decimal(38, 2)", "-7.25"},
      {Value(42), 5, 0, "decimal(5, 0)", "42"},
      {Value(1e-20), 38, 30, "decimal(38, 30)", "0.000000000000000000010000000000"},
      {Value(), 9, 2, "decimal(9, 2)", nullptr},
      {Value(std::numeric_limits<double>::infinity()), 9, 2, "decimal(9, 2)", nullptr},
  };
  for (const Case& c : cases) {
    DriverParameter d = Param("@d", c.value, "decimal");
    d.precision = c.precision;
    d.scale = c.scale;
    DriverRequest batch;
    batch.text = "SELECT @d";
    batch.parameters = {d};
    BoundCall call = BindRequest(batch);
    EXPECT_EQ(TextOf(call.bindings[1]), std::string("@d ") + c.declared);
    const Binding& b = call.bindings[2];
    if (!c.digits) {
      EXPECT_EQ(b.indicator, SQL_NULL_DATA) << c.declared;
      continue;
    }
    EXPECT_EQ(b.c_type, SQL_C_CHAR);
    EXPECT_EQ(TextOf(b), c.digits);
    EXPECT_EQ(b.indicator, static_cast<SQLLEN>(std::strlen(c.digits)));
  }
}

// An input that does not fit its declared output type is refused before anything is sent.
TEST(OdbcParameterBinding, InputOutputValuesMustFitTheirType) {
  for (auto [type, value] : {std::pair<const char*, Value>{"int", Value("seven")},
                             {"datetime", Value("not a date")},
                             {"varbinary", Value("text")}}) {
    DriverRequest call;
    call.kind = DriverRequest::Kind::kProcedure;
    call.text = "p";
    call.parameters = {Param("@x", value, type, 0, ParameterDirection::kInputOutput)};
    EXPECT_THROW(BindRequest(call), Error) << type;
  }
}

}  // namespace
}  // namespace db
