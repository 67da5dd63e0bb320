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

// The "Name" string of a key, empty when the key or the value is missing.
std::wstring NameOf(platform::Registry& registry, std::wstring_view path, bool* keyExists = nullptr) {
  std::unique_ptr<platform::RegistryKey> key;
  const bool opened = registry.OpenKey(path, platform::RegistryAccess::kRead, &key) == platform::kSuccess;
  if (keyExists != nullptr) *keyExists = opened;
  std::wstring name;
  if (opened) ReadString(*key, L"Name", &name);
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
  const std::wstring backupName = NameOf(registry_, kBackupPath, &backup);
  const std::wstring hciName = NameOf(registry_, kHciPath);
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
  if (backup) {
    // The transport key still marked; else the one already unmarked; else the path the command
    // line named.
    StackRegistry::Found transport = marked;
    if (!transport.found && !port.empty()) {
      stack_.FindRegistry(kTransportsPath, platform::kRegSz, L"Name", port, &transport);
    }
    std::wstring target;
    if (transport.found) {
      target = std::wstring(kTransportsPath) + transport.relative;
    } else if (IsTransportKeyPath(record_.m_transportReg)) {
      target = record_.m_transportReg;
    }
    if (target.empty()) {
      trace.Printf(KindImportant, kTraceCategory, L"No transport key to restore the backup %s to: it is kept",
                   kBackupPath);
      scope.Store(kTransportNotFound);
      scope.Report();
    } else {
      scope.Store(stack_.CopyRegistryKeys(kBackupPath, target, true));
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
    } else {
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
  if (scope.Result() == 0) {
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
