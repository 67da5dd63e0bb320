// One port's programming: its serial port, link and engine, the address it is given from the
// block, and what came of it. Runs on a thread of its own; ports share nothing but the journal,
// the stop event and the trace.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "bcsp/bcsp_link.h"
#include "bcsp/console.h"
#include "bcsp/serial_port.h"
#include "platform/hci_packet_port.h"
#include "platform/platform.h"
#include "programs/psconfig/command_line.h"
#include "programs/psconfig/run_progress.h"
#include "psconfig/address_journal.h"
#include "psconfig/programming_run.h"

namespace quillon::psconfig {

// Exit status of a port that got no address: nothing was written to its module.
inline constexpr int kExitBlockUsedUp = 8;
inline constexpr int kExitJournalFailed = 9;
inline constexpr int kExitNotStarted = 71;  // the system refused what the run needs

// What every port's run shares.
struct LineSetup {
  explicit LineSetup(const platform::Platform& roles) : platform(roles) {}
  const platform::Platform& platform;
  std::wstring file;
  std::uint32_t baud = 115200;
  std::span<const std::uint32_t> searchRates;
  RunOptions options;
  platform::Event* stop = nullptr;
  AddressJournal* journal = nullptr;  // with an address block
  Transport transport = Transport::kBcsp;
  bool flowControl = true;
};

class PortWork {
 public:
  PortWork(const LineSetup& setup, std::string port, Progress::Display display, Console& console);
  PortWork(const PortWork&) = delete;
  PortWork& operator=(const PortWork&) = delete;

  // Takes an address (with a journal), programs the module, settles the address.
  void Run();
  // The run could not be started (the system refused a thread): nothing was taken or sent.
  void NotStarted();

  const std::string& Port() const { return port_; }
  Progress& Watch() { return progress_; }
  ProgrammingEngine& Engine() { return *engine_; }
  int Result() const { return result_; }
  double SecondsTaken() const { return seconds_; }
  // The address given to the module, if any; and what the journal says of it.
  std::optional<BluetoothAddress> Address() const { return address_; }
  AddressFate Fate() const { return fate_; }
  // Why the journal could not be used for this port (taking or recording); empty when it could.
  const std::string& JournalProblem() const { return journalProblem_; }

 private:
  void RecordFate(AddressFate fate);

  const LineSetup& setup_;
  std::string port_;
  Progress progress_;
  PsKeyList keys_;
  // BCSP: the serial port, its link and the BCSP engine; over HCI: the packet port and the
  // request layer.
  std::unique_ptr<SerialPort> serialPort_;
  std::unique_ptr<BcspLink> link_;
  std::unique_ptr<platform::HciPacketPort> hciPort_;
  std::unique_ptr<ProgrammingEngine> engine_;
  int result_ = -1;
  double seconds_ = 0;
  std::optional<BluetoothAddress> address_;
  std::array<std::uint16_t, 4> addressKey_{};
  AddressFate fate_ = AddressFate::kTaken;
  bool fateRecorded_ = false;
  std::string journalProblem_;
};

}  // namespace quillon::psconfig
