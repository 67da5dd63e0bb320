#include <gtest/gtest.h>
#include <windows.h>

#include "platform/win32/serial_win32.h"

namespace quillon::platform::win32 {
namespace {

// The record the module's line is set to. Windows refuses one whose XON and XOFF characters are
// equal even with XON/XOFF off, which Wine forgives, so the record itself is checked here.
TEST(Win32LineState, BcspLineWithDistinctXonAndXoffButNoFlowControl) {
  LineSettings settings;
  settings.baudRate = 1382400;
  settings.dataBits = 8;
  settings.parity = Parity::kEven;
  settings.stopBits = StopBits::kOne;
  const DCB line = LineStateRecord(settings);
  EXPECT_EQ(line.DCBlength, sizeof(DCB));
  EXPECT_EQ(line.BaudRate, 1382400u);
  EXPECT_EQ(line.ByteSize, 8);
  EXPECT_EQ(line.Parity, EVENPARITY);
  EXPECT_EQ(line.StopBits, ONESTOPBIT);
  EXPECT_EQ(line.XonChar, 0x11);
  EXPECT_EQ(line.XoffChar, 0x13);
  EXPECT_FALSE(line.fOutX);
  EXPECT_FALSE(line.fInX);
  EXPECT_FALSE(line.fOutxCtsFlow);
  EXPECT_FALSE(line.fOutxDsrFlow);
  EXPECT_FALSE(line.fParity);
  EXPECT_EQ(line.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
}

TEST(Win32LineState, WhatIsAskedForIsSet) {
  LineSettings settings;
  settings.baudRate = 9600;
  settings.dataBits = 7;
  settings.parity = Parity::kOdd;
  settings.stopBits = StopBits::kTwo;
  settings.xonXoff = true;
  settings.ctsFlowControl = true;
  settings.rtsControl = true;
  const DCB line = LineStateRecord(settings);
  EXPECT_EQ(line.Parity, ODDPARITY);
  EXPECT_EQ(line.StopBits, TWOSTOPBITS);
  EXPECT_TRUE(line.fOutX && line.fInX);
  EXPECT_TRUE(line.fOutxCtsFlow);
  EXPECT_EQ(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_NE(line.XonChar, line.XoffChar);
}

}  // namespace
}  // namespace quillon::platform::win32
