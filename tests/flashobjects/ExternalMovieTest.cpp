// External movies imported as sprites: ids, the sprite's timeline, and bad files.
#include <gtest/gtest.h>

#include <fstream>

#include "swftools/ZStream.h"
#include "tests/flashobjects/FlashTestUtil.h"

namespace kestrova {
namespace {

// A movie defining a bitmap and a shape, with a background colour, a frame label and the given
// number of frames; saved plain or compressed.
void MakeInput(const std::string& fileName, int frames, bool compressed = false) {
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  movie.SetCompressed(compressed);
  movie.BackgroundColor().SetRGB(SWFRGB(1, 2, 3));
  TFlashImage& image = movie.AddImage();
  image.LoadFromHandle(test::Indexed8(32, 16, [](int x, int y) { return x ^ y; }));
  movie.PlaceObject(movie.AddImageShape(image), 1).SetTranslate(1, 1);
  movie.AddObject(std::make_unique<TSWFFrameLabel>("start"));
  movie.ShowFrame(static_cast<std::uint16_t>(frames));
  movie.MakeStream();
  movie.SaveToFile(fileName);
}

std::string FileText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::unique_ptr<TSWFStreamReader> Saved(TFlashMovie& movie, const test::TTempDir& dir) {
  movie.MakeStream();
  movie.SaveToFile(dir.File("out.swf"));
  return test::ReadMovie(dir.File("out.swf"));
}

TEST(ExternalMovie, IdsOfAnImportIntoAnEmptyMovie) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 3);
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  TFlashExternalMovie& external = movie.AddExternalMovie(dir.File("in.swf"));
  EXPECT_TRUE(external.IsValid());
  EXPECT_EQ(external.GetCharacterId(), 1);
  ASSERT_NE(external.Sprite(), nullptr);
  EXPECT_EQ(external.Sprite()->GetCharacterId(), 1);
  EXPECT_EQ(external.Sprite()->FrameCount(), 3);
  EXPECT_EQ(external.CharacterCount(), 2u);
  EXPECT_EQ(movie.CurrentObjID, 5);
  EXPECT_EQ(movie.SpriteList().Count(), 1u);
  EXPECT_EQ(movie.ObjectList().size(), 1u) << "the sprite is not in ObjectList";
  movie.PlaceObject(*external.Sprite(), 1);
  movie.ShowFrame(3);
  const auto reader = Saved(movie, dir);
  // Bitmap 2, shape 3 (filled with 2), then the sprite 1 with the file's timeline.
  ASSERT_EQ(test::TagCodes(*reader), (std::vector<int>{20, 22, 39, 26, 1, 1, 1, 0}));
  EXPECT_EQ(test::TagAt<TSWFDefineBitsLossless>(*reader, 0).CharacterId, 2);
  const auto& shape = test::TagAt<TSWFDefineShape>(*reader, 1);
  EXPECT_EQ(shape.ShapeId, 3);
  EXPECT_EQ(dynamic_cast<const TSWFImageFill&>(*shape.FillStyles[0]).BitmapId, 2);
  const auto& sprite = test::TagAt<TSWFDefineSprite>(*reader, 2);
  EXPECT_EQ(sprite.SpriteId, 1);
  EXPECT_EQ(sprite.FrameCount, 3);
  std::vector<int> inner;
  for (const auto& tag : sprite.ControlTags) inner.push_back(tag->TagID);
  EXPECT_EQ(inner, (std::vector<int>{26, 43, 1, 1, 1, 0}));
  const auto& place = dynamic_cast<const TSWFPlaceObject2&>(*sprite.ControlTags[0]);
  EXPECT_EQ(place.CharacterId(), 3);
  EXPECT_EQ(place.MatrixIfAny()->TranslateX, 20);
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
}

