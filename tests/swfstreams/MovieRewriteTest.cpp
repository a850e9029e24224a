// The rewrite that goes tag by tag must give the bytes and warnings of the rebuild in memory
// followed by a save, on good and damaged movies alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "swfstreams/MovieTools.h"
#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"

namespace kestrova {
namespace {

using test::Bytes;

struct Result {
  Bytes file;
  std::vector<std::string> warnings;
  std::size_t tags = 0;
  std::string error;  // what the rewrite threw
};

std::unique_ptr<TSWFStreamReader> Loaded(const Bytes& file, std::uint64_t limit) {
  auto reader = std::make_unique<TSWFStreamReader>();
  reader->MemoryLimit = limit;
  TMemoryStream m(file);
  reader->LoadFromStream(m);
  return reader;
}

Result InMemory(const Bytes& input, TRewriteCompression compression,
                std::uint64_t limit = TSWFReadContext::kDefaultMemoryLimit) {
  Result r;
  try {
    auto reader = Loaded(input, limit);
    reader->ParseTags(true, true);
    r.warnings = RebuildMovie(*reader, compression);
    TMemoryStream out;
    reader->SaveToStream(out);
    r.file = out.Bytes();
    r.tags = reader->TagList.size();
  } catch (const std::exception& e) {
    r.error = e.what();
  }
  return r;
}

Result Streamed(const Bytes& input, TRewriteCompression compression,
                std::uint64_t limit = TSWFReadContext::kDefaultMemoryLimit) {
  Result r;
  try {
    auto reader = Loaded(input, limit);
    const TMovieRewrite plan = PlanMovieRewrite(*reader, compression);
    TMemoryStream out;
    WriteMovieRewrite(*reader, plan, out);
    r.file = out.Bytes();
    r.warnings = plan.Warnings;
    r.tags = plan.TagCount;
    // Nothing of the movie's objects is held once the rewrite is planned.
    for (const auto& info : reader->TagList) EXPECT_EQ(info->Object(), nullptr);
  } catch (const std::exception& e) {
    r.error = e.what();
  }
  return r;
}

// everyChoice: each compression choice; otherwise the movie's own.
void ExpectSame(const Bytes& input, const std::string& what, bool everyChoice = true) {
  for (const auto compression :
       {TRewriteCompression::Keep, TRewriteCompression::Compressed, TRewriteCompression::Plain}) {
    if (!everyChoice && compression != TRewriteCompression::Keep) continue;
    SCOPED_TRACE(what + " compression " + std::to_string(int(compression)));
    const Result a = InMemory(input, compression);
    const Result b = Streamed(input, compression);
    ASSERT_EQ(a.error, b.error);
    EXPECT_EQ(a.file, b.file);
    EXPECT_EQ(a.warnings, b.warnings);
    EXPECT_EQ(a.tags, b.tags);
  }
}

std::vector<std::filesystem::path> SwfFiles() {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root = std::filesystem::path(KESTROVA_TEST_DATA).parent_path();
  for (const auto& dir :
       {root.parent_path() / "fuzz" / "corpus" / "swf_reader", root / "crashers"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path().extension() == ".swf") files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(MovieRewrite, StreamedEqualsRebuiltOnEveryFixtureAndItsTruncations) {
  const auto files = SwfFiles();
  ASSERT_GT(files.size(), 40u);
  for (const auto& path : files) {
    const Bytes file = ReadFileBytes(path.string());
    // The crasher of millions of tags takes a second per rewrite; the fuzz target's replay of
    // the crashers checks it the same way.
    if (file.size() > 4000) continue;
    ExpectSame(file, path.filename().string());
    // Cut plain files at a few places: trailing bytes, cut bodies, cut sprites.
    if (file[0] != 'F') continue;
    const std::size_t step = file.size() > 400 ? 41 : 5;
    for (std::size_t cut = 13; cut < file.size(); cut += step) {
      ExpectSame(Bytes(file.begin(), file.begin() + cut), path.filename().string() + " cut", false);
    }
  }
}

// A version 5 movie whose strings are Windows-1252, with a record in the long form for a short
// body: rewritten as version 6 both change, so the new bytes come from the tags themselves.
Bytes Version5Movie() {
  TSWFStreamReader movie;
  movie.SetVersion(5);
  movie.FrameSize = {0, 0, 2000, 2000};
  TBitsEngine be(movie.Body());
  TSWFFrameLabel label;
  label.Name = "caf\xE9";
  label.WriteToStream(be);
  WriteRecordHeader(movie.Body(), 1, 0, true);  // ShowFrame, long form
  TSWFEnd().WriteToStream(be);
  movie.Body().Write("\x40", 1);  // trailing: half a header
  TMemoryStream file;
  movie.SaveToStream(file);
  return file.Bytes();
}

TEST(MovieRewrite, ChangedTagsAndTrailingBytes) {
  const Bytes input = Version5Movie();
  ExpectSame(input, "version 5");
  const Result r = Streamed(input, TRewriteCompression::Compressed);
  ASSERT_TRUE(r.error.empty()) << r.error;
  auto back = Loaded(r.file, TSWFReadContext::kDefaultMemoryLimit);
  EXPECT_EQ(back->Version(), 6);
  back->ParseTags();
  ASSERT_EQ(back->TagList.size(), 3u);
  EXPECT_EQ(static_cast<TSWFFrameLabel&>(*back->TagList[0]->SWFObject).Name, "caf\xC3\xA9");
  EXPECT_FALSE(back->TagList[1]->LongHeader);
  EXPECT_EQ(back->TrailingBytes(), 1u);
}

// Many 20 KB data blocks: parsed all at once they pass a budget that one at a time they do not.
TEST(MovieRewrite, HoldsOneTagAtATime) {
  TSWFStreamReader movie;
  TBitsEngine be(movie.Body());
  for (int i = 0; i < 40; ++i) {
    TSWFDefineBitsJPEG2 jpeg;
    jpeg.CharacterId = static_cast<std::uint16_t>(i + 1);
    jpeg.Data.assign(20000, static_cast<std::uint8_t>(i));
    jpeg.WriteToStream(be);
  }
  TMemoryStream file;
  movie.SaveToStream(file);
  const Bytes input = file.Bytes();
  const std::uint64_t limit = 2 * input.size();  // the body, its index and a few tags
  EXPECT_NE(InMemory(input, TRewriteCompression::Keep, limit).error.find("memory budget"),
            std::string::npos);
  const Result r = Streamed(input, TRewriteCompression::Keep, limit);
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.file, input);
}

TEST(MovieRewrite, SaveGoesThroughASafeFile) {
  const Bytes input = Version5Movie();
  auto reader = Loaded(input, TSWFReadContext::kDefaultMemoryLimit);
  const TMovieRewrite plan = PlanMovieRewrite(*reader, TRewriteCompression::Plain);
  const std::string folder = testing::TempDir() + "/kestrova_rewrite_missing_folder";
  std::filesystem::remove_all(folder);
  EXPECT_THROW(SaveMovieRewrite(*reader, plan, folder + "/out.swf"), EStreamError);
  const std::string name = testing::TempDir() + "/kestrova_rewrite.swf";
  SaveMovieRewrite(*reader, plan, name);
  EXPECT_EQ(ReadFileBytes(name), Streamed(input, TRewriteCompression::Plain).file);
  std::filesystem::remove(name);
}

// A movie of 40 JPEG blocks of 20 KB (about 800 KB), a sprite with a frame, a version 5 label
// (its string changes when the movie is written compressed) and trailing bytes.
Bytes LargeMovie(bool compressed) {
  TSWFStreamReader movie;
  movie.SetVersion(5);
  movie.FrameSize = {0, 0, 2000, 2000};
  TBitsEngine be(movie.Body());
  TSWFFrameLabel label;
  label.Name = "caf\xE9";
  label.WriteToStream(be);
  for (int i = 0; i < 40; ++i) {
    TSWFDefineBitsJPEG2 jpeg;
    jpeg.CharacterId = static_cast<std::uint16_t>(i + 1);
    jpeg.Data.resize(20000);
    for (std::size_t k = 0; k < jpeg.Data.size(); ++k) {
      jpeg.Data[k] = static_cast<std::uint8_t>((k * 2654435761u + i) >> 13);
    }
    jpeg.WriteToStream(be);
  }
  TSWFDefineSprite sprite;
  sprite.SpriteId = 41;
  sprite.ControlTags.push_back(std::make_unique<TSWFShowFrame>());
  sprite.WriteToStream(be);
  TSWFShowFrame().WriteToStream(be);
  TSWFEnd().WriteToStream(be);
  movie.Body().Write("\x40", 1);
  movie.SetCompressed(compressed);
  TMemoryStream file;
  movie.SaveToStream(file);
  return file.Bytes();
}

std::string WriteTempFile(const std::string& name, const Bytes& bytes) {
  const std::string path = testing::TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

// A movie loaded from its file is read where it lies: listed and rewritten under a budget that
// its body alone passes, it gives what a roomy reader holding it all gives.
TEST(MovieRewrite, MovieLargerThanTheBudgetIsListedAndRewrittenFromItsFile) {
  constexpr std::uint64_t kLimit = 96u << 10;  // a tag or two, where the body is 800 KB
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    const Bytes input = LargeMovie(compressed);
    const std::string name = WriteTempFile("kestrova_large.swf", input);
    std::ostringstream expected, listed;
    auto roomy = Loaded(input, TSWFReadContext::kDefaultMemoryLimit);
    roomy->ParseTags(true, true);
    WriteMovieListing(*roomy, name, expected);
    TSWFStreamReader reader;
    reader.MemoryLimit = kLimit;
    reader.LoadFromFile(name);
    ASSERT_GT(reader.BodySize(), 8 * kLimit);
    WriteMovieListingTagByTag(reader, name, listed);
    EXPECT_EQ(listed.str(), expected.str());
    EXPECT_TRUE(reader.BodyInFile());
    EXPECT_THROW(reader.Body(), EMemoryBudgetExceeded);
    for (const auto compression :
         {TRewriteCompression::Keep, TRewriteCompression::Compressed, TRewriteCompression::Plain}) {
      SCOPED_TRACE(int(compression));
      const Result want = InMemory(input, compression);
      ASSERT_TRUE(want.error.empty()) << want.error;
      TSWFStreamReader small;
      small.MemoryLimit = kLimit;
      small.LoadFromFile(name);
      const TMovieRewrite plan = PlanMovieRewrite(small, compression);
      const std::string out = testing::TempDir() + "/kestrova_large_out.swf";
      SaveMovieRewrite(small, plan, out);
      EXPECT_EQ(ReadFileBytes(out), want.file);
      EXPECT_EQ(plan.Warnings, want.warnings);
      EXPECT_EQ(small.BodyHeld(), 0u);
      std::filesystem::remove(out);
    }
    std::filesystem::remove(name);
  }
}

}  // namespace
}  // namespace kestrova
