#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

class TMovie : public TBasedSWFStream {
 public:
  using TBasedSWFStream::TBasedSWFStream;
  TSWFObjectList Tags;
  void MakeStream() override {
    FBody->Clear();
    TBitsEngine be(*FBody);
    for (auto& tag : Tags) tag->WriteToStream(be);
  }
};

Bytes Saved(TBasedSWFStream& s) {
  TMemoryStream m;
  s.SaveToStream(m);
  return m.Bytes();
}

// A movie with a background, three frames and an End tag, sized to need a long header somewhere.
std::unique_ptr<TMovie> SampleMovie() {
  auto movie = std::make_unique<TMovie>(0, 0, 550, 400, 12, true);
  auto bg = std::make_unique<TSWFSetBackgroundColor>();
  bg->BackgroundColor().SetRGB(SWFRGB(10, 20, 30));
  movie->Tags.push_back(std::move(bg));
  for (int i = 0; i < 3; ++i) movie->Tags.push_back(std::make_unique<TSWFShowFrame>());
  movie->Tags.push_back(std::make_unique<TSWFEnd>());
  movie->FrameCount = 3;
  movie->MakeStream();
  return movie;
}

std::unique_ptr<TSWFStreamReader> Loaded(const Bytes& file) {
  auto reader = std::make_unique<TSWFStreamReader>();
  TMemoryStream m(file);
  reader->LoadFromStream(m);
  return reader;
}

TEST(SWFFile, EmptyMovieIs13Bytes) {
  TMovie movie;
  EXPECT_EQ(Saved(movie), (Bytes{'F', 'W', 'S', 0x05, 0x0D, 0x00, 0x00, 0x00, /* RECT */ 0x00,
                                 /* fps */ 0x00, 0x00, /* frames */ 0x00, 0x00}));
}

TEST(SWFFile, FullConstructorAndHeaderGolden) {
  TMovie movie(0, 0, 550, 400, 12, true);
  EXPECT_EQ(movie.FrameSize, (TRect{0, 0, 11000, 8000}));
  EXPECT_EQ(movie.HeaderSize(), 21u);
  EXPECT_EQ(Saved(movie), (Bytes{'F',  'W',  'S',  0x05, 21,   0,    0,    0,    0x78,
                                 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, /* 12 fps */ 0x00,
                                 0x0C, 0x00, 0x00}));
  TMovie twips(0, 0, 550, 400, 12.5f, false);
  EXPECT_EQ(twips.FrameSize, (TRect{0, 0, 550, 400}));
  EXPECT_EQ(twips.FPS, 0x0C80);
}

TEST(SWFFile, CompressionRaisesTheVersionForGood) {
  auto movie = SampleMovie();
  const Bytes plain = Saved(*movie);
  movie->SetCompressed(true);
  movie->SetVersion(5);
  EXPECT_EQ(movie->Version(), 6);
  const Bytes packed = Saved(*movie);
  EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 4), (Bytes{'C', 'W', 'S', 6}));
  // The stored length is the plain file's length.
  EXPECT_EQ(Bytes(packed.begin() + 4, packed.begin() + 8),
            Bytes(plain.begin() + 4, plain.begin() + 8));
  EXPECT_EQ(plain[4] | (plain[5] << 8), static_cast<int>(plain.size()));
  movie->SetVersion(4);
  EXPECT_EQ(movie->Version(), 6);
  movie->SetCompressed(false);
  movie->SetVersion(4);
  EXPECT_EQ(movie->Version(), 4);
}

TEST(SWFFile, SavedPlainAndCompressedLoadParseAndRebuildToTheSameBody) {
  for (const bool compressed : {false, true}) {
    auto movie = SampleMovie();
    movie->SetCompressed(compressed);
    auto owned = Loaded(Saved(*movie));
    TSWFStreamReader& reader = *owned;
    ASSERT_TRUE(reader.IsValid);
    EXPECT_EQ(reader.Compressed(), compressed);
    EXPECT_EQ(reader.FrameSize, movie->FrameSize);
    EXPECT_EQ(reader.FPS, 0x0C00);
    EXPECT_EQ(reader.FrameCount, 3);
    EXPECT_EQ(reader.Body().Bytes(), movie->Body().Bytes());
    reader.ParseTags();
    ASSERT_EQ(reader.TagList.size(), 5u);
    EXPECT_EQ(reader.GetTagInfo(0).TagID, 9);
    EXPECT_EQ(reader.GetTagInfo(4).FrameNum, 4);  // the End comes after three frames
    EXPECT_EQ(reader.GetTagInfo(2).Position, 7);
    reader.MakeStream();
    EXPECT_EQ(reader.Body().Bytes(), movie->Body().Bytes());
    EXPECT_EQ(Saved(reader), Saved(*movie));
  }
}

TEST(SWFFile, NotASWFFileLoadsNothing) {
  // Too short, a wrong signature, nothing, and a valid signature too short for its header: a
  // plain file of 4 to 12 bytes, a RECT claiming more bits than follow, a compressed file of 7.
  const Bytes cases[] = {Bytes{'F', 'W', 'S'},
                         Bytes{'X', 'W', 'S', 5, 0, 0},
                         Bytes{},
                         Bytes{'F', 'W', 'S', 5},
                         Bytes{'F', 'W', 'S', 5, 12, 0, 0, 0, 0, 0, 0},
                         Bytes{'F', 'W', 'S', 5, 12, 0, 0, 0, 0, 0, 0, 0},
                         Bytes{'F', 'W', 'S', 5, 30, 0, 0, 0, 0x78, 0, 0, 0, 0, 0},
                         Bytes{'C', 'W', 'S', 6, 30, 0, 0}};
  for (const Bytes& file : cases) {
    SCOPED_TRACE(test::Hex(file));
    TSWFStreamReader reader;
    reader.SetCompressed(true);
    TMemoryStream m(file);
    reader.LoadFromStream(m);
    EXPECT_FALSE(reader.IsValid);
    EXPECT_EQ(reader.Body().Size(), 0u);
    EXPECT_TRUE(reader.Compressed());
  }
}

TEST(SWFFile, EveryCutOfAFileLoadsOrFailsCleanly) {
  for (const bool compressed : {false, true}) {
    auto movie = SampleMovie();
    movie->SetCompressed(compressed);
    const Bytes file = Saved(*movie);
    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
      TSWFStreamReader reader;
      TMemoryStream m(Bytes(file.begin(), file.begin() + cut));
      try {
        reader.LoadFromStream(m);
        // A plain file cut inside its header is no SWF file; cut later it loads what is there.
        if (!compressed) {
          EXPECT_EQ(reader.IsValid, cut >= 21) << "cut " << cut;
        }
        reader.ParseTags();
        reader.MakeStream();
      } catch (const EStreamError&) {
        EXPECT_TRUE(compressed) << "cut " << cut;  // a plain file never fails
        continue;
      }
      if (cut == file.size()) {
        EXPECT_EQ(reader.Body().Bytes(), movie->Body().Bytes());
      }
    }
  }
}

TEST(SWFFile, CompressedFileLoadsWhatItsDataHoldsWhateverItsHeaderClaims) {
  auto movie = SampleMovie();
  movie->SetCompressed(true);
  const Bytes saved = Saved(*movie);
  const std::uint32_t real = movie->FileLength();
  // 4 GB claimed (nothing is allocated for the claim), one byte more, one byte less, nothing.
  for (const std::uint32_t claim : {0xFFFFFFFFu, real + 1, real - 1, 0u}) {
    SCOPED_TRACE(claim);
    Bytes file = saved;
    for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<std::uint8_t>(claim >> (8 * i));
    TSWFStreamReader reader;
    TMemoryStream m(file);
    reader.LoadFromStream(m);
    ASSERT_TRUE(reader.IsValid);
    EXPECT_EQ(reader.Body().Bytes(), movie->Body().Bytes());
    ASSERT_EQ(reader.Warnings.size(), 1u);
    EXPECT_NE(reader.Warnings[0].find("claims " + std::to_string(claim)), std::string::npos)
        << reader.Warnings[0];
    // Saved again, the header tells the truth.
    reader.ParseTags();
    reader.MakeStream();
    EXPECT_EQ(Saved(reader), saved);
  }
  // Zlib data cut short: what it holds is kept, with a warning.
  const Bytes cut(saved.begin(), saved.end() - 6);
  TSWFStreamReader reader;
  TMemoryStream m(cut);
  reader.LoadFromStream(m);
  EXPECT_FALSE(reader.Warnings.empty());
  EXPECT_NE(reader.Warnings[0].find("cut short"), std::string::npos) << reader.Warnings[0];
}

TEST(SWFFile, MemoryBudgetRefusesWhatItCannotHold) {
  // 256 KB of zeros, a file of a few hundred bytes: each pair of zero bytes is an End tag.
  TMovie big;
  big.Body().SetSize(256u << 10);
  big.SetCompressed(true);
  const Bytes file = Saved(big);
  ASSERT_LT(file.size(), 1024u);
  TSWFStreamReader small;
  small.MemoryLimit = 128u << 10;  // the body alone passes it
  TMemoryStream m1(file);
  EXPECT_THROW(small.LoadFromStream(m1), EMemoryBudgetExceeded);
  EXPECT_EQ(small.Body().Size(), 0u);
  TSWFStreamReader reader;
  reader.MemoryLimit = 4u << 20;  // the body fits, its 131072 tags do not
  TMemoryStream m2(file);
  reader.LoadFromStream(m2);
  try {
    reader.ParseTags();
    FAIL() << "131072 End tags fit a budget of 4 MB";
  } catch (const EMemoryBudgetExceeded& e) {
    EXPECT_NE(std::string(e.what()).find("memory budget of 4194304 bytes"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(reader.TagList.empty());
  // With the default budget the same file reads.
  TSWFStreamReader roomy;
  TMemoryStream m3(file);
  roomy.LoadFromStream(m3);
  roomy.ParseTags();
  EXPECT_EQ(roomy.TagList.size(), 128u << 10);
}

// Builds a body from raw record bytes.
std::unique_ptr<TSWFStreamReader> ReaderWithBody(const Bytes& body, std::uint8_t version = 6) {
  auto reader = std::make_unique<TSWFStreamReader>();
  reader->Body().Write(body.data(), body.size());
  reader->SetVersion(version);
  return reader;
}

TEST(ParseTags, DamagedTagBecomesAnErrorTagAndReadingGoesOn) {
  // SetBackgroundColor with a 1-byte body at the end; before it, one whose reader takes 3 bytes of
  // a 5-byte body, and an unknown code 3.
  const Bytes body = {0x45, 0x02, 1,    2, 3, 4, 5,  // background, 5 bytes
                      0xC1, 0x00, 0xEE,              // code 3, 1 byte
                      0x40, 0x00,                    // ShowFrame
                      0x41, 0x02, 0x99};             // background, 1 byte: cannot be read
  auto owned = ReaderWithBody(body);
  TSWFStreamReader& reader = *owned;
  reader.ParseTags();
  ASSERT_EQ(reader.TagList.size(), 4u);
  EXPECT_EQ(reader.GetTagInfo(0).TagID, 9);
  EXPECT_EQ(reader.GetTagInfo(1).TagID, 3);
  EXPECT_EQ(reader.GetTagInfo(1).SWFObject, nullptr);
  EXPECT_EQ(reader.GetTagInfo(2).TagID, 1);
  EXPECT_EQ(reader.GetTagInfo(2).Position, 10);
  const TSWFTagInfo& bad = reader.GetTagInfo(3);
  EXPECT_EQ(bad.TagID, 9);
  EXPECT_EQ(bad.FrameNum, 2);
  ASSERT_NE(bad.Error(), nullptr);
  auto& error = dynamic_cast<TSWFErrorTag&>(*bad.SWFObject);
  EXPECT_EQ(error.FailedTagID, 9);
  EXPECT_EQ(error.ErrorMessage, "Stream read error");
  EXPECT_EQ(error.StoredBody, Bytes{0x99});
  // The rebuild gives back every byte, the damaged tag's included.
  reader.MakeStream();
  EXPECT_EQ(reader.Body().Bytes(), body);
}

TEST(ParseTags, StoredCode240IsAnUnknownTag) {
  // The code of this library's error placeholder, stored in a file, is no error.
  const Bytes body = {0x00, 0x3C /* code 240, empty */, 0x40, 0x00, 0x00, 0x00};
  auto owned = ReaderWithBody(body);
  owned->ParseTags();
  ASSERT_EQ(owned->TagList.size(), 3u);
  EXPECT_EQ(owned->GetTagInfo(0).TagID, 240);
  EXPECT_EQ(owned->GetTagInfo(0).SWFObject, nullptr);
  EXPECT_EQ(owned->GetTagInfo(0).Error(), nullptr);
  EXPECT_STREQ(TagName(240), "Unknown");
  owned->MakeStream();
  EXPECT_EQ(owned->Body().Bytes(), body);
}

TEST(ParseTags, FrameNumbersGoPast32767) {
  // 40000 ShowFrames: frame numbers above 32767 stay positive.
  Bytes body;
  for (int i = 0; i < 40000; ++i) body.insert(body.end(), {0x40, 0x00});
  body.insert(body.end(), {0x00, 0x00});
  auto owned = ReaderWithBody(body);
  owned->ParseTags(false);
  ASSERT_EQ(owned->TagList.size(), 40001u);
  EXPECT_EQ(owned->TagList.back()->FrameNum, 40001);
  EXPECT_EQ(owned->TagList.back()->Position, 80000);
  static_assert(sizeof(TSWFTagInfo::Position) >= 8 && sizeof(TSWFTagInfo::Length) >= 8);
}

TEST(ParseTags, LengthsPointingPastTheEndEndTheLoop) {
  const Bytes cases[] = {
      {0x40, 0x00, 0x7F, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3},  // long length of 4 GB
      {0x40, 0x00, 0x7F, 0x02, 0x00, 0x00, 0x00, 0x80},           // 2^31: negative if signed
      {0x40, 0x00, 0x45, 0x02, 1, 2},                             // 5 announced, 2 there
      {0x40, 0x00, 0x45},                                         // half a header
      {0x40, 0x00, 0x7F, 0x02, 0x01},                             // half a long length
  };
  for (const Bytes& body : cases) {
    auto owned = ReaderWithBody(body);
    TSWFStreamReader& reader = *owned;
    reader.ParseTags();
    ASSERT_GE(reader.TagList.size(), 1u);
    EXPECT_EQ(reader.GetTagInfo(0).TagID, 1);
    for (std::size_t i = 1; i < reader.TagList.size(); ++i) {
      EXPECT_EQ(reader.GetTagInfo(i).SWFObject, nullptr)
          << "a claimed body that is not there is not read";
    }
    reader.MakeStream();  // a cut tag is copied as far as it goes, never past the old body
  }
}

TEST(ParseTags, CallbacksAndProgress) {
  auto movie = SampleMovie();
  auto owned = Loaded(Saved(*movie));
  TSWFStreamReader& reader = *owned;
  std::vector<int> stages, percents;
  reader.OnProgress = [&](TBasedSWFStream&, int percent, int stage) {
    stages.push_back(stage);
    percents.push_back(percent);
  };
  reader.OnCreateTagObject = [](TSWFTagInfo& info, bool& accept) { accept = info.TagID != 9; };
  reader.ParseTags(true, false);
  EXPECT_EQ(reader.GetTagInfo(0).SWFObject, nullptr);
  EXPECT_NE(reader.GetTagInfo(1).SWFObject, nullptr);
  EXPECT_EQ(stages, std::vector<int>(5, 0));
  EXPECT_EQ(percents.front(), 0);
  reader.MakeStream();
  EXPECT_EQ(reader.Body().Bytes(), movie->Body().Bytes());  // the skipped tag was copied
  EXPECT_EQ(stages.back(), 1);
  EXPECT_EQ(percents.back(), 100);
  reader.SetCompressed(true);
  stages.clear();
  Saved(reader);
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.back(), 2);
}

// Defines one character and refers to another: enough to drive the renumbering.
class TIdTag : public TSWFObject {
 public:
  TIdTag() : TSWFObject(1) {}
  std::uint16_t Defines = 0, RefersTo = 0;
  void DefinedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    if (Defines) ids.push_back(&Defines);
  }
  void ReferencedCharacterIDs(std::vector<std::uint16_t*>& ids) override {
    if (RefersTo) ids.push_back(&RefersTo);
  }
};

TEST(ChangeCharacterIDs, RenumbersDefinitionsInOrderAndTheirReferences) {
  TSWFStreamReader reader;
  EXPECT_EQ(reader.ChangeCharacterIDs(100), 100);
  auto add = [&](std::uint16_t defines, std::uint16_t refersTo) {
    auto info = std::make_unique<TSWFTagInfo>(1, false);
    auto tag = std::make_unique<TIdTag>();
    tag->Defines = defines;
    tag->RefersTo = refersTo;
    TIdTag* raw = tag.get();
    info->SWFObject = std::move(tag);
    reader.TagList.push_back(std::move(info));
    return raw;
  };
  TIdTag* bitmap = add(2, 0);
  TIdTag* shape = add(1, 2);
  TIdTag* place = add(0, 1);
  TIdTag* stranger = add(0, 77);
  TIdTag* filtered = add(5, 0);
  reader.OnChangeIDFilter = [&](TSWFObject& obj, bool& accept) { accept = &obj != filtered; };
  EXPECT_EQ(reader.ChangeCharacterIDs(100), 102);
  EXPECT_EQ(bitmap->Defines, 100);
  EXPECT_EQ(shape->Defines, 101);
  EXPECT_EQ(shape->RefersTo, 100);
  EXPECT_EQ(place->RefersTo, 101);
  EXPECT_EQ(stranger->RefersTo, 77);
  EXPECT_EQ(filtered->Defines, 5);
}

TEST(SaveToFile, ReplacesTheFileAndKeepsItWhenSavingFails) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "kestrova-save-test";
  fs::create_directories(dir);
  const std::string name = (dir / "m.swf").string();
  std::ofstream(name) << "old contents that are longer than the movie, much longer indeed";
  auto movie = SampleMovie();
  movie->SaveToFile(name);
  TSWFStreamReader back(name);
  EXPECT_TRUE(back.IsValid);
  EXPECT_EQ(back.Body().Bytes(), movie->Body().Bytes());
  EXPECT_THROW(movie->SaveToFile((dir / "no-such-dir" / "m.swf").string()), EStreamError);
  // A save that fails leaves the earlier file whole.
  const Bytes before = ReadFileBytes(name);
  auto other = SampleMovie();
  other->SetCompressed(true);
  other->OnProgress = [](TBasedSWFStream&, int, int) { throw EStreamError("interrupted"); };
  EXPECT_THROW(other->SaveToFile(name), EStreamError);
  EXPECT_EQ(ReadFileBytes(name), before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

TEST(ParseTags, SpriteSubTagsShowTheStoredHeaderForms) {
  const test::Bytes body = {
      0xCC, 0x09 /* DefineSprite, 12 bytes */, 0x01, 0x00, 0x01, 0x00, 0x7F, 0x00, 0x00, 0x00,
      0x00, 0x00 /* ShowFrame, long form */,   0x00, 0x00 /* End */};
  TSWFStreamReader reader;
  reader.Body().Write(body.data(), body.size());
  reader.ParseTags();
  ASSERT_EQ(reader.TagList.size(), 1u);
  const TSWFTagInfo& sprite = reader.GetTagInfo(0);
  ASSERT_EQ(sprite.TagID, 39);
  ASSERT_EQ(sprite.SubTags.size(), 2u);
  EXPECT_EQ(sprite.SubTags[0]->TagID, 1);
  EXPECT_EQ(sprite.SubTags[0]->Position, 6);
  EXPECT_TRUE(sprite.SubTags[0]->LongHeader);
  EXPECT_EQ(sprite.SubTags[1]->TagID, 0);
  EXPECT_EQ(sprite.SubTags[1]->Position, 12);
  EXPECT_FALSE(sprite.SubTags[1]->LongHeader);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

TEST(ParseTags, BytesTooFewForAHeaderAreKeptByTheRebuild) {
  const test::Bytes cases[] = {{0x40, 0x00, 0x99}, {0x40, 0x00, 0x7F, 0x02, 0x05, 0x00}};
  for (const auto& body : cases) {
    TSWFStreamReader reader;
    reader.Body().Write(body.data(), body.size());
    reader.ParseTags();
    ASSERT_EQ(reader.TagList.size(), 1u);
    EXPECT_EQ(reader.TrailingBytes(), body.size() - 2);
    reader.MakeStream();
    EXPECT_EQ(reader.Body().Bytes(), body);
  }
}

TEST(SWFFile, HeaderOfAHugeFrameAgreesWithWhatIsWritten) {
  TMovie movie(0, 0, 1 << 30, 100, 12, false);
  TMemoryStream file;
  movie.SaveToStream(file);
  EXPECT_EQ(movie.HeaderSize(), file.Size());
  EXPECT_EQ(movie.FileLength(), file.Size());
  TSWFStreamReader back;
  file.SetPosition(0);
  back.LoadFromStream(file);
  EXPECT_EQ(back.FrameSize, (TRect{0, 0, (1 << 30) - 1, 100}));
  EXPECT_EQ(back.Body().Size(), 0u);
}

}  // namespace
}  // namespace kestrova

namespace kestrova {
namespace {

TEST(ParseTags, EmptyBodiesOfTagsThatHaveFieldsAreKeptAsStored) {
  const test::Bytes body = {0x40, 0x02 /* SetBackgroundColor, empty */, 0x40, 0x00, 0x00, 0x00};
  TSWFStreamReader reader;
  reader.Body().Write(body.data(), body.size());
  reader.ParseTags();
  ASSERT_EQ(reader.TagList.size(), 3u);
  EXPECT_EQ(reader.GetTagInfo(0).SWFObject, nullptr);
  EXPECT_NE(reader.GetTagInfo(1).SWFObject, nullptr);  // a ShowFrame has no fields to lose
  reader.MakeStream();
  EXPECT_EQ(reader.Body().Bytes(), body);
}

// A movie of 300 DefineBitsJPEG2 tags of 3000 bytes each that do not deflate away, saved to a
// file; returns its name.
std::string MovieOfManyTagsInAFile(bool compressed) {
  TSWFStreamReader movie;
  movie.FrameSize = {0, 0, 2000, 2000};
  TBitsEngine be(movie.Body());
  for (int i = 0; i < 300; ++i) {
    TSWFDefineBitsJPEG2 jpeg;
    jpeg.CharacterId = static_cast<std::uint16_t>(i + 1);
    jpeg.Data.resize(3000);
    for (std::size_t k = 0; k < jpeg.Data.size(); ++k) {
      jpeg.Data[k] = static_cast<std::uint8_t>(((k + 7 * i) * 2654435761u) >> 11);
    }
    jpeg.WriteToStream(be);
  }
  TSWFEnd().WriteToStream(be);
  movie.SetCompressed(compressed);
  const std::string name =
      testing::TempDir() + (compressed ? "/kestrova_many_cws.swf" : "/kestrova_many_fws.swf");
  movie.SaveToFile(name);
  return name;
}

// The body of a movie loaded from its file is read where it lies, in any order: a compressed one
// is inflated again from the start for a record before the one last read.
TEST(SWFFile, BodyInItsFileReadsTagsInAnyOrder) {
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    const std::string name = MovieOfManyTagsInAFile(compressed);
    TSWFStreamReader inMemory;
    TFileStream file(name, TFileStream::Mode::Read);
    inMemory.LoadFromStream(file);
    const Bytes body = inMemory.Body().Bytes();
    TSWFStreamReader reader;
    reader.LoadFromFile(name);
    ASSERT_TRUE(reader.IsValid);
    EXPECT_TRUE(reader.BodyInFile());
    EXPECT_EQ(reader.BodyHeld(), 0u);
    EXPECT_EQ(reader.BodySize(), body.size());
    EXPECT_TRUE(reader.Warnings.empty());
    reader.ParseTags(false, false);
    ASSERT_EQ(reader.TagList.size(), 301u);
    TSWFReadContext context = reader.NewReadContext(false);
    Bytes stored;
    // Last first, then a few jumps back and forth.
    std::vector<std::size_t> order;
    for (std::size_t i = reader.TagList.size(); i-- > 0;) order.push_back(i);
    for (const std::size_t i : {5u, 250u, 3u, 299u, 0u}) order.push_back(i);
    for (const std::size_t i : order) {
      const TSWFTagInfo& info = reader.GetTagInfo(i);
      const auto tag = reader.ReadTagObject(info, context, &stored);
      ASSERT_NE(tag, nullptr) << i;
      const auto at = body.begin() + info.Position;
      ASSERT_EQ(stored, Bytes(at, at + info.StoredSize())) << i;
      EXPECT_EQ(test::WriteTag(*tag), stored) << i;
    }
    // The rebuild copies the stored records from the file.
    reader.MakeStream();
    EXPECT_FALSE(reader.BodyInFile());
    EXPECT_EQ(reader.Body().Bytes(), body);
    std::filesystem::remove(name);
  }
}

// Deflated zeros inflating to 64 times the budget: counted, not held, and refused before any
// buffer for them is made; a body of just the budget loads, one byte more does not.
TEST(SWFFile, CompressedBodyBeyondTheBudgetIsRefusedBeforeItIsHeld) {
  constexpr std::uint64_t kLimit = 1u << 20;
  TMovie bomb;
  bomb.Body().SetSize(64 * kLimit);
  bomb.SetCompressed(true);
  const Bytes file = Saved(bomb);
  ASSERT_LT(file.size(), 128u << 10);
  TSWFStreamReader reader;
  reader.MemoryLimit = kLimit;
  TMemoryStream m(file);
  try {
    reader.LoadFromStream(m);
    FAIL() << "64 MB loaded under a budget of 1 MB";
  } catch (const EMemoryBudgetExceeded& e) {
    EXPECT_NE(std::string(e.what()).find("memory budget of 1048576 bytes"), std::string::npos);
  }
  EXPECT_EQ(reader.Body().Size(), 0u);
  for (const std::uint64_t size : {kLimit, kLimit + 1}) {
    TMovie movie;
    movie.Body().SetSize(size);
    movie.SetCompressed(true);
    TSWFStreamReader edge;
    edge.MemoryLimit = kLimit;
    TMemoryStream in(Saved(movie));
    if (size > kLimit) {
      EXPECT_THROW(edge.LoadFromStream(in), EMemoryBudgetExceeded);
    } else {
      edge.LoadFromStream(in);
      EXPECT_EQ(edge.Body().Size(), size);
      EXPECT_TRUE(edge.Warnings.empty());
    }
  }
}

// A compressed file whose zlib data fails its check at the very end: the body is what came
// before, from the file as from memory, and every byte of it reads back from the file.
TEST(SWFFile, DamagedCompressedFileInItsFileReadsWhatLoadingKept) {
  const std::string name = MovieOfManyTagsInAFile(true);
  Bytes file = ReadFileBytes(name);
  file.back() ^= 0xFF;  // the zlib data's checksum
  {
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
  TSWFStreamReader inMemory;
  TMemoryStream m(file);
  inMemory.LoadFromStream(m);
  ASSERT_FALSE(inMemory.Warnings.empty());
  TSWFStreamReader reader;
  reader.LoadFromFile(name);
  EXPECT_EQ(reader.Warnings, inMemory.Warnings);
  ASSERT_TRUE(reader.BodyInFile());
  EXPECT_EQ(reader.Body().Bytes(), inMemory.Body().Bytes());
  std::filesystem::remove(name);
}

}  // namespace
}  // namespace kestrova
