// The HTML page that shows a movie: the object and embed markup of the plug-in era, and, when a
// web player's script is given, that script, which plays the same markup in today's browsers
// (the Ruffle web player: a copy of the npm package @ruffle-rs/ruffle beside the page, or any URL).
// The recorder's page, slideshow and join all write their page through here.
#pragma once

#include <string>

namespace kestrova {

struct TWebPageOptions {
  // The movie as the page refers to it: its file name beside the page (any folders in it are
  // dropped, so a full path serves).
  std::string MovieFileName;
  int Width = 0, Height = 0;  // the stage, pixels
  // The web player's script, as a URL relative to the page or absolute ("ruffle/ruffle.js");
  // empty: the page has no script.
  std::string WebPlayerURL;
};

// The page's text: one line, no line break. Names and URLs are escaped, so any file name gives a
// well-formed page.
std::string MakeWebPage(const TWebPageOptions& options);

// The page's name for a movie: the movie's name without its last four characters (".swf"),
// followed by ".html"; a name of four characters or fewer just gets ".html".
std::string WebPageFileName(const std::string& movieFileName);

// Writes the page, replacing a file of that name. Throws EStreamError naming the file when it
// cannot be written.
void WriteWebPage(const std::string& pageFileName, const TWebPageOptions& options);

}  // namespace kestrova
