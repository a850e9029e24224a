#include "swfobjects/ControlTags.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "swfobjects/TagCatalogue.h"
#include "swftools/SWFmd5.h"

namespace kestrova {

namespace {

std::string MatrixText(const TSWFMatrixRec& m) {
  char buf[160];
  int n = std::snprintf(buf, sizeof buf, "translate(%d,%d)", m.TranslateX, m.TranslateY);
  if (m.HasScale) {
    n += std::snprintf(buf + n, sizeof buf - n, ",scale(%g,%g)", m.ScaleX / 65536.0,
                       m.ScaleY / 65536.0);
  }
  if (m.HasSkew) {
    std::snprintf(buf + n, sizeof buf - n, ",skew(%g,%g)", m.SkewY / 65536.0, m.SkewX / 65536.0);
  }
  return buf;
}

std::string CxformText(const TSWFColorTransformRec& c) {
  char buf[160];
  int n = 0;
  buf[0] = 0;
  if (c.HasMult) {
    n = std::snprintf(buf, sizeof buf, "mult(%d,%d,%d", c.MultR, c.MultG, c.MultB);
    if (c.HasAlpha) n += std::snprintf(buf + n, sizeof buf - n, ",%d", c.MultA);
    n += std::snprintf(buf + n, sizeof buf - n, ")");
  }
  if (c.HasAdd) {
    n += std::snprintf(buf + n, sizeof buf - n, "%sadd(%d,%d,%d", c.HasMult ? "," : "", c.AddR,
                       c.AddG, c.AddB);
    if (c.HasAlpha) n += std::snprintf(buf + n, sizeof buf - n, ",%d", c.AddA);
    std::snprintf(buf + n, sizeof buf - n, ")");
  }
  return buf[0] ? buf : "identity";
}

}  // namespace

// ---- SetBackgroundColor ----

void TSWFSetBackgroundColor::ReadFromStream(TBitsEngine& be) {
  // A short body is the stream read error, as it always was for this tag; it must not take the
  // bytes of the next tag either.
  if (TBodyReader(be, *this).Remaining() < 3) {
    throw ESWFParseError(kStreamReadError, TagID, be.Stream.Position());
  }
  FBackgroundColor.SetRGB(be.ReadRGB());
}

void TSWFSetBackgroundColor::WriteTagBody(TBitsEngine& be) const {
  be.WriteRGB(FBackgroundColor.GetRec());
}

void TSWFSetBackgroundColor::Describe(TSWFDescription& d) const {
  d.Field("color", ColorText(FBackgroundColor));
}

// ---- FrameLabel ----

void TSWFFrameLabel::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  Name = body.String();
  NamedAnchor = body.Remaining() == 1 ? body.Byte() : 0;
}

void TSWFFrameLabel::WriteTagBody(TBitsEngine& be) const {
  be.WriteString(Name);
  if (NamedAnchor) be.WriteByte(1);
}

void TSWFFrameLabel::Describe(TSWFDescription& d) const {
  d.Field("label", QuoteText(Name));
  if (NamedAnchor) d.Field("anchor", "named");
}

// ---- Protect, EnableDebugger, EnableDebugger2 ----

TSWFProtect::TSWFProtect(std::uint16_t tagID) : TSWFObject(tagID), FSalt(NewSalt()) {}

std::uint16_t TSWFProtect::MinVersion() const {
  return Password.empty() && PasswordHash.empty() ? 2 : 5;
}

void TSWFProtect::ReadFromStream(TBitsEngine& be) {
  FHasReserved = FHasHash = false;
  PasswordHash.clear();
  if (BodySize <= 0) return;  // protected with no password
  TBodyReader body(be, *this);
  Reserved = body.Word();
  FHasReserved = true;
  // The hash ends at its zero byte; a body without one keeps its bytes unparsed.
  const std::uint64_t start = be.Stream.Position();
  const std::vector<std::uint8_t> rest = be.Stream.ReadBytes(body.Remaining());
  std::size_t length = 0;
  while (length < rest.size() && rest[length] != 0) ++length;
  if (length == rest.size()) {
    be.Stream.SetPosition(start);
    return;
  }
  PasswordHash.assign(reinterpret_cast<const char*>(rest.data()), length);
  FHasHash = true;
  be.Stream.SetPosition(start + length + 1);
}

