#include "swfobjects/TagListReader.h"

#include <algorithm>
#include <string>

#include "swfobjects/ControlTags.h"
#include "swfobjects/TagCatalogue.h"

namespace kestrova {

TTagListPolicy TTagListPolicy::TopLevel() {
  return {};
}

TTagListPolicy TTagListPolicy::Sprite() {
  TTagListPolicy policy;
  policy.Owner = "DefineSprite";
  policy.AllowedTrait = kInSprite;
  policy.KeepUnknown = true;
  policy.EndTagEnds = true;
  policy.FramingIsStrict = true;
  policy.Nested = true;
  return policy;
}

TTagListReader::TTagListReader(TStream& list, TSWFReadContext& context,
                               const TTagListPolicy& policy)
    : FList(list), FContext(context), FPolicy(policy), FNext(list.Position()) {
  if (!FPolicy.Nested) return;
  if (FContext.SpriteDepth > FPolicy.MaxNesting) {
    throw std::runtime_error(std::string(FPolicy.Owner) + ": sprites nested too deeply");
  }
  ++FContext.SpriteDepth;
  FNested = true;
}

TTagListReader::~TTagListReader() {
  if (FNested) --FContext.SpriteDepth;
}

bool TTagListReader::NextHeader(TTagRecord& record) {
  record.Object.reset();
  if (FEnded) return false;
  const std::uint64_t size = FList.Size();
  // The caller may have used the stream between records (windows over it move its position).
  FList.SetPosition(FNext);
  record.Position = FNext;
  if (record.Position >= size && !FPolicy.FramingIsStrict) return false;
  if (!ReadRecordHeader(FList, record.Header)) {
    if (FPolicy.FramingIsStrict) {
      throw std::runtime_error(std::string(FPolicy.Owner) +
                               ": the timeline ends without an End tag");
    }
    // A header cut by the end is not a tag: the list ends there, and its owner keeps the bytes.
    FTrailing = size - record.Position;
    return false;
  }
  FContext.Charge(FPolicy.EntryCost);
  const std::uint64_t bodyStart = FList.Position();
  FNext = bodyStart;
  record.BodyComplete = record.Header.Length <= size - std::min(bodyStart, size);
  if (!record.BodyComplete && FPolicy.FramingIsStrict) {
    const std::uint16_t code = record.Header.TagID;
    throw std::runtime_error(std::string(FPolicy.Owner) + ": inner " + TagName(code) + " (code " +
                             std::to_string(code) + ") at sprite offset " +
                             std::to_string(record.Position) + " runs past the sprite's end");
  }
  return true;
}

void TTagListReader::ReadBody(TTagRecord& record, bool createObject) {
  const std::uint64_t bodyStart = record.BodyStart();
  const std::uint64_t size = FList.Size();
  if (FPolicy.EndTagEnds && record.Header.TagID == 0) {
    // Whatever length an End tag claims, it ends the list: writing always puts a bare End last,
    // so a rewritten list reads back the same tags.
    if (createObject) record.Object = std::make_unique<TSWFEnd>();
    FEnded = true;
    return;
  }
  if (createObject && record.BodyComplete) record.Object = ReadObject(record);
  FNext = std::min(bodyStart + record.Header.Length, size);
  FList.SetPosition(FNext);
}

bool TTagListReader::Next(TTagRecord& record) {
  if (!NextHeader(record)) return false;
  ReadBody(record, true);
  return true;
}

std::unique_ptr<TSWFObject> TTagListReader::ReadObject(const TTagRecord& record) {
  TStreamWindow body(FList, record.BodyStart(), record.Header.Length);
  const std::uint16_t code = record.Header.TagID;
  const TTagCatalogueRow* row = FindTagRow(code);
  if (FPolicy.RefuseDisallowed && FPolicy.AllowedTrait != 0 && row &&
      !row->Has(static_cast<TTagTrait>(FPolicy.AllowedTrait))) {
    auto raw = std::make_unique<TSWFErrorTag>();
    FContext.Charge(128 + record.Header.Length);
    raw->FailedTagID = code;
    raw->ErrorMessage = std::string(FPolicy.Owner) + ": " + TagName(code) + " (code " +
                        std::to_string(code) + ") is not allowed here";
    raw->StoredLongHeader = record.Header.LongHeader;
    raw->StoredBody = body.ReadBytes(static_cast<std::size_t>(body.Size()));
    raw->BodySize = static_cast<std::int32_t>(raw->StoredBody.size());
    return raw;
  }
  return ReadStoredTag(record.Header, body, FContext, FPolicy.KeepUnknown);
}

void ReadTagList(TStream& list, TSWFReadContext& context, const TTagListPolicy& policy,
                 TSWFObjectList& tags) {
  TTagListReader reader(list, context, policy);
  TTagRecord record;
  while (reader.Next(record)) tags.push_back(std::move(record.Object));
}

}  // namespace kestrova
