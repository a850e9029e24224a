#include <array>

#include "swfobjects/SWFObjects.h"

namespace kestrova {

#define KESTROVA_ROW_BUILT(code, cls, name, minVersion, traits, decoded) \
  {code, #cls, name, minVersion, true, traits, decoded, ((traits)&kAlwaysLong) != 0},
#define KESTROVA_ROW_PENDING(code, cls, name, minVersion, traits, decoded) \
  {code, #cls, name, minVersion, false, traits, decoded, ((traits)&kAlwaysLong) != 0},
const TTagCatalogueRow kTagCatalogue[] = {
    KESTROVA_TAG_CATALOGUE(KESTROVA_ROW_BUILT, KESTROVA_ROW_PENDING)};
const std::size_t kTagCatalogueSize = sizeof kTagCatalogue / sizeof kTagCatalogue[0];

std::unique_ptr<TSWFObject> CreateTagByID(std::uint16_t tagID) {
#define KESTROVA_CREATE_BUILT(code, cls, name, minVersion, traits, decoded) \
  case code:                                                                \
    return std::make_unique<cls>();
#define KESTROVA_CREATE_PENDING(code, cls, name, minVersion, traits, decoded)
  switch (tagID) {
    KESTROVA_TAG_CATALOGUE(KESTROVA_CREATE_BUILT, KESTROVA_CREATE_PENDING)
    default:
      return nullptr;
  }
}

const TTagCatalogueRow* FindTagRow(std::uint16_t tagID) {
  // Codes are few and small: a table indexed by code, made once.
  static const auto index = [] {
    std::array<const TTagCatalogueRow*, 256> rows{};
    for (const auto& row : kTagCatalogue) rows[row.Code] = &row;
    return rows;
  }();
  return tagID < index.size() ? index[tagID] : nullptr;
}

std::uint64_t DecodedBytesPerBodyByte(const TTagCatalogueRow& row, bool parseActions) {
  if (row.Has(kActions) && !parseActions) return 2;
  return row.DecodedPerByte;
}

const char* TagName(std::uint16_t tagID) {
  const TTagCatalogueRow* row = FindTagRow(tagID);
  return row ? row->Name : "Unknown";
}

std::unique_ptr<TSWFObject> CloneTag(const TSWFObject& tag) {
  std::unique_ptr<TSWFObject> copy;
  if (tag.TagID == TSWFErrorTag::kTagID) {
    copy = std::make_unique<TSWFErrorTag>();
  } else {
    copy = CreateTagByID(tag.TagID);
  }
  if (!copy)
    throw std::invalid_argument("Cannot copy a tag of unknown code " + std::to_string(tag.TagID));
  copy->Assign(tag);
  return copy;
}

}  // namespace kestrova
