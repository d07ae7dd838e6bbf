#include "db/testing/fake_driver.h"

#include <algorithm>
#include <cctype>

namespace db::testing {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Value::Type ValueTypeFor(const std::string& type_name) {
  std::string t = Lower(type_name);
  if (t == "int" || t == "smallint" || t == "tinyint" || t == "bigint") return Value::Type::kInt;
  if (t == "bit") return Value::Type::kBool;
  if (t == "float" || t == "real" || t == "money" || t == "decimal" || t == "numeric")
    return Value::Type::kDouble;
  if (t == "datetime" || t == "smalldatetime") return Value::Type::kDateTime;
  if (t == "image" || t == "varbinary" || t == "binary") return Value::Type::kBinary;
  if (t == "uniqueidentifier") return Value::Type::kGuid;
  return Value::Type::kText;
}

ResultEvent Event(ResultEvent::Kind kind) {
  ResultEvent event;
  event.kind = kind;
  return event;
}

}  // namespace

ColumnInfo Column(std::string name, std::string type_name, int size) {
  ColumnInfo c;
  c.name = std::move(name);
  c.value_type = ValueTypeFor(type_name);
  c.type_name = std::move(type_name);
  c.size = size;
  return c;
}

ColumnInfo TableColumn(std::string table, std::string name, std::string type_name, bool key,
                       bool identity) {
  ColumnInfo c = Column(name, std::move(type_name));
  c.base_table = std::move(table);
  c.base_column = std::move(name);
  c.key_column = key;
  c.identity = identity;
  c.nullable = !key && !identity;
  return c;
}

// FakeResult ---------------------------------------------------------------------------------

FakeResult& FakeResult::BeginRows(std::vector<ColumnInfo> columns) {
  ResultEvent begin = Event(ResultEvent::Kind::kBeginRowSet);
  begin.columns = std::move(columns);
  events_.push_back(std::move(begin));
  return *this;
}

FakeResult& FakeResult::Row(std::vector<Value> values) {
  ResultEvent event = Event(ResultEvent::Kind::kRow);
  event.row = std::move(values);
  events_.push_back(std::move(event));
  return *this;
}

FakeResult& FakeResult::EndRows() {
  events_.push_back(Event(ResultEvent::Kind::kEndRowSet));
  return *this;
}

FakeResult& FakeResult::RowsNoCount(std::vector<ColumnInfo> columns,
                                    std::vector<std::vector<Value>> rows) {
  BeginRows(std::move(columns));
  for (auto& row : rows) Row(std::move(row));
  EndRows();
  return NoCount();
}

FakeResult& FakeResult::Rows(std::vector<ColumnInfo> columns,
                             std::vector<std::vector<Value>> rows) {
  auto count = static_cast<std::int64_t>(rows.size());
  RowsNoCount(std::move(columns), std::move(rows));
  events_.back().rows_affected = count;
  return *this;
}

FakeResult& FakeResult::Count(std::int64_t rows_affected) {
  ResultEvent event = Event(ResultEvent::Kind::kDone);
  event.rows_affected = rows_affected;
  events_.push_back(std::move(event));
  return *this;
}

FakeResult& FakeResult::NoCount() { return Count(-1); }

FakeResult& FakeResult::Print(std::string text) { return Message(0, 0, std::move(text)); }

FakeResult& FakeResult::Message(std::int32_t number, int severity, std::string text, int state) {
  ResultEvent event = Event(ResultEvent::Kind::kMessage);
  event.message.number = number;
  event.message.severity = severity;
  event.message.state = state;
  event.message.text = std::move(text);
  events_.push_back(std::move(event));
  return *this;
}

FakeResult& FakeResult::Error(std::int32_t number, std::string text, int severity, int state) {
  return Message(number, severity, std::move(text), state);
}

FakeResult& FakeResult::Output(std::string name, Value value) {
  outputs_[Lower(name)] = std::move(value);
  return *this;
}

FakeResult& FakeResult::ReturnStatus(Value value) {
  return_status_ = std::move(value);
  return *this;
}

