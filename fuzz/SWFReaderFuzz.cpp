// Feeds arbitrary bytes to the SWF reader and then does what the dump and rewrite commands do with
// the result (the listing, the rebuild with each compression choice, the save, the rewrite and
// the listing tag by tag, each compared with its whole-movie counterpart), plus renumbering.
// Anything but a clean exception is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <sstream>

#include "swfstreams/MovieTools.h"
#include "swfstreams/SWFStreams.h"

namespace {

// Small enough that hostile sizes hit the budget quickly instead of exhausting the machine.
constexpr std::uint64_t kFuzzMemoryLimit = 64u << 20;

// Loads the input under the fuzzing budget; false when it is not a movie.
bool Load(kestrova::TSWFStreamReader& reader, const std::uint8_t* data, std::size_t size) {
  reader.MemoryLimit = kFuzzMemoryLimit;
  kestrova::TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
  reader.LoadFromStream(in);
  return reader.IsValid;
}

void RunOnce(const std::uint8_t* data, std::size_t size, bool parseActions,
             kestrova::TRewriteCompression compression) {
  using namespace kestrova;
  try {
    TSWFStreamReader reader;
    if (!Load(reader, data, size)) return;
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

// The rewrite that goes tag by tag must write what the rebuild in memory and a save write, and
// warn alike; only a budget may stop one and not the other (the streamed one holds less).
void CompareStreamed(const std::uint8_t* data, std::size_t size,
                     kestrova::TRewriteCompression compression) {
  using namespace kestrova;
  std::vector<std::string> rebuiltWarnings, streamedWarnings;
  TMemoryStream rebuilt, streamed;
  try {
    TSWFStreamReader reader;
    if (!Load(reader, data, size)) return;
    reader.ParseTags(true, true);
    rebuiltWarnings = RebuildMovie(reader, compression);
    reader.SaveToStream(rebuilt);
  } catch (const std::exception&) {
    return;
  }
  try {
    TSWFStreamReader reader;
    Load(reader, data, size);
    const TMovieRewrite plan = PlanMovieRewrite(reader, compression);
    streamedWarnings = plan.Warnings;
    WriteMovieRewrite(reader, plan, streamed);
  } catch (const EMemoryBudgetExceeded&) {
    return;
  } catch (const std::exception&) {
    std::abort();  // the rebuild in memory managed it
  }
  if (rebuilt.Bytes() != streamed.Bytes() || rebuiltWarnings != streamedWarnings) std::abort();
}

// The listing made tag by tag must be the listing of the parsed movie; only a budget may stop
// the parse and not the tag-by-tag listing (which holds less).
void CompareListings(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  std::ostringstream parsed, tagByTag;
  try {
    TSWFStreamReader reader;
    if (!Load(reader, data, size)) return;
    reader.ParseTags(true, true);
    WriteMovieListing(reader, "fuzz.swf", parsed);
  } catch (const std::exception&) {
    return;
  }
  try {
    TSWFStreamReader reader;
    Load(reader, data, size);
    WriteMovieListingTagByTag(reader, "fuzz.swf", tagByTag);
  } catch (const std::exception&) {
    std::abort();  // the parsed listing managed it
  }
  if (parsed.str() != tagByTag.str()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using kestrova::TRewriteCompression;
  RunOnce(data, size, true, TRewriteCompression::Keep);
  RunOnce(data, size, true, TRewriteCompression::Compressed);
  RunOnce(data, size, false, TRewriteCompression::Plain);
  CompareStreamed(data, size, TRewriteCompression::Keep);
  CompareStreamed(data, size, TRewriteCompression::Compressed);
  CompareListings(data, size);
  return 0;
}
