#include "media/MediaBudget.h"

#include <utility>

#include "media/MediaError.h"

namespace kestrova {

TMediaBudget& TMediaBudget::Default() {
  static TMediaBudget budget;
  return budget;
}

void TMediaBudget::Claim(std::uint64_t bytes, const std::string& what) {
  std::uint64_t used = FUsed.load();
  for (;;) {
    const std::uint64_t limit = FLimit.load();
    if (bytes > limit || used > limit - bytes) {
      std::string text = what + " needs " + std::to_string(bytes) +
                         " bytes, more than the memory budget of " + std::to_string(limit) +
                         " bytes";
      if (used > 0) text += " (" + std::to_string(used) + " already in use)";
      throw EMediaError(text);
    }
    if (FUsed.compare_exchange_weak(used, used + bytes)) return;
  }
}

void TMediaBudget::Release(std::uint64_t bytes) {
  FUsed.fetch_sub(bytes);
}

TBudgetClaim::TBudgetClaim(TMediaBudget& budget, std::uint64_t bytes, const std::string& what) {
  budget.Claim(bytes, what);
  FBudget = &budget;
  FBytes = bytes;
}

TBudgetClaim::TBudgetClaim(TBudgetClaim&& other) noexcept
    : FBudget(std::exchange(other.FBudget, nullptr)), FBytes(std::exchange(other.FBytes, 0)) {}

TBudgetClaim& TBudgetClaim::operator=(TBudgetClaim&& other) noexcept {
  if (this != &other) {
    Reset();
    FBudget = std::exchange(other.FBudget, nullptr);
    FBytes = std::exchange(other.FBytes, 0);
  }
  return *this;
}

void TBudgetClaim::Reset() {
  if (FBudget) FBudget->Release(FBytes);
  FBudget = nullptr;
  FBytes = 0;
}

}  // namespace kestrova
