// The Bluetooth stack's registry keys: taking the stack off the module's port (marking the port's
// name in the transport key and the HCI cache key, backing the transport key up) and giving it
// back, finding the stack's port at start-up, and the registry tools under them (search, search
// and replace, copy of a tree, deletion of a tree).
//
// Every path is below the local-machine root. Runs on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "setup/dialog_record.h"

namespace quillon {

inline constexpr wchar_t kTransportsPath[] = L"Software\\Microsoft\\Bluetooth\\Transports";
inline constexpr wchar_t kHciPath[] = L"Software\\Microsoft\\Bluetooth\\Hci";
inline constexpr wchar_t kDriversActivePath[] = L"Drivers\\Active";
inline constexpr wchar_t kBackupPath[] = L"Software\\Norvale\\Quillon";
// Written in front of the port's name to take the stack off the port.
inline constexpr wchar_t kPortMarker[] = L"XXX";

// "XXX" followed by the port's name.
std::wstring MarkedPortName(std::wstring_view port);
// True when `path` is the transports key or lies below it: the only places the backup may be
// copied back to.
bool IsTransportKeyPath(std::wstring_view path);

class StackRegistry {
 public:
  // Key and value names are enumerated into this many characters; the search path holds as many.
  static constexpr std::size_t kNameChars = 260;
  static constexpr std::size_t kSearchPathChars = 260;
  static constexpr std::size_t kDeletePathChars = 520;

  StackRegistry(platform::Registry& registry, DialogRecord& record) : registry_(registry), record_(record) {}

  // Marks the port's name in the transport key and the HCI cache key and backs the transport key
  // up; sets m_transportReg and m_baudrate. On failure every change is undone.
  // 0, 105, 106, 107, 108, 125 or 119 to 121.
  int DeactivateMsStack(std::wstring_view port);
  // Undoes a de-activation that succeeded, for a run 1 that fails after it: deletes the backup,
  // then gives the port's name back in the transport key and the HCI cache key.
  void RollBackDeactivation(std::wstring_view port);
  // What opening `path` for reading gives: kSuccess, kErrorFileNotFound for a missing key, or why
  // the registry could not tell (kErrorBusy: another program holds it). Only a missing key is
  // evidence that a key is gone.
  platform::ErrorCode KeyLookup(std::wstring_view path);
  bool KeyExists(std::wstring_view path) { return KeyLookup(path) == platform::kSuccess; }
  bool KeyMissing(std::wstring_view path) { return KeyLookup(path) == platform::kErrorFileNotFound; }
  // Copies the backup but its "Name" back over m_transportReg, deletes the backup when asked and
  // only once the copy succeeded, and unmarks the port's name. 0, 105, 106 or 126 (m_transportReg
  // is no existing transport key holding the port's name).
  int ActivateMsStack(std::wstring_view port, bool deleteBackup);
  // The stack's port (from the HCI cache key, a marker in front of it left out) and its driver's
  // key. Either output may be null. 0, 101, 102, 103, 104.
  int RetrieveBluetoothPort(std::wstring* port, std::wstring* driverKey);
  // Looks for the first driver entry whose `matchValue` contains `matchText` and reads its
  // `resultValue` (at most `outputBytes` bytes) into `output`. 0, 102, 104.
  int ReadFromDriversActive(std::wstring_view matchValue, std::wstring_view matchText, std::wstring_view resultValue,
                            std::wstring* output, std::size_t outputBytes);

  // Where a search ended.
  struct Found {
    bool found = false;
    std::wstring keyPath;   // full path of the key holding the value
    std::wstring relative;  // its path below the starting key ("\BuiltIn\1"; empty for the key itself)
  };
  // Depth-first, values before subkeys, the first match wins: a value of `type` named `valueName`
  // whose text equals `data`, both compared without regard to case. A subkey whose relative path
  // would not fit kSearchPathChars is not searched. Always 0.
  int FindRegistry(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName, std::wstring_view data,
                   Found* found);
  // The same search, going on to at most `wanted` matches, in the order found.
  std::vector<Found> FindEvery(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName,
                               std::wstring_view data, std::size_t wanted);
  // The same search, then `replacement` written into the value found (with its terminating zero).
  int FindAndReplace(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName, std::wstring_view data,
                     std::wstring_view replacement, Found* found);
  // Copies the values of `source` (and its subkeys when `recursive`) into `target`, but for a
  // value of `source` itself named `skippedValue`. 0, 119, 120, 121.
  int CopyRegistryKeys(std::wstring_view source, std::wstring_view target, bool recursive,
                       std::wstring_view skippedValue = {});
  // The length of the longest path below the key, relative to it ("\a\b": 4); 0 without subkeys.
  std::size_t LongestPathBelow(std::wstring_view path);
  // True when `path` is an existing transport key whose name is the port's, marked or not.
  bool IsRestoreTarget(std::wstring_view path, std::wstring_view port);
  // Deletes the key with everything below it. 0, 122, 124.
  int RegDeleteNode(std::wstring_view path);
  // Gives the port's name back where the tree below `keyPath` holds it marked (the first place only).
  void Unmark(std::wstring_view keyPath, std::wstring_view port);

 private:
  void Search(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName, std::wstring_view data,
              std::size_t wanted, std::vector<Found>* found, std::wstring* relative);
  int RegDelnodeRecurse(std::wstring* path);

  platform::Registry& registry_;
  DialogRecord& record_;
};

}  // namespace quillon
