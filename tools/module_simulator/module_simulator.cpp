#include "tools/module_simulator/module_simulator.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "bcsp/bcsp_codec.h"
#include "tools/module_simulator/module_h4.h"

namespace quillon::sim {
namespace {

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset + 1 >= bytes.size()) return 0;
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void PutWord(std::vector<std::uint8_t>* bytes, std::size_t offset, std::uint16_t value) {
  if (offset + 1 >= bytes->size()) return;
  (*bytes)[offset] = static_cast<std::uint8_t>(value & 0xFF);
  (*bytes)[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// An HCI Command Status event (code 0x0F): status 0, one command allowed, no opcode.
const std::vector<std::uint8_t> kCommandStatusEvent = {0x0F, 0x04, 0x00, 0x01, 0x00, 0x00};

constexpr std::size_t kHeaderBytes = 16;

}  // namespace

void Garble(std::uint32_t senderBaud, std::uint32_t receiverBaud, std::mt19937_64& random,
            const std::function<void(std::uint8_t)>& take) {
  if (senderBaud == 0 || receiverBaud == 0) return;
  std::poisson_distribution<int> framed(static_cast<double>(receiverBaud) / senderBaud);
  const int count = std::min(framed(random), kMostNoisePerByte);
  for (int i = 0; i < count; ++i) take(static_cast<std::uint8_t>(random() & 0xFF));
}

std::uint16_t ExamineBccmdRequest(std::span<const std::uint8_t> payload) {
  if (payload.size() < kHeaderBytes || payload.size() % 2 != 0) return kStatusBadRequest;
  const std::uint16_t type = Word(payload, 0);
  const std::uint16_t length = Word(payload, 2);
  const std::uint16_t varId = Word(payload, 6);
  const std::size_t words = payload.size() / 2;
  switch (varId) {
    case ModuleSimulator::kVarPsKey: {
      if (type != ModuleSimulator::kGetRequest && type != ModuleSimulator::kSetRequest) return kStatusBadRequest;
      const std::size_t valueWords = Word(payload, 12);
      if (length != words || valueWords != words - kHeaderBytes / 2) return kStatusBadRequest;
      return kStatusOk;
    }
    case ModuleSimulator::kVarBuildId:
    case ModuleSimulator::kVarWarmReset: {
      const std::uint16_t wanted = varId == ModuleSimulator::kVarBuildId ? ModuleSimulator::kGetRequest
                                                                         : ModuleSimulator::kSetRequest;
      if (type != wanted) return kStatusBadRequest;
      // Nine words said, eight sent: the form every host uses, and modules accept it.
      if (length != words && !(length == 9 && words == 8)) return kStatusBadRequest;
      return kStatusOk;
    }
    default:
      return kStatusNoSuchVariable;
  }
}

ModuleSimulator::ModuleSimulator(SimulatorOptions options, PsStore store, StoreFlash* flash)
    : options_(options),
      baudRate_(0),
      toModuleRandom_(options.seed * 2 + 1),
      fromModuleRandom_(options.seed * 2 + 2),
      noiseToModuleRandom_(options.seed ^ 0x6E6F697365000001ull),
      noiseToHostRandom_(options.seed ^ 0x6E6F697365000002ull),
      store_(std::move(store)),
      flash_(flash) {
  baudRate_ = PowerUpRate();
  auto deliver = [this](std::uint8_t channel, bool reliable, std::span<const std::uint8_t> payload) {
    Deliver(channel, reliable, payload);
  };
  auto send = [this](const std::vector<std::uint8_t>& wire) {
    for (std::uint8_t byte : wire) {
      if (ApplyFaults(options_.fromModule, fromModuleRandom_, &byte)) {
        Queue(&outbound_, &outboundFreeUs_, byte, baudRate_, nowUs_);
      }
    }
  };
  auto log = [this](const std::string& line) { Log(line); };
  if (options_.h4) {
    link_ = std::make_unique<ModuleH4>(deliver, send, log);
  } else {
    link_ = std::make_unique<ModuleLink>(std::uint64_t{options_.linkIntervalMs} * 1000,
                                         std::uint64_t{options_.resendMs} * 1000, deliver, send, log);
  }
}

std::uint32_t ModuleSimulator::PowerUpRate() const {
  const AppliedUartRate applied = store_.UartRate();
  if (applied.rate != 0) return applied.rate;
  return options_.baudRate != 0 ? options_.baudRate : kDefaultUartRate;
}

bool ModuleSimulator::ApplyFaults(const LineFaults& faults, std::mt19937_64& random, std::uint8_t* byte) {
  if (faults.byteLoss <= 0.0 && faults.bitCorruption <= 0.0) return true;
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  if (chance(random) < faults.byteLoss) return false;
  if (chance(random) < faults.bitCorruption) *byte ^= static_cast<std::uint8_t>(1u << (random() % 8));
  return true;
}

void ModuleSimulator::Queue(std::deque<TimedByte>* line, std::uint64_t* freeAtUs, std::uint8_t byte, std::uint32_t baud,
                            std::uint64_t nowUs) {
  bytesOnTheLine_.fetch_add(1, std::memory_order_relaxed);
  const std::uint64_t start = std::max(*freeAtUs, nowUs);
  *freeAtUs = start + ByteTimeUs();
  line->push_back(TimedByte{*freeAtUs, byte, baud});
}

void ModuleSimulator::FromHost(std::span<const std::uint8_t> bytes, std::uint32_t hostBaud, std::uint64_t nowUs) {
  Advance(nowUs);
  for (std::uint8_t byte : bytes) {
    if (ApplyFaults(options_.toModule, toModuleRandom_, &byte))
      Queue(&inbound_, &inboundFreeUs_, byte, hostBaud, nowUs);
  }
  Advance(nowUs);
}

std::size_t ModuleSimulator::ToHost(std::span<std::uint8_t> out, std::uint32_t hostBaud, std::uint64_t nowUs) {
  Advance(nowUs);
  std::size_t given = 0;
  while (given < out.size()) {
    // Noise framed from an earlier byte first: what did not fit the last call waits here.
    if (!noiseToHost_.empty()) {
      out[given++] = noiseToHost_.front();
      noiseToHost_.pop_front();
      continue;
    }
    if (outbound_.empty() || outbound_.front().atUs > nowUs) break;
    const TimedByte sent = outbound_.front();
    outbound_.pop_front();
    if (sent.baud == hostBaud) {
      out[given++] = sent.byte;
    } else {
      Garble(sent.baud, hostBaud, noiseToHostRandom_, [this](std::uint8_t noise) { noiseToHost_.push_back(noise); });
    }
  }
  return given;
}

// Each event happens at its own time, in order, however late the caller comes: a byte from the
// host when the line has delivered it, an answer as soon as its request is whole, a restart when
// it is due. What the module sends then starts on the line at that time, not at the caller's.
void ModuleSimulator::Advance(std::uint64_t nowUs) {
  if (!poweredUp_) {
    poweredUp_ = true;
    nowUs_ = nowUs;
    Log("module powers up, UART at " + std::to_string(baudRate_) + " baud");
    Boot(nowUs);
  }
  const std::uint64_t until = std::max(nowUs_, nowUs);
  auto nextDue = [this] {
    std::uint64_t due = UINT64_MAX;
    if (awakeAtUs_) due = std::min(due, *awakeAtUs_);
    if (!inbound_.empty()) due = std::min(due, inbound_.front().atUs);
    if (restartAtUs_) due = std::min(due, *restartAtUs_);
    if (!answers_.empty()) due = std::min(due, answers_.front().atUs);
    return due;
  };
  for (std::uint64_t due = nextDue(); due <= until;) {
    nowUs_ = std::max(nowUs_, due);
    if (awakeAtUs_ && nowUs_ >= *awakeAtUs_) {
      Wake();
    } else if (!inbound_.empty() && inbound_.front().atUs <= nowUs_) {
      const TimedByte received = inbound_.front();
      inbound_.pop_front();
      if (awakeAtUs_) {
        ++lostWhileBooting_;
      } else if (received.baud == baudRate_) {
        link_->OnByte(received.byte, nowUs_);
      } else {
        // The module's receiver frames noise; its link layer must find no frame in it.
        Garble(received.baud, baudRate_, noiseToModuleRandom_,
               [this](std::uint8_t noise) { link_->OnByte(noise, nowUs_); });
      }
    } else if (restartAtUs_ && nowUs_ >= *restartAtUs_) {
      restartAtUs_.reset();
      Restart(restartReason_);
    } else {
      Answer answer = std::move(answers_.front());
      answers_.pop_front();
      if (answer.reliable) {
        link_->SendReliable(answer.channel, std::move(answer.payload));
      } else {
        link_->SendUnreliable(answer.channel, std::move(answer.payload));
      }
    }
    // The link sends once everything of this moment is done, so that an answer made at once
    // carries the acknowledgement of its request. A booting module sends nothing.
    due = nextDue();
    if (due > nowUs_ && !awakeAtUs_) link_->Tick(nowUs_);
  }
  nowUs_ = until;
  if (!awakeAtUs_) link_->Tick(nowUs_);
}

std::optional<std::uint64_t> ModuleSimulator::NextEventUs() const {
  std::optional<std::uint64_t> next;
  auto consider = [&](std::uint64_t atUs) { next = next ? std::min(*next, atUs) : atUs; };
  // The far end of either direction acts on whole frames: their delimiters are what must come on
  // time. Bytes in between may come in batches, though never far behind the line.
  for (const std::deque<TimedByte>* line : {&inbound_, &outbound_}) {
    if (line->empty()) continue;
    consider(line->front().atUs + kBatchUs);
    const auto delimiter = std::find_if(line->begin(), line->end(),
                                        [](const TimedByte& byte) { return byte.byte == kSlipDelimiter; });
    if (delimiter != line->end()) consider(delimiter->atUs);
  }
  if (restartAtUs_) consider(*restartAtUs_);
  if (awakeAtUs_) consider(*awakeAtUs_);
  if (!answers_.empty()) consider(answers_.front().atUs);
  if (!noiseToHost_.empty()) consider(nowUs_);
  return next;
}

void ModuleSimulator::Restart(const char* why) {
  baudRate_ = PowerUpRate();
  answers_.clear();
  link_->Restart(nowUs_);
  char line[96];
  std::snprintf(line, sizeof line, "module restarts (%s), UART at %u baud", why, baudRate_);
  Log(line);
  {
    std::lock_guard<std::mutex> hold(logLock_);
    ++restarts_;
  }
  Boot(nowUs_);
}

void ModuleSimulator::Boot(std::uint64_t nowUs) {
  awakeAtUs_ = nowUs + std::uint64_t{options_.bootMs} * 1000;
  lostWhileBooting_ = 0;
  if (options_.bootMs == 0) Wake();
}

void ModuleSimulator::Wake() {
  awakeAtUs_.reset();
  link_->Restart(nowUs_);
  Log("module up after its boot, " + std::to_string(lostWhileBooting_) + " bytes lost meanwhile");
}

bool ModuleSimulator::Keep(std::uint16_t key, const std::vector<std::uint16_t>& values) {
  if (flash_ == nullptr) {
    store_.Set(key, values);
    return true;
  }
  // Only a store that reached the flash replaces the one in memory.
  PsStore next = store_;
  next.Set(key, values);
  if (const std::string failed = flash_->Write(next, key); !failed.empty()) {
    char line[64];
    std::snprintf(line, sizeof line, "key 0x%04x not kept: ", key);
    Log(line + failed);
    return false;
  }
  store_ = std::move(next);
  return true;
}

void ModuleSimulator::Deliver(std::uint8_t channel, bool reliable, std::span<const std::uint8_t> payload) {
  if (channel != kChannelBccmd) return;
  if (payload.size() < 8) {
    Log("BCCMD message of " + std::to_string(payload.size()) + " bytes: too short to answer, dropped");
    return;
  }
  BccmdRequest request;
  request.timeUs = nowUs_;
  request.status = ExamineBccmdRequest(payload);
  request.type = Word(payload, 0);
  request.sequence = Word(payload, 4);
  request.varId = Word(payload, 6);
  request.psKey = Word(payload, 10);
  request.bytes.assign(payload.begin(), payload.end());
  if (request.status == kStatusOk) {
    for (std::size_t at = kHeaderBytes; at + 1 < payload.size(); at += 2) request.values.push_back(Word(payload, at));
  }
  std::size_t taken = 0;
  {
    std::lock_guard<std::mutex> hold(logLock_);
    requests_.push_back(request);
    taken = requests_.size();
  }
  char line[160];
  std::snprintf(line, sizeof line, "BCCMD request %zu: type %u seq %u varid 0x%04x key 0x%04x values %zu%s", taken,
                request.type, request.sequence, request.varId, request.psKey, request.values.size(),
                request.status == kStatusOk               ? ""
                : request.status == kStatusNoSuchVariable ? ": no such variable"
                                                          : ": bad request, refused");
  Log(line);

  if (options_.restartAfterRequests != 0 && taken == options_.restartAfterRequests) {
    restartAtUs_ = nowUs_ + std::uint64_t{options_.restartMs} * 1000;
    restartReason_ = "spontaneous";
    return;
  }
  // An injected error status stands for a refusal too: nothing refused is acted on.
  std::uint16_t status = request.status != kStatusOk ? request.status : options_.answerStatus;
  const bool keyRead = request.varId == kVarPsKey && request.type == kGetRequest;
  if (keyRead && status == kStatusOk) {
    const auto* stored = store_.Get(request.psKey);
    if (options_.refuseReadOf == request.psKey) {
      status = kStatusError;
    } else if (stored == nullptr) {
      status = kStatusNoValue;
    } else if (stored->size() != request.values.size()) {
      status = kStatusWrongLength;
    }
  }
  if (keyRead && options_.dropReadAnswerOf == request.psKey) {
    Log("read of key answered by no one (fault)");
    return;
  }
  std::vector<std::uint8_t> answer(payload.begin(), payload.end());
  answer.resize(std::max<std::size_t>(answer.size(), kHeaderBytes), 0);
  PutWord(&answer, 0, kGetResponse);
  PutWord(&answer, 8, status);
  switch (status == kStatusOk ? request.varId : 0) {
    case kVarWarmReset:
      restartAtUs_ = nowUs_ + std::uint64_t{options_.restartMs} * 1000;
      restartReason_ = "warm reset";
      if (!options_.answerWarmReset) return;
      break;
    case kVarBuildId:
      if (options_.neverAnswerBuildId) return;
      PutWord(&answer, 10, options_.buildId);
      break;
    case kVarPsKey:
      if (request.type == kSetRequest) {
        // Kept in flash before the answer is queued: what the host hears acknowledged survives
        // a power cut.
        if (options_.refuseWriteOf == request.psKey ||
            (options_.keepOldValueOf != request.psKey && !Keep(request.psKey, request.values))) {
          status = kStatusError;
          PutWord(&answer, 8, status);
          std::lock_guard<std::mutex> hold(logLock_);
          requests_[taken - 1].status = status;
        }
      } else if (const auto* stored = store_.Get(request.psKey)) {
        for (std::size_t i = 0; i < stored->size(); ++i) PutWord(&answer, 16 + 2 * i, (*stored)[i]);
      }
      break;
    default:
      break;
  }
  if (request.varId == kVarPsKey && options_.commandStatusAfterKeys != 0 &&
      ++keyRequests_ == options_.commandStatusAfterKeys) {
    answers_.push_back(
        Answer{nowUs_ + std::uint64_t{options_.answerDelayMs} * 1000, kChannelHci, false, kCommandStatusEvent});
  }
  if (keyRead && options_.answerReadOf == request.psKey)
    PutWord(&answer, 10, static_cast<std::uint16_t>(request.psKey + 1));
  if (options_.answerWithOtherVarId) PutWord(&answer, 6, static_cast<std::uint16_t>(request.varId + 1));
  answers_.push_back(
      Answer{nowUs_ + std::uint64_t{options_.answerDelayMs} * 1000, kChannelBccmd, reliable, std::move(answer)});
}

void ModuleSimulator::Log(const std::string& text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.3f ms  ", static_cast<double>(nowUs_) / 1000.0);
  const std::string line = stamp + text;
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> hold(logLock_);
    log_.push_back(line);
    sink = sink_;
  }
  if (sink) sink(line);
}

std::vector<BccmdRequest> ModuleSimulator::Requests() const {
  std::lock_guard<std::mutex> hold(logLock_);
  return requests_;
}

std::uint32_t ModuleSimulator::Restarts() const {
  std::lock_guard<std::mutex> hold(logLock_);
  return restarts_;
}

std::vector<std::string> ModuleSimulator::LogLines() const {
  std::lock_guard<std::mutex> hold(logLock_);
  return log_;
}

void ModuleSimulator::SetLogSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> hold(logLock_);
  sink_ = std::move(sink);
}

}  // namespace quillon::sim
