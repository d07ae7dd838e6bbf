// The interface's enumerated settings, with the numbers callers and stored data use.
#pragma once

namespace db {

// Connection and recordset State.
inline constexpr int kStateClosed = 0;
inline constexpr int kStateOpen = 1;

// CursorLocation.
inline constexpr int kUseServer = 2;
inline constexpr int kUseClient = 3;

// CursorType.
inline constexpr int kOpenUnspecified = -1;
inline constexpr int kOpenForwardOnly = 0;
inline constexpr int kOpenKeyset = 1;
inline constexpr int kOpenDynamic = 2;
inline constexpr int kOpenStatic = 3;

// LockType.
inline constexpr int kLockUnspecified = -1;
inline constexpr int kLockReadOnly = 1;
inline constexpr int kLockPessimistic = 2;
inline constexpr int kLockOptimistic = 3;
inline constexpr int kLockBatchOptimistic = 4;

// CommandType and the options of Open and Execute.
inline constexpr int kCmdUnspecified = -1;
inline constexpr int kCmdText = 1;
inline constexpr int kCmdTable = 2;
inline constexpr int kCmdStoredProc = 4;
inline constexpr int kCmdUnknown = 8;
inline constexpr int kCmdTableDirect = 512;
inline constexpr int kExecuteNoRecords = 128;

// EditMode.
inline constexpr int kEditNone = 0;
inline constexpr int kEditInProgress = 1;
inline constexpr int kEditAdd = 2;

// Parameter and field data types (the interface's type numbers).
inline constexpr int kTypeEmpty = 0;
inline constexpr int kTypeSmallInt = 2;
inline constexpr int kTypeInteger = 3;
inline constexpr int kTypeSingle = 4;
inline constexpr int kTypeDouble = 5;
inline constexpr int kTypeCurrency = 6;
inline constexpr int kTypeDate = 7;
inline constexpr int kTypeBoolean = 11;
inline constexpr int kTypeDecimal = 14;
inline constexpr int kTypeTinyInt = 16;
inline constexpr int kTypeUnsignedTinyInt = 17;
inline constexpr int kTypeBigInt = 20;
inline constexpr int kTypeGuid = 72;
inline constexpr int kTypeBinary = 128;
inline constexpr int kTypeChar = 129;
inline constexpr int kTypeWChar = 130;
inline constexpr int kTypeNumeric = 131;
inline constexpr int kTypeDBTimeStamp = 135;
inline constexpr int kTypeVarChar = 200;
inline constexpr int kTypeLongVarChar = 201;
inline constexpr int kTypeVarWChar = 202;
inline constexpr int kTypeLongVarWChar = 203;
inline constexpr int kTypeVarBinary = 204;
inline constexpr int kTypeLongVarBinary = 205;

// Parameter Direction.
inline constexpr int kParamInput = 1;
inline constexpr int kParamOutput = 2;
inline constexpr int kParamInputOutput = 3;
inline constexpr int kParamReturnValue = 4;

}  // namespace db
