#include "collections/database.h"
#include "collections/sql.h"

namespace collections {

namespace {

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

}  // namespace

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

void Database::DoFullTextAction(std::string_view action) {
  const int status = GetFullTextStatus();
  const std::string verb = Lower(action);
  if (verb == "create") {
    if (status != kFullTextNoCatalogue) return;
    connection_.Execute("EXEC sp_fulltext_database 'enable'");
    connection_.Execute("EXEC sp_fulltext_catalog 'Doc_Desc', 'create'");
    connection_.Execute("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'");
    connection_.Execute("EXEC sp_fulltext_column 'Document','Title','add'");
    connection_.Execute("EXEC sp_fulltext_column 'Document','PlainText','add'");
    connection_.Execute("EXEC sp_fulltext_column 'Document','Comment','add'");
    connection_.Execute("Exec sp_fulltext_table 'Document','activate'");
    connection_.Execute("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
    connection_.Execute("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  } else if (verb == "stop") {
    if (status != kFullTextFullPopulation && status != kFullTextChangeTracking) return;
    connection_.Execute("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
    connection_.Execute("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
    connection_.Execute("Exec sp_fulltext_table 'Document','stop'");
    connection_.Execute("EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop'");
  } else if (verb == "start") {
    // Starting is what "create" does last: keep the index up to date as documents change.
    if (status < kFullTextIdle) return;
    connection_.Execute("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
    connection_.Execute("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  } else if (verb == "drop") {
    if (status < kFullTextIdle) return;
    // Dropping a large catalogue outlasts any time-out.
    connection_.SetCommandTimeout(0);
    connection_.Execute("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
    connection_.Execute("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
    connection_.Execute("EXEC sp_fulltext_table 'Document', 'stop'");
    connection_.Execute("EXEC sp_fulltext_table 'Document', 'drop'");
    connection_.Execute("EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'");
    connection_.Execute("EXEC sp_fulltext_database 'disable'");
  }
}

}  // namespace collections
