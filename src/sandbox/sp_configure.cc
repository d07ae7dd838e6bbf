// Server configuration options: sp_configure shows and sets them, RECONFIGURE installs what was
// set. The instance keeps both values in master, so every process sees the same; sp_monitor's
// last run is kept there too.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/messages.h"
#include "sandbox/security.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {

struct Option {
  const char* name;
  long long minimum;
  long long maximum;
  long long value;  // as a new server has it
  bool advanced;
};

// The options of a SQL Server 2000, by name.
constexpr long long kMax = 2147483647;
const Option kOptions[] = {
    {"affinity mask", -2147483648LL, kMax, 0, true},
    {"allow updates", 0, 1, 0, false},
    {"awe enabled", 0, 1, 0, true},
    {"c2 audit mode", 0, 1, 0, true},
    {"cost threshold for parallelism", 0, 32767, 5, true},
    {"Cross DB Ownership Chaining", 0, 1, 0, false},
    {"cursor threshold", -1, kMax, -1, true},
    {"default full-text language", 0, kMax, 1033, true},
    {"default language", 0, 9999, 0, false},
    {"fill factor (%)", 0, 100, 0, true},
    {"index create memory (KB)", 704, kMax, 0, true},
    {"lightweight pooling", 0, 1, 0, true},
    {"locks", 5000, kMax, 0, true},
    {"max degree of parallelism", 0, 32, 0, true},
    {"max server memory (MB)", 4, kMax, kMax, true},
    {"max text repl size (B)", 0, kMax, 65536, false},
    {"max worker threads", 32, 32767, 255, true},
    {"media retention", 0, 365, 0, true},
    {"min memory per query (KB)", 512, kMax, 1024, true},
    {"min server memory (MB)", 0, kMax, 0, true},
    {"nested triggers", 0, 1, 1, false},
    {"network packet size (B)", 512, 65536, 4096, true},
    {"open objects", 0, kMax, 0, true},
    {"priority boost", 0, 1, 0, true},
    {"query governor cost limit", 0, kMax, 0, true},
    {"query wait (s)", -1, kMax, -1, true},
    {"recovery interval (min)", 0, 32767, 0, true},
    {"remote access", 0, 1, 1, false},
    {"remote login timeout (s)", 0, kMax, 20, false},
    {"remote proc trans", 0, 1, 0, false},
    {"remote query timeout (s)", 0, kMax, 600, false},
    {"scan for startup procs", 0, 1, 0, true},
    {"set working set size", 0, 1, 0, true},
    {"show advanced options", 0, 1, 0, false},
    {"two digit year cutoff", 1753, 9999, 2049, false},
    {"user connections", 0, 32767, 0, true},
    {"user options", 0, 32767, 0, false},
};

std::string Key(const Option& option, bool run) {
  return std::string(run ? "configure$run$" : "configure$value$") + option.name;
}

Catalog& Master(SessionImpl& session) { return *session.Database(1).catalog; }

long long Stored(SessionImpl& session, const Option& option, bool run) {
  auto text = Master(session).Setting(session.connection(), Key(option, run));
  if (!text) return option.value;
  try {
    return std::stoll(*text);
  } catch (const std::exception&) {
    return option.value;
  }
}

void Store(SessionImpl& session, const Option& option, bool run, long long value) {
  Master(session).SetSetting(session.connection(), Key(option, run), std::to_string(value));
}

bool ShowsAdvanced(SessionImpl& session) {
  for (const Option& o : kOptions)
    if (EqualsNoCase(o.name, "show advanced options")) return Stored(session, o, true) != 0;
  return false;
}

// The options a name stands for: the one of that name, or those whose names contain it.
std::vector<const Option*> Matching(SessionImpl& session, std::string_view name) {
  const bool advanced = ShowsAdvanced(session);
  std::vector<const Option*> found;
  for (const Option& o : kOptions) {
    if (o.advanced && !advanced) continue;
    if (EqualsNoCase(o.name, name)) return {&o};
    if (Lower(o.name).find(Lower(name)) != std::string::npos) found.push_back(&o);
  }
  return found;
}

SqlError NoSuchOption(std::string_view name) { return errors::Raise<15123>(name); }

