#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "player/WebPage.h"
#include "swftools/Stream.h"

namespace kestrova {
namespace {

constexpr const char* kObjectStart =
    "<object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\""
    "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=6,0,29,0\"";

// "none": the page of the plug-in era, for browsers with a player of their own.
TEST(WebPage, ObjectAndEmbedNameTheMovieAtItsSize) {
  TWebPageOptions o;
  o.WebPlayerURL = "none";
  o.MovieFileName = "/d/demo/run.swf";
  o.Width = 1280;
  o.Height = 720;
  EXPECT_EQ(MakeWebPage(o),
            std::string("<html>") + kObjectStart +
                " width=\"1280\" height=\"720\"><param name=\"movie\" "
                "value=\"run.swf\"><param name=quality value=\"high\"><embed src=\"run.swf\" "
                "quality=\"high\" pluginspage=\"https://www.macromedia.com/go/getflashplayer\" "
                "type=\"application/x-shockwave-flash\" width=\"1280\" height=\"720\"></embed>"
                "</object></html>");
}

TEST(WebPage, ContinuationsAreLinkedInOrderAfterTheMovie) {
  TWebPageOptions o;
  o.WebPlayerURL = "none";
  o.MovieFileName = "/rec/long take.swf";
  o.Width = 64;
  o.Height = 48;
  o.ContinuationFileNames = {"/rec/long take-2.swf", "/rec/long take-3.swf"};
  EXPECT_EQ(MakeWebPage(o),
            std::string("<html>") + kObjectStart +
                " width=\"64\" height=\"48\"><param name=\"movie\" value=\"long take.swf\">"
                "<param name=quality value=\"high\"><embed src=\"long take.swf\" quality=\"high\" "
                "pluginspage=\"https://www.macromedia.com/go/getflashplayer\" "
                "type=\"application/x-shockwave-flash\" width=\"64\" height=\"48\"></embed>"
                "</object><p><a href=\"long take-2.swf\">Part 2: long take-2.swf</a></p>"
                "<p><a href=\"long take-3.swf\">Part 3: long take-3.swf</a></p></html>");
}

// Each name must reach the browser as a relative URL of that very file: markup characters as
// entities, the characters that start a fragment, a query or an escape percent-encoded, and so
// the bytes a URL parser would drop or turn into a folder separator.
TEST(WebPage, EveryFileNameIsReferredToExactly) {
  struct {
    const char* Name;
    const char* Reference;
  } rows[] = {
      {"/d/run.swf", "run.swf"},
      {"run.swf", "run.swf"},
      // Every character of the name is kept; spaces at the ends, which URL parsers drop, are
      // encoded, and a name a browser would read as a scheme ("take:") starts with "./".
      {"/d/ spaced name.swf \t", "%20spaced name.swf %09"},
      {"/d/ lead.swf", "%20lead.swf"},
      {"take:2.swf", "./take:2.swf"},
      {"/d/a b:c.swf", "./a b:c.swf"},
      {"/x/a\"<b>&c.swf", "a&quot;&lt;b&gt;&amp;c.swf"},
      {"/x/it's #1?.swf", "it&#39;s %231%3F.swf"},
      {"/x/100%.swf", "100%25.swf"},
      {"/x/a\\b.swf", "a%5Cb.swf"},
      {"/x/tab\there\nnow.swf", "tab%09here%0Anow.swf"},
      {"/x/F\xC3\xAFlm.swf", "F%C3%AFlm.swf"},
      {"/x/{}[]()!$*+,;=:@~^`|.swf", "./{}[]()!$*+,;=:@~^`|.swf"},
  };
  for (const char* webPlayer : {"none", ""}) {
    for (const auto& r : rows) {
      TWebPageOptions o;
      o.WebPlayerURL = webPlayer;
      o.MovieFileName = r.Name;
      o.ContinuationFileNames = {r.Name};
      const std::string page = MakeWebPage(o);
      const std::string ref = r.Reference;
      EXPECT_NE(page.find("value=\"" + ref + "\""), std::string::npos) << r.Name << "\n" << page;
      EXPECT_NE(page.find("<embed src=\"" + ref + "\""), std::string::npos) << r.Name;
      EXPECT_NE(page.find("<a href=\"" + ref + "\">Part 2: " + ref + "</a>"), std::string::npos)
          << r.Name;
      EXPECT_EQ(page.find('\n'), std::string::npos) << r.Name;
    }
  }
}

TEST(WebPage, WebPlayerChoices) {
  struct {
    const char* Option;
    std::string Script;
  } rows[] = {
      {"", "https://unpkg.com/@ruffle-rs/ruffle@0.6.0/ruffle.js"},
      {"none", ""},
      {"local", "ruffle/ruffle.js"},
      {"local:/opt/ruffle", "ruffle/ruffle.js"},
      {"https://example.org/r/ruffle.js", "https://example.org/r/ruffle.js"},
      {"localplayer/ruffle.js", "localplayer/ruffle.js"},
      {"None", "None"},
  };
  for (const auto& r : rows) EXPECT_EQ(WebPlayerScript(r.Option), r.Script) << r.Option;
}

std::string Between(const std::string& page, const std::string& from, const std::string& to) {
  const std::size_t a = page.find(from);
  if (a == std::string::npos) return {};
  const std::size_t b = page.find(to, a + from.size());
  return b == std::string::npos ? std::string() : page.substr(a, b - a);
}

std::size_t Count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// By default the page loads the public web player, keeps the markup for browsers with a player
// of their own, and has words, a link to the movie and the desktop command wherever nothing
// plays it: inside the object, for scripts off, for a web player that cannot be loaded and for a
// page opened from disk.
TEST(WebPage, TheDefaultPageLoadsTheWebPlayerAndSaysWhereNothingPlays) {
  TWebPageOptions o;
  o.MovieFileName = "/d/demo/run.swf";
  o.Width = 320;
  o.Height = 200;
  const std::string page = MakeWebPage(o);
  EXPECT_EQ(page.find('\n'), std::string::npos);
  EXPECT_NE(page.find("(\"https://unpkg.com/@ruffle-rs/ruffle@0.6.0/ruffle.js\",[\"run.swf\"]);"
                      "</script>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<param name=\"movie\" value=\"run.swf\">"), std::string::npos);
  EXPECT_NE(page.find("<embed src=\"run.swf\" quality=\"high\""), std::string::npos);
  const std::string inObject = Between(page, "</embed>", "</object>");
  EXPECT_NE(inObject.find("<a href=\"run.swf\">run.swf</a>"), std::string::npos) << page;
  EXPECT_NE(inObject.find("<code>kestrova view run.html</code>"), std::string::npos) << page;
  EXPECT_NE(page.find("<noscript>"), std::string::npos);
  const std::string noPlayer = Between(page, "<p id=\"kestrova-noplayer\" hidden>", "</p>");
  EXPECT_NE(noPlayer.find("kestrova view run.html"), std::string::npos) << page;
  const std::string file = Between(page, "<p id=\"kestrova-file\" hidden>", "</p>");
  EXPECT_NE(file.find("opened from a file"), std::string::npos) << page;
  EXPECT_NE(file.find("<code>kestrova view run.html</code>"), std::string::npos) << page;
  EXPECT_NE(file.find("<a href=\"run.swf\">"), std::string::npos) << page;
  EXPECT_EQ(page.find("<p id=\"kestrova-part\""), std::string::npos);
}

// The command shown can be pasted into a shell as it stands.
TEST(WebPage, TheDesktopCommandQuotesTheName) {
  struct {
    const char* Movie;
    const char* Command;
  } rows[] = {
      {"/d/run.swf", "kestrova view run.html"},
      {"/d/take #2.swf", "kestrova view 'take #2.html'"},
      {"/d/it's.swf", "kestrova view 'it'\\''s.html'"},
      {"/d/-x.swf", "kestrova view ./'-x.html'"},
      {"/d/$(rm).swf", "kestrova view '$(rm).html'"},
      {"/d/a&b.swf", "kestrova view 'a&amp;b.html'"},
  };
  for (const auto& r : rows) {
    TWebPageOptions o;
    o.MovieFileName = r.Movie;
    EXPECT_NE(MakeWebPage(o).find(std::string("<code>") + r.Command + "</code>"), std::string::npos)
        << r.Movie;
  }
}

// Whatever the URL and the names hold, nothing ends the page's script early or breaks out of
// its strings.
TEST(WebPage, NamesAndURLsStayInsideTheScript) {
  TWebPageOptions o;
  // A file name holds no '/', so only the URL can hold "</script>".
  o.MovieFileName = "/d/a<script>\"'.swf";
  o.WebPlayerURL = "r.js\"</script><b>'\\";
  o.ContinuationFileNames = {"/d/b\\\n.swf"};
  const std::string page = MakeWebPage(o);
  EXPECT_EQ(Count(page, "<script>"), 1u) << page;
  EXPECT_EQ(Count(page, "</script>"), 1u) << page;
  EXPECT_EQ(Count(page, "<b>"), 0u) << page;
  const std::string script = Between(page, "<script>", "</script>");
  EXPECT_NE(script.find("(\"r.js\\u0022\\u003c/script\\u003e\\u003cb\\u003e\\u0027\\u005c\","
                        "[\"a\\u003cscript\\u003e\\u0022\\u0027.swf\",\"b\\u005c\\u000a.swf\"]);"),
            std::string::npos)
      << script;
}

// A recording in parts: the page names the parts in order to the script, which follows the one
// playing, and shows "part 1 of n" to begin with.
TEST(WebPage, APageOfPartsNamesThemForTheLabel) {
  TWebPageOptions o;
  o.MovieFileName = "/rec/long take.swf";
  o.WebPlayerURL = "ruffle/ruffle.js";
  o.ContinuationFileNames = {"/rec/long take-2.swf", "/rec/long take-3.swf"};
  const std::string page = MakeWebPage(o);
  EXPECT_NE(page.find("<p id=\"kestrova-part\" hidden>part 1 of 3</p>"), std::string::npos);
  EXPECT_NE(page.find("(\"ruffle/ruffle.js\",[\"long take.swf\",\"long take-2.swf\","
                      "\"long take-3.swf\"]);"),
            std::string::npos)
      << page;
  EXPECT_LT(page.find("kestrova-part"), page.find("<object"));
  EXPECT_NE(page.find("<a href=\"long take-3.swf\">Part 3: long take-3.swf</a>"),
            std::string::npos);
}

TEST(WebPage, PageNames) {
  struct {
    const char* Movie;
    const char* Page;
  } rows[] = {
      {"/d/demo/run.swf", "/d/demo/run.html"},
      {"D:\\demo\\run.swf", "D:\\demo\\run.html"},
      {"/d/demo/run.abc", "/d/demo/run.html"},
      {"clip.jpeg", "clip.html"},
      {"/d/v1.2/movie", "/d/v1.2/movie.html"},
      {"C:\\v1.2\\movie", "C:\\v1.2\\movie.html"},
      {"/d/ spaced.swf ", "/d/ spaced.html"},
      {".swf", ".swf.html"},
      {"run", "run.html"},
  };
  for (const auto& r : rows) EXPECT_EQ(WebPageFileName(r.Movie), r.Page) << r.Movie;
}

// A movie named like its page would be overwritten by it.
TEST(WebPage, PageNameEqualsMovieOnlyForAPageNamedMovie) {
  struct {
    const char* Movie;
    bool Equal;
  } rows[] = {{"out.html", true}, {"/d/v1.2/out.html", true}, {"out.swf", false},
              {"out", false},     {"out.html.swf", false},    {"/d/x.htm", false}};
  for (const auto& r : rows) EXPECT_EQ(PageNameEqualsMovie(r.Movie), r.Equal) << r.Movie;
}

TEST(WebPage, WritingReplacesAnOlderPageWhole) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("kestrova-page-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  TWebPageOptions o;
  o.MovieFileName = "a.swf";
  o.Width = 1;
  o.Height = 2;
  const std::string name = (dir / "a.html").string();
  std::ofstream(name) << "an older page that is longer than the new one, much longer, "
                         "so a page written over it without truncation would show a tail"
                      << std::string(1000, 'x');
  WriteWebPage(name, o);
  std::stringstream written;
  written << std::ifstream(name).rdbuf();
  EXPECT_EQ(written.str(), MakeWebPage(o));
  EXPECT_THROW(WriteWebPage((dir / "missing" / "a.html").string(), o), EStreamError);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

namespace fs = std::filesystem;

class WebPlayerFolder : public ::testing::Test {
 protected:
  const fs::path Dir =
      fs::temp_directory_path() / ("kestrova-web-player-" + std::to_string(::getpid()));
  void SetUp() override {
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  // A stand-in for the npm package: its script, a chunk, the code, a source map and a licence.
  fs::path Package(const fs::path& at) {
    fs::create_directories(at);
    for (const char* name :
         {"ruffle.js", "core.ruffle.1.js", "x.wasm", "ruffle.js.map", "LICENSE_MIT"}) {
      std::ofstream(at / name) << "the bytes of " << name;
    }
    return at;
  }
  static std::string Read(const fs::path& file) {
    std::stringstream s;
    s << std::ifstream(file).rdbuf();
    return s.str();
  }
};

// Runs in another folder and puts the current one back, whatever happens.
struct TInFolder {
  fs::path Was = fs::current_path();
  explicit TInFolder(const fs::path& dir) { fs::current_path(dir); }
  ~TInFolder() { fs::current_path(Was); }
};

TEST_F(WebPlayerFolder, LocalPathIsThePackageFolderOrItsScript) {
  const fs::path package = Package(Dir / "pkg");
  EXPECT_EQ(FindLocalWebPlayer("local:" + package.string()), package.string());
  EXPECT_EQ(FindLocalWebPlayer("local:" + (package / "ruffle.js").string()), package.string());
  const std::string missing = (Dir / "nothing").string();
  try {
    FindLocalWebPlayer("local:" + missing);
    ADD_FAILURE() << "a folder without the web player was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
}

TEST_F(WebPlayerFolder, LocalIsFoundInNodeModulesHereOrAbove) {
  const fs::path package = Package(Dir / "node_modules" / "@ruffle-rs" / "ruffle");
  fs::create_directories(Dir / "a" / "b");
  std::string found;
  {
    TInFolder in(Dir / "a" / "b");
    found = FindLocalWebPlayer("local");
  }
  EXPECT_EQ(fs::canonical(found), fs::canonical(package));
}

TEST_F(WebPlayerFolder, LocalNotFoundSaysWhereItLookedAndHowToGetIt) {
  for (const char* global : {"/usr/local/lib/node_modules", "/usr/lib/node_modules"}) {
    if (fs::exists(fs::path(global) / "@ruffle-rs" / "ruffle" / "ruffle.js")) {
      GTEST_SKIP() << "the web player is installed in " << global;
    }
  }
  const char* home = std::getenv("HOME");
  const std::string oldHome = home ? home : "";
  const char* prefix = std::getenv("NPM_CONFIG_PREFIX");
  const std::string oldPrefix = prefix ? prefix : "";
  ::setenv("HOME", Dir.c_str(), 1);
  ::setenv("NPM_CONFIG_PREFIX", (Dir / "npm").c_str(), 1);
  std::string what;
  {
    TInFolder in(Dir);
    try {
      FindLocalWebPlayer("local");
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
  }
  home ? ::setenv("HOME", oldHome.c_str(), 1) : ::unsetenv("HOME");
  prefix ? ::setenv("NPM_CONFIG_PREFIX", oldPrefix.c_str(), 1) : ::unsetenv("NPM_CONFIG_PREFIX");
  EXPECT_NE(what.find((Dir / "node_modules").string()), std::string::npos) << what;
  EXPECT_NE(what.find((Dir / "npm" / "lib" / "node_modules").string()), std::string::npos) << what;
  EXPECT_NE(what.find("npm install @ruffle-rs/ruffle"), std::string::npos) << what;
  EXPECT_NE(what.find("local:PATH"), std::string::npos) << what;
}

// The copy beside the page works offline: every file but the source maps, refreshed when the
// package changes and left alone when it has not.
TEST_F(WebPlayerFolder, LocalCopiesThePlayerBesideThePage) {
  const fs::path package = Package(Dir / "pkg");
  fs::create_directories(Dir / "out");
  TWebPageOptions o;
  o.MovieFileName = "m.swf";
  o.WebPlayerURL = "local:" + package.string();
  const fs::path page = Dir / "out" / "m.html";
  WriteWebPage(page.string(), o);
  EXPECT_NE(Read(page).find("(\"ruffle/ruffle.js\",[\"m.swf\"]);"), std::string::npos);
  std::set<std::string> copied;
  for (const auto& e : fs::directory_iterator(Dir / "out" / "ruffle")) {
    copied.insert(e.path().filename().string());
    EXPECT_EQ(Read(e.path()), Read(package / e.path().filename())) << e.path();
  }
  EXPECT_EQ(copied,
            (std::set<std::string>{"ruffle.js", "core.ruffle.1.js", "x.wasm", "LICENSE_MIT"}));

  struct stat before {};
  ASSERT_EQ(::stat((Dir / "out" / "ruffle" / "x.wasm").c_str(), &before), 0);
  std::ofstream(package / "ruffle.js") << "a newer player";
  WriteWebPage(page.string(), o);
  struct stat after {};
  ASSERT_EQ(::stat((Dir / "out" / "ruffle" / "x.wasm").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(Read(Dir / "out" / "ruffle" / "ruffle.js"), "a newer player");

  o.WebPlayerURL = "local:" + (Dir / "nothing").string();
  EXPECT_THROW(WriteWebPage((Dir / "out" / "n.html").string(), o), std::runtime_error);
  EXPECT_FALSE(fs::exists(Dir / "out" / "n.html"));
}

}  // namespace
}  // namespace kestrova
