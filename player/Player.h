// Plays the kind of movie the recorder writes, frame by frame, into pixels: the display list,
// sprites as movie clips, rectangle shapes filled with bitmaps or a solid colour, and every
// lossless bitmap format. Each stage pixel is sampled at its centre through the inverse of the
// placement and fill matrices and takes the nearest texel, which is what today's players do for
// movies below SWF 8, so frames can be compared with theirs pixel for pixel.
//
// The file is read as it plays, one tag at a time: memory holds the characters' definitions and
// the pixels on show, not the whole movie.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "swftools/Stream.h"

namespace kestrova {

// A movie that cannot be played at all: not a SWF file, or a stage too large to hold.
class EPlayerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TPlayerState;
class TSWFObject;

// Told of the sound tags of the main timeline as the movie plays (DefineSound, StartSound,
// SoundStreamHead and SoundStreamHead2, SoundStreamBlock); frame is the number of frames shown
// before the one the tag belongs to.
class TSoundListener {
 public:
  virtual ~TSoundListener() = default;
  virtual void SoundTag(const TSWFObject& tag, int frame) = 0;
};

class TMoviePlayer {
 public:
  // Pixels of the stage the player agrees to hold (a 16384 x 16384 stage, 1 GB of RGBA).
  static constexpr std::uint64_t kMaxStagePixels = 16384ull * 16384ull;

  // Opens the file and reads its header. Throws EStreamError when the file cannot be opened and
  // EPlayerError when it is not a SWF movie or its stage is empty or too large.
  explicit TMoviePlayer(const std::string& fileName);
  // The same over a stream the player takes.
  explicit TMoviePlayer(std::unique_ptr<TStream> stream);
  ~TMoviePlayer();
  TMoviePlayer(const TMoviePlayer&) = delete;
  TMoviePlayer& operator=(const TMoviePlayer&) = delete;

  int Width() const;   // stage, pixels
  int Height() const;  // stage, pixels
  double FrameRate() const;
  std::uint8_t Version() const;
  // The frame count the header claims; the frames really played may differ in a damaged file.
  std::uint16_t DeclaredFrameCount() const;

  // Runs the timeline to the next frame and draws it. Returns false, leaving the last frame's
  // pixels, when the movie has no more frames: it ended, or it is damaged (see StopReason).
  bool NextFrame();
  // Runs the timeline to the next frame without drawing it: what changed is drawn by the next
  // NextFrame or Draw. Returns false as NextFrame does.
  bool SkipFrame();
  // Brings the pixels up to the current frame after SkipFrame.
  void Draw();

  // The frame now in Pixels(), counted from 1; 0 before the first.
  int FrameNumber() const;
  // The stage as rows of Width() RGBA pixels (4 bytes each, alpha always 255), top row first.
  const std::uint8_t* Pixels() const;
  // The number of stage pixels painted by the last drawing: only what changed is redrawn.
  std::uint64_t PixelsPainted() const;

  // What the player met and does not draw or do (curves, gradients, text, video,
  // sound, scripts, tags it could not read), each kind said once, in the order met.
  const std::vector<std::string>& Notes() const;
  // Empty while the movie plays or when it ended normally; otherwise where and why it stopped
  // ("stopped after frame 12: ...").
  const std::string& StopReason() const;

  // The movie's compressed bitmap data held in memory (8 MB unless set); the oldest beyond it
  // goes to a temporary spill file and is read back from there when it is drawn, so a movie of
  // any size plays in bounded memory. Takes effect from the next bitmap defined.
  void SetBitmapMemoryBudget(std::uint64_t bytes);
  // Sound tags go to the listener (not owned; null for none) instead of being noted as not
  // played.
  void SetSoundListener(TSoundListener* listener);

  // Bytes of bitmap data moved to the spill file so far.
  std::uint64_t SpilledBytes() const;

 private:
  void Open(std::unique_ptr<TStream> stream);
  std::unique_ptr<TPlayerState> S;
};

}  // namespace kestrova
