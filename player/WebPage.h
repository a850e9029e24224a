// The HTML page that shows a movie: the object and embed markup of the plug-in era and, unless
// asked not to, the Ruffle web player (npm package @ruffle-rs/ruffle), which plays the same
// markup in today's browsers: from its public address, any URL, or a copy beside the page.
// Wherever no player takes the movie the page says so in words, with a link to the movie and
// the command that shows it on the desktop. The recorder's page, slideshow and join all write
// their page through here.
#pragma once

#include <string>
#include <vector>

#include "swftools/SafeFile.h"

namespace kestrova {

struct TWebPageOptions {
  // The movie as the page refers to it: its file name beside the page. A path serves: the
  // folders before the last separator of this system ('/', and '\' on Windows) are dropped; every
  // other character is kept (on Windows, trailing spaces and dots, which its file system drops
  // from the names it creates, are dropped too).
  std::string MovieFileName;
  int Width = 0, Height = 0;  // the stage, pixels
  // The web player, as the commands' --web-player takes it (see WebPlayerScript): empty for the
  // public copy, "none" for the plain object/embed page, "local" or "local:PATH" for a copy
  // beside the page, or the script's URL, relative to the page or absolute.
  std::string WebPlayerURL;
  // Movies that go on where this one ends (a recording too long for one movie), named like
  // MovieFileName; the page links them in order, as parts 2, 3...
  std::vector<std::string> ContinuationFileNames;
};

// The public copy of the web player that pages load by default: a pinned version, so that a page
// keeps playing the way it did when it was written.
inline constexpr const char* kDefaultWebPlayerURL =
    "https://unpkg.com/@ruffle-rs/ruffle@0.6.0/ruffle.js";
// Where "local" puts the copy, relative to the page.
inline constexpr const char* kLocalWebPlayerFolder = "ruffle";

// The script a page loads for a --web-player value: kDefaultWebPlayerURL for an empty one, empty
// for "none", "ruffle/ruffle.js" for "local" and "local:PATH", the value itself otherwise.
std::string WebPlayerScript(const std::string& webPlayer);
// True for "local" and "local:PATH".
bool IsLocalWebPlayer(const std::string& webPlayer);
// The folder of the web player that "local" copies: PATH (the package's folder, or its ruffle.js)
// for "local:PATH"; for "local", node_modules/@ruffle-rs/ruffle in the current folder or one
// above it, then in the global npm folders ($NPM_CONFIG_PREFIX/lib/node_modules, ~/.npm-global,
// ~/.local, /usr/local, /usr). Throws std::runtime_error saying where it looked and how to get
// it when there is none.
std::string FindLocalWebPlayer(const std::string& webPlayer);

// The page's text: one line, no line break. Names and URLs are escaped, so any file name gives a
// well-formed page that refers to that very file: a name a browser would read as a URL with a
// scheme ("take:2.swf") starts with "./", and spaces at either end are percent-encoded.
std::string MakeWebPage(const TWebPageOptions& options);

// The page's name for a movie: the movie's extension replaced by ".html" (for the usual ".swf",
// the name without its last four characters); a name without an extension gets ".html" added.
std::string WebPageFileName(const std::string& movieFileName);

// The name the page uses for a movie: MovieFileName's rule above.
std::string MovieFileNameBesidePage(const std::string& movieFileName);

// True when the movie's page would have the movie's own name ("out.html"), so that writing the
// page would destroy the movie; names that differ only in case count as equal on systems whose
// file names ignore case.
bool PageNameEqualsMovie(const std::string& movieFileName);

// Writes the page safely (swftools/SafeFile.h), replacing a file of that name; for a local web
// player, the player's files go into the folder "ruffle" beside it (files already there with the
// same bytes are left alone). Throws EStreamError naming the file when it cannot be written (an
// earlier page is then left as it was) and std::runtime_error when the local web player is not
// found.
void WriteWebPage(const std::string& pageFileName, const TWebPageOptions& options);
// Stages the page, and the local web player's files, in a set of files saved together
// (swftools/SafeFile.h); returns the page's temporary file. Throws as WriteWebPage.
std::string StageWebPage(TSafeFileSet& files, const std::string& pageFileName,
                         const TWebPageOptions& options);

}  // namespace kestrova
