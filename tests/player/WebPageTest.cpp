#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "player/WebPage.h"
#include "swftools/Stream.h"

namespace kestrova {
namespace {

constexpr const char* kObjectStart =
    "<object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\""
    "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=6,0,29,0\"";

TEST(WebPage, ObjectAndEmbedNameTheMovieAtItsSize) {
  TWebPageOptions o;
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
  for (const auto& r : rows) {
    TWebPageOptions o;
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

TEST(WebPage, WebPlayerScriptComesFirst) {
  TWebPageOptions o;
  o.MovieFileName = "m.swf";
  o.Width = 10;
  o.Height = 20;
  EXPECT_EQ(MakeWebPage(o).find("<script"), std::string::npos);
  o.WebPlayerURL = "ruffle/ruffle.js?a=1&b=\"2\"";
  o.ContinuationFileNames = {"m-2.swf"};
  const std::string page = MakeWebPage(o);
  EXPECT_EQ(page.rfind(std::string("<html><script src=\"ruffle/ruffle.js?a=1&amp;b=&quot;2&quot;\">"
                                   "</script>") +
                           kObjectStart,
                       0),
            0u)
      << page;
  EXPECT_NE(page.find("<embed src=\"m.swf\""), std::string::npos);
  EXPECT_EQ(page.size() - page.find("</object><p><a href=\"m-2.swf\">"),
            std::string("</object><p><a href=\"m-2.swf\">Part 2: m-2.swf</a></p></html>").size());
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

}  // namespace
}  // namespace kestrova