FakeResult& FakeResult::Takes(std::chrono::milliseconds duration) {
  duration_ = duration;
  return *this;
}

FakeResult& FakeResult::Breaks() {
  breaks_ = true;
  return *this;
}

// FakeSession --------------------------------------------------------------------------------

class FakeSession : public DriverSession {
 public:
  FakeSession(std::shared_ptr<FakeServer> server, int id, std::string data_source,
              std::string database)
      : server_(std::move(server)),
        id_(id),
        data_source_(std::move(data_source)),
        database_(std::move(database)) {}
  ~FakeSession() override { Close(); }

  std::unique_ptr<ResultStream> Execute(DriverRequest& request) override {
    if (closed_) throw db::Error(kErrorUnspecified, kProviderSource, "The session is closed.");
    FakeCall call{id_, data_source_, database_, request};
    FakeResult result;
    {
      std::lock_guard lock(server_->mutex_);
      server_->calls_.push_back(call);
      if (std::find(server_->killed_.begin(), server_->killed_.end(), id_) !=
          server_->killed_.end())
        broken_ = true;
    }
    if (broken_) throw NetworkError();
    result = server_->Answer(call, database_);
    if (result.duration_ > std::chrono::milliseconds(0) &&
        request.timeout > std::chrono::milliseconds(0) && request.timeout < result.duration_) {
      throw db::Error(kErrorTimeoutExpired, kProviderSource, "Timeout expired");
    }
    if (result.breaks_) {
      broken_ = true;
      throw NetworkError();
    }
    for (DriverParameter& p : request.parameters) {
      if (p.direction == ParameterDirection::kReturnValue) {
        if (result.return_status_) p.value = *result.return_status_;
        continue;
      }
      auto it = result.outputs_.find(Lower(p.name));
      if (p.IsOutput() && it != result.outputs_.end()) p.value = it->second;
    }
    return std::make_unique<BufferedResultStream>(result.events_);
  }

  void Cancel() override {}
  std::string CurrentDatabase() const override { return database_; }
  std::string ServerVersion() const override {
    std::lock_guard lock(server_->mutex_);
    return server_->server_version_;
  }

  void Close() override {
    if (closed_) return;
    closed_ = true;
    std::lock_guard lock(server_->mutex_);
    --server_->open_sessions_;
  }

 private:
  static db::Error NetworkError() {
    return db::Error(kErrorUnspecified, kProviderSource,
                     "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your "
                     "network documentation.",
                     11, 16, 1);
  }

  std::shared_ptr<FakeServer> server_;
  int id_;
  std::string data_source_;
  std::string database_;
  bool broken_ = false;
  bool closed_ = false;
};

// FakeServer ---------------------------------------------------------------------------------

void FakeServer::On(std::string text, FakeResult result) {
  std::lock_guard lock(mutex_);
  exact_[std::move(text)].push_back(std::move(result));
}

void FakeServer::OnPrefix(std::string prefix, FakeResult result) {
  std::lock_guard lock(mutex_);
  prefixes_.emplace_back(std::move(prefix), std::move(result));
}

void FakeServer::SetHandler(std::function<std::optional<FakeResult>(const FakeCall&)> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void FakeServer::SetDefault(FakeResult result) {
  std::lock_guard lock(mutex_);
  default_ = std::move(result);
}

void FakeServer::AcceptLogin(std::string user, std::string password) {
  std::lock_guard lock(mutex_);
  logins_[Lower(user)] = std::move(password);
}

void FakeServer::Kill(int session) {
  std::lock_guard lock(mutex_);
  killed_.push_back(session);
}

std::vector<ConnectRequest> FakeServer::connects() const {
  std::lock_guard lock(mutex_);
  return connects_;
}

std::vector<FakeCall> FakeServer::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeServer::texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const FakeCall& call : calls_) texts.push_back(call.request.text);
  return texts;
}

int FakeServer::open_sessions() const {
  std::lock_guard lock(mutex_);
  return open_sessions_;
}

