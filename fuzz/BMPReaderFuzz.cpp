// Feeds arbitrary bytes to the BMP reader: as a file (load, every row, colour count with
// compaction, a copy through LoadFromHandle) and as the run-length pixels of an in-memory bitmap
// whose format comes from the first bytes. Anything but a clean exception is a finding, and so
// is a check without pixels that refuses what a load takes (or the other way round).
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "media/ImageReader.h"

namespace {

// Large enough for every real picture of the corpus, small enough to fuzz fast.
constexpr std::size_t kBudget = std::size_t{16} << 20;

void LoadFile(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  TMediaBudget budget(kBudget);
  TBMPReader r;
  r.Budget = &budget;
  // The check without pixels and the load must agree on what they refuse.
  bool checked = true;
  try {
    TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
    r.CheckStream(in);
  } catch (const std::exception&) {
    checked = false;
  }
  const std::string shortfall = r.Shortfall();
  try {
    TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
    r.LoadFromStream(in);
  } catch (const std::exception&) {
    if (checked) __builtin_trap();
    return;
  }
  if (!checked || shortfall != r.Shortfall()) __builtin_trap();
  std::uint32_t sum = 0;
  for (std::int32_t y = 0; y < r.Rows(); ++y) sum += r.Scanlines(y)[r.BytesPerLine() - 1];
  r.GetColorCount();
  TBMPReader copy;
  copy.Budget = &budget;
  copy.LoadFromHandle(r.Image());
  if (copy.Image().Bits != r.Image().Bits || sum == 0xFFFFFFFF) __builtin_trap();
}

void LoadRunLengthBitmap(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  if (size < 3) return;
  TDIBitmap b;
  b.Width = data[0] % 64 + 1;
  b.Height = static_cast<std::int8_t>(data[1]);
  b.BitCount = data[2] & 1 ? 4 : 8;
  b.Compression = data[2] & 1 ? kBI_RLE4 : kBI_RLE8;
  b.Bits.assign(data + 3, data + size);
  TMediaBudget budget(kBudget);
  TBMPReader r;
  r.Budget = &budget;
  try {
    r.LoadFromHandle(b);
    r.GetColorCount();
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LoadFile(data, size);
  LoadRunLengthBitmap(data, size);
  return 0;
}
