// Reading (with branch marker placement) and writing of long action lists full of jumps.
#include <benchmark/benchmark.h>

#include "swfobjects/SWFObjects.h"

namespace kestrova {
namespace {

// n groups of: Play, a Jump back over the Play and itself, a Jump forward over the next Play.
std::vector<std::uint8_t> JumpyList(int n) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < n; ++i) {
    const std::uint8_t group[] = {0x06, 0x99, 0x02, 0x00, 0xFA,          0xFF /* -6 */,
                                  0x99, 0x02, 0x00, 0x01, 0x00 /* +1 */, 0x06};
    bytes.insert(bytes.end(), std::begin(group), std::end(group));
  }
  bytes.push_back(0);
  return bytes;
}

void BM_ReadActionList(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = JumpyList(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TMemoryStream m(bytes);
    TBitsEngine be(m);
    TSWFActionList list;
    ReadActionList(be, list, static_cast<std::int64_t>(bytes.size()));
    benchmark::DoNotOptimize(list.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadActionList)->Arg(100)->Arg(5000);

void BM_WriteActionList(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = JumpyList(static_cast<int>(state.range(0)));
  TMemoryStream in(bytes);
  TBitsEngine reader(in);
  TSWFActionList list;
  ReadActionList(reader, list, static_cast<std::int64_t>(bytes.size()));
  for (auto _ : state) {
    TMemoryStream out;
    TBitsEngine be(out);
    WriteActionList(be, list);
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_WriteActionList)->Arg(100)->Arg(5000);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
