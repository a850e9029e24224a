// Joins the input as `join` and `recover` do: the bytes are written to a file and go through the
// one join (recorder/Output.h: the segment's summary, its import as a sprite, the streamed save
// and the page), alone, with the frame count a recording's capture loop would give, and twice in
// a row. Only the join's documented failures (std::runtime_error, EStreamError among them) are an
// answer; what it writes must read back as a whole movie.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "recorder/Output.h"
#include "swfstreams/SWFStreams.h"

namespace {

// A folder of this process's own, removed when it ends.
class TFuzzFolder {
 public:
  TFuzzFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-joinfuzz-XXXXXX");
    if (!mkdtemp(pattern.data())) std::abort();
    FPath = pattern;
  }
  ~TFuzzFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string File(const char* name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

// The output of a join that reported success loads as a movie, whole.
void CheckOutput(const kestrova::TOutputResult& result) {
  for (const std::string& movie : result.Movies) {
    kestrova::TSWFStreamReader reader(movie);
    if (!reader.IsValid || !reader.Warnings.empty()) std::abort();
    reader.ParseTags(false, false);
    if (reader.TrailingBytes() != 0) std::abort();
  }
}

void Join(const std::vector<kestrova::TSegmentInput>& segments, std::int32_t width,
          std::int32_t height, const std::string& output) {
  kestrova::TOutputResult result;
  try {
    result = kestrova::WriteOutputFiles(segments, width, height, output);
  } catch (const std::runtime_error&) {
    return;  // nothing could be read, or an output could not be written
  }
  CheckOutput(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TFuzzFolder folder;
  const std::string input = folder.File("capture1.swf");
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  const std::string output = folder.File("out.swf");
  // join: the stage and frame counts come from the file.
  Join({{input, std::nullopt}}, 0, 0, output);
  // recover: the recording's own stage and the frames its capture loop counted.
  Join({{input, std::uint16_t(3)}}, 64, 48, output);
  // Two segments: the second's ids follow the first's.
  Join({{input, std::nullopt}, {input, std::nullopt}}, 0, 0, output);
  return 0;
}
