#include "swfobjects/SWFObjects.h"

namespace kestrova {

#define KESTROVA_ROW_BUILT(code, cls, name, minVersion) {code, #cls, name, minVersion, true},
#define KESTROVA_ROW_PENDING(code, cls, name, minVersion) {code, #cls, name, minVersion, false},
const TTagCatalogueRow kTagCatalogue[] = {
    KESTROVA_TAG_CATALOGUE(KESTROVA_ROW_BUILT, KESTROVA_ROW_PENDING)};
const std::size_t kTagCatalogueSize = sizeof kTagCatalogue / sizeof kTagCatalogue[0];

std::unique_ptr<TSWFObject> CreateTagByID(std::uint16_t tagID) {
#define KESTROVA_CREATE_BUILT(code, cls, name, minVersion) \
  case code:                                               \
    return std::make_unique<cls>();
#define KESTROVA_CREATE_PENDING(code, cls, name, minVersion)
  switch (tagID) {
    KESTROVA_TAG_CATALOGUE(KESTROVA_CREATE_BUILT, KESTROVA_CREATE_PENDING)
    default:
      return nullptr;
  }
}

const char* TagName(std::uint16_t tagID) {
  if (tagID == TSWFErrorTag::kTagID) return "ErrorTag";
  for (const auto& row : kTagCatalogue) {
    if (row.Code == tagID) return row.Name;
  }
  return "Unknown";
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
