#include "sandbox/sandbox_fixture.h"



#include "common/test_support.h"
#include "sandbox/server_info.h"

namespace sandbox::testing {

std::vector<std::string> ColumnNames(const RowSet& set) {
  std::vector<std::string> names;
  for (const Column& c : set.columns) names.push_back(c.name);
  return names;
}

std::string RowsText(const RowSet& set) {
  std::string out;
  for (const auto& row : set.rows) {
    if (!out.empty()) out += ";";
    for (size_t i = 0; i < row.size(); ++i)
      out += (i ? "|" : "") + (row[i].IsNull() ? std::string("NULL") : row[i].ToText());
  }
  return out;
}

void CollectingSink::BeginRowSet(const std::vector<Column>& columns) {
  EXPECT_FALSE(open) << "row sets do not nest";
  open = true;
  sets.push_back(RowSet{columns, {}});
}

void CollectingSink::Row(std::vector<common::Value> values) {
  EXPECT_TRUE(open);
  EXPECT_EQ(values.size(), sets.back().columns.size());
  sets.back().rows.push_back(std::move(values));
}

void CollectingSink::EndRowSet() {
  EXPECT_TRUE(open);
  open = false;
}

std::vector<const ServerMessage*> CollectingSink::Errors() const {
  std::vector<const ServerMessage*> out;
  for (const ServerMessage& m : messages)
    if (m.IsError()) out.push_back(&m);
  return out;
}

std::int32_t CollectingSink::FirstError() const {
  auto errors = Errors();
  return errors.empty() ? 0 : errors.front()->number;
}

std::string CollectingSink::ErrorText() const {
  std::string out;
  for (const ServerMessage* m : Errors()) out += std::to_string(m->number) + ": " + m->text + "\n";
  return out;
}

void SandboxTest::SetUp() {
  root_ = common::testing::ScratchFolder("sandbox-test");
  host_ = OpenHost(root_);
  instance_ = host_->Create("", InstanceConfig{});
  session_ = Connect();
}

void SandboxTest::TearDown() {
  session_.reset();
  instances_.clear();
  instance_.reset();
  host_.reset();
  common::testing::RemoveScratch(root_);
}

std::unique_ptr<Session> SandboxTest::Connect(const std::string& database) {
  LoginRequest request;
  request.login = "sa";
  request.database = database;
  request.host_name = "TESTHOST";
  request.application = "sandbox tests";
  return instance_->Connect(request);
}

std::unique_ptr<Session> SandboxTest::As(const std::string& login, const std::string& password,
                                         const std::string& database) {
  LoginRequest request;
  request.login = login;
  request.password = password;
  request.database = database;
  return instance_->Connect(request);
}

CollectingSink SandboxTest::Run(Session& session, const std::string& batch,
                                std::chrono::milliseconds timeout) {
  CollectingSink sink;
  std::vector<Parameter> parameters;
  session.Execute(batch, parameters, sink, timeout);
  EXPECT_FALSE(sink.open);
  return sink;
}

RowSet SandboxTest::Query(Session& session, const std::string& batch) {
  CollectingSink sink = Run(session, batch);
  EXPECT_EQ(sink.FirstError(), 0) << batch << "\n" << sink.ErrorText();
  if (sink.sets.empty()) {
    ADD_FAILURE() << "no row set from: " << batch;
    return {};
  }
  return sink.sets.back();
}

common::Value SandboxTest::Scalar(const std::string& batch) {
  RowSet set = Query(batch);
  if (set.rows.size() != 1 || set.rows[0].size() != 1) {
    ADD_FAILURE() << "expected one value from: " << batch << " (" << set.rows.size() << " rows)";
    return {};
  }
  return set.rows[0][0];
}

void SandboxTest::Ok(const std::string& batch) { Ok(*session_, batch); }

void SandboxTest::Ok(Session& session, const std::string& batch) {
  CollectingSink sink = Run(session, batch);
  EXPECT_EQ(sink.FirstError(), 0) << batch << "\n" << sink.ErrorText();
}

std::string SandboxTest::Failure(Session& session, const std::string& batch) {
  CollectingSink sink = Run(session, batch);
  auto errors = sink.Errors();
  return errors.empty() ? "" : std::to_string(errors[0]->number) + ": " + errors[0]->text;
}

std::unique_ptr<Session> SandboxTest::SessionOn(const std::string& version) {
  InstanceConfig config;
  config.product_version = version;
  config.product_level = ProductLevelOf(version);
  config.platform = PlatformOf(version);
  instances_.push_back(host_->Create("V" + std::to_string(instances_.size()), config));
  LoginRequest request;
  request.integrated = true;
  request.os_user = "admin";
  return instances_.back()->Connect(request);
}

}  // namespace sandbox::testing
