// Feeds arbitrary bytes to the SWF reader and then does what the dump and rewrite commands do with
// the result (the listing, the rebuild with each compression choice, the save), plus renumbering.
// Anything but a clean exception is a finding.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>

#include "swfstreams/MovieTools.h"
#include "swfstreams/SWFStreams.h"

namespace {

// Small enough that hostile sizes hit the budget quickly instead of exhausting the machine.
constexpr std::uint64_t kFuzzMemoryLimit = 64u << 20;

void RunOnce(const std::uint8_t* data, std::size_t size, bool parseActions,
             kestrova::TRewriteCompression compression) {
  using namespace kestrova;
  try {
    TSWFStreamReader reader;
    reader.MemoryLimit = kFuzzMemoryLimit;
    TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
    reader.LoadFromStream(in);
    if (!reader.IsValid) return;
    reader.ParseTags(true, parseActions);
    std::ostringstream listing;
    WriteMovieListing(reader, "fuzz.swf", listing);
    RebuildMovie(reader, compression);
    TMemoryStream out;
    reader.SaveToStream(out);
    reader.ChangeCharacterIDs(100);
    reader.MakeStream();
  } catch (const std::exception&) {
    // A clean failure is the expected answer to bad input.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kestrova::TRewriteCompression;
  RunOnce(data, size, true, TRewriteCompression::Keep);
  RunOnce(data, size, true, TRewriteCompression::Compressed);
  RunOnce(data, size, false, TRewriteCompression::Plain);
  return 0;
}
