// The one table of SWF tag codes this library knows: code, class, name, lowest MinVersion.
// BUILT rows have a class; PENDING rows name a class that is not written yet. The factory, the
// names in messages and the catalogue test are all made from this table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#define KESTROVA_TAG_CATALOGUE(BUILT, PENDING)                      \
  BUILT(0, TSWFEnd, "End", 1)                                       \
  BUILT(1, TSWFShowFrame, "ShowFrame", 1)                           \
  BUILT(2, TSWFDefineShape, "DefineShape", 1)                       \
  BUILT(4, TSWFPlaceObject, "PlaceObject", 1)                       \
  BUILT(5, TSWFRemoveObject, "RemoveObject", 1)                     \
  BUILT(6, TSWFDefineBits, "DefineBits", 1)                         \
  BUILT(7, TSWFDefineButton, "DefineButton", 3)                     \
  BUILT(8, TSWFJPEGTables, "JPEGTables", 1)                         \
  BUILT(9, TSWFSetBackgroundColor, "SetBackgroundColor", 1)         \
  BUILT(10, TSWFDefineFont, "DefineFont", 1)                        \
  BUILT(11, TSWFDefineText, "DefineText", 1)                        \
  BUILT(12, TSWFDoAction, "DoAction", 3)                            \
  BUILT(13, TSWFDefineFontInfo, "DefineFontInfo", 1)                \
  BUILT(14, TSWFDefineSound, "DefineSound", 1)                      \
  BUILT(15, TSWFStartSound, "StartSound", 1)                        \
  BUILT(17, TSWFDefineButtonSound, "DefineButtonSound", 2)          \
  BUILT(18, TSWFSoundStreamHead, "SoundStreamHead", 1)              \
  BUILT(19, TSWFSoundStreamBlock, "SoundStreamBlock", 1)            \
  BUILT(20, TSWFDefineBitsLossless, "DefineBitsLossless", 2)        \
  BUILT(21, TSWFDefineBitsJPEG2, "DefineBitsJPEG2", 2)              \
  BUILT(22, TSWFDefineShape2, "DefineShape2", 2)                    \
  BUILT(23, TSWFDefineButtonCxform, "DefineButtonCxform", 2)        \
  BUILT(24, TSWFProtect, "Protect", 2)                              \
  BUILT(26, TSWFPlaceObject2, "PlaceObject2", 3)                    \
  BUILT(28, TSWFRemoveObject2, "RemoveObject2", 3)                  \
  BUILT(32, TSWFDefineShape3, "DefineShape3", 3)                    \
  BUILT(33, TSWFDefineText2, "DefineText2", 3)                      \
  BUILT(34, TSWFDefineButton2, "DefineButton2", 3)                  \
  BUILT(35, TSWFDefineBitsJPEG3, "DefineBitsJPEG3", 3)              \
  BUILT(36, TSWFDefineBitsLossless2, "DefineBitsLossless2", 3)      \
  BUILT(37, TSWFDefineEditText, "DefineEditText", 4)                \
  BUILT(39, TSWFDefineSprite, "DefineSprite", 3)                    \
  BUILT(43, TSWFFrameLabel, "FrameLabel", 3)                        \
  BUILT(45, TSWFSoundStreamHead2, "SoundStreamHead2", 1)            \
  BUILT(46, TSWFDefineMorphShape, "DefineMorphShape", 3)            \
  BUILT(48, TSWFDefineFont2, "DefineFont2", 3)                      \
  BUILT(56, TSWFExportAssets, "ExportAssets", 5)                    \
  BUILT(57, TSWFImportAssets, "ImportAssets", 5)                    \
  BUILT(58, TSWFEnableDebugger, "EnableDebugger", 5)                \
  BUILT(59, TSWFDoInitAction, "DoInitAction", 6)                    \
  BUILT(60, TSWFDefineVideoStream, "DefineVideoStream", 6)          \
  BUILT(61, TSWFVideoFrame, "VideoFrame", 6)                        \
  BUILT(62, TSWFDefineFontInfo2, "DefineFontInfo2", 6)              \
  BUILT(64, TSWFEnableDebugger2, "EnableDebugger2", 6)              \
  BUILT(65, TSWFScriptLimits, "ScriptLimits", 7)                    \
  BUILT(66, TSWFSetTabIndex, "SetTabIndex", 7)

namespace kestrova {

class TSWFObject;

struct TTagCatalogueRow {
  std::uint16_t Code;
  const char* ClassName;
  const char* Name;
  std::uint16_t MinVersion;
  bool Built;
};

// Every row of the catalogue, in code order, and its size.
extern const TTagCatalogueRow kTagCatalogue[];
extern const std::size_t kTagCatalogueSize;

// A new default object of the catalogued class, or null for a code without a class (240, the
// error placeholder, is made only by the reader).
std::unique_ptr<TSWFObject> CreateTagByID(std::uint16_t tagID);
// The tag's name ("DefineShape"), "ErrorTag" for 240, or "Unknown" for codes without a class.
const char* TagName(std::uint16_t tagID);
// A deep copy of a tag: a new object of the same code with Assign from the original.
std::unique_ptr<TSWFObject> CloneTag(const TSWFObject& tag);

}  // namespace kestrova
