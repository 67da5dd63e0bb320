// The back end's roles (Linux or Windows, chosen when the program is built), owned by the
// program's main and lent to everything it wires together. Nothing is opened until a role is used.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace quillon::platform {

class NativePlatform {
 public:
  NativePlatform();
  ~NativePlatform();
  NativePlatform(const NativePlatform&) = delete;
  NativePlatform& operator=(const NativePlatform&) = delete;

  // Every role is set; valid as long as this object lives.
  const Platform& Roles() const;

 private:
  struct BackEnd;
  std::unique_ptr<BackEnd> backEnd_;
};

}  // namespace quillon::platform
