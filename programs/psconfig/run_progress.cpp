#include "programs/psconfig/run_progress.h"

#include <cstdio>

#include "psconfig/address_key.h"
#include "psconfig/bccmd.h"

namespace quillon::psconfig {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Progress::Note(std::string note) {
  if (display_ == Display::kBoard) {
    fileNotes_.push_back(std::move(note));
  } else {
    const std::string where = display_ == Display::kEventLines ? "on " + port_ + " " : "";
    std::fprintf(stderr, "psconfig: %s%s\n", where.c_str(), note.c_str());
  }
}

void Progress::FileRead(std::uint32_t keys, const PsrReport& report) {
  std::lock_guard<std::mutex> hold(lock_);
  keys_ = keys;
  leftOut_ = report.keysLeftOut;
  char text[160];
  for (std::size_t i = 0; i < report.Listed(); ++i) {
    std::snprintf(text, sizeof text, "key &%04x on line %u left out: more than 188 values", report.leftOut[i].key,
                  report.leftOut[i].line);
    Note(text);
  }
  if (report.keysLeftOut > report.Listed()) {
    Note("and " + std::to_string(report.keysLeftOut - report.Listed()) + " more key lines left out");
  }
  for (std::size_t i = 0; i < report.SkippedListed(); ++i) {
    Note("line " + std::to_string(report.skipped[i].line) + " sets no key, not done: " + report.skipped[i].text.data());
  }
  if (report.linesSkipped > report.SkippedListed()) {
    Note("and " + std::to_string(report.linesSkipped - report.SkippedListed()) +
         " more lines that set no key, not done");
  }
  if (keys != 0) Show("waiting for the module");
}

void Progress::AddressKeyPlaced(std::span<const std::uint32_t> replacedLines) {
  std::lock_guard<std::mutex> hold(lock_);
  for (const std::uint32_t line : replacedLines) {
    Note("the file's own &0001 on line " + std::to_string(line) + " is not sent: the address of the block replaces it");
  }
}

void Progress::LookingAt(std::uint32_t rate) {
  std::lock_guard<std::mutex> hold(lock_);
  char what[48];
  std::snprintf(what, sizeof what, "looking at %u baud", rate);
  Show(what);
}

void Progress::LinkEstablished() {
  std::lock_guard<std::mutex> hold(lock_);
  Show("link up");
}

void Progress::RequestSent(std::uint32_t index, std::uint32_t count, const PsKeyItem& item) {
  std::lock_guard<std::mutex> hold(lock_);
  sent_ = index + 1;
  total_ = count;
  if (item.varId == kVarIdWarmReset) resetSent_ = true;
  currentIsKeyWrite_ = item.varId == kVarIdPsKey && item.type == kBccmdSetRequest;
  // Only the address request writes &0001: the file's own lines of it were taken out.
  currentIsAddress_ = currentIsKeyWrite_ && item.psKey == kAddressKey && item.line == 0;
  if (currentIsAddress_) addressSent_ = true;
  char what[48];
  if (item.varId == kVarIdPsKey) {
    std::snprintf(what, sizeof what, "key &%04x", item.psKey);
  } else {
    std::snprintf(what, sizeof what, "%s", item.varId == kVarIdWarmReset ? "warm reset" : "build identifier");
  }
  // Event lines name the stages, not every key.
  if (display_ != Display::kEventLines || item.varId != kVarIdPsKey || currentIsAddress_) Show(what);
}

void Progress::RequestCompleted(std::uint32_t, std::uint16_t status) {
  bool address = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (status != 0) ++refused_;
    if (status == 0 && currentIsKeyWrite_) ++keysWritten_;
    address = currentIsAddress_;
    if (address) {
      addressAnswered_ = true;
      addressStatus_ = status;
    }
    ++completed_;
  }
  // Outside the lock: the journal's write waits for the disk, the board need not.
  if (address && addressAnswered) addressAnswered(status);
}

void Progress::Tick() {
  std::lock_guard<std::mutex> hold(lock_);
  if (sent_ == 0 && display_ == Display::kTerminalLine) Show(nullptr);
}

void Progress::Say(const std::string& what) {
  std::lock_guard<std::mutex> hold(lock_);
  Show(what.c_str());
}

void Progress::Finish() {
  if (display_ == Display::kTerminalLine && shown_) std::fprintf(stderr, "\r%-78s\r", "");
}

std::string Progress::Line() {
  std::lock_guard<std::mutex> hold(lock_);
  char text[128];
  std::snprintf(text, sizeof text, "%4u/%-4u requests  %-24s %6.1f s", sent_, total_ == 0 ? keys_ + 2 : total_,
                what_.c_str(), Seconds(start_));
  return text;
}

void Progress::Show(const char* what) {
  if (what != nullptr) what_ = what;
  switch (display_) {
    case Display::kNotesOnly:
    case Display::kBoard:
      return;
    case Display::kEventLines:
      if (what != nullptr) std::fprintf(stderr, "psconfig: on %s %s (%.1f s)\n", port_.c_str(), what, Seconds(start_));
      return;
    case Display::kTerminalLine:
      std::fprintf(stderr, "\r  %4u/%-4u requests  %-24s %6.1f s", sent_, total_ == 0 ? keys_ + 2 : total_,
                   what_.c_str(), Seconds(start_));
      std::fflush(stderr);
      shown_ = true;
      return;
  }
}

}  // namespace quillon::psconfig
