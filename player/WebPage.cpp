#include "player/WebPage.h"

#include "swftools/SafeFile.h"

namespace kestrova {

namespace {

// Where a browser without a player of its own was sent to get one.
constexpr const char* kInstallerURL =
    "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=6,0,29,0";
constexpr const char* kPlayerPageURL = "https://www.macromedia.com/go/getflashplayer";

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

void PercentEncode(unsigned char c, std::string& out) {
  static const char* hex = "0123456789ABCDEF";
  out += '%';
  out += hex[c >> 4];
  out += hex[c & 15];
}

// The characters markup gives a meaning of their own, as entities; false for any other.
bool AppendEntity(char c, std::string& out) {
  switch (c) {
    case '&':
      out += "&amp;";
      return true;
    case '<':
      out += "&lt;";
      return true;
    case '>':
      out += "&gt;";
      return true;
    case '"':
      out += "&quot;";
      return true;
    default:
      return false;
  }
}

// A file name as a relative URL inside a double-quoted attribute (and as the text of a link).
// Characters markup gives a meaning to become entities; those that would start a fragment, a
// query or an escape are percent-encoded, and so are the bytes a URL parser drops or reads
// otherwise: controls, a backslash (a folder separator to a browser), and bytes past ASCII (the
// page names no character set, so only the encoded UTF-8 bytes reach the file's real name).
// A name with a colon would read as a URL of that scheme ("take:2.swf"), and spaces at either end
// are dropped by URL parsers: "./" and %20 keep them part of the name.
std::string FileReference(const std::string& name) {
  std::string out;
  if (name.find(':') != std::string::npos) out = "./";
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char ch = name[i];
    const auto c = static_cast<unsigned char>(ch);
    if (AppendEntity(ch, out)) continue;
    if (c == ' ' && (i == 0 || i + 1 == name.size())) {
      PercentEncode(c, out);
      continue;
    }
    switch (c) {
      case '\'':
        out += "&#39;";
        break;
      case '#':
      case '?':
      case '%':
      case '\\':
        PercentEncode(c, out);
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          PercentEncode(c, out);
        } else {
          out += ch;
        }
    }
  }
  return out;
}

// A URL given by the user, inside a double-quoted attribute: it stays the URL it was.
std::string Attribute(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (!AppendEntity(c, out)) out += c;
  }
  return out;
}

std::string ContinuationLinks(const std::vector<std::string>& names) {
  std::string links;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string name = FileReference(MovieFileNameBesidePage(names[i]));
    links += "<p><a href=\"" + name + "\">Part " + std::to_string(i + 2) + ": " + name + "</a></p>";
  }
  return links;
}

}  // namespace

std::string MovieFileNameBesidePage(const std::string& movieFileName) {
  const std::size_t sep = movieFileName.find_last_of(kPathSeparators);
  std::string s = sep == std::string::npos ? movieFileName : movieFileName.substr(sep + 1);
#ifdef _WIN32
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
#endif
  return s;
}

std::string MakeWebPage(const TWebPageOptions& o) {
  const std::string movie = FileReference(MovieFileNameBesidePage(o.MovieFileName));
  const std::string width = std::to_string(o.Width), height = std::to_string(o.Height);
  std::string page = "<html>";
  if (!o.WebPlayerURL.empty())
    page += "<script src=\"" + Attribute(o.WebPlayerURL) + "\"></script>";
  page += "<object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\"";
  page += kInstallerURL;
  page += "\" width=\"" + width + "\" height=\"" + height + "\">";
  page += "<param name=\"movie\" value=\"" + movie + "\"><param name=quality value=\"high\">";
  // The embed names the same movie at the same size as the object, so browsers that take the
  // embed show the movie too.
  page += "<embed src=\"" + movie + "\" quality=\"high\" pluginspage=\"";
  page += kPlayerPageURL;
  page += "\" type=\"application/x-shockwave-flash\" width=\"" + width + "\" height=\"" + height +
          "\"></embed></object>";
  page += ContinuationLinks(o.ContinuationFileNames);
  page += "</html>";
  return page;
}

std::string WebPageFileName(const std::string& movieFileName) {
  // A dot in a folder's name is no extension, on any system's paths.
  const std::size_t slash = movieFileName.find_last_of("/\\");
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = movieFileName.find_last_of('.');
  if (dot != std::string::npos && dot > base) return movieFileName.substr(0, dot) + ".html";
  return movieFileName + ".html";
}

bool PageNameEqualsMovie(const std::string& movieFileName) {
  const std::string page = WebPageFileName(movieFileName);
#if defined(_WIN32) || defined(__APPLE__)
  auto lower = [](std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
  };
  return lower(page) == lower(movieFileName);
#else
  return page == movieFileName;
#endif
}

void WriteWebPage(const std::string& pageFileName, const TWebPageOptions& options) {
  const std::string page = MakeWebPage(options);
  SaveFileSafely(pageFileName, [&](TStream& out) { out.Write(page.data(), page.size()); });
}

std::string StageWebPage(TSafeFileSet& files, const std::string& pageFileName,
                         const TWebPageOptions& options) {
  const std::string page = MakeWebPage(options);
  return files.Stage(pageFileName, [&](TStream& out) { out.Write(page.data(), page.size()); });
}

}  // namespace kestrova
