#include "setup/setup_recovery.h"

#include <array>
#include <memory>

#include "setup/registry_values.h"
#include "setup/setup_outcome.h"
#include "setup/setup_results.h"
#include "trace/format.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {
namespace {

// The "Name" string of a key, empty when the key or the value is missing. *busy is set when the
// registry could not tell (another program holds it).
std::wstring NameOf(platform::Registry& registry, std::wstring_view path, bool* busy, bool* keyExists = nullptr) {
  std::unique_ptr<platform::RegistryKey> key;
  const platform::ErrorCode opened = registry.OpenKey(path, platform::RegistryAccess::kRead, &key);
  if (keyExists != nullptr) *keyExists = opened == platform::kSuccess;
  std::wstring name;
  const platform::ErrorCode read = opened == platform::kSuccess ? ReadString(*key, L"Name", &name) : opened;
  if (read == platform::kErrorBusy) *busy = true;
  return name;
}

// The port behind a marked name, or empty for an unmarked one.
std::wstring Unmarked(const std::wstring& name) {
  const std::wstring_view marker(kPortMarker);
  return name.size() > marker.size() && name.starts_with(marker) ? name.substr(marker.size()) : std::wstring();
}

}  // namespace

int SetupRecovery::RecoverInterruptedSetup() {
  TraceScope scope(L"CQuillonDlg::RecoverInterruptedSetup");
  Trace& trace = Trace::Process();
  bool backup = false;
  bool busy = false;
  const std::wstring backupName = NameOf(registry_, kBackupPath, &busy, &backup);
  const std::wstring hciName = NameOf(registry_, kHciPath, &busy);
  if (busy) {
    // What the registry did not say is no evidence of a setup, nor of none.
    scope.Store(kRegistryUnreadable);
    scope.Report();
    return scope.Result();
  }
  std::wstring port = Unmarked(hciName);
  const bool hciMarked = !port.empty();
  if (port.empty()) port = Unmarked(backupName);
  if (port.empty()) port = hciName;

  StackRegistry::Found marked;
  if (!port.empty()) stack_.FindRegistry(kTransportsPath, platform::kRegSz, L"Name", MarkedPortName(port), &marked);
  if (!backup && !marked.found && !hciMarked) return scope.Result();

  trace.Printf(KindImportant, kTraceCategory, L"An interrupted setup left the stack of %s de-activated: restoring it",
               port);
  record_.SetStatus(L"Restoring the Bluetooth stack after an interrupted setup");
  // The backup goes back only to the transport it was taken from, which the setup left marked
  // with the very name the backup holds. Any other backup is from an older setup: copied over a
  // working transport key it would switch the stack to values it no longer runs with.
  bool orphan = false;
  if (backup) {
    StackRegistry::Found source;
    if (!Unmarked(backupName).empty()) {
      stack_.FindRegistry(kTransportsPath, platform::kRegSz, L"Name", backupName, &source);
    }
    if (!source.found && backupName.empty() && marked.found) {
      // A backup without a name beside a transport that is only marked was cut short while it
      // was being taken: the transport still holds every value, so it is the one to keep.
      trace.Printf(KindImportant, kTraceCategory, L"The backup %s was cut short while taken: discarded", kBackupPath);
      scope.Store(stack_.RegDeleteNode(kBackupPath));
      scope.Report();
    } else if (!source.found) {
      orphan = true;
      trace.Printf(KindImportant, kTraceCategory,
                   L"The backup %s (Name \"%s\") matches no marked transport: not applied", kBackupPath, backupName);
    } else {
      scope.Store(stack_.CopyRegistryKeys(kBackupPath, std::wstring(kTransportsPath) + source.relative, true, L"Name"));
      scope.Report();
      // The backup goes only once the transport key holds its values again.
      if (scope.Result() == 0) {
        scope.Store(stack_.RegDeleteNode(kBackupPath));
        scope.Report();
      }
    }
  }
  if (!port.empty()) {
    std::unique_ptr<platform::RegistryKey> key;
    if (registry_.OpenKey(kTransportsPath, platform::RegistryAccess::kRead, &key) != platform::kSuccess) {
      scope.Store(kTransportsKeyUnavailable);
    } else if (scope.Result() == 0) {
      // Left marked when its backup could not be applied, so that the next start applies it.
      stack_.Unmark(kTransportsPath, port);
    }
    if (registry_.OpenKey(kHciPath, platform::RegistryAccess::kAll, &key) != platform::kSuccess) {
      if (scope.Result() == 0) scope.Store(kHciKeyUnavailable);
    } else {
      stack_.Unmark(kHciPath, port);
    }
    scope.Report();
  }
  // A shortcut left behind would resume a setup that no longer exists, and its programming
  // outcome is no evidence for the next one.
  shortcut_.DeleteStartupShortcut();
  SetupOutcomeRecord(registry_).Delete();
  if (scope.Result() == 0 && orphan) {
    // Kept for whoever wants to look at it; a new setup replaces it with its own.
    std::array<wchar_t, 260> text{};
    FormatTo(std::span<wchar_t>(text),
             L"An old backup of a transport key (\"%s\") matches no switched-off transport: it was not applied. "
             L"Start discards it.",
             backupName.substr(0, kMaxStringChars));
    record_.SetStatus(text.data());
  } else if (scope.Result() == 0) {
    record_.SetStatus(L"The Bluetooth stack of an interrupted setup has been restored.");
  } else {
    std::array<wchar_t, 260> text{};
    FormatTo(std::span<wchar_t>(text), L"Unable to restore the Bluetooth stack of an interrupted setup (%d).",
             scope.Result());
    record_.SetStatus(text.data());
  }
  trace.Printf(KindImportant, kTraceCategory, L"Restoring the stack after an interrupted setup: %d", scope.Result());
  return scope.Result();
}

}  // namespace quillon
