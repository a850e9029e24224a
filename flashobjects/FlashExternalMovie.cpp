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

// Reads the tags of a loaded and indexed file one at a time, in file order, with one read
// context (fonts read earlier size the font info after them). A tag is charged to the budget only
// while it is read: the caller drops it before the next.
class TTagPass {
 public:
  explicit TTagPass(TSWFStreamReader& reader)
      : FReader(reader), FContext(reader.NewReadContext(false)) {
    FContext.Charge(reader.BodyHeld() + reader.TagList.size() * (sizeof(TSWFTagInfo) + 32));
  }
  // The tag object, or null for a code without a class or a body cut off by the file's end
  // (whose stored bytes the caller copies from Stored()). Throws EMemoryBudgetExceeded, and
  // EStreamError when the file cannot be read.
  std::unique_ptr<TSWFObject> Read(const TSWFTagInfo& info) {
    const std::uint64_t used = FContext.MemoryUsed;
    auto tag = FReader.ReadTagObject(info, FContext, &FStored);
    FContext.MemoryUsed = used;
    return tag;
  }
  // The stored bytes of the entry last read, as far as the body holds them.
  const std::vector<std::uint8_t>& Stored() const { return FStored; }
  // The entry last read is cut off by the end of the file: its record claims more bytes than
  // are there, and copied into another movie it would swallow the tags written after it.
  bool Cut(const TSWFTagInfo& info) const {
    return FStored.size() < static_cast<std::uint64_t>(info.StoredSize());
  }

 private:
  TSWFStreamReader& FReader;
  TSWFReadContext FContext;
  std::vector<std::uint8_t> FStored;
};

// The class is asked, not the code: a file may store any code, and a tag that could not be read
// is an error tag whatever code it had.
bool Damaged(const TSWFObject& tag) {
  const auto* error = dynamic_cast<const TSWFErrorTag*>(&tag);
  return error && !error->ErrorMessage.empty();
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

std::uint16_t TFlashExternalMovie::MinVersion() const {
  // The imported tags were written for their file's version; a container of a lower version
  // would run them under older rules.
  return IsValid() ? FReader->Version() : 1;
}

void TFlashExternalMovie::ScanTags() {
  FCharacterCount = 0;
  FDefinedCount = FDamagedTags = FUnknownTags = 0;
  FFirstIndex.clear();
  if (!FReader) return;
  // The index only: a segment's tags would otherwise all be held at once beside its body.
  FReader->ParseTags(false, false);
  TTagPass pass(*FReader);
  std::vector<std::uint16_t*> ids;
  for (const auto& info : FReader->TagList) {
    if (DefinesCharacter(info->TagID)) ++FCharacterCount;
    const std::unique_ptr<TSWFObject> tag = pass.Read(*info);
    if (!tag) {
      ++(pass.Cut(*info) ? FDamagedTags : FUnknownTags);
      continue;
    }
    if (Damaged(*tag)) ++FDamagedTags;
    // An ImportAssets that could not be read is an error tag: only a real one names assets.
    if (const auto* import = dynamic_cast<const TSWFImportAssets*>(tag.get())) {
      FCharacterCount += static_cast<std::uint32_t>(import->Assets.size());
    }
    ids.clear();
    tag->DefinedCharacterIDs(ids);
    for (const std::uint16_t* id : ids) FFirstIndex.emplace(*id, FDefinedCount++);
  }
}

void TFlashExternalMovie::RenumberFrom(std::uint16_t baseID) {
  FRenumber = true;
  FBaseID = baseID;
}

void TFlashExternalMovie::Release() {
  FReader.reset();
  if (FSprite) FSprite->ControlTags().clear();
}

void TFlashExternalMovie::Assign(const TBasedSWFObject&) {
  throw std::invalid_argument("an external movie cannot be copied");
}

void TFlashExternalMovie::WriteToStream(TBitsEngine& be) {
  WriteToStream(be, nullptr);
}

void TFlashExternalMovie::WriteToStream(TBitsEngine& be, const std::function<void()>& afterTag) {
  if (!FReader) return;
  if (!FSprite) MakeSprite();
  FSprite->ControlTags().clear();
  FSprite->SetFrameCount(0);
  be.FlushLastByte(true);
  TTagPass pass(*FReader);
  std::size_t defined = 0;  // ids handed out so far, in the order ScanTags found them
  std::vector<std::uint16_t*> ids;
  for (const auto& info : FReader->TagList) {
    std::unique_ptr<TSWFObject> tag = pass.Read(*info);
    if (tag == nullptr) {
      if (pass.Cut(*info)) continue;  // left out, as a tag that cannot be read is
      be.Stream.Write(pass.Stored().data(), pass.Stored().size());
      if (afterTag) afterTag();
      continue;
    }
    if (FRenumber) {
      ids.clear();
      tag->DefinedCharacterIDs(ids);
      for (std::uint16_t* id : ids) *id = static_cast<std::uint16_t>(FBaseID + defined++);
      ids.clear();
      tag->ReferencedCharacterIDs(ids);
      for (std::uint16_t* id : ids) {
        const auto found = FFirstIndex.find(*id);
        if (found != FFirstIndex.end()) *id = static_cast<std::uint16_t>(FBaseID + found->second);
      }
    }
    const bool streamSound = info->TagID == 18 || info->TagID == 19 || info->TagID == 45;
    if (Damaged(*tag) || Dropped(info->TagID) || (LeaveOutStreamSound && streamSound)) {
      // A tag that could not be read keeps its old character ids, which may be another
      // character's in this movie: it is left out rather than let it stand for that one.
      continue;
    }
    if (info->TagID == 1) {
      FSprite->ShowFrame(1);
    } else if (BelongsToTimeline(info->TagID)) {
      FSprite->ControlTags().push_back(CloneTag(*tag));
    } else {
      tag->WriteToStream(be);
      if (afterTag) afterTag();
    }
  }
  // A file that loaded nothing still gets its (empty) sprite, so the placements of it refer to
  // a character that is defined.
  FSprite->WriteToStream(be);
}

}  // namespace kestrova
