// Trace scopes: the running result of one operation, and of a thread's procedure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

// Kept by each operation that can fail: the operation stores each step's result, calls Report,
// and returns Result(). Report traces "Error :%d in %s" for a non-zero result.
class TraceScope {
 public:
  explicit TraceScope(const wchar_t* operation) : operation_(operation) {}
  virtual ~TraceScope() = default;
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

  void Store(std::int32_t result) { result_ = result; }
  std::int32_t Result() const { return result_; }
  const wchar_t* Operation() const { return operation_; }
  void Report() const;

 private:
  const wchar_t* operation_;
  std::int32_t result_ = 0;
};

// Marks a thread's start and end in the trace and registers the thread's name.
class ThreadTraceScope : public TraceScope {
 public:
  // The name stays the caller's.
  ThreadTraceScope(const wchar_t* operation, const wchar_t* threadName);
  // The scope owns the name and frees it at its end.
  ThreadTraceScope(const wchar_t* operation, std::unique_ptr<wchar_t[]> ownedName);
  ~ThreadTraceScope() override;

 private:
  void Start();
  std::unique_ptr<wchar_t[]> ownedName_;
  const wchar_t* threadName_;
};

}  // namespace quillon
