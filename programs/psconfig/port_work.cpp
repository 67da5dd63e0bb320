#include "programs/psconfig/port_work.h"

#include "platform/text.h"
#include "psconfig/h4_port.h"
#include "psconfig/message_run.h"

namespace quillon::psconfig {

PortWork::PortWork(const LineSetup& setup, std::string port, Progress::Display display, Console& console)
    : setup_(setup), port_(std::move(port)), progress_(display, port_) {
  switch (setup.transport) {
    case Transport::kBcsp:
      serialPort_ = std::make_unique<SerialPort>(setup.platform);
      link_ = std::make_unique<BcspLink>(*serialPort_, *setup.platform.clock, console);
      engine_ = std::make_unique<PSConfig>(setup.platform, keys_, *link_, *serialPort_, console);
      return;
    case Transport::kH4:
      hciPort_ = std::make_unique<H4Port>(setup.platform, setup.flowControl);
      break;
    case Transport::kHci:
      hciPort_ = setup.platform.hci->Create();  // checked to be there when the command line was read
      break;
  }
  engine_ = std::make_unique<MessageRun>(setup.platform, keys_, *hciPort_, console);
}

void PortWork::RecordFate(AddressFate fate) {
  fate_ = fate;
  if (fateRecorded_) return;
  fateRecorded_ = true;
  if (std::string problem = setup_.journal->Record(*address_, fate, port_); !problem.empty()) {
    journalProblem_ = problem + "; " + address_->Text() + " stays given out, with its outcome unknown";
  }
}

void PortWork::NotStarted() {
  result_ = kExitNotStarted;
  progress_.Say("not started");
}

void PortWork::Run() {
  RunOptions options = setup_.options;
  if (setup_.journal != nullptr) {
    progress_.Say("taking an address");
    BluetoothAddress address;
    switch (setup_.journal->TakeNext(port_, &address, &journalProblem_)) {
      case AddressJournal::Take::kUsedUp:
        journalProblem_ = "the address block is used up";
        result_ = kExitBlockUsedUp;
        seconds_ = Seconds(progress_.start_);
        return;
      case AddressJournal::Take::kFailed:
        result_ = kExitJournalFailed;
        seconds_ = Seconds(progress_.start_);
        return;
      case AddressJournal::Take::kTaken:
        break;
    }
    address_ = address;
    addressKey_ = address.KeyValues();
    options.addressKey = &addressKey_;
    progress_.Say("address " + address.Text());
    // The outcome is on disk as soon as the module has answered, before the reset.
    progress_.addressAnswered = [this](std::uint16_t status) {
      RecordFate(status == 0 ? AddressFate::kWritten : AddressFate::kRefused);
    };
  }
  result_ = engine_->Run(platform::HostNameToWide(port_), setup_.baud, setup_.file, setup_.stop, &progress_, options);
  seconds_ = Seconds(progress_.start_);
  progress_.Say(progress_.stopped_ ? "stopped" : result_ == kPsConfigDone ? "done" : "failed");
  if (address_) {
    // Sent without an answer, the module may hold the address: it is not given again. Never sent,
    // it is free for the next module.
    if (!progress_.addressAnswered_) {
      RecordFate(progress_.addressSent_ ? AddressFate::kUnanswered : AddressFate::kUnused);
    }
  }
}

}  // namespace quillon::psconfig