void TSWFProtect::WriteTagBody(TBitsEngine& be) const {
  const std::string hash = Password.empty() ? PasswordHash : MD5Crypt(Password, FSalt);
  if (hash.empty() && !FHasReserved) return;
  be.WriteWord(Reserved);
  // A hash is bytes, not text: never converted.
  if (!hash.empty() || FHasHash) be.WriteBytes(hash.data(), std::int64_t(hash.size()), true);
}

void TSWFProtect::Describe(TSWFDescription& d) const {
  d.Field("hash", PasswordHash.empty() ? std::string("none") : QuoteText(PasswordHash));
}

// ---- ExportAssets, ImportAssets ----

void TSWFExportAssets::ReadAssets(TBitsEngine& be, std::uint64_t end) {
  TBodyReader body(be, end, TagID);
  const std::uint16_t count = body.Word();
  Assets.clear();
  // Each item takes at least three bytes, so the count is checked by the reads themselves.
  for (std::uint16_t i = 0; i < count; ++i) {
    TSWFAsset asset;
    asset.CharacterId = body.Word();
    asset.Name = body.String();
    Assets.push_back(std::move(asset));
  }
}

void TSWFExportAssets::WriteAssets(TBitsEngine& be) const {
  be.WriteWord(static_cast<std::uint16_t>(Assets.size()));
  for (const auto& asset : Assets) {
    be.WriteWord(asset.CharacterId);
    be.WriteString(asset.Name);
  }
}

void TSWFExportAssets::ReadFromStream(TBitsEngine& be) {
  ReadAssets(be, be.Stream.Position() + static_cast<std::uint64_t>(BodySize));
}

void TSWFExportAssets::WriteTagBody(TBitsEngine& be) const {
  WriteAssets(be);
}

void TSWFExportAssets::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  for (auto& asset : Assets) ids.push_back(&asset.CharacterId);
}

void TSWFExportAssets::DescribeAssets(TSWFDescription& d) const {
  d.Field("assets", static_cast<std::int64_t>(Assets.size()));
  for (const auto& asset : Assets) {
    d.Line("id=" + std::to_string(asset.CharacterId) + " name=" + QuoteText(asset.Name));
  }
}

void TSWFExportAssets::Describe(TSWFDescription& d) const {
  DescribeAssets(d);
}

void TSWFImportAssets::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  URL = body.String();
  ReadAssets(be, body.End);
}

void TSWFImportAssets::WriteTagBody(TBitsEngine& be) const {
  be.WriteString(URL);
  WriteAssets(be);
}

void TSWFImportAssets::DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  for (auto& asset : Assets) ids.push_back(&asset.CharacterId);
}

void TSWFImportAssets::Describe(TSWFDescription& d) const {
  d.Field("url", QuoteText(URL));
  DescribeAssets(d);
}

// ---- ScriptLimits, SetTabIndex ----

void TSWFScriptLimits::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  MaxRecursionDepth = body.Word();
  ScriptTimeoutSeconds = body.Word();
}

void TSWFScriptLimits::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(MaxRecursionDepth);
  be.WriteWord(ScriptTimeoutSeconds);
}

void TSWFScriptLimits::Describe(TSWFDescription& d) const {
  d.Field("recursion", MaxRecursionDepth);
  d.Field("timeout", ScriptTimeoutSeconds);
}

void TSWFSetTabIndex::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  Depth = body.Word();
  TabIndex = body.Word();
}

void TSWFSetTabIndex::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(Depth);
  be.WriteWord(TabIndex);
}

void TSWFSetTabIndex::Describe(TSWFDescription& d) const {
  d.Field("depth", Depth);
  d.Field("tabindex", TabIndex);
}

// ---- PlaceObject ----

void TSWFPlaceObject::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  FCharacterId = body.Word();
  Depth = body.Word();
  FMatrix.SetRec(be.ReadMatrix());
  body.Check();
  HasColorTransform = body.Remaining() > 0;
  if (HasColorTransform) {
    FColorTransform.SetRec(be.ReadColorTransform(false));
    body.Check();
  }
}

void TSWFPlaceObject::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(FCharacterId);
  be.WriteWord(Depth);
  be.WriteMatrix(FMatrix.GetRec());
  TSWFColorTransformRec c = FColorTransform.GetRec();
  if (HasColorTransform || c.HasAdd || c.HasMult) {
    c.HasAlpha = false;
    be.WriteColorTransform(c);
  }
}

void TSWFPlaceObject::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  ids.push_back(&FCharacterId);
}

