#include "recorder/FlashSegmentMovie.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "flashobjects/FlashImage.h"
#include "flashobjects/FlashMovie.h"

namespace kestrova {

namespace {

// The first picture of the last segment, deflated, kept for the segments after it. Every segment
// begins with a full picture of the screen, and on a quiet screen it is the one the segment
// before began with: its deflated pixels are taken again instead of deflating 2 MB anew (about
// 30 ms each 10 s, as much as the rest of a still screen's 10 s).
struct TPictureCache {
  // Smaller pictures (a small window's) cost little to deflate again; larger than the cap, the
  // copy would cost more memory than a quiet screen's deflate saves CPU.
  static constexpr std::size_t kMinBytes = 256 * 1024;
  static constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;
  static bool Keeps(const TDIBitmap& picture) {
    return picture.Bits.size() >= kMinBytes && picture.Bits.size() <= kMaxBytes;
  }
  bool Matches(const TDIBitmap& picture, int level) const {
    return Valid && Level == level && Picture.Width == picture.Width &&
           Picture.Height == picture.Height && Picture.BitCount == picture.BitCount &&
           Picture.BytesPerLine == picture.BytesPerLine && Picture.Palette == picture.Palette &&
           Picture.Bits == picture.Bits;
  }
  bool Valid = false;
  int Level = 0;  // the deflate level the data was made with: the same bytes as a new deflate
  TDIBitmap Picture;
  TFlashImage Image;  // no owner; its data made, its pixels dropped
};

class TFlashSegmentMovie : public TSegmentMovie {
 public:
  static constexpr int kBusyLevel = 4;

  TFlashSegmentMovie(std::int32_t width, std::int32_t height, std::shared_ptr<TPictureCache> cache)
      : FMovie(std::make_unique<TFlashMovie>(0, 0, width * 20, height * 20, 12, false)),
        FCache(std::move(cache)) {
    FMovie->SetInPixels(true);
    FMovie->SetCompressed(true);
    FMovie->BackgroundColor().SetRGB(TSWFRGBRec{0, 0, 0});
  }

  std::uint32_t AddPicture(const TDIBitmap& picture) override {
    TFlashImage& image = FMovie->AddImage("");
    // Only a segment's first picture: the others of a quiet screen are small strips, and a busy
    // one's full pictures differ from frame to frame, where keeping each would cost a copy.
    const bool first = !FAddedPicture;
    FAddedPicture = true;
    if (first && FCache && FCache->Matches(picture, FMovie->DeflateLevel)) {
      const std::uint16_t id = image.GetCharacterId();
      image.Assign(FCache->Image);
      image.SetCharacterId(id);
    } else {
      image.LoadFromHandle(picture);
      image.MakeData();
      if (first && FCache && TPictureCache::Keeps(picture)) Remember(picture, image);
    }
    // Not AddImageShape: its rectangle is one column narrower than the picture, so the fill
    // squeezes the picture into it, dropping a column a third of the way across and moving
    // everything right of it by a pixel. A recording shows the screen pixel for pixel, and a
    // strip that covers only part of a row must line up with the full picture beneath it.
    TFlashShape& shape = FMovie->AddRectangle(0, 0, picture.Width, picture.Rows());
    shape.AddImageFill(image);
    FShapes.push_back(&shape);
    return static_cast<std::uint32_t>(FShapes.size() - 1);
  }
  void SetBusy(bool busy) override {
    // A busy frame repeats many times a second: a faster level costs about a third of the
    // default's time for a few percent more bytes. Quieter frames keep the smaller default.
    FMovie->DeflateLevel = busy ? kBusyLevel : -1;
  }
  void RemoveObject(std::uint16_t depth) override { FMovie->RemoveObject(depth); }
  void PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                   std::int32_t y) override {
    FMovie->PlaceObject(*FShapes.at(shape), depth).SetTranslate(x, y);
  }
  void ShowFrame(std::uint16_t count) override {
    FUnsynced = true;
    FMovie->ShowFrame(count);
    if (!FMovie->Streaming()) return;
    // The frame's pictures, shapes and placements are written out and freed.
    FMovie->Flush();
    FShapes.clear();
  }
  void AddSound(std::unique_ptr<TSWFObject> tag) override { FMovie->AddObject(std::move(tag)); }
  void StreamTo(const std::string& fileName) override {
    FMovie->BeginStreaming(fileName);
    FBodyFileName = fileName + ".body.part";
  }
  void FlushNow() override {
    // Between a frame's pictures and its ShowFrame the shapes are still to be placed: the
    // frames closed before are on their way to the disk already, and the next call finds them.
    if (!FMovie || !FMovie->Streaming() || !FShapes.empty()) return;
    // Nothing closed since the last time: nothing to wait for the disk for.
    if (!FUnsynced) return;
    FMovie->FlushToDisk();
    FUnsynced = false;
  }
  void Abandon() override {
    if (!FMovie || !FMovie->Streaming()) return;
    // The movie removes its body file when it goes; the file steps aside meanwhile and comes
    // back under its own name, which is the one recovery looks for.
    const std::string aside = FBodyFileName + ".kept";
    if (std::rename(FBodyFileName.c_str(), aside.c_str()) != 0) return;
    FShapes.clear();
    FMovie.reset();
    std::rename(aside.c_str(), FBodyFileName.c_str());
  }
  std::uint16_t CalcFrameCount() override { return FMovie ? FMovie->CalcFrameCount() : 0; }
  void SaveToFile(const std::string& fileName) override {
    // Nearly all of the body is the pictures' pixel data, deflated already as each picture was
    // added. A segment is read back once, by the join, which compresses the output anyway: its
    // file stays in the compressed format, but in stored blocks, which cost no deflating here
    // and no inflating there.
    FMovie->DeflateLevel = 0;
    FMovie->MakeStream();
    FMovie->SaveToFile(fileName);
  }

 private:
  void Remember(const TDIBitmap& picture, TFlashImage& image) {
    FCache->Valid = false;  // until both are copied
    FCache->Picture = picture;
    FCache->Image.Assign(image);
    // Assign gives an image without an owner this movie's; the kept one outlives the movie.
    FCache->Image.SetOwner(nullptr);
    FCache->Level = FMovie->DeflateLevel;
    FCache->Valid = true;
  }

  std::unique_ptr<TFlashMovie> FMovie;  // none once abandoned
  std::shared_ptr<TPictureCache> FCache;
  bool FUnsynced = false;  // frames closed since the body file was last put on the disk
  bool FAddedPicture = false;
  std::vector<TFlashShape*> FShapes;
  std::string FBodyFileName;
};

}  // namespace

TSegmentMovieFactory FlashSegmentMovieFactory() {
  auto cache = std::make_shared<TPictureCache>();
  return [cache](std::int32_t width, std::int32_t height) -> std::unique_ptr<TSegmentMovie> {
    return std::make_unique<TFlashSegmentMovie>(width, height, cache);
  };
}

}  // namespace kestrova
