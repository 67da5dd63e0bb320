// A simulated BlueCore module at the far end of a serial line: a BCSP peer with its own link
// layer, a BCCMD command layer with a Persistent Store, faults on demand, and a log.
//
// Time is passed in (microseconds on any steady clock). Bytes from the host go in through
// FromHost; bytes for the host come out of ToHost, at line rate when pacing is on.
//
// The module powers up the first time it is run, and comes back after a warm reset, at the rate
// its store names (its own default when the store names none); for the boot time after either it
// hears nothing of the line and says nothing. Bytes that cross the line at another rate than the
// receiver's arrive as noise, as a UART frames them: see Garble.
// Not thread-safe: one thread drives a simulator (the log may be read from any thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tools/module_simulator/module_link.h"
#include "tools/module_simulator/ps_store.h"
#include "tools/module_simulator/simulator_options.h"

namespace quillon::sim {

// What a UART at `receiverBaud` makes of one byte sent at `senderBaud`: its start bits fall
// wherever the sender's line happens to go low, so it frames a number of bytes that follows the
// ratio of the rates (a Poisson draw around it: sometimes none, sometimes several), each of them
// noise, 0xC0 among them as often as any other value. A rate of 0 (a line nobody drives) gives
// nothing. Each byte goes to `take`; at most kMostNoisePerByte of them.
inline constexpr int kMostNoisePerByte = 64;
void Garble(std::uint32_t senderBaud, std::uint32_t receiverBaud, std::mt19937_64& random,
            const std::function<void(std::uint8_t)>& take);

struct BccmdRequest {
  std::uint64_t timeUs = 0;
  std::uint16_t status = 0;  // what the module answered: 0, or why it refused
  std::uint16_t type = 0;
  std::uint16_t sequence = 0;
  std::uint16_t varId = 0;
  std::uint16_t psKey = 0;
  std::vector<std::uint16_t> values;
  std::vector<std::uint8_t> bytes;  // the message as it came
};

// Status words of the module's answers.
inline constexpr std::uint16_t kStatusOk = 0;
inline constexpr std::uint16_t kStatusNoSuchVariable = 1;
inline constexpr std::uint16_t kStatusWrongLength = 2;  // a key read with another length than it holds
inline constexpr std::uint16_t kStatusNoValue = 3;      // a key read that the store does not hold
inline constexpr std::uint16_t kStatusBadRequest = 4;   // a wrong type or length word, or values missing
inline constexpr std::uint16_t kStatusError = 8;        // a refusal without a reason

// What a module must read in a request before it can act on it: the message type, the
// variable identifier, and for a key request a length and a value-length word that match the
// values that came. The build-identifier and warm-reset requests are accepted with their
// length word of 9 in 16 bytes. Returns the status of the answer.
std::uint16_t ExamineBccmdRequest(std::span<const std::uint8_t> payload);

// Where the module keeps a key it accepts before it answers: the module's flash. Write gets the
// whole store as it is to be, with `key` just set; an empty text once it is kept, else why not
// (the module then keeps the store it had and answers with an error status).
class StoreFlash {
 public:
  virtual ~StoreFlash() = default;
  virtual std::string Write(const PsStore& store, std::uint16_t key) = 0;
};

class ModuleSimulator {
 public:
  static constexpr std::uint16_t kVarBuildId = 0x2819;
  static constexpr std::uint16_t kVarPsKey = 0x7003;
  static constexpr std::uint16_t kVarWarmReset = 0x4002;
  static constexpr std::uint16_t kGetRequest = 0;
  static constexpr std::uint16_t kGetResponse = 1;
  static constexpr std::uint16_t kSetRequest = 2;

  // `store` is what the module's flash holds at power-up; `flash` (not owned, may be null for a
  // store in memory only) keeps every key the module accepts.
  explicit ModuleSimulator(SimulatorOptions options, PsStore store = {}, StoreFlash* flash = nullptr);

  // Bytes the host wrote at `hostBaud`; at a rate other than the module's they arrive as noise.
  void FromHost(std::span<const std::uint8_t> bytes, std::uint32_t hostBaud, std::uint64_t nowUs);
  // Runs the module up to `nowUs` and hands out what has reached the host by then (at most
  // out.size() bytes). Bytes sent at another rate than `hostBaud` arrive as noise.
  std::size_t ToHost(std::span<std::uint8_t> out, std::uint32_t hostBaud, std::uint64_t nowUs);
  // Runs the module up to `nowUs` without taking bytes.
  void Advance(std::uint64_t nowUs);