void FakeServer::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

FakeResult FakeServer::Answer(const FakeCall& call, std::string& database) {
  std::function<std::optional<FakeResult>(const FakeCall&)> handler;
  {
    std::lock_guard lock(mutex_);
    auto it = exact_.find(call.request.text);
    if (it != exact_.end() && !it->second.empty()) {
      FakeResult result = it->second.front();
      if (it->second.size() > 1) it->second.pop_front();
      return result;
    }
    for (const auto& [prefix, result] : prefixes_) {
      if (call.request.text.compare(0, prefix.size(), prefix) == 0) return result;
    }
    handler = handler_;
  }
  if (handler) {
    if (std::optional<FakeResult> result = handler(call)) return *result;
  }
  std::string lower = Lower(call.request.text);
  if (lower.starts_with("use ")) {
    std::string name = call.request.text.substr(4);
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
      name = name.substr(1, name.size() - 2);
    }
    FakeResult result;
    bool known;
    {
      std::lock_guard lock(mutex_);
      known = databases_.empty() ||
              std::any_of(databases_.begin(), databases_.end(),
                          [&](const std::string& d) { return Lower(d) == Lower(name); });
    }
    if (!known) {
      result.Error(911, "Could not locate entry in sysdatabases for database '" + name +
                            "'. No entry found with that name. Make sure that the name is "
                            "entered correctly.");
      result.NoCount();
      return result;
    }
    database = name;
    result.Message(5701, 10, "Changed database context to '" + name + "'.");
    result.NoCount();
    return result;
  }
  std::lock_guard lock(mutex_);
  if (default_) return *default_;
  FakeResult result;
  result.NoCount();
  return result;
}

// FakeDriver ---------------------------------------------------------------------------------

FakeDriver::FakeDriver(std::shared_ptr<FakeServer> server,
                       std::function<bool(std::string_view)> accepts)
    : server_(std::move(server)), accepts_(std::move(accepts)) {}

bool FakeDriver::Accepts(std::string_view data_source) const {
  return !accepts_ || accepts_(data_source);
}

void FakeServer::HoldLogins() {
  std::lock_guard lock(mutex_);
  hold_logins_ = true;
}

void FakeServer::ReleaseLogins() {
  {
    std::lock_guard lock(mutex_);
    hold_logins_ = false;
  }
  released_.notify_all();
}

int FakeServer::held_logins() const {
  std::lock_guard lock(mutex_);
  return held_logins_;
}

std::unique_ptr<DriverSession> FakeDriver::Connect(const ConnectRequest& request) {
  std::string database;
  int id;
  {
    std::unique_lock lock(server_->mutex_);
    server_->connects_.push_back(request);
    if (server_->hold_logins_) {
      ++server_->held_logins_;
      server_->released_.wait(lock, [this] { return !server_->hold_logins_; });
      --server_->held_logins_;
    }
    if (request.integrated ? server_->refuse_integrated_
                           : (!server_->logins_.empty() &&
                              (!server_->logins_.count(Lower(request.user)) ||
                               server_->logins_[Lower(request.user)] != request.password))) {
      std::string who = request.integrated ? "(null)" : request.user;
      throw db::Error(kErrorAuthenticationFailed, kProviderSource,
                      "Login failed for user '" + who + "'.", 18456, 14, 1);
    }
    database = request.catalog.empty() ? server_->default_database_ : request.catalog;
    if (!request.catalog.empty() && !server_->databases_.empty() &&
        std::none_of(server_->databases_.begin(), server_->databases_.end(),
                     [&](const std::string& d) { return Lower(d) == Lower(request.catalog); })) {
      throw db::Error(
          kErrorUnspecified, kProviderSource,
          "Cannot open database requested in login '" + request.catalog + "'. Login fails.", 4060,
          11, 1);
    }
    id = ++server_->last_session_;
    ++server_->open_sessions_;
  }
  return std::make_unique<FakeSession>(server_, id, request.data_source, database);
}

}  // namespace db::testing
