// Another SWF file brought into a movie: its definitions are copied with fresh character ids and
// its timeline becomes the timeline of a sprite.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "flashobjects/FlashSprite.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {

class TFlashExternalMovie : public TFlashIDObject {
 public:
  // Imported as a sprite; the only mode there is.
  static constexpr std::uint8_t kModeSprite = 3;

  // Loads the file. Throws EStreamError naming the file when it cannot be opened, or when a
  // compressed body is cut short or damaged. A file that is not a SWF file loads nothing
  // (IsValid false).
  TFlashExternalMovie(TFlashMovie* owner, const std::string& fileName);
  ~TFlashExternalMovie() override;

  std::uint8_t Mode = kModeSprite;
  // The file's stream sound (SoundStreamHead, SoundStreamHead2, SoundStreamBlock) is left out of
  // the sprite: a caller that joins movies carries it on its own timeline instead.
  bool LeaveOutStreamSound = false;
  const std::string& FileName() const { return FFileName; }
  // The file held the SWF signature.
  bool IsValid() const { return FReader && FReader->IsValid; }
  // The loaded file and the index of its tags (no tag objects: those are read one at a time
  // while the movie is written); null once Release has freed it.
  TSWFStreamReader* Reader() const { return FReader.get(); }
  // Indexes the loaded file and reads each tag once, dropping it at once, for the counts below
  // and the ids renumbering hands out. Throws EMemoryBudgetExceeded when the body, the index or
  // one tag passes the reader's MemoryLimit.
  void ScanTags();
  // The file's characters take the ids from baseID on when it is written.
  void RenumberFrom(std::uint16_t baseID);
  // The sprite carrying the imported timeline (mode 3), owned by the external movie.
  TFlashSprite* Sprite() const { return FSprite.get(); }
  // Makes the sprite (mode 3) with the external movie's id and the file's frame count.
  TFlashSprite& MakeSprite();
  // The number of character ids the imported file uses (after ScanTags).
  std::uint32_t CharacterCount() const { return FCharacterCount; }
  // The number of character ids the tag objects define (what renumbering hands out).
  std::uint32_t DefinedCount() const { return static_cast<std::uint32_t>(FDefinedCount); }
  // Tags of the file that could not be read, or whose record the end of the file cuts off: they
  // are left out of the movie.
  std::size_t DamagedTags() const { return FDamagedTags; }
  // Tags of codes the library has no class for: copied unchanged, their character ids (if they
  // have any) not renumbered.
  std::size_t UnknownTags() const { return FUnknownTags; }
  // Frees the loaded file; the external movie then writes nothing more. Used once it has been
  // written for good (a movie saved while it is built).
  void Release();

  // The imported file's version (1 when nothing was loaded).
  std::uint16_t MinVersion() const override;
  // Throws std::invalid_argument: a loaded file is not copied.
  void Assign(const TBasedSWFObject& source) override;
  // The file's definitions with their new ids, then one DefineSprite with its timeline. A file
  // that loaded nothing writes an empty sprite, so placements of it still refer to a defined
  // character; tags that could not be read are left out.
  void WriteToStream(TBitsEngine& be) override;
  // The same, reading each tag from the loaded body as it is written and dropping it before the
  // next; afterTag runs after each tag of the file written to the output (a streaming movie
  // moves what the engine holds to disk there).
  void WriteToStream(TBitsEngine& be, const std::function<void()>& afterTag);
  void SetCharacterId(std::uint16_t id) override;

 private:
  std::string FFileName;
  std::unique_ptr<TSWFStreamReader> FReader;
  std::unique_ptr<TFlashSprite> FSprite;
  // Found by ScanTags.
  std::uint32_t FCharacterCount = 0;
  std::size_t FDefinedCount = 0, FDamagedTags = 0, FUnknownTags = 0;
  // Each defined id of the file and the place it first takes among the defined ids.
  std::unordered_map<std::uint16_t, std::size_t> FFirstIndex;
  bool FRenumber = false;
  std::uint16_t FBaseID = 0;
};

}  // namespace kestrova
