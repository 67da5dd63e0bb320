// The journal of a block's addresses: which address went to which module, and what came of it.
//
// One line per event, each closed by a checksum, so that damage is found and named rather than
// read as something else:
//   taken 00:02:5B:00:A5:A5 2026-12-08T10:00:00Z COM4: ~3f1e0a27
// "taken" is on disk before the address is sent to a module; its outcome follows: "written" (the
// module took the key), "refused" (it answered with an error), "unanswered" (sent, no answer:
// the module may hold it), or "unused" (never sent: the address is free again). An address taken
// without an outcome belongs to a run that was cut off, or that is still running in another
// process: it is never given again.
//
// Several processes share a journal through the file's lock; the threads of one process share one
// AddressJournal, which serialises them.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "psconfig/bluetooth_address.h"

namespace quillon {

enum class AddressFate : std::uint8_t { kTaken, kWritten, kRefused, kUnanswered, kUnused };

// An address given out whose module may or may not hold it: its run recorded no outcome, or
// recorded that it was sent without an answer.
struct UnsettledAddress {
  BluetoothAddress address;
  std::string time;
  std::string port;
  std::uint32_t line = 0;
  bool sentWithoutAnswer = false;
};

class AddressJournal {
 public:
  enum class Take : std::uint8_t { kTaken, kUsedUp, kFailed };

  AddressJournal(platform::LogFile& file, AddressBlock block) : file_(file), block_(block) {}

  // Reads the whole journal. Empty, or what is wrong and on which line; a journal that is wrong
  // is not used. A last line cut off before its end (a power cut while it was written, so its
  // address was never sent) is removed, and `Notes` says so.
  std::string Load();
  // Takes the lowest address of the block that was never given out (or came back unused),
  // skipping the inquiry access codes, and records it as given to `port` before returning.
  // kFailed: *problem says why (the journal could not be written, or another process damaged it).
  Take TakeNext(std::string_view port, BluetoothAddress* address, std::string* problem);
  // Records what came of an address this process took. Empty or what went wrong.
  std::string Record(BluetoothAddress address, AddressFate fate, std::string_view port);

  // Addresses given out before this process without an outcome, or sent without an answer, in
  // journal order.
  std::vector<UnsettledAddress> Unsettled() const;
  const std::vector<std::string>& Notes() const { return notes_; }

  // The text of one journal line, checksum and line end included.
  static std::string Line(AddressFate fate, BluetoothAddress address, std::string_view time, std::string_view port);
  static const char* FateName(AddressFate fate);
  // Why a journal's (or another record's) file failed, in the user's words.
  static std::string FileErrorText(platform::ErrorCode error);

 private:
  struct Given {
    UnsettledAddress taken;
    bool settled = false;  // an outcome is recorded
  };
  // Reads what the file holds past what was read already; the file is locked.
  std::string CatchUp();
  std::string ReadLine(std::string_view line, std::uint32_t number);
  BluetoothAddress* NextFree(BluetoothAddress* candidate) const;

  platform::LogFile& file_;
  AddressBlock block_;
  std::mutex lock_;
  std::uint64_t readUpTo_ = 0;  // the end of the last whole line read
  std::uint32_t linesRead_ = 0;
  bool endsWithoutNewline_ = false;
  std::map<std::uint64_t, Given> given_;  // by address: every address given out and not released
  std::vector<std::uint64_t> unsettledAtLoad_;
  std::vector<std::string> notes_;
};

}  // namespace quillon
