// Writes the seed corpus of the SWF reader fuzz target: one small movie per catalogued tag class
// (default object), plain and compressed, and one movie holding them all.
// Usage: MakeFuzzCorpus DIR
#include <cstdio>
#include <string>

#include "swfstreams/SWFStreams.h"

using namespace kestrova;

namespace {

void Save(TSWFStreamReader& movie, const std::string& name, bool compressed) {
  movie.SetCompressed(compressed);
  movie.SaveToFile(name);
}

void AddTag(TSWFStreamReader& movie, TSWFObject& tag) {
  TBitsEngine be(movie.Body());
  tag.WriteToStream(be);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeFuzzCorpus DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  TSWFStreamReader all;
  all.FrameSize = {0, 0, 2000, 2000};
  all.SetFPS(12);
  for (std::size_t i = 0; i < kTagCatalogueSize; ++i) {
    auto tag = CreateTagByID(kTagCatalogue[i].Code);
    if (!tag) continue;
    TSWFStreamReader one;
    one.FrameSize = all.FrameSize;
    AddTag(one, *tag);
    TSWFShowFrame show;
    AddTag(one, show);
    const std::string base = dir + "/" + kTagCatalogue[i].Name;
    Save(one, base + ".swf", false);
    Save(one, base + ".cws.swf", true);
    AddTag(all, *tag);
  }
  TSWFEnd end;
  AddTag(all, end);
  Save(all, dir + "/all-tags.swf", false);
  return 0;
}
