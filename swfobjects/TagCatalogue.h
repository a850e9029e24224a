// The one table of SWF tag codes this library knows: code, class, name, lowest MinVersion.
// BUILT rows have a class; PENDING rows name a class that is not written yet. The factory, the
// names in messages, the framing, the renumbering and the catalogue test are all made from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Columns: code, class, name, lowest MinVersion, traits (TTagTrait bits), and the estimated bytes
// of memory the decoded fields take per body byte (1 for raw data blocks, 16 for records, 64 for
// action lists, whose one-byte actions become objects; 1 for sprites, whose inner tags count for
// themselves), which the reader's memory budget uses.
#define KESTROVA_TAG_CATALOGUE(BUILT, PENDING)                                            \
  BUILT(0, TSWFEnd, "End", 1, kInSprite, 16)                                              \
  BUILT(1, TSWFShowFrame, "ShowFrame", 1, kInSprite, 16)                                  \
  BUILT(2, TSWFDefineShape, "DefineShape", 1, kDefines | kRefers, 16)                     \
  BUILT(4, TSWFPlaceObject, "PlaceObject", 1, kInSprite | kRefers, 16)                    \
  BUILT(5, TSWFRemoveObject, "RemoveObject", 1, kInSprite | kRefers, 16)                  \
  BUILT(6, TSWFDefineBits, "DefineBits", 1, kDefines, 1)                                  \
  BUILT(7, TSWFDefineButton, "DefineButton", 3, kDefines | kRefers | kActions, 64)        \
  BUILT(8, TSWFJPEGTables, "JPEGTables", 1, 0, 1)                                         \
  BUILT(9, TSWFSetBackgroundColor, "SetBackgroundColor", 1, 0, 16)                        \
  BUILT(10, TSWFDefineFont, "DefineFont", 1, kDefines, 16)                                \
  BUILT(11, TSWFDefineText, "DefineText", 1, kDefines | kRefers, 16)                      \
  BUILT(12, TSWFDoAction, "DoAction", 3, kInSprite | kActions, 64)                        \
  BUILT(13, TSWFDefineFontInfo, "DefineFontInfo", 1, kRefers, 16)                         \
  BUILT(14, TSWFDefineSound, "DefineSound", 1, kDefines, 1)                               \
  BUILT(15, TSWFStartSound, "StartSound", 1, kInSprite | kRefers, 16)                     \
  BUILT(17, TSWFDefineButtonSound, "DefineButtonSound", 2, kRefers, 16)                   \
  BUILT(18, TSWFSoundStreamHead, "SoundStreamHead", 1, kInSprite, 16)                     \
  BUILT(19, TSWFSoundStreamBlock, "SoundStreamBlock", 1, kInSprite, 1)                    \
  BUILT(20, TSWFDefineBitsLossless, "DefineBitsLossless", 2, kAlwaysLong | kDefines, 1)   \
  BUILT(21, TSWFDefineBitsJPEG2, "DefineBitsJPEG2", 2, kDefines, 1)                       \
  BUILT(22, TSWFDefineShape2, "DefineShape2", 2, kDefines | kRefers, 16)                  \
  BUILT(23, TSWFDefineButtonCxform, "DefineButtonCxform", 2, kRefers, 16)                 \
  BUILT(24, TSWFProtect, "Protect", 2, 0, 16)                                             \
  BUILT(26, TSWFPlaceObject2, "PlaceObject2", 3, kInSprite | kRefers | kActions, 64)      \
  BUILT(28, TSWFRemoveObject2, "RemoveObject2", 3, kInSprite, 16)                         \
  BUILT(32, TSWFDefineShape3, "DefineShape3", 3, kDefines | kRefers, 16)                  \
  BUILT(33, TSWFDefineText2, "DefineText2", 3, kDefines | kRefers, 16)                    \
  BUILT(34, TSWFDefineButton2, "DefineButton2", 3, kDefines | kRefers | kActions, 64)     \
  BUILT(35, TSWFDefineBitsJPEG3, "DefineBitsJPEG3", 3, kDefines, 1)                       \
  BUILT(36, TSWFDefineBitsLossless2, "DefineBitsLossless2", 3, kAlwaysLong | kDefines, 1) \
  BUILT(37, TSWFDefineEditText, "DefineEditText", 4, kDefines | kRefers, 16)              \
  BUILT(39, TSWFDefineSprite, "DefineSprite", 3, kDefines | kRefers, 1)                   \
  BUILT(43, TSWFFrameLabel, "FrameLabel", 3, kInSprite, 16)                               \
  BUILT(45, TSWFSoundStreamHead2, "SoundStreamHead2", 1, kInSprite, 16)                   \
  BUILT(46, TSWFDefineMorphShape, "DefineMorphShape", 3, kDefines | kRefers, 16)          \
  BUILT(48, TSWFDefineFont2, "DefineFont2", 3, kDefines, 16)                              \
  BUILT(56, TSWFExportAssets, "ExportAssets", 5, kRefers, 16)                             \
  BUILT(57, TSWFImportAssets, "ImportAssets", 5, kDefines, 16)                            \
  BUILT(58, TSWFEnableDebugger, "EnableDebugger", 5, 0, 16)                               \
  BUILT(59, TSWFDoInitAction, "DoInitAction", 6, kRefers | kActions, 64)                  \
  BUILT(60, TSWFDefineVideoStream, "DefineVideoStream", 6, kAlwaysLong | kDefines, 16)    \
  BUILT(61, TSWFVideoFrame, "VideoFrame", 6, kInSprite | kRefers, 1)                      \
  BUILT(62, TSWFDefineFontInfo2, "DefineFontInfo2", 6, kRefers, 16)                       \
  BUILT(64, TSWFEnableDebugger2, "EnableDebugger2", 6, 0, 16)                             \
  BUILT(65, TSWFScriptLimits, "ScriptLimits", 7, 0, 16)                                   \
  BUILT(66, TSWFSetTabIndex, "SetTabIndex", 7, 0, 16)