TEST(ExternalMovie, SecondImportTakesIdsAfterTheFirst) {
  test::TTempDir dir;
  MakeInput(dir.File("a.swf"), 1);
  MakeInput(dir.File("b.swf"), 2, true);
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  movie.AddExternalMovie(dir.File("a.swf"));
  TFlashExternalMovie& second = movie.AddExternalMovie(dir.File("b.swf"));
  EXPECT_EQ(second.GetCharacterId(), 5);  // the first file's last definition (3) + 2
  EXPECT_EQ(movie.CurrentObjID, 9);
  EXPECT_EQ(second.MinVersion(), 6) << "the compressed input is version 6";
  const auto reader = Saved(movie, dir);
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
  EXPECT_EQ(reader->Version(), 6);
}

TEST(ExternalMovie, SerialisingTwiceWritesTheSameSprite) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 2);
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  movie.PlaceObject(*movie.AddExternalMovie(dir.File("in.swf")).Sprite(), 1);
  movie.MakeStream();
  const auto first = movie.Body().Bytes();
  movie.MakeStream();
  EXPECT_EQ(movie.Body().Bytes(), first);
}

TEST(ExternalMovie, WithoutRenumberingTheFileKeepsItsIds) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 1);
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  movie.CurrentObjID = 10;
  movie.AddExternalMovie(dir.File("in.swf"), 3, false);
  EXPECT_EQ(movie.CurrentObjID, 14);
  const auto reader = Saved(movie, dir);
  EXPECT_EQ(test::TagAt<TSWFDefineBitsLossless>(*reader, 0).CharacterId, 1);
}

TEST(ExternalMovie, FileThatIsNotASWFGivesAnEmptySprite) {
  test::TTempDir dir;
  std::ofstream(dir.File("text.swf")) << "hello, not a movie";
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  TFlashExternalMovie& external = movie.AddExternalMovie(dir.File("text.swf"));
  EXPECT_FALSE(external.IsValid());
  movie.PlaceObject(*external.Sprite(), 1);
  const auto reader = Saved(movie, dir);
  EXPECT_EQ(test::TagCodes(*reader), (std::vector<int>{39, 26, 0}));
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty()) << "the placement refers to a sprite";
}