void TSWFPlaceObject::Describe(TSWFDescription& d) const {
  d.Field("depth", Depth);
  d.Field("character", FCharacterId);
  d.Field("matrix", MatrixText(FMatrix.GetRec()));
  TSWFColorTransformRec c = FColorTransform.GetRec();
  if (HasColorTransform || c.HasAdd || c.HasMult) {
    c.HasAlpha = false;
    d.Field("cxform", CxformText(c));
  }
}

// ---- clip actions ----

namespace {

constexpr const char* kClipEventNames[] = {
    "KeyUp",      "KeyDown",  "MouseUp",   "MouseDown", "MouseMove",      "Unload",  "EnterFrame",
    "Load",       "DragOver", "RollOut",   "RollOver",  "ReleaseOutside", "Release", "Press",
    "Initialize", "Data",     "Construct", "KeyPress",  "DragOut"};

// The events a layout can carry: two bytes before SWF 6, four from SWF 6.
std::uint32_t LayoutEvents(std::uint8_t swfVersion) {
  return swfVersion < 6 ? 0xFFFFu : kClipEventsAll;
}

void WriteEventFlags(TBitsEngine& be, std::uint32_t flags, std::uint8_t swfVersion) {
  // Bit 0 of the set is the most significant bit of the first byte.
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  for (unsigned bit = 0; bit < 16; ++bit) {
    if (flags & (1u << bit)) bytes[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
  }
  for (unsigned bit = 16; bit < 19; ++bit) {
    if (flags & (1u << bit)) bytes[2] |= static_cast<std::uint8_t>(1u << (18 - bit));
  }
  be.WriteBytes(bytes, swfVersion < 6 ? 2 : 4);
}

// Reads the flags in the layout of swfVersion; raw is whether any bit at all was set, reserved
// bits included, since only an all-zero field ends the list.
std::uint32_t ReadEventFlags(TBodyReader& body, std::uint8_t swfVersion, bool& raw) {
  const std::size_t size = swfVersion < 6 ? 2 : 4;
  body.Need(size);
  std::uint8_t bytes[4] = {0, 0, 0, 0};
  body.Be.Stream.ReadBuffer(bytes, size);
  raw = (bytes[0] | bytes[1] | bytes[2] | bytes[3]) != 0;
  std::uint32_t flags = 0;
  for (unsigned bit = 0; bit < 16; ++bit) {
    if (bytes[bit / 8] & (0x80 >> (bit % 8))) flags |= 1u << bit;
  }
  for (unsigned bit = 16; bit < 19; ++bit) {
    if (bytes[2] & (1u << (18 - bit))) flags |= 1u << bit;
  }
  return flags;
}

}  // namespace

std::string ClipEventNames(std::uint32_t flags) {
  std::string out;
  for (unsigned bit = 0; bit < 19; ++bit) {
    if (!(flags & (1u << bit))) continue;
    if (!out.empty()) out += '|';
    out += kClipEventNames[bit];
  }
  return out.empty() ? "none" : out;
}

void TSWFClipActionRecord::SetKeyCode(std::uint8_t value) {
  FKeyCode = value;
  if (value) {
    EventFlags |= ClipEventBit(ceKeyPress);
  } else {
    EventFlags &= ~ClipEventBit(ceKeyPress);
  }
}

TSWFClipActionRecord& TSWFClipActions::AddActions(std::uint32_t eventFlags, std::uint8_t keyCode) {
  auto record = std::make_unique<TSWFClipActionRecord>();
  record->EventFlags = eventFlags;
  record->SetKeyCode(keyCode);
  AllEventFlags |= record->EventFlags;
  ClipActionRecords.push_back(std::move(record));
  return *ClipActionRecords.back();
}

std::size_t TSWFClipActions::WritableCount() const {
  std::size_t n = 0;
  for (const auto& record : ClipActionRecords) {
    if (record->EventFlags & kClipEventsAll) ++n;
  }
  return n;
}

std::uint16_t TSWFClipActions::MinVersion() const {
  std::uint16_t v = (AllEventFlags & kClipEventsSWF6) ? 6 : 5;
  for (const auto& record : ClipActionRecords) {
    if (record->EventFlags & kClipEventsSWF6) v = std::max<std::uint16_t>(v, 6);
    v = std::max(v, ActionListMinVersion(record->Actions));
  }
  return v;
}

void TSWFClipActions::Write(TBitsEngine& be, std::uint8_t swfVersion) const {
  const std::uint32_t layout = LayoutEvents(swfVersion);
  be.FlushLastByte(true);
  be.WriteWord(0);
  // Every event a record answers is in the list's set, also after a record's events changed.
  std::uint32_t all = AllEventFlags;
  for (const auto& record : ClipActionRecords) all |= record->EventFlags;
  WriteEventFlags(be, all & layout, swfVersion);
  // Each record is laid out before its size is written, so the body is written in one pass.
  TMemoryStream part;
  TBitsEngine pe(part, be);
  for (const auto& record : ClipActionRecords) {
    const std::uint32_t events = record->EventFlags & layout;
    if (events == 0) continue;
    part.Clear();
    if (events & ClipEventBit(ceKeyPress)) pe.WriteByte(record->KeyCode());
    WriteActionBlock(pe, record->Actions);
    WriteEventFlags(be, events, swfVersion);
    be.WriteDWord(static_cast<std::uint32_t>(part.Size()));
    be.WriteBytes(part.Data(), static_cast<std::int64_t>(part.Size()));
  }
  if (swfVersion < 6) {
    be.WriteWord(0);
  } else {
    be.WriteDWord(0);
  }
}

bool TSWFClipActions::Read(TBitsEngine& be, std::uint64_t end, std::uint8_t swfVersion,
                           bool parseActions) {
  TBodyReader body(be, end, 26);
  bool any = false;
  bool raw = false;
  body.Word();  // reserved
  AllEventFlags = ReadEventFlags(body, swfVersion, raw);
  ClipActionRecords.clear();
  for (;;) {
    const std::uint32_t events = ReadEventFlags(body, swfVersion, raw);
    if (!raw) break;
    const std::uint32_t size = body.DWord();
    if (size > body.Remaining()) body.Fail("clip action record runs past the body");
    const std::uint64_t recordEnd = be.Stream.Position() + size;
    auto record = std::make_unique<TSWFClipActionRecord>();
    record->EventFlags = events;
    if (events & ClipEventBit(ceKeyPress)) {
      if (size < 1) body.Fail("clip action record has no room for its key code");
      record->FKeyCode = be.ReadByte();
    }
    ReadActionBlock(be, record->Actions, recordEnd, parseActions);
    be.Stream.SetPosition(recordEnd);
    ClipActionRecords.push_back(std::move(record));
    any = true;
  }
  return any;
}

void TSWFClipActions::Describe(TSWFDescription& d, int depth) const {
  for (const auto& record : ClipActionRecords) {
    std::string line = "on " + ClipEventNames(record->EventFlags);
    if (record->EventFlags & ClipEventBit(ceKeyPress)) {
      line += " key=" + std::to_string(record->KeyCode());
    }
    d.Line(line, depth);
    DescribeActionList(record->Actions, d, depth + 1);
  }
}

// ---- PlaceObject2 ----

TSWFClipActions& TSWFPlaceObject2::ClipActions() {
  if (!FClipActions) FClipActions.emplace();
  return *FClipActions;
}

TSWFColorTransform& TSWFPlaceObject2::ColorTransform() {
  if (!FColorTransform) {
    FColorTransform.emplace();
    // Neutral alpha: setting only the colour multipliers must not make the object invisible.
    FColorTransform->SetMultA(256);
    FColorTransform->HasMult = false;
  }
  return *FColorTransform;
}

TSWFMatrix& TSWFPlaceObject2::Matrix() {
  if (!FMatrix) FMatrix.emplace();
  return *FMatrix;
}

const std::string& TSWFPlaceObject2::Name() const {
  static const std::string kNone;
  return FName ? *FName : kNone;
}

void TSWFPlaceObject2::SetName(std::string v) {
  if (v.empty()) {
    FName.reset();
  } else {
    FName = std::move(v);
  }
}

void TSWFPlaceObject2::SetCharacterId(std::uint16_t value) {
  FCharacterId = value;
  FHasCharacter = true;
}

bool TSWFPlaceObject2::WritesClipActions() const {
  return FClipActions && FClipActions->WritableCount() > 0;
}

std::uint16_t TSWFPlaceObject2::MinVersion() const {
  if (!WritesClipActions()) return 3;
  const std::uint16_t v = SWFVersion < 6 ? 5 : SWFVersion;
  return std::max(v, FClipActions->MinVersion());
}

void TSWFPlaceObject2::ReadFromStream(TBitsEngine& be, TSWFReadContext& context) {
  SWFVersion = context.SWFVersion;
  ParseActions = context.ParseActions;
  ReadFromStream(be);
}

void TSWFPlaceObject2::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  const std::uint8_t flags = body.Byte();
  PlaceFlagMove = flags & 0x01;
  FHasCharacter = false;
  FClipActions.reset();
  FClipDepth.reset();
  FColorTransform.reset();
  FMatrix.reset();
  FName.reset();
  FRatio.reset();
  Depth = body.Word();
  if (flags & 0x02) SetCharacterId(body.Word());
  if (flags & 0x04) {
    Matrix().SetRec(be.ReadMatrix());
    body.Check();
  }
  if (flags & 0x08) {
    ColorTransform().SetRec(be.ReadColorTransform(true));
    body.Check();
  }
  if (flags & 0x10) SetRatio(body.Word());
  // A name stays present as read, even empty, so the body reads back as it was.
  if (flags & 0x20) FName = body.String();
  if (flags & 0x40) SetClipDepth(body.Word());
  if ((flags & 0x80) && !ClipActions().Read(be, body.End, SWFVersion, ParseActions)) {
    FClipActions.reset();
  }
}

