// Parameters through the ODBC driver against the served sandbox: every type and hostile value
// arrives whole, outputs and the return status come back, and no value is ever part of the
// statement text the server receives.
#include <mutex>
#include <vector>

#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/odbc/odbc_fixture.h"

namespace db {
namespace {

// What the sessions of an instance were asked to run: each statement text and its
// parameters' values.
struct Received {
  std::string text;
  std::vector<common::Value> values;
};

class Recorder {
 public:
  void Add(Received received) {
    std::lock_guard lock(mutex_);
    all_.push_back(std::move(received));
  }
  std::vector<Received> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(all_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Received> all_;
};

class RecordingSession : public sandbox::Session {
 public:
  RecordingSession(std::unique_ptr<sandbox::Session> inner, Recorder& recorder)
      : inner_(std::move(inner)), recorder_(recorder) {}
  int spid() const override { return inner_->spid(); }
  void Execute(std::string_view batch, std::vector<sandbox::Parameter>& parameters,
               sandbox::ResultSink& sink, std::chrono::milliseconds timeout) override {
    Received received{std::string(batch), {}};
    for (const sandbox::Parameter& p : parameters) received.values.push_back(p.value);
    recorder_.Add(std::move(received));
    inner_->Execute(batch, parameters, sink, timeout);
  }
  void Cancel() override { inner_->Cancel(); }
  std::string CurrentDatabase() const override { return inner_->CurrentDatabase(); }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<sandbox::Session> inner_;
  Recorder& recorder_;
};

class RecordingInstance : public sandbox::Instance {
 public:
  explicit RecordingInstance(std::shared_ptr<sandbox::Instance> inner) : inner_(std::move(inner)) {}
  std::string name() const override { return inner_->name(); }
  std::unique_ptr<sandbox::Session> Connect(const sandbox::LoginRequest& request) override {
    return std::make_unique<RecordingSession>(inner_->Connect(request), recorder);
  }
  sandbox::InstanceConfig config() const override { return inner_->config(); }
  void SetRunning(bool running) override { inner_->SetRunning(running); }
  std::filesystem::path directory() const override { return inner_->directory(); }
  std::filesystem::path MapPath(std::string_view machine_path) const override {
    return inner_->MapPath(machine_path);
  }
  void InjectFault(sandbox::Fault fault) override { inner_->InjectFault(std::move(fault)); }
  void ClearFaults() override { inner_->ClearFaults(); }
  bool DropSession(int spid) override { return inner_->DropSession(spid); }

  Recorder recorder;

 private:
  std::shared_ptr<sandbox::Instance> inner_;
};

// At the version FreeTDS asks for by default, and at the oldest ones (no bigint, no (max)).
class OdbcBoundParametersTest : public OdbcServerTest,
                                public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    OdbcServerTest::SetUp();
    if (IsSkipped()) return;
    server_.reset();
    recording_ = std::make_shared<RecordingInstance>(instance_);
    server_ = std::make_unique<sandbox::tds::Server>(
        recording_, sandbox::tds::ServerOptions{"127.0.0.1", 0}, nullptr);
    port_ = server_->Start();
    ConnectRequest request;
    request.data_source = DataSource();
    request.user = "sa";
    request.password = kSaPassword;
    request.catalog = "tempdb";
    if (*GetParam()) request.properties.Set("TDS_Version", GetParam());
    session_ = driver_->Connect(request);
  }
  void TearDown() override {
    if (session_) session_->Close();
    if (in_process_) in_process_->Close();
    server_.reset();
    OdbcServerTest::TearDown();
  }

  // Runs the request; the rows' values, and the texts of the server's errors.
  std::vector<Value> Run(DriverRequest& request, std::string* errors = nullptr) {
    std::vector<Value> values;
    auto stream = session_->Execute(request);
    ResultEvent e;
    while (stream->Next(e)) {
      if (e.kind == ResultEvent::Kind::kRow)
        values.insert(values.end(), e.row.begin(), e.row.end());
      if (e.kind == ResultEvent::Kind::kMessage && e.message.IsError() && errors)
        *errors += e.message.text + "\n";
    }
    return values;
  }

  // No statement the server was given since the last call holds the text.
  void ExpectNeverInAStatement(const std::string& text, const std::string& what) {
    for (const Received& r : recording_->recorder.Take())
      EXPECT_EQ(r.text.find(text), std::string::npos) << what << " in: " << r.text.substr(0, 200);
  }

