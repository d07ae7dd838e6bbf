#include "collections/database.h"
#include "collections/sql.h"
#include "servers/sql_text.h"

namespace collections {

namespace {

constexpr int kSqlServer7 = 7;
// SQL Server 7.0 populates a catalogue as a whole; its sp_fulltext_table knows no population.
constexpr char kFullTextStartFull70[] = "EXEC sp_fulltext_catalog 'Doc_Desc', 'start_full'";

using detail::CloseQuietly;
using detail::FirstValue;
using detail::HasRow;
using detail::SkipToRows;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Days from 1 January 1970 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

common::DateTime CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  common::DateTime date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2));
  return date;
}

}  // namespace

common::DateTime FullTextAgeToDate(std::int64_t seconds) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  common::DateTime date = CivilFromDays(DaysFromCivil(1990, 1, 1) + days);
  date.hour = static_cast<int>(rest / 3600);
  date.minute = static_cast<int>(rest / 60 % 60);
  date.second = static_cast<int>(rest % 60);
  return date;
}

int Database::GetFullTextStatus() {
  db::Recordset installed =
      connection_.Execute("SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled')");
  std::optional<db::Value> value = FirstValue(installed);
  CloseQuietly(installed);
  if (!value || value->IsNull() || value->ToInt() != 1) return kFullTextNotInstalled;
  try {
    db::Recordset catalogues = connection_.Execute("EXEC sp_help_fulltext_catalogs 'Doc_Desc'");
    SkipToRows(catalogues);
    std::optional<std::int64_t> status;
    if (HasRow(catalogues)) status = catalogues.Fields("status").Value().ToInt();
    CloseQuietly(catalogues);
    if (status) return static_cast<int>(*status);
  } catch (const std::exception&) {
    // No catalogue by that name, or no way to ask: the index is not active.
  }
  return kFullTextNoCatalogue;
}

bool Database::ServerKnowsChangeTracking() {
  // A server whose version cannot be read gets the statements as written.
  return server_ == nullptr || server_->ProductVersion() != kSqlServer7;
}

bool Database::DoFullTextAction(std::string_view action) {
  const int status = GetFullTextStatus();
  const std::string verb = Lower(action);
  if (verb != "create" && verb != "stop" && verb != "start" && verb != "drop") return false;
  if (verb == "create" ? status != kFullTextNoCatalogue
      : verb == "stop" ? status != kFullTextFullPopulation && status != kFullTextChangeTracking
                       : status < kFullTextIdle) {
    return false;
  }
  // SQL Server 7.0 has neither change tracking nor background updating, and populates (or stops
  // populating) a catalogue as a whole; it refuses the other options with error 15600.
  const bool tracking = ServerKnowsChangeTracking();
  if (verb == "create") {
    connection_.Execute("EXEC sp_fulltext_database 'enable'");
    connection_.Execute("EXEC sp_fulltext_catalog 'Doc_Desc', 'create'");
    connection_.Execute("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'");
    connection_.Execute("EXEC sp_fulltext_column 'Document','Title','add'");
    connection_.Execute("EXEC sp_fulltext_column 'Document','PlainText','add'");
    connection_.Execute("EXEC sp_fulltext_column 'Document','Comment','add'");
    connection_.Execute("Exec sp_fulltext_table 'Document','activate'");
    if (tracking) {
      connection_.Execute("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
      connection_.Execute("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
    } else {
      connection_.Execute(kFullTextStartFull70);
    }
  } else if (verb == "stop") {
    if (tracking) {
      connection_.Execute("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
      connection_.Execute("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
      connection_.Execute("Exec sp_fulltext_table 'Document','stop'");
    }
    connection_.Execute("EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop'");
  } else if (verb == "start") {
    // Starting is what "create" does last: keep the index up to date as documents change.
    if (tracking) {
      connection_.Execute("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
      connection_.Execute("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
    } else {
      connection_.Execute(kFullTextStartFull70);
    }
  } else if (verb == "drop") {
    // Dropping a large catalogue outlasts any time-out.
    connection_.SetCommandTimeout(0);
    if (tracking) {
      connection_.Execute("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
      connection_.Execute("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
      connection_.Execute("EXEC sp_fulltext_table 'Document', 'stop'");
    }
    connection_.Execute("EXEC sp_fulltext_table 'Document', 'drop'");
    connection_.Execute("EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'");
    connection_.Execute("EXEC sp_fulltext_database 'disable'");
  }
  return true;
}

FullTextIndexProperties Database::ReadFullTextProperties() {
  FullTextIndexProperties properties;
  command_.SetCommandType(db::kCmdText);
  command_.SetCommandText("sp_help_fulltext_catalogs");
  db::Recordset catalogues;
  catalogues.Open(command_);
  SkipToRows(catalogues);
  if (HasRow(catalogues)) {
    properties.name = catalogues.Fields("name").Value().ToText();
    properties.status = static_cast<int>(catalogues.Fields("status").Value().ToInt().value_or(0));
    properties.path = catalogues.Fields("PATH").Value().ToText();
  }
  CloseQuietly(catalogues);
  auto property = [&](const char* tail) {
    db::Recordset recordset = connection_.Execute("SELECT FULLTEXTCATALOGPROPERTY(" +
                                                  servers::QuoteText(properties.name) + tail);
    std::optional<db::Value> value = FirstValue(recordset);
    CloseQuietly(recordset);
    return value ? *value : db::Value();
  };
  properties.item_count = property(", 'ItemCount')").ToText();
  properties.index_size = property(", 'IndexSize')").ToText();
  properties.last_change =
      FullTextAgeToDate(property(", 'PopulateCompletionAge')").ToInt().value_or(0));
  return properties;
}

}  // namespace collections
