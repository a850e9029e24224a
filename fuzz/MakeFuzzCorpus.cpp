// Writes the seed corpus of the SWF reader fuzz target: one small movie per catalogued tag class
// (default object), plain and compressed, and one movie holding them all. With --movies, writes
// the seeds of the join and player targets instead: small movies made by the movie builder as
// the recorder makes them (pictures placed, moved and removed over frames, a segment joined as a
// sprite), plain and compressed.
// Usage: MakeFuzzCorpus DIR | MakeFuzzCorpus --movies DIR
#include <cstdio>
#include <cstring>
#include <string>

#include "flashobjects/FlashObjects.h"
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

// A small picture of bitCount bits per pixel whose pixels vary with x, y and seed.
TDIBitmap Picture(std::int32_t width, std::int32_t height, std::uint16_t bitCount, int seed) {
  TDIBitmap b;
  b.Allocate(width, height, bitCount);
  if (bitCount <= 8) {
    b.Palette.resize(std::size_t(1) << bitCount);
    for (std::size_t i = 0; i < b.Palette.size(); ++i) {
      const auto v = static_cast<std::uint8_t>(i * 37 + seed);
      b.Palette[i] = {v, static_cast<std::uint8_t>(255 - v), static_cast<std::uint8_t>(v / 2), 0};
    }
  }
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = b.Scanline(y);
    const std::size_t bytes = (std::size_t(width) * bitCount + 7) / 8;
    for (std::size_t x = 0; x < bytes; ++x)
      row[x] = static_cast<std::uint8_t>(x * 3 + y * 5 + seed);
  }
  return b;
}

// Two pictures over three frames: the first placed then moved, the second placed over it and
// removed; a background colour.
void SavePictures(const std::string& name, bool compressed, std::uint16_t secondBits) {
  TFlashMovie movie(0, 0, 24, 12, 12, true);
  movie.SetCompressed(compressed);
  movie.BackgroundColor().SetRGB(SWFRGB(10, 20, 30));
  TFlashImage& first = movie.AddImage();
  first.LoadFromHandle(Picture(16, 8, 8, 1));
  movie.PlaceObject(movie.AddImageShape(first), 1);
  movie.ShowFrame();
  TFlashImage& second = movie.AddImage();
  second.LoadFromHandle(Picture(8, 4, secondBits, 2));
  movie.PlaceObject(movie.AddImageShape(second), 2).SetTranslate(60, 40);
  movie.ShowFrame();
  movie.RemoveObject(2);
  movie.ShowFrame();
  movie.MakeStream();
  movie.SaveToFile(name);
}

// A segment imported as a sprite and shown for its frames, as a joined recording is.
void SaveJoined(const std::string& name, const std::string& segment) {
  TFlashMovie movie(0, 0, 24, 12, 12, true);
  movie.SetCompressed(true);
  movie.PlaceObject(*movie.AddExternalMovie(segment).Sprite(), 1);
  movie.ShowFrame(3);
  movie.MakeStream();
  movie.SaveToFile(name);
}

int MakeMovies(const std::string& dir) {
  SavePictures(dir + "/pictures8.swf", false, 8);
  SavePictures(dir + "/pictures8.cws.swf", true, 8);
  SavePictures(dir + "/pictures24.swf", false, 24);
  SavePictures(dir + "/pictures32.cws.swf", true, 32);
  SaveJoined(dir + "/joined.cws.swf", dir + "/pictures8.swf");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--movies") == 0) return MakeMovies(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeFuzzCorpus DIR | MakeFuzzCorpus --movies DIR\n");
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
