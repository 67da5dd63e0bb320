// What the setup's tests share: a scripted dialog host, a fake system, files and registry that
// can fail or lose power at a chosen step, and the registry of a handheld whose stack uses COM4:.
#pragma once

#include <algorithm>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/text.h"
#include "setup/dialog_record.h"
#include "setup/quillon_setup.h"
#include "setup/registry_values.h"
#include "tests/fakes/memory_files.h"
#include "tests/fakes/memory_registry.h"
#include "tests/fakes/recording_echo.h"
#include "trace/trace.h"

namespace quillon::testing {

// Records what the setup shows and answers every message box with OK.
class ScriptedHost final : public DialogHost {
 public:
  void PostUpdateControls() override { ++posts; }
  void ShowTexts(const DialogTexts& texts) override { shown.push_back(texts); }
  void SetButtonText(std::wstring_view text) override { button = text; }
  MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons,
                                  MessageBoxIcon icon) override {
    boxes.push_back(std::wstring(caption) + L": " + std::wstring(text));
    errorIcons += icon == MessageBoxIcon::kError ? 1 : 0;
    return MessageBoxAnswer::kOk;
  }
  std::atomic<int> posts{0};
  std::vector<DialogTexts> shown;
  std::wstring button;
  std::vector<std::wstring> boxes;
  int errorIcons = 0;
};

class FakeSystem final : public platform::System {
 public:
  std::wstring OwnPath() override { return ownPath; }
  platform::ErrorCode RequestRestart() override {
    ++restarts;
    return platform::kSuccess;
  }
  bool ErrorOutputIsTerminal() override { return false; }
  void KeepRunningWhenOutputCloses() override {}
  std::wstring ownPath = L"\\Program Files\\Quillon\\Quillon.exe";
  int restarts = 0;
};

// Counts the changes that reach storage (registry writes, file creations and writes). Once
// `cutAfter` changes have been made, the power is off: every later call fails and changes nothing.
// Independently, the `failCall`th registry call (counting every call) fails without effect.
struct Power {
  std::uint32_t cutAfter = 0;  // 0: never
  std::uint32_t changes = 0;
  std::uint32_t failCall = 0;  // 0: none
  std::uint32_t calls = 0;
  bool IsOff() const { return cutAfter != 0 && changes >= cutAfter; }
  bool Change() {
    if (IsOff()) return false;
    ++changes;
    return true;
  }
  // True when a registry call must fail: the chosen one, or any once the power is off.
  bool Refuses(bool changing) {
    if (++calls == failCall) return true;
    return changing ? !Change() : IsOff();
  }
};

// The registry in memory behind the power: each call of the registry or of its keys is one step,
// which the power may refuse.
class PowerRegistry final : public platform::TreeRegistry {
 public:
  PowerRegistry(MemoryRegistry& inner, Power& power) : inner_(inner), power_(power) {}
  platform::ErrorCode Transact(bool forWriting, const Change& change) override {
    return power_.Refuses(forWriting) ? platform::kErrorGenFailure : inner_.Transact(forWriting, change);
  }
  void Flushed(std::wstring_view path) override { inner_.Flushed(path); }
  // Opening this key fails as on a registry that another program holds.
  platform::ErrorCode OpenKey(std::wstring_view path, platform::RegistryAccess access,
                              std::unique_ptr<platform::RegistryKey>* key) override {
    if (!unreadableKey.empty() && platform::EqualsIgnoringCase(path, unreadableKey)) return platform::kErrorBusy;
    return TreeRegistry::OpenKey(path, access, key);
  }
  std::wstring unreadableKey;

 private:
  MemoryRegistry& inner_;
  Power& power_;
};

class PowerFile final : public platform::File {
 public:
  PowerFile(std::unique_ptr<platform::File> inner, Power& power, bool failWrites)
      : inner_(std::move(inner)), power_(power), failWrites_(failWrites) {}
  platform::ErrorCode ReadByte(std::uint8_t* byte, std::uint32_t* got) override {
    *got = 0;
    return power_.IsOff() ? platform::kErrorGenFailure : inner_->ReadByte(byte, got);
  }
  platform::ErrorCode SetPosition(std::uint64_t offset) override { return inner_->SetPosition(offset); }
  platform::ErrorCode Write(std::span<const std::uint8_t> bytes) override {
    if (failWrites_ || !power_.Change()) return platform::kErrorGenFailure;
    return inner_->Write(bytes);
  }

