// A small player for the kind of movie the recorder writes, kept beside the tests so that the
// recordings are checked by code that shares nothing with the recorder: it reads a file with
// the project's reader and paints every frame (lossless bitmaps filling rectangle shapes,
// placements with translations, removals, sprites with their own timelines) into RGB pixels.
// Anything outside that kind of movie is counted in Problems rather than guessed at.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrova::test {

struct TRgb {
  std::uint8_t R = 0, G = 0, B = 0;
  friend bool operator==(const TRgb&, const TRgb&) = default;
};

using TFrameImage = std::vector<TRgb>;  // Width x Height, top row first

struct TMovieInfo {
  std::int32_t Width = 0, Height = 0;  // pixels
  std::uint32_t FrameCount = 0;        // from the header
  std::uint32_t FramesPlayed = 0;
  bool HasBackground = false;
  std::vector<std::string> Problems;
  // Per top-level PlaceObject2 of a sprite: the frame (0-based) and depth it was placed at.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> SpritePlacements;
  // Display-list events inside sprites and the main timeline: "place D x,y", "remove D".
  std::vector<std::string> Events;
  std::uint32_t Bitmaps = 0;
  // SoundStreamBlock tags on the main timeline and in sprites.
  std::uint32_t StreamBlocks = 0, SpriteStreamBlocks = 0;
};

// Plays the movie; calls onFrame for each frame shown. Returns what it saw. Throws when the file
// cannot be read.
TMovieInfo PlayMovie(
    const std::string& fileName,
    const std::function<void(std::uint32_t, const TFrameImage&, const TMovieInfo&)>& onFrame);

}  // namespace kestrova::test
