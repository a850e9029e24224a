#include "player/PartedMovie.h"

#include <algorithm>

namespace kestrova {

TPartedMovie::TPartedMovie(std::vector<std::string> files) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    int frames = 0;
    try {
      TMoviePlayer probe(files[i]);
      if (i == 0) {
        FRate = probe.FrameRate() > 0 ? probe.FrameRate() : 12;
      }
      frames = probe.DeclaredFrameCount();
    } catch (const std::exception& e) {
      if (i == 0) throw;
      FNotes.push_back("\"" + files[i] + "\" is not played: " + e.what());
      break;
    }
    FParts.push_back({files[i], FTotal + 1, frames});
    FTotal += frames;
  }
  OpenPart(0);
}

TPartedMovie::~TPartedMovie() = default;

int TPartedMovie::PartOf(int frame) const {
  for (std::size_t i = FParts.size(); i-- > 0;) {
    if (frame >= FParts[i].First) return static_cast<int>(i) + 1;
  }
  return 1;
}

void TPartedMovie::OpenPart(int index) {
  if (FPlayer && FCurrent >= 0) {
    for (const std::string& n : FPlayer->Notes()) {
      if (std::find(FNotes.begin(), FNotes.end(), n) == FNotes.end()) FNotes.push_back(n);
    }
  }
  FPlayer = std::make_unique<TMoviePlayer>(FParts[static_cast<std::size_t>(index)].File);
  FCurrent = index;
}

bool TPartedMovie::Seek(int frame) {
  if (FTotal == 0) return false;
  frame = std::clamp(frame, 1, FTotal);
  const int part = PartOf(frame) - 1;
  const int local = frame - FParts[static_cast<std::size_t>(part)].First + 1;
  if (part == FCurrent && local == FRun && FFrame == frame) return true;
  // The player only runs forward: a frame behind (or in another part) starts its part again.
  if (part != FCurrent || local <= FRun) {
    OpenPart(part);
    FRun = 0;
  }
  // The frames between are run without drawing; the wanted one draws what they changed.
  while (FRun < local - 1) {
    if (!FPlayer->SkipFrame()) return false;
    ++FRun;
  }
  if (!FPlayer->NextFrame()) return false;
  ++FRun;
  FFrame = frame;
  return true;
}

const std::uint8_t* TPartedMovie::Pixels() const {
  return FPlayer->Pixels();
}
int TPartedMovie::Width() const {
  return FPlayer->Width();
}
int TPartedMovie::Height() const {
  return FPlayer->Height();
}

std::vector<std::string> TPartedMovie::Notes() const {
  std::vector<std::string> notes = FNotes;
  if (FPlayer) {
    for (const std::string& n : FPlayer->Notes()) {
      if (std::find(notes.begin(), notes.end(), n) == notes.end()) notes.push_back(n);
    }
    if (!FPlayer->StopReason().empty()) notes.push_back(FPlayer->StopReason());
  }
  return notes;
}

}  // namespace kestrova
