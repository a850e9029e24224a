// The parts of a split recording (movie.swf, movie-2.swf, ...) played as one timeline that can
// be stepped and sought both ways: the viewer's model, free of any window system.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "player/Player.h"

namespace kestrova {

class TPartedMovie {
 public:
  // Opens every part to learn its frame count. Throws as TMoviePlayer's constructor when the
  // first part cannot be played; a later part that cannot be played ends the timeline before it
  // (said in Notes).
  explicit TPartedMovie(std::vector<std::string> parts);
  ~TPartedMovie();

  int FrameCount() const { return FTotal; }
  double FrameRate() const { return FRate; }
  int PartCount() const { return static_cast<int>(FParts.size()); }
  // The part that frame n (from 1) belongs to, from 1.
  int PartOf(int frame) const;

  // Shows frame n (clamped to 1..FrameCount()); a frame behind the one shown replays its part
  // from the start. False when the part ends before it (damaged), leaving the last frame drawn.
  bool Seek(int frame);
  bool Next() { return Seek(FFrame + 1); }
  int Frame() const { return FFrame; }  // 0 before the first Seek

  // The picture of the frame shown (RGBA rows) and its size (a part's own stage).
  const std::uint8_t* Pixels() const;
  int Width() const;
  int Height() const;
  // The notes of every part played so far, and where a part stopped.
  std::vector<std::string> Notes() const;

 private:
  struct TPart {
    std::string File;
    int First = 1, Frames = 0;  // global frame of its first, its count
  };
  void OpenPart(int index);
  std::vector<TPart> FParts;
  int FTotal = 0;
  double FRate = 12;
  int FFrame = 0;
  int FCurrent = -1;  // the part the player plays
  int FRun = 0;       // frames it has run
  std::unique_ptr<TMoviePlayer> FPlayer;
  std::vector<std::string> FNotes;
};

}  // namespace kestrova