void TSWFPlaceObject2::WriteTagBody(TBitsEngine& be) const {
  const bool clipActions = WritesClipActions();
  std::uint8_t flags = 0;
  if (clipActions) flags |= 0x80;
  if (FClipDepth) flags |= 0x40;
  if (FName) flags |= 0x20;
  if (FRatio) flags |= 0x10;
  if (FColorTransform) flags |= 0x08;
  if (FMatrix) flags |= 0x04;
  if (FHasCharacter) flags |= 0x02;
  if (PlaceFlagMove) flags |= 0x01;
  be.WriteByte(flags);
  be.WriteWord(Depth);
  if (FHasCharacter) be.WriteWord(FCharacterId);
  if (FMatrix) be.WriteMatrix(FMatrix->GetRec());
  if (FColorTransform) {
    TSWFColorTransformRec c = FColorTransform->GetRec();
    if (!c.HasAlpha) {
      // A transform given without alpha keeps the alpha channel as it is.
      c.HasAlpha = true;
      c.MultA = 256;
      c.AddA = 0;
    }
    be.WriteColorTransform(c);
  }
  if (FRatio) be.WriteWord(*FRatio);
  if (FName) be.WriteString(*FName);
  if (FClipDepth) be.WriteWord(*FClipDepth);
  if (clipActions) {
    // The layout of the movie being written (a reader of a version 7 movie reads the version 6
    // layout), never below what the clip actions need; the object itself is left as it is.
    const int movie = be.SWFVersion ? be.SWFVersion : SWFVersion;
    FClipActions->Write(be, static_cast<std::uint8_t>(std::max<int>(movie, MinVersion())));
  }
}

