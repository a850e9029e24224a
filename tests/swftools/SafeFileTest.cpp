#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "swftools/SafeFile.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

class SaveFileSafelyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("kestrova-safe-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  static void Put(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }
  static std::string Get(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Save(const fs::path& p, const std::string& text) {
    SaveFileSafely(p.string(), [&](TStream& s) { s.Write(text.data(), text.size()); });
  }
  // The folder holds exactly these names (no temporary file left behind).
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path Dir;
};

TEST_F(SaveFileSafelyTest, CreatesAndReplacesRegularFilesLeavingNothingBehind) {
  const fs::path out = Dir / "out.swf";
  Save(out, "first");
  EXPECT_EQ(Get(out), "first");
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  Save(out, "second, longer than the first");
  EXPECT_EQ(Get(out), "second, longer than the first");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.swf"});
}

TEST_F(SaveFileSafelyTest, ReplacedFileKeepsItsPermissions) {
  const fs::path out = Dir / "out.swf";
  Put(out, "old");
  ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
  Save(out, "new");
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Get(out), "new");
}

TEST_F(SaveFileSafelyTest, ReadOnlyFileIsRefusedOrKeptReadOnly) {
  const fs::path out = Dir / "out.swf";
  Put(out, "old");
  ASSERT_EQ(::chmod(out.c_str(), 0444), 0);
  if (::access(out.c_str(), W_OK) == 0) {
    // Root may write any file: the replacement is still read-only.
    Save(out, "new");
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
  } else {
    try {
      Save(out, "new");
      ADD_FAILURE() << "a read-only file was replaced";
    } catch (const EStreamError& e) {
      EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Get(out), "old");
  }
}

TEST_F(SaveFileSafelyTest, PlantedLinkBesideTheTargetIsNeverWrittenThrough) {
  // The old working name OUT.part, planted as a link to an unrelated file.
  const fs::path victim = Dir / "victim.txt";
  Put(victim, "precious");
  const fs::path out = Dir / "out.swf";
  fs::create_symlink(victim, Dir / "out.swf.part");
  Save(out, "movie");
  EXPECT_EQ(Get(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(out));
  EXPECT_EQ(Get(out), "movie");
}

TEST_F(SaveFileSafelyTest, LinkAtTheTargetUpdatesWhatItPointsAt) {
  const fs::path real = Dir / "real.swf";
  Put(real, "old");
  const fs::path out = Dir / "out.swf";
  fs::create_symlink(real, out);
  Save(out, "new");
  EXPECT_TRUE(fs::is_symlink(out));
  EXPECT_EQ(Get(real), "new");
  fs::remove(real);
  try {
    Save(out, "again");
    ADD_FAILURE() << "a dangling link was saved through";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find(out.string()), std::string::npos) << e.what();
  }
}

TEST_F(SaveFileSafelyTest, DevicesAndPipesAreWrittenInPlace) {
  Save("/dev/null", "nothing");
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  const fs::path fifo = Dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = Get(fifo); });
  Save(fifo, "through the pipe");
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SaveFileSafelyTest, FailuresNameTheTargetAndKeepTheOldFile) {
  const fs::path out = Dir / "out.swf";
  Put(out, "old");
  EXPECT_THROW(SaveFileSafely(out.string(),
                              [](TStream& s) {
                                s.Write("partial", 7);
                                throw std::runtime_error("writer gave up");
                              }),
               std::runtime_error);
  EXPECT_EQ(Get(out), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.swf"});

  const fs::path missing = Dir / "no-such-folder" / "out.swf";
  const fs::path folder = Dir / "folder";
  fs::create_directories(folder);
  for (const fs::path& bad : {missing, folder}) {
    try {
      Save(bad, "x");
      ADD_FAILURE() << bad;
    } catch (const EStreamError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("\"" + bad.string() + "\""), std::string::npos) << what;
      EXPECT_EQ(what.find(".XXXXXX"), std::string::npos) << what;
    }
  }
}

// A movie and its page: staged files leave the targets alone until Commit, and a failure at any
// step, the last rename included, leaves every target as it was.
TEST_F(SaveFileSafelyTest, FilesSavedTogetherReplaceAllOrNothing) {
  const fs::path movie = Dir / "out.swf", page = Dir / "out.html";
  auto text = [](const std::string& t) { return [t](TStream& s) { s.Write(t.data(), t.size()); }; };
  Put(movie, "old movie");
  Put(page, "old page");
  {
    TSafeFileSet set;
    const std::string staged = set.Stage(movie.string(), text("new movie"));
    EXPECT_EQ(Get(staged), "new movie");
    set.Stage(page.string(), text("new page"));
    EXPECT_EQ(Get(movie), "old movie");
    EXPECT_EQ(Get(page), "old page");
    set.Commit();
  }
  EXPECT_EQ(Get(movie), "new movie");
  EXPECT_EQ(Get(page), "new page");
  EXPECT_EQ(Names(), (std::vector<std::string>{"out.html", "out.swf"}));

  struct {
    const char* What;
    std::function<void()> Block;      // before the page is staged
    std::function<void()> Interfere;  // between staging and Commit
  } rows[] = {
      {"a page made read-only", [&] { fs::permissions(page, fs::perms::owner_read); }, [] {}},
      {"a folder in the page's place",
       [&] {
         fs::remove(page);
         fs::create_directories(page);
       },
       [] {}},
      {"a folder put in the page's place just before the renames", [] {},
       [&] {
         fs::remove(page);
         fs::create_directories(page / "inside");
       }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.What);
    fs::remove_all(page);
    Put(movie, "old movie");
    Put(page, "old page");
    r.Block();
    if (::geteuid() == 0 && std::string(r.What) == "a page made read-only") continue;
    {
      TSafeFileSet set;
      set.Stage(movie.string(), text("new movie"));
      try {
        set.Stage(page.string(), text("new page"));
        r.Interfere();
        set.Commit();
        ADD_FAILURE() << "saved";
      } catch (const EStreamError& e) {
        EXPECT_NE(std::string(e.what()).find("out.html"), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(Get(movie), "old movie");
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.html", "out.swf"}));
    fs::permissions(page, fs::perms::owner_all);
  }
}

}  // namespace
}  // namespace kestrova