  std::shared_ptr<RecordingInstance> recording_;
  std::unique_ptr<DriverSession> session_;
  std::unique_ptr<DriverSession> in_process_;  // the same instance without the network
};

std::string LongHostile() {
  std::string text;
  while (text.size() < 10000) text += "'; [x]] \xC3\xB6\xF0\x9F\x98\x80 ";
  return text.substr(0, 10000);
}

const std::string kHostile[] = {
    "O'Brien",
    "'; DROP TABLE x --",
    "[bracket]]] ]",
    "semi;colon;",
    "?, {fn now()} ?",
    "@v @rpc_p1",
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xC3\xB6 \xF0\x9F\x98\x80",
    "",
    LongHostile(),
};

// A parameterised batch reads each value back as it was sent, in its declared type, as a
// value of its own and as an output.
TEST_P(OdbcBoundParametersTest, EveryTypeRoundTripsThroughABatch) {
  const common::Bytes long_bytes = [] {
    common::Bytes b(9001);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 13);
    return b;
  }();
  struct Case {
    DriverParameter parameter;
    Value expected;
    bool as_output = true;  // the long types cannot be outputs
  };
  DriverParameter exact = Param("@v", Value(1234.5678), "decimal");
  exact.precision = 10;
  exact.scale = 4;
  const Case cases[] = {
      {Param("@v", Value(-2147483647 - 1), "int"), Value(-2147483647 - 1)},
      {Param("@v", Value(9000000000LL), "bigint"), Value(9000000000LL)},
      // (An untyped output is text.)
      {Param("@v", Value(9000000000LL), ""), Value(9000000000LL), false},
      {Param("@v", Value(true), "bit"), Value(true)},
      {Param("@v", Value(0.1), "float"), Value(0.1)},
      {exact, Value(1234.5678)},
      {Param("@v", Value(12.5), "money"), Value(12.5)},
      {Param("@v", Value(common::DateTime{2004, 2, 29, 23, 59, 58, 997}), "datetime"),
       Value(common::DateTime{2004, 2, 29, 23, 59, 58, 997})},
      {Param("@v", Value(common::Bytes{0, 1, 0xFE, 0xFF}), "varbinary", 4),
       Value(common::Bytes{0, 1, 0xFE, 0xFF})},
      {Param("@v", Value(long_bytes), "image"), Value(long_bytes), false},
      {Param("@v", Value(), "int"), Value()},
      {Param("@v", Value(), "nvarchar", 10), Value()},
      {Param("@v", Value("plain \xC3\xB6"), "varchar", 20), Value("plain \xC3\xB6")},
      {Param("@v", Value(LongHostile()), "ntext"), Value(LongHostile()), false},
  };
  for (const Case& c : cases) {
    const std::string what = c.parameter.type_name + " " + c.expected.ToText().substr(0, 30);
    SCOPED_TRACE(what);
    DriverRequest read;
    read.text = "SELECT @v AS v";
    read.parameters = {c.parameter};
    std::string errors;
    try {
      EXPECT_EQ(Run(read, &errors), std::vector<Value>{c.expected}) << what;
    } catch (const Error& e) {
      ADD_FAILURE() << what << ": " << e.description();
    }
    EXPECT_EQ(errors, "") << what;
    if (!c.as_output) continue;
    DriverRequest out;
    out.text = "SET @o = @v";
    out.parameters = {c.parameter, c.parameter};
    out.parameters[1].name = "@o";
    out.parameters[1].value = Value();
    out.parameters[1].direction = ParameterDirection::kOutput;
    try {
      Run(out, &errors);
    } catch (const Error& e) {
      ADD_FAILURE() << what << ": " << e.description();
    }
    EXPECT_EQ(errors, "") << what;
    EXPECT_EQ(out.parameters[1].value, c.expected)
        << what << " came back as " << out.parameters[1].value.ToText();
  }
}