 private:
  std::unique_ptr<platform::File> inner_;
  Power& power_;
  bool failWrites_;
};

// Files that lose power with the registry, and whose creation or writing can be made to fail.
class PowerFiles final : public platform::Files {
 public:
  PowerFiles(MemoryFiles& inner, Power& power) : inner_(inner), power_(power) {}
  std::unique_ptr<platform::File> Open(std::wstring_view path, platform::FileMode mode,
                                       platform::ErrorCode* error) override {
    const bool writing = mode == platform::FileMode::kWriteTruncate;
    if ((writing && (failCreate || !power_.Change())) || power_.IsOff()) {
      *error = platform::kErrorAccessDenied;
      return nullptr;
    }
    std::unique_ptr<platform::File> inner = inner_.Open(path, mode, error);
    if (!inner) return nullptr;
    return std::make_unique<PowerFile>(std::move(inner), power_, failWrite);
  }
  platform::ErrorCode Delete(std::wstring_view path) override {
    return power_.Change() ? inner_.Delete(path) : platform::kErrorGenFailure;
  }
  platform::ErrorCode Rename(std::wstring_view from, std::wstring_view to) override {
    return !failRename && power_.Change() ? inner_.Rename(from, to) : platform::kErrorGenFailure;
  }
  bool failCreate = false;
  bool failRename = false;
  bool failWrite = false;

 private:
  MemoryFiles& inner_;
  Power& power_;
};

