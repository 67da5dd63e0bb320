#include "setup/stack_registry.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "platform/text.h"
#include "setup/registry_values.h"
#include "setup/setup_results.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {
namespace {

using platform::ErrorCode;
using platform::RegistryAccess;
using platform::RegistryKey;

std::unique_ptr<RegistryKey> Open(platform::Registry& registry, std::wstring_view path, RegistryAccess access,
                                  ErrorCode* error = nullptr) {
  std::unique_ptr<RegistryKey> key;
  const ErrorCode result = registry.OpenKey(path, access, &key);
  if (error != nullptr) *error = result;
  return result == platform::kSuccess ? std::move(key) : nullptr;
}

// The subkey name at `index`, or false when the enumeration ends (no more keys, or a name too long).
bool SubkeyAt(RegistryKey& key, std::uint32_t index, std::wstring* name) {
  std::array<wchar_t, StackRegistry::kNameChars> buffer{};
  std::size_t length = 0;
  if (key.EnumKey(index, buffer, &length) != platform::kSuccess) return false;
  name->assign(buffer.data(), std::min(length, buffer.size()));
  return true;
}

struct EnumeratedValue {
  std::wstring name;
  std::uint32_t type = 0;
  std::array<std::uint8_t, kStringDataBytes> data{};
  std::size_t length = 0;
  std::span<const std::uint8_t> Data() const {
    return std::span<const std::uint8_t>(data.data(), std::min(length, data.size()));
  }
};

bool ValueAt(RegistryKey& key, std::uint32_t index, EnumeratedValue* value) {
  std::array<wchar_t, StackRegistry::kNameChars> name{};
  std::size_t nameLength = 0;
  value->length = 0;
  if (key.EnumValue(index, name, &nameLength, &value->type, value->data, &value->length) != platform::kSuccess) {
    return false;
  }
  value->name.assign(name.data(), std::min(nameLength, name.size()));
  return true;
}

Trace& T() { return Trace::Process(); }

}  // namespace

std::wstring MarkedPortName(std::wstring_view port) { return std::wstring(kPortMarker) + std::wstring(port); }

bool IsTransportKeyPath(std::wstring_view path) {
  const std::wstring_view transports(kTransportsPath);
  if (path.size() < transports.size() || !platform::EqualsIgnoringCase(path.substr(0, transports.size()), transports)) {
    return false;
  }
  if (path.size() == transports.size()) return true;
  // Only a backslash and a name may follow, and nothing may climb back up.
  const std::wstring_view rest = path.substr(transports.size());
  return rest.size() > 1 && rest[0] == L'\\' && rest[1] != L'\\';
}

void StackRegistry::Search(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName,
                           std::wstring_view data, std::size_t wanted, std::vector<Found>* found,
                           std::wstring* relative) {
  std::unique_ptr<RegistryKey> key = Open(registry_, keyPath, RegistryAccess::kRead);
  if (!key) return;
  EnumeratedValue value;
  for (std::uint32_t index = 0; found->size() < wanted && ValueAt(*key, index, &value); ++index) {
    if (value.type != type || !platform::EqualsIgnoringCase(value.name, valueName)) continue;
    if (!platform::EqualsIgnoringCase(TextOfStringData(value.Data()), data)) continue;
    found->push_back(Found{true, std::wstring(keyPath), *relative});
    T().Printf(KindInfo, kTraceCategory, L"FindRegistry Found %s=%s", value.name, data);
    break;
  }
  const std::size_t pathEnd = relative->size();
  std::wstring name;
  for (std::uint32_t index = 0; found->size() < wanted && SubkeyAt(*key, index, &name); ++index) {
    // A path that cannot be held would name the wrong key: such a subtree is not searched.
    if (pathEnd + name.size() + 1 >= kSearchPathChars) continue;
    relative->append(L"\\").append(name);
    Search(JoinKeyPath(keyPath, name), type, valueName, data, wanted, found, relative);
    relative->resize(pathEnd);
  }
}