// Quotes, brackets, semicolons, markers, non-ASCII, empty and 10,000-character values reach
// the server as values: stored and read back whole, and never part of a statement's text.
TEST_P(OdbcBoundParametersTest, HostileValuesAreValuesNeverStatementText) {
  DriverRequest create;
  create.text = "CREATE TABLE H (id int, n ntext NULL, v varchar(8000) NULL)";
  Run(create);
  int id = 0;
  for (const std::string& value : kHostile) {
    ++id;
    recording_->recorder.Take();
    DriverRequest insert;
    insert.text = "INSERT INTO H (id, n) VALUES (@id, @n) SELECT @rows = COUNT(*) FROM H";
    insert.parameters = {Param("@id", Value(id), "int"), Param("@n", Value(value), "ntext"),
                         Param("@rows", Value(), "int", 0, ParameterDirection::kOutput)};
    std::string errors;
    Run(insert, &errors);
    EXPECT_EQ(errors, "") << value.substr(0, 40);
    std::vector<Received> received = recording_->recorder.Take();
    // One remote call of sp_executesql: its statement is the batch as written, the value a
    // value of its own.
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].text.rfind("EXEC @rpc_status = [sp_executesql] ", 0), 0u)
        << received[0].text;
    ASSERT_GE(received[0].values.size(), 5u);
    EXPECT_EQ(received[0].values[1], Value(insert.text));
    if (value.size() >= 3) {
      for (const Received& r : received) EXPECT_EQ(r.text.find(value), std::string::npos);
    }
    EXPECT_EQ(insert.parameters[2].value, Value(id)) << value.substr(0, 40);

    DriverRequest read;
    read.text = "SELECT n FROM H WHERE id = @id";
    read.parameters = {Param("@id", Value(id), "int")};
    EXPECT_EQ(Run(read), std::vector<Value>{Value(value)}) << value.substr(0, 40);
  }
  // And through a long, non-national declared type as text.
  DriverRequest update;
  update.text = "UPDATE H SET v = @v WHERE id = 1 SELECT v FROM H WHERE id = 1";
  update.parameters = {Param("@v", Value(std::string(8000, 'q')), "varchar")};
  EXPECT_EQ(Run(update), std::vector<Value>{Value(std::string(8000, 'q'))});
}

// A procedure call: arguments by name, an output, an input/output and the return status, with
// hostile values, none of them in the text the server is given.
TEST_P(OdbcBoundParametersTest, ProceduresReturnOutputsAndStatusForHostileValues) {
  DriverRequest create;
  create.text =
      "CREATE PROCEDURE [Echo; it's] @In nvarchar(4000), @Out nvarchar(4000) OUTPUT, "
      "@Both int OUTPUT AS SET @Out = N'<' + @In + N'>' SET @Both = @Both * 2 "
      "RETURN CASE WHEN @In IS NULL THEN -1 WHEN @In = N'' THEN 0 ELSE 1 END";
  std::string errors;
  Run(create, &errors);
  ASSERT_EQ(errors, "");
  std::vector<std::optional<std::string>> values(std::begin(kHostile), std::end(kHostile));
  values.push_back(std::nullopt);
  for (const std::optional<std::string>& value : values) {
    const std::string in = value ? value->substr(0, 3000) : std::string();
    const std::string what = value ? in.substr(0, 40) : "NULL";
    recording_->recorder.Take();
    DriverRequest call;
    call.kind = DriverRequest::Kind::kProcedure;
    call.text = "Echo; it's";
    call.parameters = {
        Param("", Value(), "int", 0, ParameterDirection::kReturnValue),
        Param("@In", value ? Value(in) : Value(), "nvarchar", 4000),
        Param("@Out", Value(), "nvarchar", 4000, ParameterDirection::kOutput),
        Param("@Both", Value(21), "int", 0, ParameterDirection::kInputOutput),
    };
    Run(call, &errors);
    EXPECT_EQ(errors, "") << what;
    EXPECT_EQ(call.parameters[0].value, Value(!value ? -1 : in.empty() ? 0 : 1)) << what;
    EXPECT_EQ(call.parameters[2].value, value ? Value("<" + in + ">") : Value()) << what;
    EXPECT_EQ(call.parameters[3].value, Value(42)) << what;
    std::vector<Received> received = recording_->recorder.Take();
    ASSERT_EQ(received.size(), 1u) << what;
    // FreeTDS passes arguments by position, as ADO does unless asked for names.
    EXPECT_EQ(received[0].text,
              "EXEC @rpc_status = [Echo; it's] @rpc_p1, @rpc_p2 OUTPUT, @rpc_p3 OUTPUT");
    ASSERT_EQ(received[0].values.size(), 4u);
    EXPECT_EQ(received[0].values[1], value ? Value(in) : Value()) << what;
    if (in.size() >= 3) {
      EXPECT_EQ(received[0].text.find(in), std::string::npos) << what;
    }
  }
}

