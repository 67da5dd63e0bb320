#include "programs/psconfig/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace quillon::psconfig {
namespace {

// "COM4:", "\\.\com4" and "COM4" all as "com4"; anything else unchanged.
std::string ComName(const std::string& name) {
  std::string text = name.starts_with("\\\\.\\") ? name.substr(4) : name;
  if (text.ends_with(":")) text.pop_back();
  std::string lower = text;
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool com = lower.size() > 3 && lower.starts_with("com") &&
                   std::all_of(lower.begin() + 3, lower.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  return com ? lower : name;
}

}  // namespace

bool SamePort(const std::string& a, const std::string& b, const PortFile& portFile) {
  if (ComName(a) == ComName(b)) return true;
  const std::string first = portFile ? portFile(a) : a, second = portFile ? portFile(b) : b;
  if (first == second) return true;
  // Made absolute first: a name none of whose parts exists yet ("j") would otherwise stay relative
  // and never match "./j".
  std::error_code failed;
  auto resolved = [&failed](const std::string& name) {
    const std::filesystem::path absolute = std::filesystem::absolute(name, failed);
    return failed ? std::filesystem::path() : std::filesystem::weakly_canonical(absolute, failed);
  };
  const std::filesystem::path resolvedFirst = resolved(first);
  if (failed) return false;
  const std::filesystem::path resolvedSecond = resolved(second);
  return !failed && resolvedFirst == resolvedSecond;
}

std::string ReadCommandLine(std::span<const std::string> arguments, Command* command, const PortFile& portFile) {
  bool optionsEnded = false;
  std::string blockText;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    const bool hasValue = i + 1 < arguments.size() && !arguments[i + 1].empty();
    if (isOption && (arg == "--help" || arg == "-h")) {
      command->help = true;
      return {};
    } else if (isOption && arg == "--version") {
      command->version = true;
      return {};
    } else if (isOption && arg == "--") {
      optionsEnded = true;
    } else if (isOption && arg == "--trace") {
      command->echo = true;
    } else if (isOption && arg == "--verify") {
      command->verify = true;
    } else if (isOption && arg == "--backup" && hasValue) {
      command->backup = arguments[++i];
    } else if (isOption && arg == "--address-block" && hasValue) {
      blockText = arguments[++i];
    } else if (isOption && arg == "--journal" && hasValue) {
      command->journal = arguments[++i];
    } else if (isOption && arg == "--transport" && hasValue) {
      const std::string& name = arguments[++i];
      if (name == "bcsp") {
        command->transport = Transport::kBcsp;
      } else if (name == "h4") {
        command->transport = Transport::kH4;
      } else if (name == "hci") {
        command->transport = Transport::kHci;
      } else {
        return "not a transport (bcsp, h4 or hci): " + name;
      }
    } else if (isOption && arg == "--no-flow-control") {
      command->flowControl = false;
    } else if (isOption && arg == "--record" && hasValue) {
      command->record = arguments[++i];
    } else if (!optionsEnded && !command->readOnly && positional.empty() && arg == "read") {
      command->readOnly = true;
    } else if (isOption && arg == "--baud" && i + 1 < arguments.size() && arguments[i + 1] == "auto") {
      command->autoBaud = true;
      ++i;
    } else if (isOption && arg == "--baud" && i + 1 < arguments.size()) {
      command->autoBaud = false;
      const std::string& text = arguments[++i];
      char* end = nullptr;
      const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
      if (text.empty() || text[0] < '0' || text[0] > '9' || *end != 0 || value == 0 || value > 0xFFFFFFFFull) {
        return "not a baud rate: " + text;
      }
      command->baud = static_cast<std::uint32_t>(value);
    } else if (isOption) {
      return "unknown or incomplete option " + arg;
    } else {
      positional.push_back(arg);
    }
  }

  if (command->transport != Transport::kBcsp && command->autoBaud) {
    return "--baud auto looks for a BCSP link; with h4 give the module's rate, with hci none is needed";
  }
  if (command->transport != Transport::kH4 && !command->flowControl) return "--no-flow-control is for --transport h4";
  if (command->readOnly) {
    if (command->verify || !command->backup.empty()) return "read takes neither --verify nor --backup";
    if (!blockText.empty() || !command->journal.empty() || !command->record.empty()) {
      return "read takes none of --address-block, --journal, --record";
    }
    if (positional.size() < 2) return "a port and a file or keys to read, please";
    command->ports.push_back(positional.front());
    command->keysToRead.assign(positional.begin() + 1, positional.end());
    return {};
  }
  if (positional.size() < 2) return "a port and a file, please";
  command->file = positional.back();
  command->ports.assign(positional.begin(), positional.end() - 1);
  if (command->ports.size() > kMaxPorts) return "at most " + std::to_string(kMaxPorts) + " ports in one run";
  for (std::size_t i = 0; i < command->ports.size(); ++i) {
    if (SamePort(command->ports[i], command->file, portFile)) {
      return "the file " + command->file + " is named as a port too: the last name is the file, the others ports";
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (SamePort(command->ports[i], command->ports[j], portFile)) {
        return "the port " + command->ports[i] + " is named twice (as " + command->ports[j] + ")";
      }
    }
  }
  if (!command->backup.empty() && command->ports.size() > 1) return "--backup takes one port";
  if (blockText.empty() != command->journal.empty()) {
    return "--address-block and --journal go together: the journal is what keeps an address from being given twice";
  }
  if (!blockText.empty()) {
    if (std::string problem = AddressBlock::Parse(blockText, &command->block); !problem.empty()) return problem;
    command->withAddresses = true;
  }
  // Each file a job of its own: a record written into the journal would damage it for good.
  const struct {
    const char* option;
    const std::string& name;
  } files[] = {{"PSRFILE", command->file},
               {"--journal", command->journal},
               {"--record", command->record},
               {"--backup", command->backup}};
  for (std::size_t i = 0; i < std::size(files); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (!files[i].name.empty() && !files[j].name.empty() && SamePort(files[i].name, files[j].name)) {
        return std::string(files[i].option) + " and " + files[j].option + " name the same file: " + files[i].name;
      }
    }
  }
  return {};
}

}  // namespace quillon::psconfig
