// Error codes of the platform layer. They are the Windows system error codes, so that the
// trace lines read the same on every back end ("LastError=2" means "not found" everywhere).
#pragma once

#include <cstdint>

namespace quillon::platform {

using ErrorCode = std::uint32_t;

inline constexpr ErrorCode kSuccess = 0;
inline constexpr ErrorCode kErrorFileNotFound = 2;
inline constexpr ErrorCode kErrorPathNotFound = 3;
inline constexpr ErrorCode kErrorAccessDenied = 5;
inline constexpr ErrorCode kErrorInvalidHandle = 6;
inline constexpr ErrorCode kErrorNotEnoughMemory = 8;
inline constexpr ErrorCode kErrorInvalidData = 13;
inline constexpr ErrorCode kErrorWriteProtect = 19;  // a read-only medium or file system
inline constexpr ErrorCode kErrorNotReady = 21;      // a device that is there but down
inline constexpr ErrorCode kErrorGenFailure = 31;
inline constexpr ErrorCode kErrorSharingViolation = 32;
inline constexpr ErrorCode kErrorNotSupported = 50;
inline constexpr ErrorCode kErrorInvalidParameter = 87;
inline constexpr ErrorCode kErrorDiskFull = 112;
inline constexpr ErrorCode kErrorBusy = 170;  // a resource another program holds
inline constexpr ErrorCode kErrorAlreadyExists = 183;
inline constexpr ErrorCode kErrorBadFileType = 222;  // not a regular file (a pipe, a device, ...)
inline constexpr ErrorCode kErrorMoreData = 234;
inline constexpr ErrorCode kErrorNoMoreItems = 259;
inline constexpr ErrorCode kErrorDirectory = 267;  // a folder where a file was expected
inline constexpr ErrorCode kErrorBadDatabase = 1009;
inline constexpr ErrorCode kErrorKeyDeleted = 1018;
inline constexpr ErrorCode kErrorServiceDisabled = 1058;     // the system lacks what is asked (no Bluetooth)
inline constexpr ErrorCode kErrorDeviceNotConnected = 1167;  // no such device
inline constexpr ErrorCode kErrorTimeout = 1460;

}  // namespace quillon::platform
