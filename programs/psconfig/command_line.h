// psconfig's command line, read into what the run is to do.
#pragma once

#include <cstdint>
#include <functional>
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

// The file a port's name opens (see SerialDevices::FileOf); none: the name itself.
using PortFile = std::function<std::string(const std::string& port)>;

// Reads the arguments after the program's name. Empty, or what is wrong with them.
std::string ReadCommandLine(std::span<const std::string> arguments, Command* command, const PortFile& portFile = {});

// Whether two names name the same port or file: "COM4:", "com4" and "\\.\COM4" do; names with a
// file are compared as the file system resolves them (links followed).
bool SamePort(const std::string& a, const std::string& b, const PortFile& portFile = {});

}  // namespace quillon::psconfig
