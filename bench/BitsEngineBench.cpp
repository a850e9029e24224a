// Throughput of the bit engine over memory streams, in bytes processed per second.
#include <benchmark/benchmark.h>

#include <random>

#include "swftools/SWFTools.h"

namespace kestrova {
namespace {

void BM_WriteBitFields(benchmark::State& state) {
  std::mt19937 rng(1);
  std::vector<std::pair<std::uint32_t, std::uint8_t>> fields(4096);
  for (auto& [v, n] : fields) {
    n = static_cast<std::uint8_t>(1 + rng() % 32);
    v = rng();
  }
  TMemoryStream m;
  for (auto _ : state) {
    m.Clear();
    TBitsEngine be(m);
    for (const auto& [v, n] : fields) be.WriteBits(v, n);
    be.FlushLastByte();
    benchmark::DoNotOptimize(m.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.Size()));
}
BENCHMARK(BM_WriteBitFields);

void BM_ReadBitFields(benchmark::State& state) {
  std::mt19937 rng(1);
  std::vector<std::uint8_t> widths(4096);
  TMemoryStream m;
  TBitsEngine w(m);
  for (auto& n : widths) {
    n = static_cast<std::uint8_t>(1 + rng() % 32);
    w.WriteBits(rng(), n);
  }
  w.FlushLastByte();
  for (auto _ : state) {
    m.SetPosition(0);
    TBitsEngine be(m);
    std::uint32_t sum = 0;
    for (const auto n : widths) sum += be.ReadBits(n);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.Size()));
}
BENCHMARK(BM_ReadBitFields);

std::vector<TSWFRectRec> Rects() {
  std::mt19937 rng(2);
  std::vector<TSWFRectRec> rects(4096);
  for (auto& r : rects) {
    r = {static_cast<std::int32_t>(rng() % 20000) - 10000,
         static_cast<std::int32_t>(rng() % 200000),
         static_cast<std::int32_t>(rng() % 20000) - 10000,
         static_cast<std::int32_t>(rng() % 200000)};
  }
  return rects;
}

std::vector<TSWFMatrixRec> Matrices() {
  std::mt19937 rng(3);
  std::vector<TSWFMatrixRec> matrices(4096);
  for (auto& m : matrices) {
    m = MakeMatrix(
        rng() & 1, rng() & 1, static_cast<std::int32_t>(rng() % 400000),
        static_cast<std::int32_t>(rng() % 400000), static_cast<std::int32_t>(rng() % 70000) - 35000,
        static_cast<std::int32_t>(rng() % 70000) - 35000, static_cast<std::int32_t>(rng() % 40000),
        -static_cast<std::int32_t>(rng() % 40000));
  }
  return matrices;
}

template <class Rec, class Write>
void WriteRecords(benchmark::State& state, const std::vector<Rec>& recs, Write write) {
  TMemoryStream m;
  for (auto _ : state) {
    m.Clear();
    TBitsEngine be(m);
    for (const auto& r : recs) write(be, r);
    benchmark::DoNotOptimize(m.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.Size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * recs.size()));
}

template <class Rec, class Write, class Read>
void ReadRecords(benchmark::State& state, const std::vector<Rec>& recs, Write write, Read read) {
  TMemoryStream m;
  TBitsEngine w(m);
  for (const auto& r : recs) write(w, r);
  for (auto _ : state) {
    m.SetPosition(0);
    TBitsEngine be(m);
    for (std::size_t i = 0; i < recs.size(); ++i) benchmark::DoNotOptimize(read(be));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * m.Size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * recs.size()));
}

void BM_WriteRect(benchmark::State& state) {
  WriteRecords(state, Rects(), [](TBitsEngine& be, const TSWFRectRec& r) { be.WriteRect(r); });
}
BENCHMARK(BM_WriteRect);

void BM_ReadRect(benchmark::State& state) {
  ReadRecords(
      state, Rects(), [](TBitsEngine& be, const TSWFRectRec& r) { be.WriteRect(r); },
      [](TBitsEngine& be) { return be.ReadRect(); });
}
BENCHMARK(BM_ReadRect);

void BM_WriteMatrix(benchmark::State& state) {
  WriteRecords(state, Matrices(),
               [](TBitsEngine& be, const TSWFMatrixRec& m) { be.WriteMatrix(m); });
}
BENCHMARK(BM_WriteMatrix);

void BM_ReadMatrix(benchmark::State& state) {
  ReadRecords(
      state, Matrices(), [](TBitsEngine& be, const TSWFMatrixRec& m) { be.WriteMatrix(m); },
      [](TBitsEngine& be) { return be.ReadMatrix(); });
}
BENCHMARK(BM_ReadMatrix);

void BM_AppendBytes(benchmark::State& state) {
  TMemoryStream m;
  for (auto _ : state) {
    m.Clear();
    TBitsEngine be(m);
    for (int i = 0; i < 1 << 20; ++i) be.WriteByte(static_cast<std::uint8_t>(i));
    benchmark::DoNotOptimize(m.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) << 20);
}
BENCHMARK(BM_AppendBytes);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
