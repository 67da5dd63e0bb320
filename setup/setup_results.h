// Result codes of the setup's operations: 0 for success, the rest as listed.
#pragma once

#include <cstdint>

namespace quillon {

inline constexpr std::int32_t kSetupOk = 0;
inline constexpr std::int32_t kHciKeyUnreadable = 101;          // RetrieveBluetoothPort: the HCI cache key
inline constexpr std::int32_t kDriversActiveUnreadable = 102;   // "Drivers\Active" cannot be opened
inline constexpr std::int32_t kHciKeyNamesNoPort = 103;         // the HCI cache key holds no port name
inline constexpr std::int32_t kDriverKeyUnreadable = 104;       // the active driver entry has no "Key"
inline constexpr std::int32_t kTransportsKeyUnavailable = 105;  // the stack's transports key
inline constexpr std::int32_t kHciKeyUnavailable = 106;         // the HCI cache key, when changing the stack
inline constexpr std::int32_t kTransportNotFound = 107;         // no transport key names the port
inline constexpr std::int32_t kHciNamesOtherPort = 108;         // the HCI cache key names another port
inline constexpr std::int32_t kShortcutNotCreated = 109;
inline constexpr std::int32_t kShortcutNotWritten = 110;
inline constexpr std::int32_t kThreadNotCreated = 111;
inline constexpr std::int32_t kProgrammingFailed = 113;
inline constexpr std::int32_t kStopEventNotCreated = 114;
inline constexpr std::int32_t kOwnPathUnknown = 115;
inline constexpr std::int32_t kPsrFileNotOpened = 116;
inline constexpr std::int32_t kNoMemoryForLines = 117;
inline constexpr std::int32_t kPsrLineTooLong = 118;
inline constexpr std::int32_t kValueNotCopied = 119;
inline constexpr std::int32_t kTargetKeyNotCreated = 120;
inline constexpr std::int32_t kSourceKeyNotOpened = 121;
inline constexpr std::int32_t kKeyToDeleteNotOpened = 122;
inline constexpr std::int32_t kKeyNotDeleted = 124;
inline constexpr std::int32_t kHciBaudUnreadable = 125;
// The transport key's path is empty or lies outside the stack's transports key: the backup is
// never copied there (an empty path would be the registry's root).
inline constexpr std::int32_t kTransportPathRefused = 126;
// A value that the resume command line cannot carry through a restart (a blank or "/" in a text
// option, or a command line longer than the shortcut holds); refused before the stack is touched.
inline constexpr std::int32_t kValueNotResumable = 127;
// The user stopped the programming run before its last request: the module holds part of the file.
inline constexpr std::int32_t kProgrammingStopped = 128;
// The module answered during programming but at no rate after its reset.
inline constexpr std::int32_t kModuleLost = 129;
// The last run found no evidence that the keys were programmed and the stack's keys carry the
// module's rate: it does not say "done".
inline constexpr std::int32_t kSetupNotFinished = 130;
// A resumed run found no setup to resume (no backup of the stack's transport key).
inline constexpr std::int32_t kNoSetupToResume = 131;

// Two transport keys name the port: the stack could come up through the one left unmarked.
inline constexpr std::int32_t kTwoTransports = 132;
// The registry could not say whether a key exists (another program holds it): nothing is changed.
inline constexpr std::int32_t kRegistryUnreadable = 133;

// Setup states, carried from one run to the next by "/state:".
inline constexpr std::int32_t StateInitial = 0;
inline constexpr std::int32_t StateStackInactive = 1;
inline constexpr std::int32_t StateSetupCompleted = 2;

}  // namespace quillon
