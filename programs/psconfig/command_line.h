// psconfig's command line, read into what the run is to do.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "psconfig/bluetooth_address.h"

namespace quillon::psconfig {

// A production fixture holds a handful of modules; more ports than this in one run is a mistake
// (and the exit status counts failed ports below the codes that mean something else).
inline constexpr std::size_t kMaxPorts = 32;

enum class Transport : std::uint8_t { kBcsp, kH4, kHci };

struct Command {
  Transport transport = Transport::kBcsp;
  bool flowControl = true;  // H4: RTS/CTS
  std::uint32_t baud = 115200;
  bool autoBaud = false;
  bool echo = false;
  bool verify = false;
  bool readOnly = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> ports;
  std::string file;
  std::string backup;
  std::vector<std::string> keysToRead;
  bool withAddresses = false;  // --address-block and --journal
  AddressBlock block;
  std::string journal;
  std::string record;
};

// Reads the arguments after the program's name. Empty, or what is wrong with them.
std::string ReadCommandLine(std::span<const std::string> arguments, Command* command);

// Whether two port names name the same port: "COM4:", "com4" and "\\.\COM4" do; paths are
// compared as the file system resolves them.
bool SamePort(const std::string& a, const std::string& b);

}  // namespace quillon::psconfig
