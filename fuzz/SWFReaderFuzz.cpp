// Feeds arbitrary bytes to the SWF reader: load, parse with and without actions, renumber,
// describe every tag, rebuild and save. Anything but a clean exception is a finding.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "swfstreams/SWFStreams.h"

namespace {

void Describe(const kestrova::TSWFTagInfo& info) {
  kestrova::TSWFDescription d;
  if (const kestrova::TSWFObject* obj = info.Object()) obj->Describe(d);
  for (const auto& sub : info.SubTags) Describe(*sub);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  for (const bool parseActions : {true, false}) {
    try {
      TSWFStreamReader reader;
      TMemoryStream in(std::vector<std::uint8_t>(data, data + size));
      reader.LoadFromStream(in);
      if (!reader.IsValid) return 0;
      reader.ParseTags(true, parseActions);
      for (const auto& info : reader.TagList) Describe(*info);
      reader.ChangeCharacterIDs(100);
      reader.MakeStream();
      TMemoryStream out;
      reader.SaveToStream(out);
    } catch (const std::exception&) {
      // A clean failure is the expected answer to bad input.
    }
  }
  return 0;
}
