#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "player/WebPage.h"
#include "swftools/Stream.h"

namespace kestrova {
namespace {

TEST(WebPage, ObjectAndEmbedNameTheMovieAtItsSize) {
  TWebPageOptions o;
  o.MovieFileName = "D:\\demo\\run.swf";
  o.Width = 1280;
  o.Height = 720;
  EXPECT_EQ(MakeWebPage(o),
            "<html><object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\""
            "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab"
            "#version=6,0,29,0\" width=\"1280\" height=\"720\"><param name=\"movie\" "
            "value=\"run.swf\"><param name=quality value=\"high\"><embed src=\"run.swf\" "
            "quality=\"high\" pluginspage=\"https://www.macromedia.com/go/getflashplayer\" "
            "type=\"application/x-shockwave-flash\" width=\"1280\" height=\"720\"></embed>"
            "</object></html>");
}

TEST(WebPage, WebPlayerScriptComesFirstAndNamesAreEscaped) {
  TWebPageOptions o;
  o.MovieFileName = "/home/me/ my \"best\" <take>#2.swf\t";
  o.Width = 10;
  o.Height = 20;
  o.WebPlayerURL = "ruffle/ruffle.js?a=1&b=\"2\"";
  const std::string page = MakeWebPage(o);
  EXPECT_EQ(page.rfind("<html><script src=\"ruffle/ruffle.js?a=1&amp;b=&quot;2&quot;\"></script>"
                       "<object ",
                       0),
            0u)
      << page;
  const std::string movie = "my%20%22best%22%20%3Ctake%3E%232.swf";
  EXPECT_NE(page.find("value=\"" + movie + "\""), std::string::npos) << page;
  EXPECT_NE(page.find("<embed src=\"" + movie + "\""), std::string::npos) << page;
  EXPECT_EQ(page.find('\n'), std::string::npos);
}

TEST(WebPage, PageNameAndWriting) {
  EXPECT_EQ(WebPageFileName("D:\\demo\\run.swf"), "D:\\demo\\run.html");
  EXPECT_EQ(WebPageFileName("clip.abc"), "clip.html");
  EXPECT_EQ(WebPageFileName(".swf"), ".swf.html");
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
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrova
