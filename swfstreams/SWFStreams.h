// SWF files: the header, plain and zlib-compressed bodies, and the reader that indexes the tags of
// a loaded file, turns them into tag objects, renumbers their characters and rebuilds the body.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "swfobjects/SWFObjects.h"
#include "swfobjects/TagListReader.h"
#include "swftools/SWFTools.h"
#include "swftools/Stream.h"

namespace kestrova {

class TBasedSWFStream;
// Progress stages: 0 parsing tags, 1 writing tags, 2 compressing the body.
using TProgressEvent = std::function<void(TBasedSWFStream& sender, int percent, int stage)>;

class TBasedSWFStream {
 public:
  TBasedSWFStream() = default;
  // The frame is given in pixels when inPixels (scaled by 20 into twips), else in twips.
  TBasedSWFStream(std::int32_t xMin, std::int32_t yMin, std::int32_t xMax, std::int32_t yMax,
                  float fps, bool inPixels);
  virtual ~TBasedSWFStream() = default;
  TBasedSWFStream(const TBasedSWFStream&) = delete;
  TBasedSWFStream& operator=(const TBasedSWFStream&) = delete;

  // Fills (or rebuilds) Body.
  virtual void MakeStream() = 0;

  // Saves through SaveFileSafely (swftools/SafeFile.h): a failed save leaves any earlier file
  // whole. Throws EStreamError naming the file when it cannot be written.
  void SaveToFile(const std::string& fileName);
  void SaveToStream(TStream& stream);
  // Writes the file as SaveToStream does, with a body of bodySize bytes that writeBody puts into
  // the stream it is given (plain, or the compressing stream): the body need not be in memory.
  // Throws std::logic_error when writeBody writes another number of bytes.
  void SaveToStream(TStream& stream, std::uint64_t bodySize,
                    const std::function<void(TStream& body)>& writeBody);
  // part 0: all of it; 1: the 8 leading bytes; 2: frame size, rate and count.
  void WriteHeader(TStream& stream, int part);
  std::uint32_t HeaderSize() const;

  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool v);
  std::uint8_t Version() const { return FVersion; }
  void SetVersion(std::uint8_t v);
  bool InPixels() const { return FInPixels; }
  void SetInPixels(bool v);
  std::uint8_t CoordFactor() const { return FCoordFactor; }
  float GetFPS() const { return WordToSingle(FPS); }
  void SetFPS(float x) { FPS = SingleToWord(x); }
  const char* Signature() const { return FSignature; }
  std::uint32_t FileLength() const { return FFileLength; }

  // The body in memory; a reader whose body stays in its file reads it in first (see
  // TSWFStreamReader::Body).
  virtual TMemoryStream& Body() { return *FBody; }
  TProgressEvent OnProgress;
  TRect FrameSize;        // twips
  std::uint16_t FPS = 0;  // 8.8 fixed
  std::uint16_t FrameCount = 0;

 protected:
  std::unique_ptr<TMemoryStream> FBody = std::make_unique<TMemoryStream>();
  bool FCompressed = false;
  std::uint8_t FCoordFactor = 1;
  bool FInPixels = false;
  char FSignature[4] = {0, 0, 0, 0};
  std::uint8_t FVersion = 5;
  std::uint32_t FFileLength = 0;
};

// One tag of a loaded body. Positions, lengths and frame numbers are 64-bit: any movie the format
// allows fits.
class TSWFTagInfo {
 public:
  // createObject: make the tag object at once through the factory.
  TSWFTagInfo(std::uint16_t tagID, bool createObject);
  std::int64_t Length = 0;
  std::int64_t FrameNum = 0;
  bool LongHeader = false;
  std::int64_t Position = 0;
  // For DefineSprite: one entry per tag inside the sprite, whose objects the sprite owns.
  std::vector<std::unique_ptr<TSWFTagInfo>> SubTags;
  // The parsed tag of a top-level entry, or none (a code without a class, or not parsed).
  std::unique_ptr<TSWFObject> SWFObject;
  // For an entry inside a sprite: the sprite's own object.
  TSWFObject* InnerObject = nullptr;
  // The code stored in the file, also for a tag that could not be read.
  std::int16_t TagID = 0;

  TSWFObject* Object() const { return InnerObject ? InnerObject : SWFObject.get(); }
  // The error tag standing in for a body that could not be read (it keeps the stored bytes and
  // the reason), or null.
  const TSWFErrorTag* Error() const;
  // Record header and body.
  std::int64_t StoredSize() const { return Length + 2 + (LongHeader ? 4 : 0); }
};

class TSWFStreamReader : public TBasedSWFStream {
 public:
  // Loads the file when the name is not empty.
  explicit TSWFStreamReader(const std::string& fileName = "");

  bool IsValid = false;
  // The memory budget of loading and parsing: the body and an estimate of the index and the tag
  // objects may take this many bytes; beyond it LoadFromStream or ParseTags throws
  // EMemoryBudgetExceeded and keeps nothing of the pass.
  std::uint64_t MemoryLimit = TSWFReadContext::kDefaultMemoryLimit;
  // What loading found odd but read anyway (a compressed file whose header claims a length its
  // data does not hold), one line each.
  std::vector<std::string> Warnings;
  std::function<void(TSWFTagInfo& info, bool& accept)> OnCreateTagObject;
  std::function<void(TSWFObject& obj, bool& accept)> OnChangeIDFilter;
  std::vector<std::unique_ptr<TSWFTagInfo>> TagList;

  // Opens the file and reads its header; the body stays in the file and is read where it lies as
  // it is needed (seeking in a plain file, inflating forward in a compressed one), so a movie of
  // any size loads in memory that does not depend on its size. A compressed body is inflated
  // once here to learn its real size and damage (the warnings LoadFromStream gives). The file is
  // held open until the body is read in (Body, ParseTags with objects, MakeStream) or the reader
  // goes. Throws as LoadFromStream, and EStreamError when the file cannot be opened.
  void LoadFromFile(const std::string& fileName);
  // Loads a plain or compressed SWF file from the stream. A stream that is not a SWF file, or too
  // short to hold the whole header, loads nothing (IsValid false). A compressed file loads what
  // its zlib data really holds, whatever length its header claims (a difference, or zlib data cut
  // short or damaged after some bytes, adds a warning). Throws EZlibError when the zlib data
  // yields not even the header, EMemoryBudgetExceeded when the body passes MemoryLimit.
  // The body is read into memory: a compressed one is inflated twice (first only counted), so
  // its buffer is sized once and never passes MemoryLimit, whatever the data inflates to.
  void LoadFromStream(TStream& stream);
  bool CheckHeader(TStream& stream);
  // Returns the number of bytes it advanced.
  std::uint64_t ReadHeader(TStream& stream, int part);
  // Indexes the body and reads the tags. A tag that cannot be read becomes a TSWFErrorTag that
  // keeps its stored bytes. Throws EMemoryBudgetExceeded (TagList left empty) when the index and
  // the objects would pass MemoryLimit. With objects the whole movie is held, so a body still in
  // its file is read in first (Body); the index alone reads the file where it lies.
  void ParseTags(bool createObjects = true, bool parseActions = true);
  TSWFTagInfo& GetTagInfo(std::size_t index) { return *TagList.at(index); }
  // The settings of a reading pass over this movie; one context serves a whole pass, in file
  // order (a font info tag needs the glyph count of the font read before it).
  TSWFReadContext NewReadContext(bool parseActions) const;
  // Reads the tag of an entry of an index (ParseTags without objects) from the body, as ParseTags
  // would have: the caller owns the result, which is null for a code without a class or a body
  // cut by the end of the file. When stored is given it receives the entry's stored bytes (record
  // header and body, as far as the body holds them), so a caller that keeps them need not read
  // the file again. Throws EMemoryBudgetExceeded past the context's budget (a body in its file
  // charges the stored bytes too), EStreamError when the file cannot be read.
  std::unique_ptr<TSWFObject> ReadTagObject(const TSWFTagInfo& info, TSWFReadContext& context,
                                            std::vector<std::uint8_t>* stored = nullptr);
  // Gives an entry of an index its tag object and, for a sprite, the entries of the sprite's
  // inner tags, as ParseTags would have made them. Resetting the entry's SWFObject and SubTags
  // undoes it. Throws EMemoryBudgetExceeded past the context's budget.
  void ReadEntry(TSWFTagInfo& info, TSWFReadContext& context);
  // Rebuilds the body from TagList. When the loaded file was before version 6 and Version() is
  // now 6 or later, the tags' strings are written as UTF-8.
  // A body still in its file is copied from it as far as the tags have no objects.
  void MakeStream() override;
  // The body in memory. A body still in its file (LoadFromFile) is read in first; throws
  // EMemoryBudgetExceeded when it passes MemoryLimit, EStreamError when it cannot be read.
  TMemoryStream& Body() override;
  // The body wherever it is, as a seekable read-only stream (positions from the body's start);
  // reading it throws EStreamError when the file cannot be read. Valid until the body moves
  // (Body, ParseTags with objects, MakeStream, another load).
  TStream& BodyStream();
  std::uint64_t BodySize() const;
  // Bytes of the body held in memory: what a reading pass charges for it.
  std::uint64_t BodyHeld() const { return FSource ? 0 : FBody->Size(); }
  bool BodyInFile() const { return FSource != nullptr; }
  // The version byte of the loaded file (0: nothing loaded).
  std::uint8_t LoadedVersion() const { return FLoadedVersion; }
  // Bytes at the end of the body too few to form a record header; kept by MakeStream.
  std::uint64_t TrailingBytes() const { return FTrailingSize; }
  // Renumbers the loaded movie's characters from baseID; returns the next free identifier.
  std::uint16_t ChangeCharacterIDs(std::uint16_t baseID);

 private:
  // keepBody: into Body (within MemoryLimit); otherwise only counted. Returns the body's size;
  // headerRest receives the header's bytes inside the zlib data.
  std::uint64_t LoadCompressed(TStream& stream, bool keepBody, std::uint64_t* headerRest = nullptr);
  // The body's stream when it stays in the file; null when the body is in memory.
  std::unique_ptr<TStream> FSource;
  // The policy of the body's tag list; each record is charged for its index entry.
  static TTagListPolicy IndexPolicy();
  std::uint64_t FTrailingSize = 0;
  // The version byte of the loaded file (0: nothing loaded). Strings of a file before version 6
  // are Windows-1252: MakeStream converts them when the movie is written as version 6 or later.
  std::uint8_t FLoadedVersion = 0;
};

}  // namespace kestrova
