// The movie builder: a movie that owns its characters, placements and frames, hands out
// character ids, and serialises itself into the SWF body.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flashobjects/FlashExternalMovie.h"
#include "flashobjects/FlashImage.h"
#include "flashobjects/FlashObject.h"
#include "flashobjects/FlashShape.h"
#include "flashobjects/FlashSprite.h"
#include "swfstreams/SWFStreams.h"
#include "swftools/Deflate.h"

namespace kestrova {

class TFlashMovie : public TBasedSWFStream {
 public:
  // The frame is given in pixels when inPixels (scaled by 20), else in twips. Version 5.
  TFlashMovie(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax, std::int32_t yMax, float fps,
              bool inPixels = false);
  ~TFlashMovie() override;

  // The next character id to hand out; ids start at 1 and are never reused.
  std::uint16_t CurrentObjID = 1;
  // FrameCount - 1 after the last ShowFrame.
  std::int32_t CurrentFrameNum = -1;
  // How bitmap data and the compressed body are deflated (zlib levels, -1 the default).
  TDeflateWriter DeflateWriter = DefaultDeflateWriter();
  int DeflateLevel = -1;

  // Black until set; every access makes the movie write a SetBackgroundColor tag.
  TSWFRGB& BackgroundColor();
  bool HasBackgroundColor() const { return FHasBackground; }

  TFlashObjectOwnerList& ObjectList() { return FObjectList; }
  TFlashImageList& ImageList() { return FImages; }
  TFlashShapeList& ShapeList() { return FShapes; }
  TFlashSpriteList& SpriteList() { return FSprites; }

  // Appends the object to ObjectList, which owns it from then on; returns it.
  template <class T>
  T& AddObject(std::unique_ptr<T> object) {
    T& added = *object;
    AppendObject(std::move(object));
    return added;
  }
  // A new empty image with the next id (a non-empty file name loads a BMP file).
  TFlashImage& AddImage(const std::string& fileName = "");
  // Registers the shape (a new empty one when null) with the next id.
  TFlashShape& AddShape(std::unique_ptr<TFlashShape> shape = nullptr);
  // A shape with these bounds (in the movie's units) and their outline.
  TFlashShape& AddRectangle(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax,
                            std::int32_t yMax);
  // A rectangle (0, 0, image width, image height) filled with the image: placed untransformed,
  // it shows the picture pixel for pixel.
  TFlashShape& AddImageShape(TFlashImage& image);
  // Imports a SWF file as a sprite (mode 3), its characters renumbered after the movie's own.
  // Throws EStreamError naming the file when it cannot be read (nothing is then added),
  // std::invalid_argument for another mode, and std::length_error when the movie has no ids
  // left for it. In a movie that streams its body, every object added before is written out
  // and freed first.
  TFlashExternalMovie& AddExternalMovie(const std::string& fileName,
                                        std::uint8_t mode = TFlashExternalMovie::kModeSprite,
                                        bool renumber = true);
  // A placement of the object at the depth (the caller chooses depths).
  TFlashPlaceObject& PlaceObject(TFlashVisualObject& object, std::uint16_t depth);
  // Moves object to stand just before `before` in ObjectList when it stands after it; does
  // nothing when either is not listed (already written out by a streaming movie).
  void MoveBefore(const TBasedSWFObject& object, const TBasedSWFObject& before);
  // Appends a RemoveObject2 of the depth.
  void RemoveObject(std::uint16_t depth);
  // Closes count frames (0 counts as 1).
  void ShowFrame(std::uint16_t count = 1);

  // Serialises every object into Body (or, streaming, writes what is left and the End tag).
  // Throws std::out_of_range when ObjectList is empty (after the background colour is written);
  // exceptions of the objects pass unchanged.
  void MakeStream() override;
  // The number of ShowFrame tags in ObjectList (and already streamed); FrameCount becomes it.
  std::uint16_t CalcFrameCount();

  // Streaming: the body goes to a temporary file beside fileName instead of memory, so that a
  // movie of any length is built in bounded memory. Each AddExternalMovie, and Flush, writes out
  // and frees every object added before it. Call before anything is added; throws
  // std::logic_error otherwise and EStreamError when the temporary file (fileName.body.part,
  // created exclusively) cannot be created, also when a file or a link of that name is there.
  void BeginStreaming(const std::string& fileName);
  bool Streaming() const { return FBodyFile != nullptr; }
  // Writes out and frees the objects added so far (streaming only; does nothing otherwise).
  void Flush();
  // Flush, then has the system put the body file's bytes on disk, so that what was streamed
  // outlives a crash of the process. Throws EStreamError when they cannot be written.
  void FlushToDisk();

  // Writes the file: header, then the body plain or deflated (through DeflateWriter). The file
  // is written beside its name and renamed into place, so a failed save leaves no partial file
  // and an earlier file whole. Throws EStreamError naming the file.
  void SaveToFile(const std::string& fileName);
  void SaveToStream(TStream& stream);

 private:
  void AppendObject(std::unique_ptr<TBasedSWFObject> object);
  // Gives the object the next id; throws std::length_error when the ids are used up.
  void Register(TFlashIDObject& object);
  // afterTag runs after each tag an imported file writes (see TFlashExternalMovie).
  void WriteObject(TBasedSWFObject& object, TBitsEngine& be, std::uint8_t& version,
                   std::uint32_t& frames, const std::function<void()>& afterTag = nullptr);
  void WriteBackground(TBitsEngine& be);
  void RaiseVersion(std::uint8_t v);
  void Unlist(const TBasedSWFObject& object);
  void SaveStreamed(TStream& stream);

  std::unique_ptr<TSWFRGB> FBackgroundColor;
  bool FHasBackground = false;
  TFlashObjectOwnerList FObjectList;
  TFlashImageList FImages;
  TFlashShapeList FShapes;
  TFlashSpriteList FSprites;

  // Streaming state: the temporary body file, what has gone into it, and the version and frames
  // reached so far.
  std::string FBodyFileName;
  std::unique_ptr<TFileStream> FBodyFile;
  std::uint64_t FStreamedSize = 0;
  std::uint32_t FStreamedFrames = 0;
  std::uint8_t FStreamedVersion = 0;
  bool FStreamedEnd = false;                     // the last object written out was an End tag
  [[maybe_unused]] bool FStreamStarted = false;  // not read yet: clang warns
  bool FStreamEnded = false;
};

}  // namespace kestrova