TEST(ExternalMovie, FailuresAddNothing) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 1, true);
  // A compressed file cut in the middle of its zlib data.
  auto bytes = ReadFileBytes(dir.File("in.swf"));
  bytes.resize(bytes.size() / 2);
  std::ofstream(dir.File("cut.swf"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  try {
    movie.AddExternalMovie(dir.File("missing.swf"));
    ADD_FAILURE() << "a missing file was imported";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.swf"), std::string::npos) << e.what();
  }
  EXPECT_THROW(movie.AddExternalMovie(dir.File("in.swf"), 1), std::invalid_argument);
  movie.CurrentObjID = 65534;  // the import needs 65534 .. 65536
  EXPECT_THROW(movie.AddExternalMovie(dir.File("in.swf")), std::length_error);
  EXPECT_TRUE(movie.ObjectList().empty());
  EXPECT_EQ(movie.SpriteList().Count(), 0u);
  movie.CurrentObjID = 65533;
  EXPECT_EQ(movie.AddExternalMovie(dir.File("in.swf")).GetCharacterId(), 65533);
  EXPECT_EQ(movie.CurrentObjID, 0) << "no ids left";
  EXPECT_THROW(movie.AddShape(), std::length_error);
}

TEST(ExternalMovie, CutFileImportsWhatItHolds) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 3, true);
  auto bytes = ReadFileBytes(dir.File("in.swf"));
  bytes.resize(bytes.size() - 12);  // the last frames and the End tag
  std::ofstream(dir.File("cut.swf"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  TFlashExternalMovie& external = movie.AddExternalMovie(dir.File("cut.swf"));
  EXPECT_FALSE(external.Reader()->Warnings.empty());
  movie.PlaceObject(*external.Sprite(), 1);
  const auto reader = Saved(movie, dir);
  EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
  EXPECT_EQ(test::TagCodes(*reader).at(0), 20) << "the picture is kept";
}

// A movie with what an import must handle tag by tag besides MakeInput's picture: a tag of a
// code without a class (copied), one whose body cannot be read (left out), a removal, and a
// second picture whose shape refers to the first bitmap's id.
void MakeMixedInput(const std::string& fileName) {
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  TFlashImage& image = movie.AddImage();
  image.LoadFromHandle(test::Indexed8(8, 4, [](int x, int y) { return x + y; }));
  movie.PlaceObject(movie.AddImageShape(image), 1);
  movie.ShowFrame();
  auto unknown = std::make_unique<TSWFErrorTag>();
  unknown->FailedTagID = 200;
  unknown->StoredBody = {1, 2, 3};
  movie.AddObject(std::move(unknown));
  auto damaged = std::make_unique<TSWFErrorTag>();
  damaged->FailedTagID = 22;  // DefineShape2 of one byte
  damaged->StoredBody = {5};
  movie.AddObject(std::move(damaged));
  movie.RemoveObject(1);
  movie.PlaceObject(movie.AddImageShape(image), 2);
  movie.ShowFrame(2);
  movie.MakeStream();
  movie.SaveToFile(fileName);
}

// What an import wrote before it went tag by tag: every tag parsed at once, renumbered by the
// reader over the whole file, definitions written, the timeline gathered into the sprite.
std::vector<std::uint8_t> WholeFileImport(TFlashMovie& owner, const std::string& fileName,
                                          std::uint16_t spriteId) {
  TSWFStreamReader reader(fileName);
  reader.ParseTags(true, false);
  reader.ChangeCharacterIDs(static_cast<std::uint16_t>(spriteId + 1));
  TMemoryStream out;
  TBitsEngine be(out);
  TFlashSprite sprite(&owner);
  sprite.SetCharacterId(spriteId);
  for (const auto& info : reader.TagList) {
    const TSWFObject* tag = info->SWFObject.get();
    const int code = info->TagID;
    if (info->Error() || code == 0 || code == 9 || code == 24 || code == 58 || code == 64) continue;
    if (tag == nullptr) {
      out.Write(reader.Body().Data() + info->Position,
                static_cast<std::size_t>(info->StoredSize()));
    } else if (code == 1) {
      sprite.ShowFrame(1);
    } else if (code == 4 || code == 5 || code == 26 || code == 28 || code == 43 || code == 12) {
      sprite.ControlTags().push_back(CloneTag(*tag));
    } else {
      info->SWFObject->WriteToStream(be);
    }
  }
  sprite.WriteToStream(be);
  return out.Bytes();
}

std::vector<std::uint8_t> Written(TFlashExternalMovie& external) {
  TMemoryStream out;
  TBitsEngine be(out);
  external.WriteToStream(be);
  return out.Bytes();
}

TEST(ExternalMovie, TagByTagImportWritesWhatAWholeFileImportWrote) {
  test::TTempDir dir;
  MakeInput(dir.File("a.swf"), 3, true);
  MakeMixedInput(dir.File("b.swf"));
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  movie.CurrentObjID = 7;
  for (const char* name : {"a.swf", "b.swf", "a.swf"}) {
    TFlashExternalMovie& external = movie.AddExternalMovie(dir.File(name));
    const std::vector<std::uint8_t> expected =
        WholeFileImport(movie, dir.File(name), external.GetCharacterId());
    EXPECT_EQ(Written(external), expected) << name;
    EXPECT_EQ(Written(external), expected) << name << ", written a second time";
  }
  TFlashExternalMovie& mixed = movie.AddExternalMovie(dir.File("b.swf"));
  EXPECT_EQ(mixed.DamagedTags(), 1u);
  EXPECT_EQ(mixed.UnknownTags(), 1u);
  EXPECT_EQ(mixed.CharacterCount(), 4u);  // the bitmap, two shapes and the damaged shape
}

TEST(ExternalMovie, StreamedJoinWritesWhatAJoinInMemoryWrites) {
  test::TTempDir dir;
  MakeInput(dir.File("a.swf"), 3, true);
  MakeMixedInput(dir.File("b.swf"));
  auto join = [&](bool streaming) {
    TFlashMovie movie(0, 0, 32, 16, 12, true);
    if (streaming) movie.BeginStreaming(dir.File("streamed.swf"));
    std::uint16_t depth = 1;
    for (const char* name : {"a.swf", "b.swf", "a.swf"}) {
      movie.PlaceObject(*movie.AddExternalMovie(dir.File(name)).Sprite(), depth);
      movie.ShowFrame(3);
      movie.RemoveObject(depth++);
    }
    movie.MakeStream();
    const std::string out = dir.File(streaming ? "streamed.swf" : "memory.swf");
    movie.SaveToFile(out);
    return ReadFileBytes(out);
  };
  const auto inMemory = join(false);
  EXPECT_EQ(join(true), inMemory);
  EXPECT_GT(inMemory.size(), 200u);
}

// A compressed movie saved as it streams deflates its body except pixel data that its picture
// could hardly compress, which goes in stored blocks. The body inflates to exactly what the plain
// save writes; 100 KB of zeros the image stored as they are stay 100 KB, while a flat picture
// shown twice is deflated and its repeat costs next to nothing.
TEST(ExternalMovie, StreamedCompressedSaveStoresOnlyIncompressiblePixelData) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 2, true);
  std::size_t flatSize = 0;
  auto save = [&](bool compressed) {
    const std::string out = dir.File(compressed ? "packed.swf" : "plain.swf");
    TFlashMovie movie(0, 0, 400, 250, 12, true);
    movie.SetCompressed(compressed);
    movie.BeginStreaming(out);
    std::uint16_t depth = 1;
    auto add = [&](const TDIBitmap& picture, int level) {
      movie.DeflateLevel = level;
      TFlashImage& image = movie.AddImage();
      image.LoadFromHandle(picture);
      image.MakeData();
      movie.PlaceObject(movie.AddImageShape(image), depth++);
      return image.Data().size();
    };
    add(test::Indexed8(400, 250, [](int, int) { return 0; }), 0);
    const TDIBitmap flat = test::Indexed8(400, 250, [](int x, int y) { return (x / 3) ^ (y / 5); });
    flatSize = add(flat, 9);
    add(flat, 9);
    add(test::Indexed8(16, 8, [](int x, int) { return x; }), 0);
    movie.PlaceObject(*movie.AddExternalMovie(dir.File("in.swf")).Sprite(), depth);
    movie.ShowFrame(2);
    movie.DeflateLevel = 1;
    movie.MakeStream();
    movie.SaveToFile(out);
    return ReadFileBytes(out);
  };
  const std::vector<std::uint8_t> plain = save(false), packed = save(true);
  ASSERT_GT(flatSize, 1024u);
  ASSERT_LT(flatSize, 20000u);
  TMemoryStream deflated(std::vector<std::uint8_t>(packed.begin() + 8, packed.end()));
  TZDecompressionStream inflater(deflated);
  std::vector<std::uint8_t> body(plain.size());
  body.resize(inflater.Read(body.data(), body.size()));
  EXPECT_EQ(body.size(), plain.size() - 8);
  EXPECT_TRUE(std::equal(body.begin(), body.end(), plain.begin() + 8, plain.end()));
  EXPECT_GT(packed.size(), 100000u);
  EXPECT_LT(packed.size() + flatSize / 2, plain.size());
}

