#include "psconfig/address_journal.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "platform/utc_time.h"

namespace quillon {
namespace {

// CRC-32 (the reflected 0xEDB88320 polynomial of zip and Ethernet) of a line's text.
std::uint32_t Checksum(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : text) {
    crc ^= static_cast<std::uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

constexpr std::array<const char*, 5> kFateNames = {"taken", "written", "refused", "unanswered", "unused"};

std::optional<AddressFate> FateNamed(std::string_view name) {
  for (std::size_t i = 0; i < kFateNames.size(); ++i) {
    if (name == kFateNames[i]) return static_cast<AddressFate>(i);
  }
  return std::nullopt;
}

// A port's name as one journal field: control bytes would break the line.
std::string Printable(std::string_view text) {
  std::string kept(text);
  for (char& c : kept) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return kept;
}

std::string Why(platform::ErrorCode error);

std::string LineNumber(std::uint32_t number);

}  // namespace

std::string AddressJournal::FileErrorText(platform::ErrorCode error) { return Why(error); }

namespace {

std::string Why(platform::ErrorCode error) {
  switch (error) {
    case platform::kErrorDiskFull:
      return "the disk is full";
    case platform::kErrorWriteProtect:
      return "the place is read-only";
    case platform::kErrorAccessDenied:
      return "permission denied";
    default:
      return "error " + std::to_string(error);
  }
}

std::string LineNumber(std::uint32_t number) { return "line " + std::to_string(number) + ": "; }

}  // namespace

const char* AddressJournal::FateName(AddressFate fate) { return kFateNames[static_cast<std::size_t>(fate)]; }

std::string AddressJournal::Line(AddressFate fate, BluetoothAddress address, std::string_view time,
                                 std::string_view port) {
  std::string text = std::string(FateName(fate)) + " " + address.Text() + " " + std::string(time) + " " +
                     Printable(port);
  char sum[16];
  std::snprintf(sum, sizeof sum, " ~%08x\n", Checksum(text));
  return text + sum;
}

std::string AddressJournal::ReadLine(std::string_view line, std::uint32_t number) {
  if (line.empty() || line.front() == '#') return {};
  const std::size_t mark = line.rfind(" ~");
  unsigned sum = 0;
  int used = 0;
  if (mark == std::string_view::npos || line.size() - mark != 10 ||
      std::sscanf(std::string(line.substr(mark + 2)).c_str(), "%8x%n", &sum, &used) != 1 || used != 8 ||
      sum != Checksum(line.substr(0, mark))) {
    return LineNumber(number) + "damaged (its checksum does not match its text)";
  }
  const std::string_view text = line.substr(0, mark);
  const std::size_t afterFate = text.find(' ');
  const std::optional<AddressFate> fate = FateNamed(text.substr(0, afterFate));
  const std::optional<BluetoothAddress> address = afterFate == std::string_view::npos
                                                      ? std::nullopt
                                                      : BluetoothAddress::Parse(text.substr(afterFate + 1, 17));
  const bool spaced = address && text.size() > afterFate + 18 && text[afterFate + 18] == ' ';
  const std::size_t afterTime = spaced ? text.find(' ', afterFate + 19) : std::string_view::npos;
  if (!fate || afterTime == std::string_view::npos) {
    return LineNumber(number) + "not a record of this journal";
  }
  UnsettledAddress entry{*address, std::string(text.substr(afterFate + 19, afterTime - afterFate - 19)),
                         std::string(text.substr(afterTime + 1)), number};
  const auto found = given_.find(address->value);
  if (*fate == AddressFate::kTaken) {
    if (found != given_.end()) {
      return LineNumber(number) + address->Text() + " given out again (it was given on line " +
             std::to_string(found->second.taken.line) + ")";
    }
    given_.emplace(address->value, Given{entry, false});
    return {};
  }
  if (found == given_.end() || found->second.settled) {
    return LineNumber(number) + "an outcome for " + address->Text() + ", which is not given out and unsettled";
  }
  if (*fate == AddressFate::kUnused) {
    given_.erase(found);
  } else {
    found->second.settled = true;
    found->second.taken.sentWithoutAnswer = *fate == AddressFate::kUnanswered;
  }
  return {};
}

std::string AddressJournal::CatchUp() {
  std::string text;
  if (const platform::ErrorCode error = file_.ReadFrom(readUpTo_, &text); error != platform::kSuccess) {
    return "cannot be read (" + Why(error) + ")";
  }
  if (text.empty()) return {};
  std::size_t start = 0;
  // The end of a last line read whole before, written since by whoever wrote next.
  if (endsWithoutNewline_ && text.front() == '\n') {
    start = 1;
    readUpTo_ += 1;
  }
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (std::string problem = ReadLine(std::string_view(text).substr(start, end - start), linesRead_ + 1);
        !problem.empty()) {
      return problem;
    }
    ++linesRead_;
    readUpTo_ += end + 1 - start;
  }
  endsWithoutNewline_ = false;
  if (start == text.size()) return {};
  // A last line without its end. Whole, it is kept (and ended before the next record). Cut off
  // before its checksum (or followed by the zeros a power cut can leave), it is what remains of
  // a record whose write had not reached the disk, so nothing was done on its word: it goes.
  // Anything else there is damage, as anywhere.
  const std::string_view rest = std::string_view(text).substr(start);
  std::string problem = ReadLine(rest, linesRead_ + 1);
  if (problem.empty()) {
    ++linesRead_;
    readUpTo_ += rest.size();
    endsWithoutNewline_ = true;
    return {};
  }
  const std::string_view beforeZeros = rest.substr(0, rest.find('\0'));
  const std::size_t mark = beforeZeros.rfind(" ~");
  const bool cutOff = rest.find_first_not_of('\0', beforeZeros.size()) == std::string_view::npos &&
                      (mark == std::string_view::npos || beforeZeros.size() - mark < 10);
  if (!cutOff) return problem;
  if (const platform::ErrorCode error = file_.Truncate(readUpTo_); error != platform::kSuccess) {
    return LineNumber(linesRead_ + 1) + "cut off, and it cannot be removed (" + Why(error) + ")";
  }
  notes_.push_back(LineNumber(linesRead_ + 1) + "a record cut off while it was written (a power cut) was removed: \"" +
                   Printable(beforeZeros.substr(0, 40)) + "\"");
  return {};
}

std::string AddressJournal::Load() {
  const std::lock_guard<std::mutex> hold(lock_);
  if (const platform::ErrorCode error = file_.Lock(); error != platform::kSuccess) {
    return "cannot be locked (" + Why(error) + ")";
  }
  std::string problem = CatchUp();
  file_.Unlock();
  for (const auto& [address, given] : given_) {
    if (!given.settled || given.taken.sentWithoutAnswer) unsettledAtLoad_.push_back(address);
  }
  return problem;
}

std::vector<UnsettledAddress> AddressJournal::Unsettled() const {
  std::vector<UnsettledAddress> unsettled;
  for (const std::uint64_t address : unsettledAtLoad_) {
    if (const auto found = given_.find(address); found != given_.end()) unsettled.push_back(found->second.taken);
  }
  std::sort(unsettled.begin(), unsettled.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
  return unsettled;
}

BluetoothAddress* AddressJournal::NextFree(BluetoothAddress* candidate) const {
  *candidate = block_.first;
  for (auto at = given_.lower_bound(candidate->value); block_.Holds(*candidate);) {
    if (candidate->InInquiryAccessRange()) {
      candidate->value = (candidate->value & ~std::uint64_t{0xFFFFFF}) | 0x9E8B40;
      at = given_.lower_bound(candidate->value);
    } else if (at != given_.end() && at->first == candidate->value) {
      ++candidate->value;
      ++at;
    } else {
      return candidate;
    }
  }
  return nullptr;
}

AddressJournal::Take AddressJournal::TakeNext(std::string_view port, BluetoothAddress* address, std::string* problem) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (const platform::ErrorCode error = file_.Lock(); error != platform::kSuccess) {
    *problem = "the journal cannot be locked (" + Why(error) + ")";
    return Take::kFailed;
  }
  struct Unlock {
    platform::LogFile& file;
    ~Unlock() { file.Unlock(); }
  } unlock{file_};
  if (std::string damage = CatchUp(); !damage.empty()) {
    *problem = "the journal " + damage;
    return Take::kFailed;
  }
  if (NextFree(address) == nullptr) return Take::kUsedUp;
  const std::string time = platform::UtcNow();
  std::string line = Line(AddressFate::kTaken, *address, time, port);
  if (endsWithoutNewline_) line.insert(0, "\n");
  if (const platform::ErrorCode error = file_.Append(line); error != platform::kSuccess) {
    *problem = "the journal cannot be written (" + Why(error) + ")";
    return Take::kFailed;
  }
  readUpTo_ += line.size();
  ++linesRead_;
  endsWithoutNewline_ = false;
  given_.emplace(address->value, Given{UnsettledAddress{*address, time, std::string(port), linesRead_}, false});
  return Take::kTaken;
}

std::string AddressJournal::Record(BluetoothAddress address, AddressFate fate, std::string_view port) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (const platform::ErrorCode error = file_.Lock(); error != platform::kSuccess) {
    return "the journal cannot be locked (" + Why(error) + ")";
  }
  struct Unlock {
    platform::LogFile& file;
    ~Unlock() { file.Unlock(); }
  } unlock{file_};
  if (std::string damage = CatchUp(); !damage.empty()) return "the journal " + damage;
  std::string line = Line(fate, address, platform::UtcNow(), port);
  if (endsWithoutNewline_) line.insert(0, "\n");
  if (const platform::ErrorCode error = file_.Append(line); error != platform::kSuccess) {
    return "the journal cannot be written (" + Why(error) + ")";
  }
  readUpTo_ += line.size();
  ++linesRead_;
  endsWithoutNewline_ = false;
  if (const auto found = given_.find(address.value); found != given_.end()) {
    if (fate == AddressFate::kUnused) {
      given_.erase(found);
    } else {
      found->second.settled = true;
    }
  }
  return {};
}

}  // namespace quillon
