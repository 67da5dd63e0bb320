// What a simulated module does, and which faults it injects.
#pragma once

#include <cstdint>
#include <optional>

namespace quillon::sim {

// Faults on one direction of the line, drawn from a seeded generator so that a run can be
// repeated exactly.
struct LineFaults {
  double byteLoss = 0.0;       // probability that a byte vanishes
  double bitCorruption = 0.0;  // probability that a byte arrives with one bit flipped
};

struct SimulatorOptions {
  // The module's own default: its rate when its store names none (or names a value outside the
  // table). A store that names a rate wins, at power-up as after a warm reset.
  std::uint32_t baudRate = 115200;
  std::uint32_t bootMs = 30;  // after power-up and each warm reset the module is deaf and mute this long
  bool paceLine = false;      // bytes take 11 bit times each, both ways
  bool h4 = false;            // the H4 host interface (BCCMD in HCI) instead of BCSP
  std::uint64_t seed = 1;
  LineFaults toModule;
  LineFaults fromModule;

  std::uint16_t buildId = 0x1F27;
  std::uint32_t answerDelayMs = 0;  // before each BCCMD answer
  bool neverAnswerBuildId = false;
  bool answerWithOtherVarId = false;         // answers name the next variable identifier
  std::uint16_t answerStatus = 0;            // status word of every answer (0: OK)
  std::uint32_t commandStatusAfterKeys = 0;  // after the Nth PS key request: a channel-5 Command Status event
  std::uint32_t restartAfterRequests = 0;    // restart, without answering, at the Nth request
  bool answerWarmReset = false;              // answer the warm reset before restarting
  // Faults of one key, for reads: its writes are answered but not stored; its reads refused
  // (status 8); its read answers never sent; its read answers naming the next key.
  std::optional<std::uint16_t> keepOldValueOf;
  std::optional<std::uint16_t> refuseWriteOf;  // its writes are refused (status 8), as by a full flash
  std::optional<std::uint16_t> refuseReadOf;
  std::optional<std::uint16_t> dropReadAnswerOf;
  std::optional<std::uint16_t> answerReadOf;

  std::uint32_t linkIntervalMs = 250;  // SYNC and CONF repetition
  std::uint32_t resendMs = 250;        // re-sending of unacknowledged reliable packets
  std::uint32_t restartMs = 20;        // a warm reset takes this long
};

}  // namespace quillon::sim