TEST(ExternalMovie, StreamedMovieFinishesOnceAndTakesNothingAfter) {
  test::TTempDir dir;
  MakeInput(dir.File("in.swf"), 2, true);
  {
    TFlashMovie movie(0, 0, 32, 16, 12, true);
    movie.SetCompressed(true);
    movie.BeginStreaming(dir.File("out.swf"));
    EXPECT_TRUE(movie.Streaming());
    movie.PlaceObject(*movie.AddExternalMovie(dir.File("in.swf")).Sprite(), 1);
    movie.ShowFrame(2);
    EXPECT_THROW(movie.SaveToFile(dir.File("out.swf")), std::logic_error);
    movie.MakeStream();
    movie.MakeStream();
    EXPECT_THROW(movie.ShowFrame(), std::logic_error);
    movie.SaveToFile(dir.File("out.swf"));
    EXPECT_EQ(movie.FrameCount, 2);
  }
  EXPECT_EQ(dir.Files(), (std::set<std::string>{"in.swf", "out.swf"}));
  const auto reader = test::ReadMovie(dir.File("out.swf"));
  EXPECT_EQ(reader->FrameCount, 2);
  EXPECT_EQ(test::TagCodes(*reader), (std::vector<int>{20, 22, 39, 26, 1, 1, 0}));
  TFlashMovie late(0, 0, 32, 16, 12, true);
  late.ShowFrame();
  EXPECT_THROW(late.BeginStreaming(dir.File("late.swf")), std::logic_error);
}

