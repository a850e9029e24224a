#include "flashobjects/FlashExternalMovie.h"

#include <algorithm>
#include <stdexcept>

#include "flashobjects/FlashMovie.h"

namespace kestrova {

namespace {

// Tag codes that define one character.
bool DefinesCharacter(int code) {
  switch (code) {
    case 2:
    case 6:
    case 7:
    case 10:
    case 11:
    case 14:
    case 20:
    case 21:
    case 22:
    case 32:
    case 33:
    case 34:
    case 35:
    case 36:
    case 37:
    case 39:
    case 46:
    case 48:
    case 60:
      return true;
    default:
      return false;
  }
}

// Tags the imported movie's own timeline carries: they go into the sprite.
bool BelongsToTimeline(int code) {
  switch (code) {
    case 4:
    case 5:
    case 12:
    case 15:
    case 18:
    case 19:
    case 26:
    case 28:
    case 43:
    case 45:
      return true;
    default:
      return false;
  }
}

// Tags that only make sense for a whole file (End, SetBackgroundColor, Protect, EnableDebugger,
// EnableDebugger2).
bool Dropped(int code) {
  return code == 0 || code == 9 || code == 24 || code == 58 || code == 64;
}

}  // namespace

TFlashExternalMovie::TFlashExternalMovie(TFlashMovie* owner, const std::string& fileName)
    : TFlashIDObject(owner), FFileName(fileName) {
  try {
    FReader = std::make_unique<TSWFStreamReader>(fileName);
  } catch (const EStreamError& e) {
    const std::string what = e.what();
    if (what.find(fileName) != std::string::npos) throw;
    throw EStreamError("\"" + fileName + "\": " + what);
  }
}

TFlashExternalMovie::~TFlashExternalMovie() = default;

TFlashSprite& TFlashExternalMovie::MakeSprite() {
  FSprite = std::make_unique<TFlashSprite>(FOwner);
  FSprite->SetCharacterId(FCharacterId);
  FSprite->SetFrameCount(FReader ? FReader->FrameCount : 0);
  return *FSprite;
}

void TFlashExternalMovie::SetCharacterId(std::uint16_t id) {
  FCharacterId = id;
  if (FSprite) FSprite->SetCharacterId(id);
}

std::uint32_t TFlashExternalMovie::CharacterCount() const {
  if (!FReader) return 0;
  std::uint32_t count = 0;
  for (const auto& info : FReader->TagList) {
    if (DefinesCharacter(info->TagID)) {
      ++count;
    } else if (info->TagID == 57 && info->SWFObject) {
      count += static_cast<std::uint32_t>(
          static_cast<const TSWFImportAssets&>(*info->SWFObject).Assets.size());
    }
  }
  return count;
}

std::uint32_t TFlashExternalMovie::DefinedCount() const {
  if (!FReader) return 0;
  std::uint32_t count = 0;
  std::vector<std::uint16_t*> ids;
  for (const auto& info : FReader->TagList) {
    if (!info->SWFObject) continue;
    ids.clear();
    info->SWFObject->DefinedCharacterIDs(ids);
    count += static_cast<std::uint32_t>(ids.size());
  }
  return count;
}

std::size_t TFlashExternalMovie::DamagedTags() const {
  if (!FReader) return 0;
  return static_cast<std::size_t>(std::count_if(FReader->TagList.begin(), FReader->TagList.end(),
                                                [](const auto& info) { return info->Error(); }));
}

std::size_t TFlashExternalMovie::UnknownTags() const {
  if (!FReader) return 0;
  return static_cast<std::size_t>(
      std::count_if(FReader->TagList.begin(), FReader->TagList.end(), [](const auto& info) {
        const TSWFObject* o = info->SWFObject.get();
        return !info->Error() && (o == nullptr || o->TagID == TSWFErrorTag::kTagID);
      }));
}

std::uint16_t TFlashExternalMovie::MinVersion() const {
  // The imported tags were written for their file's version; a container of a lower version
  // would run them under older rules.
  return IsValid() ? FReader->Version() : 1;
}

void TFlashExternalMovie::Release() {
  FReader.reset();
  if (FSprite) FSprite->ControlTags().clear();
}

void TFlashExternalMovie::Assign(const TBasedSWFObject&) {
  throw std::invalid_argument("an external movie cannot be copied");
}

void TFlashExternalMovie::WriteToStream(TBitsEngine& be) {
  if (!FReader) return;
  if (!FSprite) MakeSprite();
  FSprite->ControlTags().clear();
  FSprite->SetFrameCount(0);
  be.FlushLastByte(true);
  const TMemoryStream& body = FReader->Body();
  for (const auto& info : FReader->TagList) {
    TSWFObject* object = info->SWFObject.get();
    if (info->Error()) {
      // A tag that could not be read keeps its old character ids, which may be another
      // character's in this movie: it is left out rather than let it stand for that one.
      continue;
    }
    if (object == nullptr) {
      // Stored bytes, as far as the body holds them.
      const std::uint64_t start = std::min<std::uint64_t>(info->Position, body.Size());
      const std::uint64_t size = std::min<std::uint64_t>(
          static_cast<std::uint64_t>(info->StoredSize()), body.Size() - start);
      be.Stream.Write(body.Data() + start, static_cast<std::size_t>(size));
    } else if (Dropped(info->TagID)) {
      continue;
    } else if (info->TagID == 1) {
      FSprite->ShowFrame(1);
    } else if (BelongsToTimeline(info->TagID)) {
      FSprite->ControlTags().push_back(CloneTag(*object));
    } else {
      object->WriteToStream(be);
    }
  }
  // A file that loaded nothing still gets its (empty) sprite, so the placements of it refer to
  // a character that is defined.
  FSprite->WriteToStream(be);
}

}  // namespace kestrova
