#include "player/WebPage.h"

#include "swftools/Stream.h"

namespace kestrova {

namespace {

// Where a browser without a player of its own was sent to get one.
constexpr const char* kInstallerURL =
    "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=6,0,29,0";
constexpr const char* kPlayerPageURL = "https://www.macromedia.com/go/getflashplayer";

// The part after the last slash or backslash, without leading and trailing spaces and control
// characters.
std::string BareFileName(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  std::string s = slash == std::string::npos ? name : name.substr(slash + 1);
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; };
  while (!s.empty() && blank(s.front())) s.erase(s.begin());
  while (!s.empty() && blank(s.back())) s.pop_back();
  return s;
}

// A file name as a relative URL: bytes other than unreserved characters are percent-encoded, so
// spaces, '#', '?', quotes and '<' can neither break the attribute nor change the address.
std::string UrlPath(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Text inside a double-quoted attribute.
std::string Attribute(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string MakeWebPage(const TWebPageOptions& o) {
  const std::string movie = Attribute(UrlPath(BareFileName(o.MovieFileName)));
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
          "\"></embed></object></html>";
  return page;
}

std::string WebPageFileName(const std::string& movieFileName) {
  const std::string stem =
      movieFileName.size() > 4 ? movieFileName.substr(0, movieFileName.size() - 4) : movieFileName;
  return stem + ".html";
}

void WriteWebPage(const std::string& pageFileName, const TWebPageOptions& options) {
  const std::string page = MakeWebPage(options);
  TFileStream file(pageFileName, TFileStream::Mode::Create);
  file.Write(page.data(), page.size());
  file.Close();
}

}  // namespace kestrova