// A plain version 5 movie of one record (code, short form), as tests/crashers/make_crashers.py
// writes them.
std::vector<std::uint8_t> OneRecordMovie(std::uint16_t code,
                                         const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> file = {'F', 'W', 'S', 5, 0, 0, 0, 0, 0x00, 0x00, 12, 1, 0};
  const auto head = static_cast<std::uint16_t>((code << 6) | body.size());
  file.push_back(static_cast<std::uint8_t>(head));
  file.push_back(static_cast<std::uint8_t>(head >> 8));
  file.insert(file.end(), body.begin(), body.end());
  const auto size = static_cast<std::uint32_t>(file.size());
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return file;
}

// An ImportAssets names characters the movie's ids must make room for; one that cannot be read
// is an error tag and names none (it was once taken for an ImportAssets and its memory read as
// a list of billions of assets).
TEST(ExternalMovie, ImportAssetsCountOnlyWhenTheTagCouldBeRead) {
  const std::vector<std::uint8_t> twoAssets = {'a', '.', 's', 'w', 'f', 0,   2,   0,
                                               1,   0,   'n', 'a', 'm', 'e', '1', 0,
                                               2,   0,   'n', 'a', 'm', 'e', '2', 0};
  std::vector<std::uint8_t> fiveClaimed = twoAssets;
  fiveClaimed[6] = 5;  // tests/crashers/import_assets_damaged.swf
  struct Case {
    const char* what;
    std::vector<std::uint8_t> body;
    std::uint32_t characters;
    std::size_t damaged;
  };
  const Case cases[] = {
      {"two assets", twoAssets, 2, 0},
      {"count beyond the stored assets", fiveClaimed, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TTempDir dir;
    const auto file = OneRecordMovie(57, c.body);
    std::ofstream(dir.File("in.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    TFlashMovie movie(0, 0, 32, 16, 12, true);
    TFlashExternalMovie& external = movie.AddExternalMovie(dir.File("in.swf"));
    EXPECT_EQ(external.CharacterCount(), c.characters);
    EXPECT_EQ(external.DamagedTags(), c.damaged);
    movie.PlaceObject(*external.Sprite(), 1);
    const auto reader = Saved(movie, dir);
    EXPECT_TRUE(test::ReferenceProblems(*reader).empty());
  }
}
// A record that the end of the file cuts off is left out of the import: copied, its claimed
// length would swallow the sprite and the tags written after it.
TEST(ExternalMovie, RecordCutByTheEndOfTheFileIsLeftOut) {
  test::TTempDir dir;
  auto file = OneRecordMovie(200, {1, 2, 3, 4, 5, 6});  // a code without a class
  file.resize(file.size() - 3);                         // tests/crashers/join_cut_record.swf
  std::ofstream(dir.File("in.swf"), std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  TFlashExternalMovie& external = movie.AddExternalMovie(dir.File("in.swf"));
  EXPECT_EQ(external.DamagedTags(), 1u);
  EXPECT_EQ(external.UnknownTags(), 0u);
  movie.PlaceObject(*external.Sprite(), 1);
  const auto reader = Saved(movie, dir);
  EXPECT_EQ(test::TagCodes(*reader), (std::vector<int>{39, 26, 0}));
  EXPECT_EQ(reader->TrailingBytes(), 0u);
}

// A segment whose body passes its reader's budget is imported from its file, tag by tag, as a
// reader holding the whole body imports it.
TEST(ExternalMovie, FileLargerThanTheBudgetImportsFromItsFile) {
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    test::TTempDir dir;
    {
      // Six pictures of noise, about 30 KB each after deflating.
      TFlashMovie movie(0, 0, 200, 150, 12, true);
      movie.SetCompressed(compressed);
      for (int i = 0; i < 6; ++i) {
        TFlashImage& image = movie.AddImage();
        image.LoadFromHandle(test::Indexed8(200, 150, [i](int x, int y) {
          std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                            static_cast<std::uint32_t>(y) * 19349663u ^
                            static_cast<std::uint32_t>(i) * 83492791u;
          h ^= h >> 13;
          h *= 0x5bd1e995u;
          return static_cast<int>((h ^ (h >> 15)) & 0xFF);
        }));
        movie.PlaceObject(movie.AddImageShape(image), static_cast<std::uint16_t>(i + 1));
        movie.ShowFrame();
      }
      movie.MakeStream();
      movie.SaveToFile(dir.File("in.swf"));
    }
    TFlashMovie owner(0, 0, 200, 150, 12, true);
    TFlashExternalMovie roomy(&owner, dir.File("in.swf"));
    roomy.ScanTags();
    const std::vector<std::uint8_t> expected = Written(roomy);
    TFlashExternalMovie small(&owner, dir.File("in.swf"));
    small.Reader()->MemoryLimit = 80u << 10;
    ASSERT_GT(small.Reader()->BodySize(), 2 * small.Reader()->MemoryLimit);
    small.ScanTags();
    EXPECT_EQ(small.CharacterCount(), roomy.CharacterCount());
    EXPECT_EQ(Written(small), expected);
    EXPECT_TRUE(small.Reader()->BodyInFile());
  }
}

// The streamed body goes to NAME.body.part beside the output. Whatever is found under that name
// (a link planted to have the body written over its target, or the body a crashed recording left)
// is someone else's: the movie refuses to start rather than write through it or over it.
TEST(ExternalMovie, StreamedBodyNeverWritesThroughOrOverAFileThere) {
  test::TTempDir dir;
  const std::string target = dir.File("precious.txt");
  std::ofstream(target) << "keep me";
  struct {
    const char* What;
    bool Link;
  } rows[] = {{"a link planted there", true}, {"a body left by a crash", false}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.What);
    const std::string part = dir.File("out.swf.body.part");
    std::filesystem::remove(part);
    if (r.Link) {
      std::filesystem::create_symlink(target, part);
    } else {
      std::ofstream(part) << "left by a crash";
    }
    {
      TFlashMovie movie(0, 0, 32, 16, 12, true);
      EXPECT_THROW(movie.BeginStreaming(dir.File("out.swf")), EStreamError);
      EXPECT_FALSE(movie.Streaming());
    }
    EXPECT_EQ(FileText(target), "keep me");
    EXPECT_EQ(FileText(part), r.Link ? "keep me" : "left by a crash");
    EXPECT_EQ(std::filesystem::is_symlink(part), r.Link);
  }
}

// A header counts 16 bits of frames: a longer streamed timeline is refused, not saved saturated.
TEST(ExternalMovie, StreamedMovieOfMoreThan65535FramesIsNotSaved) {
  test::TTempDir dir;
  TFlashMovie movie(0, 0, 32, 16, 12, true);
  movie.BeginStreaming(dir.File("long.swf"));
  movie.ShowFrame(40000);
  movie.Flush();
  movie.ShowFrame(30000);
  movie.MakeStream();
  EXPECT_THROW(movie.SaveToFile(dir.File("long.swf")), std::length_error);
  EXPECT_FALSE(std::filesystem::exists(dir.File("long.swf")));
}

}  // namespace
}  // namespace kestrova
