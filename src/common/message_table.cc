// The message table: every text the administrator sees, by number. The texts are fixed, typos
// and doubled spaces included, because other programs and stored collections compare them.
// 291 and 292 are the DeleteFolder and DeleteDoc procedure scripts of the collection format.
#include "common/messages.h"

namespace common {

namespace {

// clang-format off
constexpr MessageEntry kMessages[] = {
    {1, "Tessera Server Manager"},
    {3, "Administers Tessera network collections on Microsoft SQL Server"},
    {4, "Database Servers"},
    {5, "Properties"},
    {6, "Users"},
    {7, "Collections"},
    {8, "Logins"},
    {9, " (Windows NT)"},
    {10, "New SQL Server Registration..."},
    {11, "Adds a new SQL Server Registration."},
    {12, "SQL Server Group"},
    {13, "Edit SQL Server Properties..."},
    {14, "Delete SQL Server Registration"},
    {15, "Stop"},
    {16, "Start"},
    {17, "Create New Network Collection"},
    {18, "Creates a new, empty network collection for Tessera on the SQL Server."},
    {19, "Open Network Collection..."},
    {20, "Opens an existing network collection."},
    {21, "Network Collection"},
    {22, "Close Network Collection"},
    {23, "Removes the collection from the SQL Server without deleting it."},
    {24, "Delete Network Collection"},
    {25, "Removes and deletes the network collection permanently."},
    {26, "Change Owner..."},
    {27, "Changes the owner of a network collection."},
    {28, "User names"},
    {29, "New Login..."},
    {30, "Adds a new user or group account for connecting to Microsoft SQL Server."},
    {31, "User"},
    {32, "New User..."},
    {33, "Adds a security account to the current collection."},
    {34, "Delete"},
    {35, "Removes the login from Microsoft SQL Server."},
    {36, "Shows the properties of the user."},
    {37, "Removes a security account from the current collection."},
    {38, "Shows the properties of the user."},
    {39,
     "You do not have the permission to create new network collections on SQL Server '[*]'.\n"
     "You must be a member of the fixed server role 'sysadmin' or 'dbcreator'."},
    {40,
     "You do not have the permission to execute this command. You must be a \n"
     "member of the fixed server role 'sysadmin' or database role 'db_owner'."},
    {41, "The following problem occurred when changing the collection owner:"},
    {42,
     "Do you want to detach the network collection '[*]' from SQL Server '[*]'?\n"
     "Afterward, users can no longer connect to this network collection."},
    {43,
     "You do not have the permission to detach collections from SQL Server '[*]'.\n"
     "You must be a member of the fixed server role 'sysadmin'."},
    {44, "The collection could not be detached from the SQL Server due to the following reason:"},
    {45,
     "Do you want to delete the network collection '[*]'?\n"
     "All data will be lost permanently!"},
    {46,
     "You do not have the permission to delete network collections on SQL Server '[*]'.\n"
     "You must be a member of the fixed server role 'sysadmin' or 'dbcreator'."},
    {47, "The following error occurred when deleting a network collection:"},
    {48,
     "Do you want to remove the SQL Server '[*]' from the console?\n"
     "The SQL Server will not be stopped or uninstalled."},
    {49,
     "You do not have the permission to add new user accounts on SQL Server '[*]'.\n"
     "You must be a member of the fixed server role 'sysadmin' or 'securityadmin'."},
    {50, "The following error occurred when adding a new SQL Server login:"},
    {51, "The following problem occurred while editing the SQL Server login properties:"},
    {52, "New User"},
    {53,
     "You do not have the permission to add new collection users. \n"
     "You must be a member of the fixed server role 'sysadmin' or \n"
     "a member of the database roles 'db_owner' or 'db_accessadmin'."},
    {54, "The following error occurred when adding a new collection user:"},
    {55,
     "You do not have the permission to attach databases to the SQL Server '[*]'.\n"
     "You must be member of the fixed server role 'sysadmin' or 'dbcreator'."},
    {56, "The following error occurred when attaching a network collection:"},
    {57, "Do you want to remove the user '[*]'?"},
    {58,
     "You do not have the permission to remove users from the collection '[*]'.\n"
     "You must be member of the fixed server role 'sysadmin' or member of\n"
     "the fixed database roles 'db_owner' or 'db_accessadmin'."},
    {59, "The follwong error occurred when removing a collection user:"},
    {60, "Do you want to delete the user account '[*]'?"},
    {61,
     "You do not have the permission to remove logins from the SQL Server '[*]'.\n"
     "You must be a member of the fixed server roles 'sysadmin' or 'securityadmin'."},
    {62, "The following error occurred when removing a login:"},
    {63, "The following error occurred when editing the SQL Server registration properties:"},
    {64, "Do you want to start the SQL Server '[*]'?"},
    {65, "There following error occurred when trying to start the SQL Server '[*]'."},
    {66, "Do you want to stop the SQL Server '[*]' ?"},
    {67,
     "The SQL Server '[*]' could not be stopped. Please check whether you have\n"
     "the permission to stop the SQL Server service."},
    {68, "There following error occurred when trying to stop the SQL Server '[*]'."},
    {69, "The following error occurred when editing the properties of a collection user:"},
    {70, "Windows Group"},
    {71, "Windows User"},
    {72, "Grant"},
    {73, "Deny"},
    {74, "Database name"},
    {75, "Database size"},
    {76, "Database owner"},
    {77, "Creation time"},
    {78, "Data file: Logical file name"},
    {79, "Data file: Physical file name"},
    {80, "Data file: File size"},
    {81, "Log file: Logical file name"},
    {82, "By group membership"},
    {83, "(Connect error. Please check the SQL Server registration properties)"},
    {84, "Stops the SQL Server."},
    {85, "Starts the SQL Server."},
    {86, "Removes the SQL Server registration from the console."},
    {87, "Shows the properties of the SQL Server registration."},
    {88, "Old owner:"},
    {89, "New owner:"},
    {90, "OK"},
    {91, "Cancel"},
    {92, "Please select a user."},
    {93, "The following error occurred when editing the database owner:"},
    {94, "Change Database Owner"},
    {95, "Select Folder"},
    {96, "Contains no database files"},
    {97, "free"},
    {98, "SQL Server Login Properties"},
    {99, "Common"},
    {100, "Server Roles"},
    {101, "Collection Access"},
    {102, "The user can access the following network collections:"},
    {103, "Name:"},
    {104, "Integrated Windows Authentication"},
    {105, "SQL Server Authentication"},
    {106, "Domain:"},
    {107, "Access security:"},
    {108, "Grant access"},
    {109, "Deny access"},
    {110, "Password:"},
    {111, "Server roles are used to grant server-wide security privileges to a user."},
    {112, "Description"},
    {113,
     "The members of the server role  'sysadmin' can perform any activity on SQL Servers "
     "and have complete control over all collections."},
    {114, "The members of the server role 'securityadmin' can create and manage server logins."},
    {115, "The members of the server role 'dbcreator' can create, alter, and delete collections."},
    {116,
     "You can only select user accounts if you run Windows NT based operating systems.\n"
     "If you want to add a Windows NT user, type the name as follows:\n"
     "DOMAIN\\Username or WORKSTATION\\Username."},
    {117, "Select Windows Account"},
    {118, "Please type or select a login name."},
    {119,
     "You do not have the permission to change the properties of SQL Server logins.\n"
     "It is required to be member of the 'sysadmin' or 'securityadmin' server role."},
    {120, "The following error ocurred when editing a login:"},
    {121, "Please select an existing Windows NT user or network account."},
    {122,
     "Alternatively, you can select SQL Server Authentication and add a new SQL Server "
     "user account."},
    {123, "Please choose a folder on [*]:"},
    {124, "You must enter a collection name here."},
    {125, "Invalid collection name"},
    {126,
     "Please type only characters from the English\n"
     "alphabet, numbers, or the underscore _ ."},
    {127,
     "There is already a collection in use with this name.\n"
     "Please choose a different name."},
    {128,
     "Type the name for the database file and select a folder on [*]\n"
     "where the file will be saved."},
    {129, "Path and file name on [*]:"},
    {130, "The specified path is invalid!"},
    {131,
     "This file already exists. Please choose a different name for the file,\n"
     "or click \"Browse...\" to select a different folder."},
    {132, "Create New Network Collection"},
    {133, "Creating the network collection. Please wait..."},
    {134, "Collection created successfully!"},
    {135,
     "The network collection '[*]' has been created and attached to SQL Server.\n"
     "\n"
     "\n"
     "Tessera users can now open the collection and save documents in it."},
    {136, "Close"},
    {137, "The following error occurred while creating the network collection:"},
    {138, "Create New Network Collection Wizard"},
    {139, "Browse..."},
    {140, "Next >"},
    {141, "< Back"},
    {142, "This wizard helps you create a new, empty network collection for use with Tessera."},
    {143, "To continue, click Next."},
    {144, "Specify collection name"},
    {145, "Each Tessera network collection has a unique name."},
    {146,
     "Each network collection is saved in a separate file on the hard disk of the SQL Server."},
    {147, "Name of the collection:"},
    {148, "Specify collection file"},
    {149, "Type a name for the new collection."},
    {150, "Welcome"},
    {151, "Please enter a collection name!"},
    {152,
     "The database name is invalid. Please use only characters\n"
     "from the English alphabet, numbers, or the underscore '_'."},
    {153, "Please enter a valid file path."},
    {154, "Open Collection"},
    {155, "Opening the collection..."},
    {156,
     "The selected collection with the file name '[*]'\n"
     "is already opened in Tessera Server Manager."},
    {157, "The following error occurred while opening the network collection:"},
    {158, "Select a database file on [*]:"},
    {159, "SQL Server Databases"},
    {160, "Open Network Collection"},
    {161, "Attach collection using the following database name:"},
    {162, "Select database file (*.mdf):"},
    {163, "Select transaction log file (*.ldf):"},
    {164, "Change Password"},
    {165, "Confirmed:"},
    {166, "New password:"},
    {167,
     "The confirmed password does not match.\n"
     "Please retry or click Cancel."},
    {168, "The password must not be longer than 128 characters."},
    {169, "Please wait..."},
    {211, "Under the address '[*]', no workstation is available."},
    {212, "Connection established successfully!"},
    {213, "The following error ocurred when connecting to the SQL Server:"},
    {214,
     "The following error occurred when trying to connect:\n"
     "[*]\n"
     "\n"
     "The user name is probably not available, or the password is incorrect."},
    {215, "Enter the following information to connect to a Microsoft SQL Server:"},
    {216, "1. Type a domain name (if available), or select one from the list:"},
    {217, "2. Type a server name, or select one from the list:"},
    {218, "3. Specify login information for this SQL Server:"},
    {219, "Use integrated security provided by Windows 2000/XP/Server 2003"},
    {220, "Use specific login name and password:"},
    {221, "Login name:"},
    {222, "Password:"},
    {223, "Refresh"},
    {224, "Test Connection"},
    {225, "New SQL Server Registration"},
    {226, "Collection User Properties"},
    {227, "DB user name:"},
    {228, "The user is member of the following database roles:"},
    {229, "Has full permissions in the database."},
    {230, "Has the permission to add or remove collection users."},
    {231, "Has the permission to administer privileges and role memberships in the collection."},
    {232, "Has the permission to add or delete folders and categories."},
    {233, "Has the permission to save, edit, or delete documents."},
    {234, "Has the permission to view and search documents."},
    {235, "Read permission (qa_reader)"},
    {236, "Write permission (qa_writer)"},
    {237, "Structure permission (qa_structurer)"},
    {238, "Security administrator  (db_securityadmin)"},
    {239, "Access administrator (db_accessadmin)"},
    {240, "Database owner (db_owner)"},
    {241, "New SQL Server Login"},
    {242,
     "You do not have the permission to add new users. To do this, you must\n"
     "be member of the database roles 'db_owner' or 'db_securityadmin,\n"
     "or member of the fixed server roles 'sysadmin' or 'securityadmin'."},
    {243,
     "You do not have the permission to change the properties of a SQL Server login.\n"
     "To do this, you must be member of the database roles 'db_owner' or 'db_securityadmin,\n"
     "or member of the fixed server roles 'sysadmin' or 'securityadmin'."},
    {244, "The following error occurred while changing the user properties:"},
    {245,
     "The SQL Server '[*]' does not support Windows Authentication\n"
     "because it is installed on a Windows 9x workstation.\n"
     "\n"
     "Please select SQL Server Authentication."},
    {246,
     "The SQL Server '[*]' is currently not configured to support SQL Server Authentication.\n"
     "\n"
     "If you want to use SQL Server Authentication with this SQLServer, you must activate "
     "it first.\n"
     "Please have a look at the SQL Server section of the user guide."},
    {247, "Select user with Windows account"},
    {248,
     "Select a user or group that owns a Windows account in a domain or \n"
     "a local account on a Windows NT workstation."},
    {249,
     "If this user is a member of a group that can connect to this SQL Server,\n"
     "you can explicitly deny the access."},
    {250, "Type user name and password"},
    {251,
     "Type a user name and password for the new user \n"
     "to authenticate on the SQL Server."},
    {252, "Confirm password:"},
    {253, "Please type a login name."},
    {254,
     "The password was not specified or confirmed correctly.\n"
     "Please type the password again."},
    {255, "Select network collections"},
    {256, "You must specify which collections the new user is allowed to access."},
    {257, "Choose the network collections that the user can access:"},
    {258, "User added successfully"},
    {259,
     "The user '[*]' has been added.\n"
     "\n"
     "The Tessera user now can connect to the SQL Server '[*]' and access the selected "
     "collections\n"
     "with read and write permissions.\n"
     "\n"
     "You can change the access rights for each collection later."},
    {260, "Add Login Wizard"},
    {261,
     "This wizard helps you create a new user account on Microsoft SQL Server or give an "
     "existing Windows user account the permission to access Tessera network collections. "
     "You can specify which collections the new user is allowed to access."},
    {262, "Choose authentication type"},
    {263, "There are two possibilities to connect to a Microsoft SQL Server."},
    {264, "Choose how the new user will be identified on SQL Server:"},
    {265, "Integrated Windows Authentication"},
    {266,
     "The user authenticates with his existing Windows user account. The identity is "
     "determined due to the fact that the user has previously logged on to the network "
     "(domain) or workstation."},
    {267, "SQL Server Authentication"},
    {268,
     "A new user account will be created on SQL Server. The user connects to the SQL "
     "Server with his user name and password. Choose this type of authentication if you "
     "are working in a Peer-to-Peer network (workgroup), or if the user cannot connect to "
     "a domain (for example, due to remote access via Internet)."},
    {286, "Please choose an existing Windows user/group account."},
    {287, "A new user account on SQL Server will be created."},
    {291,
     "CREATE PROCEDURE DeleteFolder\n"
     "@FolderID SMALLINT\n"
     "As\n"
     "DECLARE @Virtual BIT\n"
     "BEGIN TRANSACTION\n"
     "CREATE TABLE #TempFolder (FolderID INTEGER)\n"
     "INSERT INTO #TempFolder (FolderID)\n"
     "SELECT ChildFolderID FROM SubFolder WHERE ParentFolderID=@FolderID\n"
     "INSERT INTO #TempFolder (FolderID) VALUES (@FolderID)\n"
     "WHILE @@ROWCOUNT > 0\n"
     "BEGIN\n"
     "INSERT INTO #TempFolder (FolderID) SELECT DISTINCT SubFolder.ChildFolderID FROM "
     "#TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID = SubFolder.ParentFolderID "
     "WHERE (((SubFolder.ChildFolderID) Not In (SELECT #TempFolder.FolderID FROM "
     "#TempFolder)))\n"
     "END\n"
     "SELECT @Virtual=(SELECT Virtual FROM Folder WHERE FolderID = @FolderID)\n"
     "IF (@Virtual=0)\n"
     "BEGIN\n"
     "CREATE TABLE #TempDocument (EntryID INTEGER)\n"
     "INSERT INTO #TempDocument (EntryID) SELECT Document.EntryID FROM #TempFolder INNER "
     "JOIN Document ON #TempFolder.FolderID = Document.FolderID\n"
     "WHILE @@ROWCOUNT > 0\n"
     "BEGIN\n"
     "INSERT INTO #TempDocument (EntryID) SELECT DISTINCT SubDocument.ChildEntryID AS "
     "EntryID FROM #TempDocument AS #TempDocument_1 RIGHT JOIN (#TempDocument INNER JOIN "
     "SubDocument ON #TempDocument.EntryID = SubDocument.ParentEntryID) ON "
     "#TempDocument_1.EntryID = SubDocument.ChildEntryID WHERE (((#TempDocument_1.EntryID) "
     "Is Null))\n"
     "END\n"
     "DELETE FROM #TempDocument FROM (#TempDocument INNER JOIN SubDocument ON "
     "#TempDocument.EntryID = SubDocument.ChildEntryID) LEFT JOIN #TempDocument AS "
     "#TempDocument_1 ON SubDocument.ParentEntryID = #TempDocument_1.EntryID WHERE "
     "(((#TempDocument_1.EntryID) Is Null))\n"
     "DELETE FROM Document FROM Document INNER JOIN #TempDocument ON Document.EntryID = "
     "#TempDocument.EntryID WHERE Document.EntryID>1\n"
     "DELETE FROM SubDocument FROM #TempDocument INNER JOIN SubDocument ON "
     "#TempDocument.EntryID = SubDocument.ParentEntryID\n"
     "DELETE FROM SubDocument FROM #TempDocument INNER JOIN SubDocument ON "
     "#TempDocument.EntryID = SubDocument.ChildEntryID\n"
     "DELETE FROM DocCategory FROM #TempDocument INNER JOIN DocCategory ON "
     "#TempDocument.EntryID = DocCategory.EntryID\n"
     "DELETE FROM ExtendedData FROM #TempDocument INNER JOIN ExtendedData ON "
     "#TempDocument.EntryID = ExtendedData.EntryID INNER JOIN ExtendedField ON "
     "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE ExtendedField.FieldType=3\n"
     "DROP TABLE #TempDocument\n"
     "END\n"
     "ELSE\n"
     "DELETE FROM DocLink FROM #TempFolder INNER JOIN DocLink ON #TempFolder.FolderID = "
     "DocLink.FolderID\n"
     "\tDELETE FROM Folder FROM #TempFolder INNER JOIN Folder ON #TempFolder.FolderID = "
     "Folder.FolderID WHERE Folder.FolderID > 1000\n"
     "\tDELETE FROM SubFolder FROM #TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID "
     "= SubFolder.ParentFolderID WHERE SubFolder.ParentFolderID > 1000\n"
     "\tDELETE FROM SubFolder FROM #TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID "
     "= SubFolder.ChildFolderID WHERE SubFolder.ChildFolderID > 1000\n"
     "DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN ExtendedField ON "
     "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) INNER JOIN #TempFolder ON "
     "ExtendedData.EntryID = #TempFolder.FolderID WHERE ExtendedField.FieldType=2\n"
     "DROP TABLE #TempFolder\n"
     "\n"
     "IF (@FolderID=600)\n"
     "UPDATE Document SET FolderID=0 WHERE FolderID=600\n"
     "COMMIT TRANSACTION"},
    {292,
     "CREATE Procedure DeleteDoc (@EntryID INT) \n"
     "As \n"
     "BEGIN TRANSACTION \n"
     "CREATE TABLE #TempDocument1 (EntryID int NOT NULL) \n"
     "INSERT INTO #TempDocument1 (EntryID) VALUES (@EntryID) \n"
     "WHILE @@ROWCOUNT > 0 \n"
     "BEGIN \n"
     "\tINSERT INTO #TempDocument1 (EntryID) SELECT DISTINCT SubDocument.ChildEntryID AS "
     "EntryID FROM #TempDocument1 AS #TempDocument1_1 RIGHT JOIN (#TempDocument1 INNER "
     "JOIN SubDocument ON #TempDocument1.EntryID = SubDocument.ParentEntryID) ON "
     "#TempDocument1_1.EntryID = SubDocument.ChildEntryID WHERE "
     "(((#TempDocument1_1.EntryID) Is Null)) \n"
     "End \n"
     "SELECT DISTINCT MyTemp.EntryID INTO #TempDocument2 FROM (#TempDocument1 AS MyTemp "
     "INNER JOIN SubDocument ON MyTemp.EntryID = SubDocument.ChildEntryID) LEFT JOIN "
     "#TempDocument1 AS #TempDocument1_1 ON SubDocument.ParentEntryID = "
     "#TempDocument1_1.EntryID WHERE (((#TempDocument1_1.EntryID) Is Null)) \n"
     "SELECT #TempDocument1.EntryID INTO #TempDocument3 FROM #TempDocument1 LEFT JOIN "
     "#TempDocument2 ON #TempDocument1.EntryID=#TempDocument2.EntryID WHERE "
     "(((#TempDocument2.EntryID) Is Null) AND (#TempDocument1.EntryID > 1)) \n"
     "DELETE FROM Document FROM Document INNER JOIN #TempDocument3 ON Document.EntryID = "
     "#TempDocument3.EntryID \n"
     "DELETE FROM SubDocument FROM #TempDocument3 INNER JOIN SubDocument ON "
     "#TempDocument3.EntryID = SubDocument.ParentEntryID\n"
     "DELETE FROM SubDocument FROM #TempDocument3 INNER JOIN SubDocument ON "
     "#TempDocument3.EntryID = SubDocument.ChildEntryID\n"
     "DELETE FROM DocCategory FROM #TempDocument3 INNER JOIN DocCategory ON "
     "#TempDocument3.EntryID = DocCategory.EntryID\n"
     "DELETE FROM ExtendedData FROM (#TempDocument3 INNER JOIN ExtendedData ON "
     "#TempDocument3.EntryID = ExtendedData.EntryID) INNER JOIN ExtendedField ON "
     "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedField.FieldType)=3))\n"
     "DELETE FROM DocLink FROM #TempDocument3 INNER JOIN DocLink ON #TempDocument3.EntryID "
     "= DocLink.EntryID\n"
     "DROP TABLE #TempDocument1\n"
     "DROP TABLE #TempDocument2\n"
     "DROP TABLE #TempDocument3\n"
     "COMMIT TRANSACTION"},
    {298, "Name"},
    {299, "Type"},
    {300, "Access"},
    {301, "Login Name"},
    {302, "Database Access"},
    {303, "Value"},
    {304, "Welcome to the Create New Network Collection Wizard"},
    {305, "Welcome to the Add Login Wizard"},
    {306, "Select..."},
    {307, "Select Database File"},
    {308, "Select Transaction Log File"},
    {309,
     "The user '[*]' is currently the owner of the database '[*]'\n"
     "and thus he cannot be deleted until you change the owner of this database."},
    {310, "Registered SQL Server - Edit Login Properties"},
    {311, "System Administrator (sysadmin)"},
    {312, "Security Administrator (securityadmin)"},
    {313, "Database Creator (dbcreator)"},
    {314,
     "When using MS SQL Server 7.0, the name of a collection cannot be longer than 11 "
     "characters."},
    {315,
     "The network collection '[*]' has been created with an older\n"
     "release of Quillarchive Server. To support the improvements of\n"
     "Tessera, the database format has to be changed.\n"
     "\n"
     "After this conversion this collection can only be used with \n"
     "Quillarchive 1.5 (or later) or Tessera.\n"
     "\n"
     "Do you want to convert the collection now?\n"
     "Note: If you choose No, you will be asked again at next startup."},
    {316,
     "The new database format for Quillarchive 1.5/Tessera enables faster and \n"
     "more precise search results. For this, it needs to be optimized.\n"
     "\n"
     "The network collection '[*]' has not been optimized yet.\n"
     "Do you want to start the process now?\n"
     "\n"
     "Note: You can also start the process at next startup of Server Manager."},
    {317,
     "Generating full-text information\n"
     "for the network collection '[*]'"},
    {318, "Please wait..."},
    {319, "SQL Server Version"},
    {320, "SQL Server and Windows Authentication"},
    {321, "Full-Text Index"},
    {322, "Create Full-Text Index"},
    {323, "Enables the full-text index for the current collection."},
    {324, "Remove Full-Text Index"},
    {325, "Removes the full-text index and disables the full-text indexing."},
    {326, "Idle"},
    {327, "Full population in progress"},
    {328, "Paused"},
    {329, "Throttled"},
    {330, "Recovering"},
    {331, "Shutdown"},
    {332, "Incremental population in progress"},
    {333, "Building index"},
    {334, "Disk is full. Paused"},
    {335, "Change tracking"},
    {336, "Full-text indexing is not active."},
    {337, "Name of the full-text index"},
    {338, "Location of the full-text index"},
    {339, "Number of indexed items"},
    {340, "Size of the index"},
    {341, "Date of last change"},
    {344,
     "Creating a full-text index for the network collection '[*]'.\n"
     "Do you want to proceed?"},
    {345,
     "The full-text index for the collection '[*]' will be deleted.\n"
     "Do you want to proceed?"},
    {346, "This SQL Server does not support ful-text indexing."},
    {347, "Updating the collection '[*]'."},
    {348,
     "The network collection '[*]' has the Quillarchive 1.5 format.\n"
     "To use it with Tessera, the database structures must be extended.\n"
     "However, the collection will remain compatible with Quillarchive 1.5.\n"
     "\n"
     "Do you want to convert the collection now?\n"
     "Note: If you choose No, you will be asked again at next startup."},
    {349,
     "The network collection '[*]' is not yet prepared to save\n"
     "document URLs with more than 255 characters.\n"
     "\n"
     "Tessera Server Manager can now convert the collection to\n"
     "store and index addresses with a length up to 4000 characters.\n"
     "The collection remains backward compatible.\n"
     "\n"
     "Do you want to convert the collection now (recommended)?\n"
     "Note: If you choose 'No', you will be asked again at next startup."},
    {350, "Default collation"},
    {351, "Authentication mode"},
    {352,
     "The network collection '[*]' has the database version [*].\n"
     "It can be updated to version [*] now.\n"
     "The collection will remain backward compatible.\n"
     "\n"
     "Do you want to convert the collection now (recommended)?\n"
     "Note: If you choose No, you will be asked again at next startup."},
    {353, "Shrink Log File"},
    {354, "Do you want to shrink the log file of the network collection '[*]'?"},
    {355, "The following problem occurred when executing the command:"},
    {356, "Log file: Physical file name"},
    {357, "Log file: File Size"},
};
// clang-format on

}  // namespace

std::span<const MessageEntry> AllMessages() { return kMessages; }

}  // namespace common
