// What a collection's full-text "create", "stop", "drop" and "start" send, statement for
// statement: the console's tests expect these texts and the sandbox's tests run them.
#pragma once

#include <string>
#include <vector>

namespace common::testing {

inline const std::vector<std::string> kFullTextCreate = {
    "EXEC sp_fulltext_database 'enable'",
    "EXEC sp_fulltext_catalog 'Doc_Desc', 'create'",
    "EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'",
    "EXEC sp_fulltext_column 'Document','Title','add'",
    "EXEC sp_fulltext_column 'Document','PlainText','add'",
    "EXEC sp_fulltext_column 'Document','Comment','add'",
    "Exec sp_fulltext_table 'Document','activate'",
    "EXEC sp_fulltext_table Document, 'Start_change_tracking'",
    "EXEC sp_fulltext_table Document, 'Start_background_updateindex'"};
inline const std::vector<std::string> kFullTextStop = {
    "EXEC sp_fulltext_table Document, 'Stop_background_updateindex'",
    "EXEC sp_fulltext_table Document, 'stop_change_tracking'",
    "Exec sp_fulltext_table 'Document','stop'", "EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop'"};
inline const std::vector<std::string> kFullTextDrop = {
    "EXEC sp_fulltext_table Document, 'Stop_background_updateindex'",
    "EXEC sp_fulltext_table Document, 'stop_change_tracking'",
    "EXEC sp_fulltext_table 'Document', 'stop'",
    "EXEC sp_fulltext_table 'Document', 'drop'",
    "EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'",
    "EXEC sp_fulltext_database 'disable'"};
inline const std::vector<std::string> kFullTextStart = {
    "EXEC sp_fulltext_table Document, 'Start_change_tracking'",
    "EXEC sp_fulltext_table Document, 'Start_background_updateindex'"};

}  // namespace common::testing
