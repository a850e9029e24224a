// The one memory budget of the media readers: every buffer whose size a file only claims (the
// pixels of a picture, run-length data, the sound data of a slideshow) is counted against it
// before it is allocated.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kestrova {

class TMediaBudget {
 public:
  // An hour of 48 kHz 16-bit stereo sound (691 MB) beside a 1920x1080 picture at 32 bits
  // (8 MB) leaves about 100 MB to spare; a picture that claims a gigabyte does not fit.
  static constexpr std::uint64_t kDefaultLimit = std::uint64_t{768} << 20;

  explicit TMediaBudget(std::uint64_t limit = kDefaultLimit) : FLimit(limit) {}
  TMediaBudget(const TMediaBudget&) = delete;
  TMediaBudget& operator=(const TMediaBudget&) = delete;

  // The budget of every reader that is not given another.
  static TMediaBudget& Default();

  std::uint64_t Limit() const { return FLimit; }
  void SetLimit(std::uint64_t limit) { FLimit = limit; }
  // Bytes claimed and not yet released.
  std::uint64_t Used() const { return FUsed.load(); }

  // Counts bytes against the budget. Throws EMediaError, naming what and both figures, when
  // they do not fit beside what is already claimed; nothing is counted then.
  void Claim(std::uint64_t bytes, const std::string& what);
  void Release(std::uint64_t bytes);

 private:
  std::atomic<std::uint64_t> FLimit;
  std::atomic<std::uint64_t> FUsed{0};
};

// Bytes claimed from a budget for as long as the buffer they size lives; released when the
// claim is dropped, reset or given other bytes.
class TBudgetClaim {
 public:
  TBudgetClaim() = default;
  // Claims bytes from budget; throws as TMediaBudget::Claim.
  TBudgetClaim(TMediaBudget& budget, std::uint64_t bytes, const std::string& what);
  TBudgetClaim(TBudgetClaim&& other) noexcept;
  TBudgetClaim& operator=(TBudgetClaim&& other) noexcept;
  TBudgetClaim(const TBudgetClaim&) = delete;
  TBudgetClaim& operator=(const TBudgetClaim&) = delete;
  ~TBudgetClaim() { Reset(); }

  void Reset();
  std::uint64_t Bytes() const { return FBytes; }

 private:
  TMediaBudget* FBudget = nullptr;
  std::uint64_t FBytes = 0;
};

}  // namespace kestrova