  std::uint32_t BaudRate() const { return baudRate_; }
  // A test's way to set keys as if they had always been there (the flash does not see them).
  PsStore& Store() { return store_; }
  const PsStore& Store() const { return store_; }
  // Every BCCMD request taken, in order, and the number of restarts so far.
  std::vector<BccmdRequest> Requests() const;
  std::uint32_t Restarts() const;
  bool LinkActive() const { return link_->LinkState() == ModuleTransport::State::kGarrulous; }
  // The log: one line per frame, request and event, with the time in milliseconds.
  std::vector<std::string> LogLines() const;
  void SetLogSink(std::function<void(const std::string&)> sink);
  // Whether bytes are on their way in either direction (a driver then looks again soon).
  bool LineBusy() const {
    return !inbound_.empty() || !outbound_.empty() || !answers_.empty() || !noiseToHost_.empty();
  }
  // When a driver should next run the module (Advance, ToHost) for the line to keep its times:
  // a frame's delimiter reaching either end, an answer or a restart falling due. None while
  // only the link's own timers are running.
  std::optional<std::uint64_t> NextEventUs() const;
  // How far bytes between two delimiters may lag behind the line when a driver batches them.
  static constexpr std::uint64_t kBatchUs = 200;
  // Bytes that crossed the line so far, both directions together (lost ones included).
  std::uint64_t BytesOnTheLine() const { return bytesOnTheLine_.load(); }

 private:
  struct TimedByte {
    std::uint64_t atUs;
    std::uint8_t byte;
    std::uint32_t baud;
  };
  struct Answer {
    std::uint64_t atUs;
    std::uint8_t channel;
    bool reliable;
    std::vector<std::uint8_t> payload;
  };

  void Deliver(std::uint8_t channel, bool reliable, std::span<const std::uint8_t> payload);
  void Queue(std::deque<TimedByte>* line, std::uint64_t* freeAtUs, std::uint8_t byte, std::uint32_t baud,
             std::uint64_t nowUs);
  bool ApplyFaults(const LineFaults& faults, std::mt19937_64& random, std::uint8_t* byte);
  void Restart(const char* why);
  void Boot(std::uint64_t nowUs);
  void Wake();
  bool Keep(std::uint16_t key, const std::vector<std::uint16_t>& values);
  std::uint32_t PowerUpRate() const;
  void Log(const std::string& text);
  std::uint64_t ByteTimeUs() const { return options_.paceLine ? 11'000'000ull / baudRate_ : 0; }

  SimulatorOptions options_;
  std::uint32_t baudRate_;
  std::uint64_t nowUs_ = 0;
  std::mt19937_64 toModuleRandom_;
  std::mt19937_64 fromModuleRandom_;
  std::mt19937_64 noiseToModuleRandom_;
  std::mt19937_64 noiseToHostRandom_;
  std::unique_ptr<ModuleTransport> link_;  // BCSP, or H4
  PsStore store_;
  StoreFlash* flash_;
  bool poweredUp_ = false;
  std::optional<std::uint64_t> awakeAtUs_;  // set while the module boots
  std::uint64_t lostWhileBooting_ = 0;
  std::deque<std::uint8_t> noiseToHost_;  // framed by the host's UART, not yet handed out
  std::deque<TimedByte> inbound_;         // host -> module
  std::deque<TimedByte> outbound_;        // module -> host
  std::uint64_t inboundFreeUs_ = 0;
  std::uint64_t outboundFreeUs_ = 0;
  std::deque<Answer> answers_;
  std::optional<std::uint64_t> restartAtUs_;
  const char* restartReason_ = "";
  std::uint32_t keyRequests_ = 0;
  std::atomic<std::uint64_t> bytesOnTheLine_{0};

  mutable std::mutex logLock_;
  std::vector<std::string> log_;
  std::vector<BccmdRequest> requests_;
  std::uint32_t restarts_ = 0;
  std::function<void(const std::string&)> sink_;
};

}  // namespace quillon::sim