int StackRegistry::FindRegistry(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName,
                                std::wstring_view data, Found* found) {
  TraceScope scope(L"CQuillonDlg::FindRegistry");
  std::vector<Found> all = FindEvery(keyPath, type, valueName, data, 1);
  if (!all.empty()) *found = all.front();
  return scope.Result();
}

std::vector<StackRegistry::Found> StackRegistry::FindEvery(std::wstring_view keyPath, std::uint32_t type,
                                                           std::wstring_view valueName, std::wstring_view data,
                                                           std::size_t wanted) {
  std::vector<Found> found;
  std::wstring relative;
  Search(keyPath, type, valueName, data, wanted, &found, &relative);
  return found;
}

int StackRegistry::FindAndReplace(std::wstring_view keyPath, std::uint32_t type, std::wstring_view valueName,
                                  std::wstring_view data, std::wstring_view replacement, Found* found) {
  TraceScope scope(L"CQuillonDlg::FindAndReplace");
  *found = Found{};
  Found search;
  scope.Store(FindRegistry(keyPath, type, valueName, data, &search));
  scope.Report();
  if (scope.Result() == 0 && search.found) {
    if (std::unique_ptr<RegistryKey> key = Open(registry_, search.keyPath, RegistryAccess::kAll)) {
      // Written with its terminating zero, so that every reader gets a terminated string.
      key->SetValue(valueName, type, StringData(replacement));
      key->Flush();
    }
    *found = search;
  }
  return scope.Result();
}

int StackRegistry::CopyRegistryKeys(std::wstring_view source, std::wstring_view target, bool recursive,
                                    std::wstring_view skippedValue) {
  TraceScope scope(L"CQuillonDlg::CopyRegistryKeys");
  T().Printf(KindInfo, kTraceCategory, L"CQuillonDlg::CopyRegistryKeys");
  ErrorCode error = platform::kSuccess;
  std::unique_ptr<RegistryKey> from = Open(registry_, source, RegistryAccess::kRead, &error);
  if (!from) {
    T().Printf(KindImportant, kTraceCategory, L"Unable to open the source registry key:%s (%d)", source, error);
    scope.Store(kSourceKeyNotOpened);
    scope.Report();
  } else {
    T().Printf(KindInfo, kTraceCategory, L"Source Key %s opened", source);
    std::unique_ptr<RegistryKey> to;
    error = registry_.CreateKey(target, &to);
    if (error != platform::kSuccess) {
      T().Printf(KindImportant, kTraceCategory, L"Unable to create the target registry key:%s (%d)", target, error);
      scope.Store(kTargetKeyNotCreated);
      scope.Report();
    } else {
      T().Printf(KindInfo, kTraceCategory, L"Target Key %s created", target);
      std::wstring name;
      for (std::uint32_t index = 0; recursive && SubkeyAt(*from, index, &name); ++index) {
        scope.Store(CopyRegistryKeys(JoinKeyPath(source, name), JoinKeyPath(target, name), true));
        scope.Report();
      }
      EnumeratedValue value;
      for (std::uint32_t index = 0; ValueAt(*from, index, &value); ++index) {
        if (!skippedValue.empty() && platform::EqualsIgnoringCase(value.name, skippedValue)) continue;
        error = to->SetValue(value.name, value.type, value.Data());
        if (error != platform::kSuccess) {
          T().Printf(KindImportant, kTraceCategory, L"Unable to create the value key %s %s (%d)", target, value.name,
                     error);
          scope.Store(kValueNotCopied);
          scope.Report();
          break;
        }
      }
      to->Flush();
    }
  }
  T().Printf(KindInfo, kTraceCategory, L"Done with CQuillonDlg::CopyRegistryKeys");
  return scope.Result();
}

int StackRegistry::RegDeleteNode(std::wstring_view path) {
  TraceScope scope(L"CQuillonDlg::RegDeleteNode");
  std::wstring working(path);
  if (working.size() >= kDeletePathChars) {
    scope.Store(kKeyToDeleteNotOpened);
  } else {
    scope.Store(RegDelnodeRecurse(&working));
    if (scope.Result() == 0) FlushParentOf(registry_, path);
  }
  scope.Report();
  return scope.Result();
}

