// What change detection asks of a segment's movie: pictures defined, removed and placed at
// depths, frames closed, the movie saved. The movie builder (TFlashMovie) stands behind it in the
// program (FlashSegmentMovie.h); tests may put a recorder of the calls in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/DIBitmap.h"
#include "swfobjects/SWFObject.h"

namespace kestrova {

class TSegmentMovie {
 public:
  virtual ~TSegmentMovie() = default;
  // AddImage with an empty name, LoadFromHandle with the picture, and a rectangle of the
  // picture's size filled with it: defines the picture and the shape showing it pixel for pixel.
  // Returns the shape, valid until the next ShowFrame. Throws what the builder throws.
  virtual std::uint32_t AddPicture(const TDIBitmap& picture) = 0;
  // Called before each frame's pictures: busy when the frame changes much of the screen (motion,
  // scrolling), and more such frames are likely to follow. A movie may then favour speed over
  // size in what it compresses.
  virtual void SetBusy(bool busy) = 0;
  virtual void RemoveObject(std::uint16_t depth) = 0;
  // PlaceObject of the shape at the depth, then SetTranslate (x, y) in pixels.
  virtual void PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                           std::int32_t y) = 0;
  virtual void ShowFrame(std::uint16_t count) = 0;
  // A stream sound tag: the head once, before anything else, then each frame's block just before
  // its ShowFrame(1). The movie owns it from then on; a movie that carries no sound drops it.
  virtual void AddSound(std::unique_ptr<TSWFObject> tag) { (void)tag; }
  // Called before anything is added: each frame, once closed, may go to a file beside
  // fileName instead of staying in memory, so a segment's memory does not grow with its
  // length. SaveToFile is then given the same name. Throws when the file cannot be made. A
  // movie that keeps everything in memory ignores it.
  virtual void StreamTo(const std::string& fileName) { (void)fileName; }
  // Streamed: puts every closed frame into the file beside the segment's name and has the system
  // keep it, so a crash of the program costs only what came after. Throws when the file cannot be
  // written (a full disk). A movie that keeps everything in memory ignores it.
  virtual void FlushNow() {}
  // Ends the movie without saving it, leaving the frames it streamed in the file beside the
  // segment's name, where recovery finds them (after a failed write, what reached the disk is
  // all that is left of the segment). Nothing else may be called afterwards.
  virtual void Abandon() {}
  virtual std::uint16_t CalcFrameCount() = 0;
  // MakeStream, then SaveToFile (the file is replaced). Throws on failure.
  virtual void SaveToFile(const std::string& fileName) = 0;
};

// A segment movie that passes every call to the movie it wraps; a wrapper that watches or
// changes a few calls overrides only those.
class TForwardingSegmentMovie : public TSegmentMovie {
 public:
  explicit TForwardingSegmentMovie(std::unique_ptr<TSegmentMovie> movie)
      : FMovie(std::move(movie)) {}
  std::uint32_t AddPicture(const TDIBitmap& picture) override {
    return FMovie->AddPicture(picture);
  }
  void SetBusy(bool busy) override { FMovie->SetBusy(busy); }
  void RemoveObject(std::uint16_t depth) override { FMovie->RemoveObject(depth); }
  void PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                   std::int32_t y) override {
    FMovie->PlaceObject(shape, depth, x, y);
  }
  void ShowFrame(std::uint16_t count) override { FMovie->ShowFrame(count); }
  void AddSound(std::unique_ptr<TSWFObject> tag) override { FMovie->AddSound(std::move(tag)); }
  void StreamTo(const std::string& fileName) override { FMovie->StreamTo(fileName); }
  void FlushNow() override { FMovie->FlushNow(); }
  void Abandon() override { FMovie->Abandon(); }
  std::uint16_t CalcFrameCount() override { return FMovie->CalcFrameCount(); }
  void SaveToFile(const std::string& fileName) override { FMovie->SaveToFile(fileName); }

 protected:
  TSegmentMovie& Inner() { return *FMovie; }

 private:
  std::unique_ptr<TSegmentMovie> FMovie;
};

// Makes the movie of a segment for a stage of the given size in pixels: 12 frames a second,
// coordinates in pixels, compressed, black background.
using TSegmentMovieFactory = std::function<std::unique_ptr<TSegmentMovie>(
    std::int32_t stageWidth, std::int32_t stageHeight)>;

}  // namespace kestrova
