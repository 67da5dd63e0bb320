#include "tools/module_simulator/simulator_arguments.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

namespace quillon::sim {
namespace {

// Decimal digits only: no sign, no exponent, no fraction; at most `maximum`.
template <typename T>
bool ReadWhole(const std::string& text, std::uint64_t minimum, std::uint64_t maximum, T* out) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (value < minimum || value > maximum) return false;
  *out = static_cast<T>(value);
  return true;
}

bool ReadProbability(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || value < 0.0 || value > 1.0) return false;
  *out = value;
  return true;
}

// A PS key number: one to four hexadecimal digits, "&" in front allowed.
bool ReadKey(const std::string& text, std::optional<std::uint16_t>* out) {
  const std::size_t start = !text.empty() && text[0] == '&' ? 1 : 0;
  if (text.size() <= start || text.size() - start > 4) return false;
  std::uint16_t key = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    key = static_cast<std::uint16_t>(key * 16 + digit);
  }
  *out = key;
  return true;
}

constexpr std::uint64_t kMaxLink = 255;
constexpr std::uint64_t kMaxModules = 32;
constexpr std::uint64_t kMaxBaud = 4'000'000;
constexpr std::uint64_t kMaxMs = 3'600'000;  // an hour
constexpr std::uint64_t kMax16 = 0xFFFF;
constexpr std::uint64_t kMax32 = 0xFFFFFFFF;

}  // namespace

std::string ReadSimulatorArguments(std::span<const std::string> arguments, SimulatorCommand* command) {
  SimulatorOptions& options = command->options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--help" || arg == "-h") {
      command->help = true;
      return {};
    }
    if (arg == "--version") {
      command->version = true;
      return {};
    }
    if (arg == "--pace") {
      options.paceLine = true;
      continue;
    }
    if (arg == "--h4") {
      options.h4 = true;
      continue;
    }
    if (arg == "--no-build-id") {
      options.neverAnswerBuildId = true;
      continue;
    }
    if (arg == "--wrong-varid") {
      options.answerWithOtherVarId = true;
      continue;
    }
    struct WithValue {
      const char* name;
      bool (*read)(const std::string&, SimulatorCommand*);
      const char* wanted;
    };
    static const WithValue kWithValue[] = {
        {"--link", [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 1, kMaxLink, &c->link); },
         "a port number from 1 to 255"},
        {"--baud",
         [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 1, kMaxBaud, &c->options.baudRate); },
         "a rate from 1 to 4000000"},
        {"--boot-ms",
         [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 0, kMaxMs, &c->options.bootMs); },
         "milliseconds, at most 3600000"},
        {"--seed", [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 0, ~0ull, &c->options.seed); },
         "a whole number"},
        {"--loss-in",
         [](const std::string& t, SimulatorCommand* c) { return ReadProbability(t, &c->options.toModule.byteLoss); },
         "a probability from 0 to 1"},
        {"--loss-out",
         [](const std::string& t, SimulatorCommand* c) { return ReadProbability(t, &c->options.fromModule.byteLoss); },
         "a probability from 0 to 1"},
        {"--corrupt-in",
         [](const std::string& t, SimulatorCommand* c) {
           return ReadProbability(t, &c->options.toModule.bitCorruption);
         },
         "a probability from 0 to 1"},
        {"--corrupt-out",
         [](const std::string& t, SimulatorCommand* c) {
           return ReadProbability(t, &c->options.fromModule.bitCorruption);
         },
         "a probability from 0 to 1"},
        {"--answer-delay",
         [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 0, kMaxMs, &c->options.answerDelayMs); },
         "milliseconds, at most 3600000"},
        {"--error-status",
         [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 0, kMax16, &c->options.answerStatus); },
         "a status word from 0 to 65535"},
        {"--command-status-after",
         [](const std::string& t, SimulatorCommand* c) {
           return ReadWhole(t, 0, kMax32, &c->options.commandStatusAfterKeys);
         },
         "a whole number of keys"},
        {"--restart-after",
         [](const std::string& t, SimulatorCommand* c) {
           return ReadWhole(t, 0, kMax32, &c->options.restartAfterRequests);
         },
         "a whole number of requests"},
        {"--keep-old-value",
         [](const std::string& t, SimulatorCommand* c) { return ReadKey(t, &c->options.keepOldValueOf); },
         "a key number in hexadecimal"},
        {"--refuse-write",
         [](const std::string& t, SimulatorCommand* c) { return ReadKey(t, &c->options.refuseWriteOf); },
         "a key number in hexadecimal"},
        {"--modules",
         [](const std::string& t, SimulatorCommand* c) { return ReadWhole(t, 1, kMaxModules, &c->modules); },
         "a number of modules from 1 to 32"},
        {"--refuse-read",
         [](const std::string& t, SimulatorCommand* c) { return ReadKey(t, &c->options.refuseReadOf); },
         "a key number in hexadecimal"},
        {"--drop-read-answer",
         [](const std::string& t, SimulatorCommand* c) { return ReadKey(t, &c->options.dropReadAnswerOf); },
         "a key number in hexadecimal"},
        {"--read-answer-other-key",
         [](const std::string& t, SimulatorCommand* c) { return ReadKey(t, &c->options.answerReadOf); },
         "a key number in hexadecimal"},
        {"--store", [](const std::string& t, SimulatorCommand* c) { return !(c->storeFile = t).empty(); }, "a file"},
        {"--save", [](const std::string& t, SimulatorCommand* c) { return !(c->saveFile = t).empty(); }, "a file"},
        {"--log", [](const std::string& t, SimulatorCommand* c) { return !(c->logFile = t).empty(); }, "a file or -"},
    };
    const WithValue* found = nullptr;
    for (const WithValue& entry : kWithValue) {
      if (arg == entry.name) found = &entry;
    }
    if (found == nullptr) return "unknown option \"" + arg + "\"";
    if (i + 1 >= arguments.size()) return arg + " wants " + found->wanted;
    const std::string& value = arguments[++i];
    if (!found->read(value, command)) return arg + " wants " + found->wanted + ", not \"" + value + "\"";
  }
  if (command->link > 0 && command->link + command->modules - 1 > static_cast<int>(kMaxLink)) {
    return "--link " + std::to_string(command->link) + " with " + std::to_string(command->modules) +
           " modules goes past COM255:";
  }
  return {};
}

}  // namespace quillon::sim
