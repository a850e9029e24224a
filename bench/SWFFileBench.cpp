// Load + parse + rebuild + save of a large generated movie, in MB/s, with the process's peak
// resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <random>
#include <string>

#include "swfstreams/MovieTools.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {
namespace {

// A movie of about 32 MB built the way the recorder builds its segments: per frame a background
// change, a 64 KB lossless bitmap (alternately incompressible and compressible data), its
// placement with a translation, the removal of the previous one, and the frame's end.
std::vector<std::uint8_t> GeneratedMovie(bool compressed) {
  TSWFStreamReader movie;
  movie.FrameSize = {0, 0, 16000, 12000};
  movie.SetFPS(12);
  TBitsEngine be(movie.Body());
  std::mt19937 rng(5);
  std::vector<std::uint8_t> block(64 * 1024);
  for (int frame = 0; frame < 500; ++frame) {
    TSWFSetBackgroundColor bg;
    bg.BackgroundColor().SetRGB(SWFRGB(rng()));
    bg.WriteToStream(be);
    for (std::size_t i = 0; i < block.size(); ++i) {
      block[i] = frame % 2 ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(i / 97);
    }
    TSWFDefineBitsLossless bitmap;
    bitmap.CharacterId = static_cast<std::uint16_t>(frame + 1);
    bitmap.BitmapFormat = TSWFDefineBitsLossless::kFormat8Bit;
    bitmap.BitmapColorTableSize = 255;
    bitmap.BitmapWidth = 800;
    bitmap.BitmapHeight = 32;
    bitmap.Data = block;
    bitmap.WriteToStream(be);
    if (frame > 0) {
      TSWFRemoveObject2 remove;
      remove.Depth = static_cast<std::uint16_t>(frame);
      remove.WriteToStream(be);
    }
    TSWFPlaceObject2 place;
    place.Depth = static_cast<std::uint16_t>(frame + 1);
    place.SetCharacterId(static_cast<std::uint16_t>(frame + 1));
    place.Matrix().SetTranslate(0, 640 * (frame % 18));
    place.WriteToStream(be);
    TSWFShowFrame().WriteToStream(be);
  }
  TSWFEnd().WriteToStream(be);
  movie.FrameCount = 500;
  movie.SetCompressed(compressed);
  TMemoryStream file;
  movie.SaveToStream(file);
  return file.Bytes();
}

void BM_LoadParseRebuildSave(benchmark::State& state) {
  const bool compressed = state.range(0) != 0;
  const std::vector<std::uint8_t> file = GeneratedMovie(compressed);
  std::uint64_t bodySize = 0;
  for (auto _ : state) {
    TMemoryStream in(file);
    TSWFStreamReader reader;
    reader.LoadFromStream(in);
    reader.ParseTags();
    reader.MakeStream();
    TMemoryStream out;
    reader.SaveToStream(out);
    bodySize = reader.Body().Size();
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bodySize));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["movie_MB"] = static_cast<double>(bodySize) / (1 << 20);
}
BENCHMARK(BM_LoadParseRebuildSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same work as the rewrite command does it: tag by tag, the output streamed (here into
// memory; the peak memory of the real command is measured by swf_rewrite_memory.sh, since a
// process's peak covers every benchmark it ran).
void BM_StreamingRewrite(benchmark::State& state) {
  const bool compressed = state.range(0) != 0;
  const std::vector<std::uint8_t> file = GeneratedMovie(compressed);
  std::uint64_t bodySize = 0;
  for (auto _ : state) {
    TMemoryStream in(file);
    TSWFStreamReader reader;
    reader.LoadFromStream(in);
    const TMovieRewrite plan = PlanMovieRewrite(reader, TRewriteCompression::Keep);
    TMemoryStream out;
    WriteMovieRewrite(reader, plan, out);
    bodySize = plan.BodySize;
    benchmark::DoNotOptimize(out.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bodySize));
}
BENCHMARK(BM_StreamingRewrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One frame of the big movie: a 1 MB lossless bitmap (a quarter noise, the rest a pattern that
// deflates well), its placement, the removal of the one before, the frame's end.
void WriteBigFrame(TStream& out, int frame, std::mt19937& rng) {
  TMemoryStream record;
  TBitsEngine be(record);
  TSWFDefineBitsLossless bitmap;
  bitmap.CharacterId = static_cast<std::uint16_t>(frame % 60000 + 1);
  bitmap.BitmapFormat = TSWFDefineBitsLossless::kFormat8Bit;
  bitmap.BitmapColorTableSize = 255;
  bitmap.BitmapWidth = 1024;
  bitmap.BitmapHeight = 1024;
  bitmap.Data.resize(1 << 20);
  for (std::size_t i = 0; i < bitmap.Data.size(); ++i) {
    bitmap.Data[i] =
        i % 4 == 0 ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(i / 97);
  }
  bitmap.WriteToStream(be);
  if (frame > 0) {
    TSWFRemoveObject2 remove;
    remove.Depth = 1;
    remove.WriteToStream(be);
  }
  TSWFPlaceObject2 place;
  place.Depth = 1;
  place.SetCharacterId(bitmap.CharacterId);
  place.WriteToStream(be);
  TSWFShowFrame().WriteToStream(be);
  out.Write(record.Data(), record.Size());
}

// A movie of about megabytes MB (1 MB per frame), written to the file as it is made: it is never
// held, so movies larger than the memory budget (or the machine) can be made.
void WriteBigMovie(const std::string& fileName, std::uint64_t megabytes, bool compressed) {
  TSWFStreamReader movie;
  movie.FrameSize = {0, 0, 20480, 20480};
  movie.SetFPS(12);
  movie.SetCompressed(compressed);
  const int frames = static_cast<int>(std::max<std::uint64_t>(megabytes, 2));
  movie.FrameCount = static_cast<std::uint16_t>(frames);
  std::mt19937 rng(7);
  TMemoryStream first, next;
  WriteBigFrame(first, 0, rng);
  WriteBigFrame(next, 1, rng);
  const std::uint64_t bodySize = first.Size() + (frames - 1) * next.Size() + 2;
  TFileStream file(fileName, TFileStream::Mode::Create);
  movie.SaveToStream(file, bodySize, [&](TStream& body) {
    std::mt19937 frameRng(7);
    for (int frame = 0; frame < frames; ++frame) WriteBigFrame(body, frame, frameRng);
    TMemoryStream end;
    TBitsEngine be(end);
    TSWFEnd().WriteToStream(be);
    body.Write(end.Data(), end.Size());
  });
  file.Close();
}

// A compressed movie whose body is megabytes MB of zero bytes (each pair an End tag): a file of
// about a thousandth of that, as a deflate bomb is.
void WriteZeroBomb(const std::string& fileName, std::uint64_t megabytes) {
  TSWFStreamReader movie;
  movie.FrameSize = {0, 0, 2000, 2000};
  movie.SetCompressed(true);
  const std::vector<std::uint8_t> zeros(1 << 20);
  TFileStream file(fileName, TFileStream::Mode::Create);
  movie.SaveToStream(file, megabytes << 20, [&](TStream& body) {
    for (std::uint64_t i = 0; i < megabytes; ++i) body.Write(zeros.data(), zeros.size());
  });
  file.Close();
}

}  // namespace
}  // namespace kestrova

// --write-movie FILE [--compressed]: writes the generated movie and exits, for the side-by-side
// memory script (swf_rewrite_memory.sh). --write-big-movie FILE MB [--compressed]: writes a movie
// of about MB megabytes as it is made, and --write-zero-bomb FILE MB a deflate bomb of MB megabytes
// of zeros, for swf_big_movie_memory.sh.
int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--write-zero-bomb") {
    kestrova::WriteZeroBomb(argv[2], std::stoull(argv[3]));
    return 0;
  }
  if (argc >= 4 && std::string(argv[1]) == "--write-big-movie") {
    const bool compressed = argc >= 5 && std::string(argv[4]) == "--compressed";
    kestrova::WriteBigMovie(argv[2], std::stoull(argv[3]), compressed);
    return 0;
  }
  if (argc >= 3 && std::string(argv[1]) == "--write-movie") {
    const bool compressed = argc >= 4 && std::string(argv[3]) == "--compressed";
    const std::vector<std::uint8_t> movie = kestrova::GeneratedMovie(compressed);
    kestrova::TFileStream file(argv[2], kestrova::TFileStream::Mode::Create);
    file.Write(movie.data(), movie.size());
    file.Close();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