int StackRegistry::RegDelnodeRecurse(std::wstring* path) {
  TraceScope scope(L"CQuillonDlg::RegDelnodeRecurse");
  if (registry_.DeleteKey(*path) == platform::kSuccess) return 0;
  std::unique_ptr<RegistryKey> key = Open(registry_, *path, RegistryAccess::kRead);
  if (!key) {
    scope.Store(kKeyToDeleteNotOpened);
    scope.Report();
    return scope.Result();
  }
  const std::size_t end = path->size();
  if (path->empty() || path->back() != L'\\') path->push_back(L'\\');
  const std::size_t nameStart = path->size();
  std::wstring name;
  while (SubkeyAt(*key, 0, &name)) {
    // A path that does not fit the deletion buffer cannot be named: the key cannot be deleted.
    if (nameStart + name.size() >= kDeletePathChars) {
      scope.Store(kKeyToDeleteNotOpened);
      scope.Report();
      break;
    }
    path->resize(nameStart);
    path->append(name);
    scope.Store(RegDelnodeRecurse(path));
    if (scope.Result() != 0) break;
  }
  path->resize(end);
  key.reset();
  if (registry_.DeleteKey(*path) != platform::kSuccess) {
    scope.Store(kKeyNotDeleted);
    scope.Report();
  }
  return scope.Result();
}

void StackRegistry::Unmark(std::wstring_view keyPath, std::wstring_view port) {
  Found found;
  FindAndReplace(keyPath, platform::kRegSz, L"Name", MarkedPortName(port), port, &found);
}

int StackRegistry::DeactivateMsStack(std::wstring_view port) {
  TraceScope scope(L"CQuillonDlg::DeactivateMsStack");
  const std::wstring marked = MarkedPortName(port);
  T().Printf(KindInfo, kTraceCategory, L"De-activating the MS Stack");
  Found transport;
  Found hci;
  if (!Open(registry_, kTransportsPath, RegistryAccess::kRead)) {
    scope.Store(kTransportsKeyUnavailable);
    scope.Report();
  } else {
    T().Printf(KindInfo, kTraceCategory, L"Searching for Name=%s", port);
    const std::vector<Found> transports = FindEvery(kTransportsPath, platform::kRegSz, L"Name", port, 2);
    if (transports.size() > 1) {
      // Only one would be taken off the port, and the stack would come up through the other.
      T().Printf(KindImportant, kTraceCategory, L"Two transport keys name %s: %s%s and %s%s", port, kTransportsPath,
                 transports[0].relative, kTransportsPath, transports[1].relative);
      scope.Store(kTwoTransports);
      scope.Report();
      return scope.Result();
    }
    FindAndReplace(kTransportsPath, platform::kRegSz, L"Name", port, marked, &transport);
    if (!transport.found) {
      scope.Store(kTransportNotFound);
      scope.Report();
    } else {
      record_.m_transportReg = std::wstring(kTransportsPath) + transport.relative;
      // Taken after the marking, so that the backup holds the marked name.
      scope.Store(CopyRegistryKeys(record_.m_transportReg, kBackupPath, true));
      scope.Report();
    }
  }
  T().Printf(KindInfo, kTraceCategory, L"De-activate the MS HCI cache key");
  if (scope.Result() == 0) {
    if (!Open(registry_, kHciPath, RegistryAccess::kAll)) {
      scope.Store(kHciKeyUnavailable);
      scope.Report();
    } else {
      FindAndReplace(kHciPath, platform::kRegSz, L"Name", port, marked, &hci);
      if (!hci.found) {
        scope.Store(kHciNamesOtherPort);
        scope.Report();
      } else {
        std::uint32_t baud = 0;
        std::unique_ptr<RegistryKey> key = Open(registry_, kHciPath, RegistryAccess::kRead);
        const ErrorCode error = key ? ReadDword(*key, L"baud", &baud) : platform::kErrorKeyDeleted;
        if (error == platform::kSuccess) {
          record_.m_baudrate = static_cast<std::int32_t>(baud);
          T().Printf(KindInfo, kTraceCategory, L"The actual Baudrate is %d", record_.m_baudrate);
        } else {
          T().Printf(KindInfo, kTraceCategory, L"Unable to read baud registry from Bluetooth\\HCI: %d", error);
          scope.Store(kHciBaudUnreadable);
          scope.Report();
        }
      }
    }
  }
  if (scope.Result() == 0) return 0;
  if (transport.found) {
    RollBackDeactivation(port);
  } else if (hci.found && Open(registry_, kHciPath, RegistryAccess::kAll)) {
    Unmark(kHciPath, port);
  }
  return scope.Result();
}

