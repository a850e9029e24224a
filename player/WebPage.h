// The HTML page that shows a movie: the object and embed markup of the plug-in era, and, when a
// web player's script is given, that script, which plays the same markup in today's browsers
// (the Ruffle web player: a copy of the npm package @ruffle-rs/ruffle beside the page, or any URL).
// The recorder's page, slideshow and join all write their page through here.
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
  // The web player's script, as a URL relative to the page or absolute ("ruffle/ruffle.js");
  // empty: the page has no script.
  std::string WebPlayerURL;
  // Movies that go on where this one ends (a recording too long for one movie), named like
  // MovieFileName; the page links them in order, as parts 2, 3...
  std::vector<std::string> ContinuationFileNames;
};

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

// Writes the page safely (swftools/SafeFile.h), replacing a file of that name. Throws
// EStreamError naming the file when it cannot be written; an earlier page is then left as it was.
void WriteWebPage(const std::string& pageFileName, const TWebPageOptions& options);
// Stages the page in a set of files saved together (swftools/SafeFile.h); returns the temporary
// file. Throws EStreamError naming the page when it cannot be written.
std::string StageWebPage(TSafeFileSet& files, const std::string& pageFileName,
                         const TWebPageOptions& options);

}  // namespace kestrova
