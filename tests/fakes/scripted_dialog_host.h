// A dialog host without a screen, for testing a dialog's logic: it keeps the controls' texts,
// records what the logic did, answers message boxes from a script and delivers posted messages
// when the test says so. Presses are commands sent as the front ends send them.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/dialog_template.h"
#include "platform/window_messages.h"

namespace quillon::testing {

class ScriptedDialogWindow final : public platform::DialogWindow {
 public:
  ScriptedDialogWindow(const platform::DialogTemplate& source, platform::DialogProcedure& procedure)
      : procedure_(procedure) {
    for (const platform::ControlTemplate& control : source.controls) {
      if (control.id != platform::kNoControlId) texts[control.id] = std::wstring(control.text);
    }
  }

  // What a user does.
  bool Press(int id) { return procedure_.OnCommand(*this, id); }
  // Delivers what was posted, as the message loop would; returns how many were handled.
  int DeliverPosted() {
    std::deque<platform::WindowMessage> taken;
    {
      std::lock_guard<std::mutex> hold(lock_);
      taken.swap(posted_);
    }
    int handled = 0;
    for (const auto& message : taken) {
      if (message.message == platform::kCloseMessage) {
        handled += procedure_.OnClose(*this) || procedure_.OnCommand(*this, platform::kCommandCancel);
      } else {
        handled += procedure_.OnMessage(*this, message.message, message.wParam, message.lParam);
      }
    }
    return handled;
  }

  void Show() override { shown = true; }
  void SetIcon(int iconId) override { icon = iconId; }
  void SetControlText(int id, std::wstring_view text) override {
    if (texts.count(id) != 0) texts[id] = std::wstring(text);
  }
  std::size_t ControlText(int id, std::span<wchar_t> text) override {
    if (text.empty()) return 0;
    const std::wstring& value = texts[id];
    const std::size_t length = std::min(value.size(), text.size() - 1);
    value.copy(text.data(), length);
    text[length] = L'\0';
    return length;
  }
  void SetControlUnsigned(int id, std::uint32_t value) override { SetControlText(id, std::to_wstring(value)); }
  void AddListItem(int id, std::wstring_view text) override { lists[id].emplace_back(text); }
  bool SelectListItem(int id, std::wstring_view prefix) override {
    for (const std::wstring& item : lists[id]) {
      if (item.starts_with(prefix)) {
        texts[id] = item;
        return true;
      }
    }
    return false;
  }
  platform::MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption,
                                            platform::MessageBoxButtons, platform::MessageBoxIcon) override {
    boxes.push_back(std::wstring(caption) + L": " + std::wstring(text));
    if (answers.empty()) return platform::MessageBoxAnswer::kFailed;
    const platform::MessageBoxAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool Post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (destroyed) return false;
    posted_.push_back({message, wParam, lParam});
    return true;
  }
  void End(int result) override { endResult = result; }
  void Destroy() override { destroyed = true; }
  void PostQuit(int exitCode) override { quitCode = exitCode; }

  std::map<int, std::wstring> texts;
  std::map<int, std::vector<std::wstring>> lists;
  std::deque<platform::MessageBoxAnswer> answers;
  std::vector<std::wstring> boxes;
  bool shown = false;
  int icon = 0;
  bool destroyed = false;
  int endResult = -1;
  int quitCode = -1;

 private:
  platform::DialogProcedure& procedure_;
  std::mutex lock_;
  std::deque<platform::WindowMessage> posted_;
};

class ScriptedDialogHost final : public platform::DialogHost {
 public:
  explicit ScriptedDialogHost(const platform::DialogResources& resources) : resources_(resources) {}

  void InitCommonControls() override { ++commonControls; }
  std::size_t LoadResourceString(int id, std::span<wchar_t> text) override {
    const platform::StringResource* string = resources_.FindString(id);
    if (text.empty()) return 0;
    const std::wstring_view value = string != nullptr ? string->text : std::wstring_view();
    const std::size_t length = std::min(value.size(), text.size() - 1);
    value.copy(text.data(), length);
    text[length] = L'\0';
    return length;
  }
  bool FindAndActivate(std::wstring_view className) override {
    searched.emplace_back(className);
    return runningClass == className;
  }
  platform::ErrorCode RegisterWindowClass(const platform::WindowClass& windowClass) override {
    registered.emplace_back(windowClass.name);
    registeredIcon = windowClass.iconId;
    return registerResult;
  }
  platform::DialogWindow* CreateModeless(int templateId, platform::DialogProcedure& procedure) override {
    const platform::DialogTemplate* source = resources_.FindDialog(templateId);
    if (source == nullptr || failCreate) return nullptr;
    windows.push_back(std::make_unique<ScriptedDialogWindow>(*source, procedure));
    procedure.OnInitDialog(*windows.back());
    return windows.back().get();
  }
  // The script's presses run before the loop "returns".
  int RunMessageLoop() override {
    for (const int id : pressesInLoop) windows.back()->Press(id);
    return windows.empty() ? -1 : windows.back()->quitCode;
  }
  int RunModal(int templateId, platform::DialogProcedure& procedure) override {
    if (CreateModeless(templateId, procedure) == nullptr) return -1;
    windows.back()->Show();
    for (const int id : pressesInLoop) windows.back()->Press(id);
    return windows.back()->endResult;
  }

  // The script.
  std::wstring runningClass;
  platform::ErrorCode registerResult = platform::kSuccess;
  bool failCreate = false;
  std::vector<int> pressesInLoop;
  // The record.
  int commonControls = 0;
  std::vector<std::wstring> searched;
  std::vector<std::wstring> registered;
  int registeredIcon = 0;
  std::vector<std::unique_ptr<ScriptedDialogWindow>> windows;

 private:
  const platform::DialogResources& resources_;
};

}  // namespace quillon::testing
