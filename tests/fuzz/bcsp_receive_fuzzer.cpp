// Arbitrary bytes on the line into the receive side: the deframer, then the checks of each frame
// it reports. Whatever arrives, nothing is written outside the caller's buffers, a reported frame
// never claims more bytes than its body holds, and the checks accept only what they can vouch
// for. The first byte chooses the body's capacity.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bcsp/bcsp_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  if (size == 0) return 0;
  // Capacity 0..512 in a buffer of exactly that size, so that the sanitizer sees any overrun.
  const std::size_t capacity = (static_cast<std::size_t>(data[0]) * 2 + 1) % 513;
  std::vector<std::uint8_t> body(capacity);
  BcspHeaderBytes header{};
  BcspDeframer deframer;
  for (std::size_t at = 1; at < size; ++at) {
    // A byte that the engine would never see as such restarts the frame now and then, as
    // arming a new descriptor does.
    if (data[at] == 0x7F && at % 3 == 0) deframer.Restart();
    const BcspDeframed step = deframer.Push(data[at], header, body);
    if (!step.frame) continue;
    if (step.stored > capacity) std::abort();
    if (!BcspHeaderValid(header)) continue;
    const std::span<const std::uint8_t> stored(body.data(), step.stored);
    const FrameCheck check = BcspCheckBody(header, stored, step.cutShort);
    if (check.verdict != FrameVerdict::kGood) continue;
    // A frame that passes was whole and names exactly what it brought.
    if (step.cutShort) std::abort();
    const BcspHeader decoded = BcspDecodeHeader(header);
    if (decoded.length + (decoded.crcPresent ? 2u : 0u) != step.stored) std::abort();
  }
  return 0;
}
