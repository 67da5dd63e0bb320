// What one port's run does, as it goes: counts for the summary, and the line that shows it. The
// run's thread reports; the main thread ticks the clock and reads the line, under one lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "psconfig/programming_run.h"

namespace quillon::psconfig {

double Seconds(std::chrono::steady_clock::time_point since);

class Progress final : public RunObserver {
 public:
  enum class Display : std::uint8_t {
    kTerminalLine,  // one line on the terminal, redrawn in place
    kEventLines,    // one line "PORT: what" per event
    kNotesOnly,     // only what the file's reading said, at once
    kBoard,         // nothing at once: a board reads Line(), and the notes later
  };
  Progress(Display display, std::string port) : display_(display), port_(std::move(port)) {}

  void FileRead(std::uint32_t keys, const PsrReport& report) override;
  void AddressKeyPlaced(std::span<const std::uint32_t> replacedLines) override;
  void FileFailed(platform::ErrorCode error) override { fileError_ = error; }
  void PortFailed(std::int32_t, platform::ErrorCode error) override { portError_ = error; }
  void LookingAt(std::uint32_t rate) override;
  void LinkEstablished() override;
  void RequestSent(std::uint32_t index, std::uint32_t count, const PsKeyItem& item) override;
  void RequestCompleted(std::uint32_t index, std::uint16_t status) override;
  void Stopped() override { stopped_ = true; }

  // Called from the main thread while the run waits for the module, so that the time moves on.
  void Tick();
  // Another state of the port, outside the run (taking an address, ...).
  void Say(const std::string& what);
  // After the run's thread has ended.
  void Finish();
  // "  12/104  requests  key &0203   3.1 s" (the board's line for the port).
  std::string Line();

  // What the file's reading said about lines left out: printed at once on the terminal line and
  // in event lines, kept for later on a board.
  std::vector<std::string> fileNotes_;
  std::uint32_t keys_ = 0, sent_ = 0, total_ = 0, refused_ = 0, leftOut_ = 0, completed_ = 0;
  std::uint32_t keysWritten_ = 0;  // key writes the module answered with success
  platform::ErrorCode fileError_ = platform::kSuccess;
  platform::ErrorCode portError_ = platform::kSuccess;
  std::atomic<bool> stopped_{false};
  bool resetSent_ = false;
  bool addressSent_ = false;
  bool addressAnswered_ = false;
  std::uint16_t addressStatus_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  // Told the module's answer to the address key, on the run's thread, as soon as it is in.
  std::function<void(std::uint16_t status)> addressAnswered;

 private:
  void Show(const char* what);
  void Note(std::string note);
  std::mutex lock_;
  Display display_;
  std::string port_;
  bool shown_ = false;
  bool currentIsKeyWrite_ = false;
  bool currentIsAddress_ = false;
  std::string what_;
};

}  // namespace quillon::psconfig