namespace kestrova {

class TSWFObject;

// Properties of a tag code, as bits of the catalogue's traits column.
enum TTagTrait : std::uint8_t {
  kAlwaysLong = 1,  // framed with the long record header whatever its length
  kInSprite = 2,    // may stand in a sprite's timeline
  kDefines = 4,     // defines a character
  kRefers = 8,      // refers to characters
  kActions = 16,    // carries action records
};

struct TTagCatalogueRow {
  std::uint16_t Code;
  const char* ClassName;
  const char* Name;
  std::uint16_t MinVersion;
  bool Built;
  std::uint8_t Traits;
  std::uint8_t DecodedPerByte;
  bool AlwaysLongHeader;
  bool Has(TTagTrait trait) const { return (Traits & trait) != 0; }
};

// Every row of the catalogue, in code order, and its size.
extern const TTagCatalogueRow kTagCatalogue[];
extern const std::size_t kTagCatalogueSize;

// The catalogue's row for a code, or null for a code without one.
const TTagCatalogueRow* FindTagRow(std::uint16_t tagID);
// Estimated bytes of memory per body byte of a parsed tag (action tags read unparsed keep raw
// bytes).
std::uint64_t DecodedBytesPerBodyByte(const TTagCatalogueRow& row, bool parseActions);

// A new default object of the catalogued class, or null for a code without a class (240, the
// error placeholder, is made only by the reader).
std::unique_ptr<TSWFObject> CreateTagByID(std::uint16_t tagID);
// The tag's name ("DefineShape"), or "Unknown" for codes without a class (240 included: the
// error tag's code is never a catalogued tag).
const char* TagName(std::uint16_t tagID);
// A deep copy of a tag in its own class (TSWFObject::Clone); throws std::invalid_argument for a
// class the catalogue does not know. The caller owns the copy.
std::unique_ptr<TSWFObject> CloneTag(const TSWFObject& tag);

}  // namespace kestrova