// sp_configure [@configname [, @configvalue]]: the options (those containing the name), or
// sets one; the new value runs after RECONFIGURE.
std::int64_t Configure(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_configure", arguments, {"@configname", "@configvalue"});
  SessionImpl& session = executor.session();
  const bool named = args.Given("@configname") && !args.Get("@configname").IsNull();
  const std::string name = named ? args.Text("@configname") : std::string();
  std::vector<const Option*> options;
  if (named) {
    options = Matching(session, name);
    if (options.empty()) throw NoSuchOption(name);
  } else {
    const bool advanced = ShowsAdvanced(session);
    for (const Option& o : kOptions)
      if (!o.advanced || advanced) options.push_back(&o);
  }
  if (args.Given("@configvalue") && !args.Get("@configvalue").IsNull()) {
    if (options.size() != 1) throw NoSuchOption(name);
    if (!HasServerRole(session, kServeradmin)) throw errors::Raise<15247>();
    const Option& option = *options[0];
    auto value = args.Get("@configvalue").ToInt();
    if (!value) throw errors::ConversionFailed(args.Text("@configvalue"), "int");
    if (*value < option.minimum || *value > option.maximum)
      throw errors::Raise<15129>(*value, option.name);
    const long long before = Stored(session, option, false);
    Store(session, option, false, *value);
    Inform(executor, errors::Raise<15457>(option.name, before, *value));
    return 0;
  }
  std::vector<std::vector<Value>> rows;
  for (const Option* o : options)
    rows.push_back({Value(o->name), Value(o->minimum), Value(o->maximum),
                    Value(Stored(session, *o, false)), Value(Stored(session, *o, true))});
  auto col = [](const char* n, SqlType t) {
    OutputColumn c;
    c.name = n;
    c.type = t;
    return c;
  };
  executor.SendRows({col("name", SqlType::NVarChar(35)), col("minimum", SqlType::Int()),
                     col("maximum", SqlType::Int()), col("config_value", SqlType::Int()),
                     col("run_value", SqlType::Int())},
                    rows);
  return 0;
}

// sp_monitor: the server's activity since the last call. The sandbox counts no processor,
// disk or network work, so those show as nothing done; the time between the calls is idle.
std::int64_t Monitor(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_monitor", arguments, {});
  SessionImpl& session = executor.session();
  if (!session.IsSysadmin()) throw errors::Raise<15247>();
  const std::string now = common::DateTime::Now().ToText();
  auto last = Master(session).Setting(session.connection(), "monitor$last_run");
  const std::string last_run = last ? *last : now;
  const auto from = common::DateTime::Parse(last_run);
  const auto to = common::DateTime::Parse(now);
  auto seconds_of = [](const common::DateTime& d) {
    using namespace std::chrono;
    const sys_days day = year{d.year} / month{static_cast<unsigned>(d.month)} /
                         std::chrono::day{static_cast<unsigned>(d.day)};
    return duration_cast<seconds>(day.time_since_epoch()).count() + d.hour * 3600LL +
           d.minute * 60LL + d.second;
  };
  const long long seconds = from && to ? std::max(0LL, seconds_of(*to) - seconds_of(*from)) : 0;
  Master(session).SetSetting(session.connection(), "monitor$last_run", now);
  const std::string idle = std::to_string(seconds) + "(" + std::to_string(seconds) + ")-100%";
  const long long connections = static_cast<long long>(session.instance().Sessions().size());
  auto col = [](const char* n, SqlType t) {
    OutputColumn c;
    c.name = n;
    c.type = t;
    return c;
  };
  const SqlType c25{TypeKind::kChar, 25};
  const SqlType c19{TypeKind::kChar, 19};
  auto padded = [](std::string text, size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return Value(text);
  };
  executor.SendRows({col("last_run", SqlType::DateTimeType()),
                     col("current_run", SqlType::DateTimeType()), col("seconds", SqlType::Int())},
                    {{Value(last_run), Value(now), Value(seconds)}});
  executor.SendRows({col("cpu_busy", c25), col("io_busy", c25), col("idle", c25)},
                    {{padded("0(0)-0%", 25), padded("0(0)-0%", 25), padded(idle, 25)}});
  executor.SendRows(
      {col("packets_received", c25), col("packets_sent", c25), col("packet_errors", c25)},
      {{padded("0(0)", 25), padded("0(0)", 25), padded("0(0)", 25)}});
  const std::string connected =
      std::to_string(connections) + "(" + std::to_string(connections) + ")";
  executor.SendRows(
      {col("total_read", c19), col("total_write", c19), col("total_errors", c19),
       col("connections", c19)},
      {{padded("0(0)", 19), padded("0(0)", 19), padded("0(0)", 19), padded(connected, 19)}});
  return 0;
}

}  // namespace

void RunReconfigure(Executor& executor) {
  SessionImpl& session = executor.session();
  if (!HasServerRole(session, kServeradmin)) throw errors::Raise<15247>();
  for (const Option& o : kOptions) {
    const long long value = Stored(session, o, false);
    if (value != Stored(session, o, true)) Store(session, o, true, value);
  }
}

void AddConfigureProcedures(SystemProcedureTable& table) {
  table.emplace("sp_configure", Configure);
  table.emplace("sp_monitor", Monitor);
}

}  // namespace sandbox