void StackRegistry::RollBackDeactivation(std::wstring_view port) {
  TraceScope scope(L"CQuillonDlg::RollBackDeactivation");
  // The transport key was only marked, so unmarking it makes it whole again. The backup goes
  // first: cut short in between, a marked transport without a backup is unmarked by the next
  // start, while a backup beside an unmarked transport would be one of no setup.
  if (KeyExists(kBackupPath)) {
    scope.Store(RegDeleteNode(kBackupPath));
    scope.Report();
  }
  if (Open(registry_, kTransportsPath, RegistryAccess::kRead)) Unmark(kTransportsPath, port);
  if (Open(registry_, kHciPath, RegistryAccess::kAll)) Unmark(kHciPath, port);
}

platform::ErrorCode StackRegistry::KeyLookup(std::wstring_view path) {
  ErrorCode error = platform::kSuccess;
  Open(registry_, path, RegistryAccess::kRead, &error);
  return error;
}

int StackRegistry::ActivateMsStack(std::wstring_view port, bool deleteBackup) {
  TraceScope scope(L"CQuillonDlg::ActivateMsStack");
  T().Printf(KindInfo, kTraceCategory, L"ActivateMsStack with %s", port);
  bool refused = false;
  int deleted = 0;
  if (!IsRestoreTarget(record_.m_transportReg, port)) {
    // An empty path would copy the backup over the registry's root; any key but the one the
    // setup took off the port would be made a transport while the real one stays off.
    T().Printf(KindImportant, kTraceCategory, L"Refusing to restore the transport key to \"%s\"",
               record_.m_transportReg);
    refused = true;
    scope.Store(kTransportPathRefused);
    scope.Report();
  } else {
    // Every value but the name: the backup holds the marked one, and a power cut right after
    // the copy must not leave a working transport switched off.
    scope.Store(CopyRegistryKeys(kBackupPath, record_.m_transportReg, true, L"Name"));
    scope.Report();
    if (deleteBackup) {
      if (scope.Result() == 0) {
        deleted = RegDeleteNode(kBackupPath);
        scope.Store(deleted);
        scope.Report();
      } else {
        T().Printf(KindImportant, kTraceCategory, L"The backup %s is kept: the transport key was not restored from it",
                   kBackupPath);
      }
    }
  }
  if (!Open(registry_, kTransportsPath, RegistryAccess::kRead)) {
    scope.Store(kTransportsKeyUnavailable);
    scope.Report();
    return scope.Result();
  }
  Unmark(kTransportsPath, port);
  scope.Store(0);
  if (!Open(registry_, kHciPath, RegistryAccess::kAll)) {
    scope.Store(kHciKeyUnavailable);
    scope.Report();
    return scope.Result();
  }
  Unmark(kHciPath, port);
  if (refused) scope.Store(kTransportPathRefused);
  // A backup left behind would be taken for an interrupted setup's at the next start.
  if (deleted != 0) scope.Store(deleted);
  return scope.Result();
}