// A registry value as a test writes and reads it.
inline std::wstring StringValue(platform::Registry& registry, std::wstring_view path, std::wstring_view name,
                                std::size_t* bytes = nullptr) {
  std::unique_ptr<platform::RegistryKey> key;
  if (registry.OpenKey(path, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return L"<no key>";
  std::vector<std::uint8_t> data(1024);
  std::uint32_t type = 0;
  std::size_t length = 0;
  if (key->QueryValue(name, &type, data, &length) != platform::kSuccess) return L"<no value>";
  if (bytes != nullptr) *bytes = length;
  return TextOfStringData(std::span<const std::uint8_t>(data.data(), length));
}

inline std::int64_t DwordValue(platform::Registry& registry, std::wstring_view path, std::wstring_view name) {
  std::unique_ptr<platform::RegistryKey> key;
  if (registry.OpenKey(path, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return -1;
  std::uint32_t value = 0;
  return ReadDword(*key, name, &value) == platform::kSuccess ? value : -1;
}

inline bool KeyExists(platform::Registry& registry, std::wstring_view path) {
  std::unique_ptr<platform::RegistryKey> key;
  return registry.OpenKey(path, platform::RegistryAccess::kRead, &key) == platform::kSuccess;
}

inline void PutString(platform::Registry& registry, std::wstring_view path, std::wstring_view name,
                      std::wstring_view text) {
  std::unique_ptr<platform::RegistryKey> key;
  registry.CreateKey(path, &key);
  WriteString(*key, name, text);
  key->Flush();  // what the handheld held before
}

inline void PutDword(platform::Registry& registry, std::wstring_view path, std::wstring_view name,
                     std::uint32_t value) {
  std::unique_ptr<platform::RegistryKey> key;
  registry.CreateKey(path, &key);
  WriteDword(*key, name, value);
  key->Flush();
}

// What the last run says when the setup is done.
inline constexpr wchar_t kDone[] = L"Quillon done. Please suspend and resume your device.";
inline constexpr wchar_t kTransportKey[] = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
inline constexpr wchar_t kHci[] = L"Software\\Microsoft\\Bluetooth\\Hci";
inline constexpr wchar_t kBackup[] = L"Software\\Norvale\\Quillon";

// The registry of a handheld whose stack talks to the module on COM4: at 115200.
inline void PutHandheldRegistry(platform::Registry& registry) {
  PutString(registry, kTransportKey, L"Name", L"COM4:");
  PutDword(registry, kTransportKey, L"baud", 115200);
  PutString(registry, kTransportKey, L"Driver", L"bthuart.dll");
  PutDword(registry, std::wstring(kTransportKey) + L"\\Settings", L"flow", 1);
  PutString(registry, L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn", L"Version", L"2");
  PutString(registry, kHci, L"Name", L"COM4:");
  PutDword(registry, kHci, L"baud", 115200);
  PutDword(registry, L"Software\\Microsoft\\HCI", L"baud", 115200);
  PutString(registry, L"Drivers\\Active\\01", L"Name", L"COM1:");
  PutString(registry, L"Drivers\\Active\\01", L"Key", L"Drivers\\BuiltIn\\Serial1");
  PutString(registry, L"Drivers\\Active\\07", L"Name", L"COM4:");
  PutString(registry, L"Drivers\\Active\\07", L"Key", L"Drivers\\BuiltIn\\Serial4");
}

// Everything one test needs to run the setup on fakes; the trace's lines are recorded.
struct SetupWorld {
  SetupWorld() {
    trace.SetEcho(&echo);
    PutHandheldRegistry(memoryRegistry);
  }
  ~SetupWorld() { trace.SetEcho(nullptr); }

  // A setup for one run of the program, reading `commandLine` as the dialog does.
  std::unique_ptr<QuillonSetup> Start(DialogRecord& record, std::wstring commandLine = {}) {
    record.m_commandLine = std::move(commandLine);
    return std::make_unique<QuillonSetup>(SetupRoles{registry, files, system}, record, Programming(), Probe());
  }
  // A programming run against `module`: found at the first of the rates it talks at, reset at
  // the end unless stopped; `programmingResult` is what the engine answers.
  ProgrammingRun Programming() {
    return
        [this](std::wstring_view port, std::span<const std::uint32_t> rates, std::wstring_view path, platform::Event*) {
          runs.push_back(std::wstring(port) + L"@" + std::to_wstring(rates.empty() ? 0 : rates[0]) + L" " +
                         std::wstring(path));
          ProgrammingOutcome outcome;
          outcome.result = programmingResult;
          if (programmingResult == 2 || programmingResult == 3 || programmingResult == 4) return outcome;
          if (!module.AnswersAt(rates)) {
            outcome.result = 7;
            return outcome;
          }
          outcome.moduleRate = module.rate;
          outcome.requests = 5;
          outcome.requestsSent = programmingResult == kProgrammingStoppedEarly ? 2 : 5;
          if (programmingResult != kProgrammingStoppedEarly && !module.ignoresTheRunsReset) module.Reset();
          return outcome;
        };
  }
  ModuleProbe Probe() {
    return [this](std::wstring_view, std::span<const std::uint32_t> rates, bool warmReset, platform::Event*) {
      probes.push_back(warmReset ? L"reset" : L"ask");
      if (!module.AnswersAt(rates)) return std::uint32_t{0};
      const std::uint32_t found = module.rate;
      if (warmReset) module.Reset();
      return found;
    };
  }
  std::string Shortcut() {
    platform::ErrorCode error = 0;
    auto file = memoryFiles.Open(L"\\Windows\\StartUp\\Quillon.lnk", platform::FileMode::kReadExisting, &error);
    if (!file) return "<none>";
    std::string content;
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    while (file->ReadByte(&byte, &got) == platform::kSuccess && got == 1) content.push_back(static_cast<char>(byte));
    return content;
  }
  // The command line that the resume shortcut starts the program with: what follows the quoted path.
  std::wstring ShortcutCommand() {
    const std::string text = Shortcut();
    const std::size_t quote = text.find("\" ");
    if (quote == std::string::npos) return L"<none>";
    return platform::Utf8ToWide(text.substr(quote + 2, text.find('\0') - quote - 2));
  }

  MemoryRegistry memoryRegistry;
  MemoryFiles memoryFiles;
  Power power;
  PowerRegistry registry{memoryRegistry, power};
  PowerFiles files{memoryFiles, power};
  FakeSystem system;
  platform::Platform roles{};
  Trace trace{roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  RecordingEcho echo;
  int programmingResult = 0;
  std::vector<std::wstring> runs;
  // The module behind the port, as far as the setup can see it.
  struct Module {
    std::uint32_t rate = 115200;   // where it answers now; 0: nowhere
    std::uint32_t afterReset = 0;  // the rate it applies at a reset; 0: the one it has
    bool ignoresTheRunsReset = false;
    // warm reset is sent, never carried out
    bool AnswersAt(std::span<const std::uint32_t> rates) const {
      return rate != 0 && std::find(rates.begin(), rates.end(), rate) != rates.end();
    }
    void Reset() {
      if (afterReset != 0) rate = afterReset;
    }
  } module;
  std::vector<std::wstring> probes;
};

}  // namespace quillon::testing
