#include "db/drivers/odbc/diagnostics.h"

#include <sqlucode.h>

#include <algorithm>
#include <set>

#include "db/drivers/odbc/wide_text.h"

namespace db {

namespace {

// SQL Server's own diagnostic fields, as FreeTDS and Microsoft's drivers offer them.
constexpr SQLSMALLINT kDiagMessageState = -1150;
constexpr SQLSMALLINT kDiagSeverity = -1151;
constexpr SQLSMALLINT kDiagProcedure = -1153;
constexpr SQLSMALLINT kDiagLine = -1154;

constexpr char kNoServer[] =
    "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.";

}  // namespace

std::string WithoutPrefixes(std::string text, bool* from_server) {
  std::size_t at = 0;
  std::string last;
  while (at < text.size() && text[at] == '[') {
    std::size_t end = text.find(']', at);
    if (end == std::string::npos) break;
    last = text.substr(at, end + 1 - at);
    at = end + 1;
  }
  *from_server = last == "[SQL Server]";
  return text.substr(at);
}

std::vector<Diagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle,
                                    const DiagnosticCalls& calls) {
  std::vector<Diagnostic> out;
  if (!handle) return out;
  for (SQLSMALLINT record = 1; record < 1000; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = calls.record(type, handle, record, state, &native, nullptr, 0, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    WideString text(static_cast<std::size_t>(length) + 1, 0);
    rc = calls.record(type, handle, record, state, &native, text.data(),
                      static_cast<SQLSMALLINT>(text.size()), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    text.resize(std::min<std::size_t>(length, text.size() - 1));
    Diagnostic d;
    d.sqlstate = Narrow(state, 5);
    d.native = native;
    d.text = WithoutPrefixes(Narrow(text), &d.from_server);
    // FreeTDS words its own time-outs and broken connections as the server's (with numbers of
    // its own); these SQLSTATEs are always the driver's.
    static const std::set<std::string> kDriverStates = {"HYT00", "HYT01", "HY008", "08S01",
                                                        "08S02", "08001", "08003", "08007"};
    d.from_server = (d.from_server || native != 0) && !kDriverStates.count(d.sqlstate);
    if (d.FromServer()) {
      SQLINTEGER severity = 0, state = 0;
      bool has_severity =
          SQL_SUCCEEDED(calls.field(type, handle, record, kDiagSeverity, &severity, 0, nullptr));
      bool has_state =
          SQL_SUCCEEDED(calls.field(type, handle, record, kDiagMessageState, &state, 0, nullptr));
      if (has_severity) {
        d.severity = static_cast<int>(severity);
        if (has_state) d.state = static_cast<int>(state);
      } else if (has_state) {
        // FreeTDS has no severity field and reports the severity as the message state.
        d.severity = static_cast<int>(state);
      }
      SQLUSMALLINT line = 0;
      if (SQL_SUCCEEDED(calls.field(type, handle, record, kDiagLine, &line, 0, nullptr)))
        d.line = line;
      SQLWCHAR procedure[256] = {};
      SQLSMALLINT procedure_length = 0;
      if (SQL_SUCCEEDED(calls.field(type, handle, record, kDiagProcedure, procedure,
                                    sizeof procedure, &procedure_length)))
        d.procedure = Narrow(procedure, std::min<std::size_t>(procedure_length / sizeof(SQLWCHAR),
                                                              std::size(procedure) - 1));
    }
    out.push_back(std::move(d));
  }
  return out;
}

ServerMessage MessageFrom(const Diagnostic& d) {
  ServerMessage message;
  message.number = d.native;
  const bool warning = d.sqlstate.rfind("01", 0) == 0;
  // A driver that does not tell the severity still tells a warning from an error.
  message.severity = d.severity >= 0 ? d.severity : warning ? (d.native == 5701 ? 10 : 0) : 16;
  message.state = d.state >= 0 ? d.state : 1;
  message.text = d.text;
  message.procedure = d.procedure;
  message.line = d.line;
  return message;
}

namespace {

ErrorRecord RecordFrom(const Diagnostic& d) {
  ErrorRecord record;
  record.number = d.FromServer() ? ProviderNumberFor(d.native) : kErrorUnspecified;
  record.source = kProviderSource;
  record.description = d.text + (d.FromServer() ? "" : " (SQLSTATE " + d.sqlstate + ")");
  record.native_error = d.native;
  record.severity = d.FromServer() ? MessageFrom(d).severity : 16;
  record.state = d.state >= 0 ? d.state : 1;
  return record;
}

}  // namespace

Error WithDetails(Error error, const std::vector<Diagnostic>& diagnostics) {
  std::vector<ErrorRecord> records = {error.record()};
  for (const Diagnostic& d : diagnostics) records.push_back(RecordFrom(d));
  error.set_errors(std::move(records));
  return error;
}

Error NoServerError(const std::vector<Diagnostic>& diagnostics, const std::string& detail) {
  std::string text = kNoServer;
  if (!detail.empty()) text += " (" + detail + ")";
  return WithDetails(Error(kErrorUnspecified, kProviderSource, text, 17, 16, 1), diagnostics);
}

Error NetworkError(const std::vector<Diagnostic>& diagnostics) {
  return WithDetails(
      Error(kErrorUnspecified, kProviderSource,
            "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
            "documentation.",
            11, 16, 1),
      diagnostics);
}

namespace {

bool IsLoginRefusal(const Diagnostic& d) {
  static constexpr SQLINTEGER kRefusals[] = {18450, 18452, 18456, 18458, 18459, 18460,
                                             18461, 18470, 18486, 18487, 18488};
  return d.sqlstate == "28000" ||
         std::find(std::begin(kRefusals), std::end(kRefusals), d.native) != std::end(kRefusals);
}

}  // namespace

Error ConnectFailure(const std::vector<Diagnostic>& diagnostics, const ConnectRequest& request,
                     std::string_view driver) {
  for (const Diagnostic& d : diagnostics) {
    if (!IsLoginRefusal(d)) continue;
    ServerMessage m = MessageFrom(d);
    // Drivers do not all tell a login message's class; SQL Server's is 14.
    if (m.severity <= 10) m.severity = 14;
    std::string text = m.text;
    if (request.integrated) {
      text +=
          " Windows authentication (Integrated Security=SSPI) reaches SQL Server from Linux "
          "only through Kerberos: get a ticket for a domain account with kinit, and the "
          "server needs a service principal name (MSSQLSvc/host:port).";
    }
    return WithDetails(
        Error(kErrorAuthenticationFailed, kProviderSource, text, m.number, m.severity, m.state),
        diagnostics);
  }
  for (const Diagnostic& d : diagnostics) {
    if (d.sqlstate == "IM002" || d.sqlstate == "IM003" ||
        d.text.find("an't open lib") != std::string::npos) {
      return WithDetails(Error(kErrorProviderNotFound, "ADODB.Connection",
                               "Provider cannot be found. It may not be properly installed. "
                               "(ODBC driver \"" +
                                   std::string(driver) + "\": " + d.text + ")"),
                         diagnostics);
    }
  }
  if (request.integrated) {
    std::string said;
    for (const Diagnostic& d : diagnostics) said += (said.empty() ? "" : " ") + d.text;
    return WithDetails(
        Error(kErrorAuthenticationFailed, kProviderSource,
              "Windows authentication (Integrated Security=SSPI) failed: on Linux it needs "
              "Kerberos (a ticket from kinit for a domain account, and a service principal "
              "name for the server), or use a SQL Server login. The driver said: " +
                  said),
        diagnostics);
  }
  for (const Diagnostic& d : diagnostics) {
    if (d.FromServer() && MessageFrom(d).severity > 10) {
      ServerMessage m = MessageFrom(d);
      return WithDetails(
          Error(kErrorUnspecified, kProviderSource, m.text, m.number, m.severity, m.state),
          diagnostics);
    }
  }
  std::string detail;
  for (const Diagnostic& d : diagnostics) {
    if (d.sqlstate.rfind("01", 0) != 0) {
      detail = d.text;
      break;
    }
  }
  return NoServerError(diagnostics, detail);
}

}  // namespace db
