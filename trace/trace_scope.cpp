#include "trace/trace_scope.h"

#include <array>

#include "trace/trace.h"

namespace quillon {

void TraceScope::Report() const {
  if (result_ == 0) return;
  std::array<wchar_t, 260> text{};
  const std::size_t length = FormatTo(std::span<wchar_t>(text), L"Error :%d in %s", result_, operation_);
  Trace& trace = Trace::Process();
  trace.Printf(KindImportant, kTraceCategory, L"%s", std::wstring_view(text.data(), length));
}

ThreadTraceScope::ThreadTraceScope(const wchar_t* operation, const wchar_t* threadName)
    : TraceScope(operation), threadName_(threadName) {
  Start();
}

ThreadTraceScope::ThreadTraceScope(const wchar_t* operation, std::unique_ptr<wchar_t[]> ownedName)
    : TraceScope(operation), ownedName_(std::move(ownedName)), threadName_(ownedName_.get()) {
  Start();
}

// The name goes through "%s" rather than being the format itself, so that a percent sign in a
// thread's name is written as it stands.
void ThreadTraceScope::Start() {
  Trace& trace = Trace::Process();
  if (threadName_ != nullptr) trace.Printf(KindThreadName, kTraceCategory, L"%s", threadName_);
  trace.Printf(KindImportant, kTraceCategory, L"the thread has been created");
}

ThreadTraceScope::~ThreadTraceScope() {
  Trace& trace = Trace::Process();
  trace.Printf(KindImportant, kTraceCategory, L"the thread has been finished-----");
  if (threadName_ != nullptr) trace.Printf(KindThreadEnd, kTraceCategory, L"%s", threadName_);
}

}  // namespace quillon