// Errors of a parameterised batch are the server's, in order, as for any batch; a value the
// declared type cannot take is the server's conversion error, not the driver's.
TEST_P(OdbcBoundParametersTest, ErrorsStayTheServersAndTheSessionGoesOn) {
  DriverRequest bad;
  bad.text = "SELECT @v AS v";
  bad.parameters = {Param("@v", Value("not a number"), "int")};
  std::string errors;
  EXPECT_TRUE(Run(bad, &errors).empty());
  EXPECT_NE(errors.find("not a number"), std::string::npos) << errors;

  DriverRequest raise;
  raise.text = "RAISERROR(@m, 16, 1) SELECT @n AS n";
  raise.parameters = {Param("@m", Value("it's [bad]; \xC3\xB6"), "nvarchar", 100),
                      Param("@n", Value(3), "int")};
  errors.clear();
  EXPECT_EQ(Run(raise, &errors), std::vector<Value>{Value(3)});
  EXPECT_EQ(errors, "it's [bad]; \xC3\xB6\n") << errors;

  DriverRequest fine;
  fine.text = "SELECT @v AS v";
  fine.parameters = {Param("@v", Value(5), "int")};
  EXPECT_EQ(Run(fine), std::vector<Value>{Value(5)});
}

// Messages, row sets, rows and outputs of a parameterised batch come in the order the
// in-process driver gives them. Counts differ: the statements run inside sp_executesql, and
// FreeTDS passes on only the last count before a row set or the end of the call.
TEST_P(OdbcBoundParametersTest, ResultsComeInTheServersOrder) {
  SandboxDriver sandbox(host_);
  ConnectRequest request;
  request.data_source = "(sandbox)";
  request.user = "sa";
  request.password = kSaPassword;
  request.catalog = "tempdb";
  in_process_ = sandbox.Connect(request);
  DriverRequest create;
  create.text =
      "CREATE TABLE O (id int, name nvarchar(20) NULL) INSERT INTO O VALUES (1, N'a') "
      "INSERT INTO O VALUES (2, N'b')";
  Run(create);
  using Lines = std::vector<std::string>;
  auto without_counts = [](Lines lines) {
    std::erase_if(lines, [](const std::string& line) { return line.rfind("count ", 0) == 0; });
    return lines;
  };
  struct Case {
    const char* text;
    Lines expected;  // over ODBC
  };
  const Case cases[] = {
      {"PRINT @m\nUPDATE O SET name = @m WHERE id > @id\nSELECT id, name FROM O ORDER BY id\n"
       "SET @o = @@ROWCOUNT",
       {"message 0 severity 0: it's [x]; \xC3\xB6", "rows id name", "row 1 a",
        "row 2 it's [x]; \xC3\xB6", "count 2", "output @o 2"}},
      {"RAISERROR(@m, 11, 1)\nSELECT @id AS id\nSELECT @o = COUNT(*) FROM O WHERE id = @id",
       {"message 50000 severity 11: it's [x]; \xC3\xB6", "rows id", "row 1", "count 1",
        "output @o 1"}},
      {"SELECT @id / 0 AS x\nSET @o = 5",
       {"message 8134 severity 16: Divide by zero error encountered.", "output @o 5"}},
      // (An output the batch never sets is NULL.)
      {"UPDATE O SET name = @m WHERE id = @id", {"count 1", "output @o "}},
      {"SELECT name FROM O WHERE id = @id SELECT @id + 1 AS next",
       {"rows name", "row it's [x]; \xC3\xB6", "count 1", "rows next", "row 2", "count 1",
        "output @o "}},
  };
  for (const Case& c : cases) {
    DriverRequest batch;
    batch.text = c.text;
    batch.parameters = {Param("@m", Value("it's [x]; \xC3\xB6"), "nvarchar", 20),
                        Param("@id", Value(1), "int"),
                        Param("@o", Value(), "int", 0, ParameterDirection::kOutput)};
    Lines over_odbc = Seen(*session_, batch);
    EXPECT_EQ(without_counts(over_odbc), without_counts(Seen(*in_process_, batch))) << c.text;
    EXPECT_EQ(over_odbc, c.expected) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, OdbcBoundParametersTest, ::testing::Values("", "7.1", "7.0"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return *info.param ? "TDS" + std::string(info.param).replace(1, 1, "")
                                              : std::string("Default");
                         });

}  // namespace
}  // namespace db
