#include "ui/programming_progress.h"

#include <array>
#include <span>

#include "trace/format.h"

namespace quillon::ui {

void ProgrammingProgress::LookingAt(std::uint32_t rate) {
  // The first rate is the one the module should talk at: only a search is worth a word.
  if (ratesTried_++ == 0) return;
  std::array<wchar_t, 64> text{};
  FormatTo(std::span<wchar_t>(text), L"Looking for the module at %d baud", static_cast<int>(rate));
  record_.SetStatus(text.data());
}

void ProgrammingProgress::LinkEstablished() { record_.SetStatus(L"Start programming BT Radio (link up)"); }

void ProgrammingProgress::RequestSent(std::uint32_t index, std::uint32_t count, const PsKeyItem& /*item*/) {
  sent_ = index + 1;
  count_ = count;
  std::array<wchar_t, 64> text{};
  FormatTo(std::span<wchar_t>(text), L"Start programming BT Radio (%d/%d)", static_cast<int>(index + 1),
           static_cast<int>(count));
  record_.SetStatus(text.data());
}

}  // namespace quillon::ui