void TSWFPlaceObject2::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  if (FHasCharacter) ids.push_back(&FCharacterId);
}

void TSWFPlaceObject2::Describe(TSWFDescription& d) const {
  d.Field("depth", Depth);
  if (PlaceFlagMove) d.Field("move", "yes");
  if (FHasCharacter) d.Field("character", FCharacterId);
  if (FMatrix) d.Field("matrix", MatrixText(FMatrix->GetRec()));
  if (FColorTransform) d.Field("cxform", CxformText(FColorTransform->GetRec()));
  if (FRatio) d.Field("ratio", *FRatio);
  if (FName) d.Field("name", QuoteText(*FName));
  if (FClipDepth) d.Field("clipdepth", *FClipDepth);
  if (FClipActions) {
    d.Field("events", ClipEventNames(FClipActions->AllEventFlags));
    FClipActions->Describe(d, 0);
  }
}

// ---- RemoveObject, RemoveObject2 ----

void TSWFRemoveObject::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  CharacterId = body.Word();
  Depth = body.Word();
}

void TSWFRemoveObject::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(CharacterId);
  be.WriteWord(Depth);
}

void TSWFRemoveObject::ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) {
  ids.push_back(&CharacterId);
}

void TSWFRemoveObject::Describe(TSWFDescription& d) const {
  d.Field("depth", Depth);
  d.Field("character", CharacterId);
}

void TSWFRemoveObject2::ReadFromStream(TBitsEngine& be) {
  TBodyReader body(be, *this);
  Depth = body.Word();
}

void TSWFRemoveObject2::WriteTagBody(TBitsEngine& be) const {
  be.WriteWord(Depth);
}

void TSWFRemoveObject2::Describe(TSWFDescription& d) const {
  d.Field("depth", Depth);
}

}  // namespace kestrova