std::size_t StackRegistry::LongestPathBelow(std::wstring_view path) {
  std::unique_ptr<RegistryKey> key = Open(registry_, path, RegistryAccess::kRead);
  std::size_t longest = 0;
  std::wstring name;
  for (std::uint32_t index = 0; key && SubkeyAt(*key, index, &name); ++index) {
    longest = std::max(longest, 1 + name.size() + LongestPathBelow(JoinKeyPath(path, name)));
  }
  return longest;
}

bool StackRegistry::IsRestoreTarget(std::wstring_view path, std::wstring_view port) {
  if (!IsTransportKeyPath(path)) return false;
  std::unique_ptr<RegistryKey> key = Open(registry_, path, RegistryAccess::kRead);
  std::wstring name;
  if (!key || ReadString(*key, L"Name", &name) != platform::kSuccess) return false;
  // Marked until the second run gives the name back; the last run finds it unmarked.
  return platform::EqualsIgnoringCase(name, MarkedPortName(port)) || platform::EqualsIgnoringCase(name, port);
}

int StackRegistry::RetrieveBluetoothPort(std::wstring* port, std::wstring* driverKey) {
  TraceScope scope(L"CQuillonDlg::RetrieveBluetoothPort");
  record_.Show();
  ErrorCode error = platform::kSuccess;
  std::unique_ptr<RegistryKey> hci = Open(registry_, kHciPath, RegistryAccess::kRead, &error);
  if (!hci) {
    scope.Store(error == platform::kErrorBusy ? kRegistryUnreadable : kHciKeyUnreadable);
    scope.Report();
    return scope.Result();
  }
  std::wstring name;
  ReadString(*hci, L"Name", &name);
  hci.reset();
  // A marked name is left by a setup that did not finish; the port is the one behind the marker.
  if (name.size() > std::wstring_view(kPortMarker).size() && name.starts_with(kPortMarker)) {
    T().Printf(KindImportant, kTraceCategory, L"The stack's port %s is still marked", name);
    name.erase(0, std::wstring_view(kPortMarker).size());
  }
  if (name.empty()) {
    scope.Store(kHciKeyNamesNoPort);
    scope.Report();
    return scope.Result();
  }
  std::wstring key;
  scope.Store(ReadFromDriversActive(L"Name", name, L"Key", &key, 2 * kNameChars));
  scope.Report();
  if (scope.Result() != 0) return scope.Result();
  if (port != nullptr) *port = name;
  if (driverKey != nullptr) *driverKey = key;
  return 0;
}

int StackRegistry::ReadFromDriversActive(std::wstring_view matchValue, std::wstring_view matchText,
                                         std::wstring_view resultValue, std::wstring* output, std::size_t outputBytes) {
  TraceScope scope(L"CQuillonDlg::ReadFromDriversActive");
  std::unique_ptr<RegistryKey> active = Open(registry_, kDriversActivePath, RegistryAccess::kRead);
  if (!active) {
    scope.Store(kDriversActiveUnreadable);
    scope.Report();
    return scope.Result();
  }
  std::wstring name;
  bool matched = false;
  for (std::uint32_t index = 0; !matched && SubkeyAt(*active, index, &name); ++index) {
    std::unique_ptr<RegistryKey> entry = Open(registry_, JoinKeyPath(kDriversActivePath, name), RegistryAccess::kRead);
    if (!entry) continue;
    std::wstring value;
    if (ReadString(*entry, matchValue, &value) != platform::kSuccess) continue;
    T().Printf(KindInfo, kTraceCategory, L"%s has been loaded in Active Key", value);
    if (value.find(matchText) == std::wstring::npos) continue;
    matched = true;
    std::vector<std::uint8_t> data(outputBytes);
    std::uint32_t type = 0;
    std::size_t length = 0;
    if (entry->QueryValue(resultValue, &type, data, &length) != platform::kSuccess) {
      scope.Store(kDriverKeyUnreadable);
      scope.Report();
    } else {
      *output = TextOfStringData(std::span<const std::uint8_t>(data.data(), std::min(length, data.size())));
    }
  }
  return scope.Result();
}

}  // namespace quillon
