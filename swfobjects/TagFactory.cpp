#include <array>
#include <typeinfo>

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

// Copies, assignments and comparisons go through each class's compiler-made operations; the
// catalogue says which class a code has, and typeid makes sure the object really is of it.
#define KESTROVA_SKIP_PENDING(code, cls, name, minVersion, traits, decoded)

std::unique_ptr<TSWFObject> CloneTag(const TSWFObject& tag) {
  if (typeid(tag) == typeid(TSWFErrorTag)) {
    return std::make_unique<TSWFErrorTag>(static_cast<const TSWFErrorTag&>(tag));
  }
#define KESTROVA_CLONE_BUILT(code, cls, name, minVersion, traits, decoded)                      \
  case code:                                                                                    \
    if (typeid(tag) == typeid(cls)) return std::make_unique<cls>(static_cast<const cls&>(tag)); \
    break;
  switch (tag.TagID) {
    KESTROVA_TAG_CATALOGUE(KESTROVA_CLONE_BUILT, KESTROVA_SKIP_PENDING)
    default:
      break;
  }
  throw std::invalid_argument(std::string("Cannot copy a tag of class ") + typeid(tag).name() +
                              " and code " + std::to_string(tag.TagID));
}

std::unique_ptr<TSWFObject> TSWFObject::Clone() const {
  return CloneTag(*this);
}

void TSWFObject::Assign(const TBasedSWFObject& source) {
  const TSWFObject& s = SameClass(source, *this);
  if (typeid(*this) == typeid(TSWFErrorTag)) {
    static_cast<TSWFErrorTag&>(*this) = static_cast<const TSWFErrorTag&>(s);
    return;
  }
#define KESTROVA_ASSIGN_BUILT(code, cls, name, minVersion, traits, decoded) \
  case code:                                                                \
    if (typeid(*this) == typeid(cls)) {                                     \
      static_cast<cls&>(*this) = static_cast<const cls&>(s);                \
      return;                                                               \
    }                                                                       \
    break;
  switch (TagID) {
    KESTROVA_TAG_CATALOGUE(KESTROVA_ASSIGN_BUILT, KESTROVA_SKIP_PENDING)
    default:
      break;
  }
  // A class outside the catalogue (a test double): the fields every tag has.
  *this = s;
}

bool TSWFObject::Equals(const TSWFObject& other) const {
  if (typeid(other) != typeid(*this)) return false;
  if (typeid(*this) == typeid(TSWFErrorTag)) {
    return static_cast<const TSWFErrorTag&>(*this) == static_cast<const TSWFErrorTag&>(other);
  }
#define KESTROVA_EQUALS_BUILT(code, cls, name, minVersion, traits, decoded)    \
  case code:                                                                   \
    if (typeid(*this) == typeid(cls)) {                                        \
      return static_cast<const cls&>(*this) == static_cast<const cls&>(other); \
    }                                                                          \
    break;
  switch (TagID) {
    KESTROVA_TAG_CATALOGUE(KESTROVA_EQUALS_BUILT, KESTROVA_SKIP_PENDING)
    default:
      break;
  }
  return *this == other;
}

}  // namespace kestrova
