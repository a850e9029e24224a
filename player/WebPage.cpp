#include "player/WebPage.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "swftools/SafeFile.h"
#include "swftools/Stream.h"

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

std::string ContinuationLinks(const std::vector<std::string>& names) {
  std::string links;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string name = FileReference(MovieFileNameBesidePage(names[i]));
    links += "<p><a href=\"" + name + "\">Part " + std::to_string(i + 2) + ": " + name + "</a></p>";
  }
  return links;
}

// The object and embed markup of the plug-in era; fallback is what the object shows where no
// player takes it.
std::string ObjectMarkup(const TWebPageOptions& o, const std::string& attributes,
                         const std::string& fallback) {
  const std::string movie = FileReference(MovieFileNameBesidePage(o.MovieFileName));
  const std::string width = std::to_string(o.Width), height = std::to_string(o.Height);
  std::string page = "<object" + attributes;
  page += " classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\" codebase=\"";
  page += kInstallerURL;
  page += "\" width=\"" + width + "\" height=\"" + height + "\">";
  page += "<param name=\"movie\" value=\"" + movie + "\"><param name=quality value=\"high\">";
  // The embed names the same movie at the same size as the object, so browsers that take the
  // embed show the movie too.
  page += "<embed src=\"" + movie + "\" quality=\"high\" pluginspage=\"";
  page += kPlayerPageURL;
  page += "\" type=\"application/x-shockwave-flash\" width=\"" + width + "\" height=\"" + height +
          "\"></embed>" + fallback + "</object>";
  return page;
}

// The page of the plug-in era, for browsers with a player of their own.
std::string PlainPage(const TWebPageOptions& o) {
  return "<html>" + ObjectMarkup(o, "", "") + ContinuationLinks(o.ContinuationFileNames) +
         "</html>";
}

// Text between tags; controls as character references, so the page stays one line.
std::string Text(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (AppendEntity(c, out)) continue;
    if (static_cast<unsigned char>(c) < 0x20) {
      out += "&#" + std::to_string(static_cast<int>(c)) + ";";
    } else {
      out += c;
    }
  }
  return out;
}

// A file name as a shell word, so the command shown can be pasted as it stands.
std::string ShellWord(const std::string& name) {
  const bool plain = !name.empty() &&
                     name.find_first_not_of(
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                         "0123456789._+,/@%=-") == std::string::npos &&
                     name[0] != '-';
  if (plain) return name;
  std::string out = name[0] == '-' ? "./'" : "'";
  for (char c : name) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// A string literal of a script inside the page: nothing in it can end the script element.
std::string ScriptString(const std::string& s) {
  static const char* hex = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c == '\'') {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// Plays the movie in the web player where the browser has no player of its own. A page opened
// from a file gets no web player, which could only show its own error: browsers do not let such
// a page fetch its movie. With several parts, the label follows the part the player fetches.
constexpr const char* kLoader =
    "(function(player,parts){var d=document;function $(i){return d.getElementById(i)}"
    "var flash=navigator.mimeTypes&&navigator.mimeTypes[\"application/x-shockwave-flash\"];"
    "if(location.protocol==\"file:\"&&!flash){$(\"kestrova-movie\").style.display=\"none\";"
    "$(\"kestrova-file\").hidden=false;return}"
    "var label=$(\"kestrova-part\");if(label)label.hidden=false;"
    "if(parts.length>1&&window.fetch){var f=window.fetch;window.fetch=function(r){try{"
    "var u=decodeURIComponent(new URL(r instanceof "
    "Request?r.url:String(r),location.href).pathname);"
    "for(var k=0;k<parts.length;k++){if(u.slice(-parts[k].length-1)==\"/\"+parts[k]){"
    "label.textContent=\"part \"+(k+1)+\" of \"+parts.length}}}catch(x){}"
    "return f.apply(this,arguments)}}"
    "var s=d.createElement(\"script\");s.src=player;"
    "s.onerror=function(){$(\"kestrova-noplayer\").hidden=false;if(label)label.hidden=true};d.body."
    "appendChild(s)})(";

// The object shows its words only where nothing plays it: the web player may take the embed
// inside it rather than the object itself, and the object then shows the rest of its fallback.
constexpr const char* kWordsHidden =
    "ruffle-embed~.kestrova-words,ruffle-object .kestrova-words{display:none}";

// The page for today's browsers: the same markup, the web player, and words wherever no player
// takes the movie.
std::string PlayingPage(const TWebPageOptions& o, const std::string& script) {
  const std::string name = MovieFileNameBesidePage(o.MovieFileName);
  const std::string link = "<a href=\"" + FileReference(name) + "\">" + Text(name) + "</a>";
  const std::string view =
      "<code>kestrova view " + Text(ShellWord(WebPageFileName(name))) + "</code>";
  const std::string noPlayer =
      "<p class=\"kestrova-words\">No Flash player could show this recording here. Watch it on "
      "the desktop with " +
      view + ", or download the movie: " + link + ".</p>";
  std::vector<std::string> parts{name};
  for (const std::string& part : o.ContinuationFileNames) {
    parts.push_back(MovieFileNameBesidePage(part));
  }
  std::string list;
  for (const std::string& part : parts) list += (list.empty() ? "" : ",") + ScriptString(part);

  // No doctype, as in the plug-in era's page: in standards mode the web player lays a small
  // stage out off its box.
  std::string page = "<html><head><meta charset=\"utf-8\"><title>" + Text(name) +
                     "</title><style>" + kWordsHidden + "</style></head><body>";
  if (parts.size() > 1) {
    page += "<p id=\"kestrova-part\" hidden>part 1 of " + std::to_string(parts.size()) + "</p>";
  }
  page += ObjectMarkup(o, " id=\"kestrova-movie\"", noPlayer);
  page += "<noscript><p>Scripts are off, so the web player cannot start.</p></noscript>";
  page += "<p id=\"kestrova-noplayer\" hidden>The web player could not be loaded from " +
          Text(script) + ". Watch the recording on the desktop with " + view + ".</p>";
  page +=
      "<p id=\"kestrova-file\" hidden>This page was opened from a file, and browsers do not "
      "let a page opened from a file load its movie. Watch it with the command " +
      view + " (it plays the recording, or serves the page to your browser), or open " + link +
      " in a Flash player.</p>";
  page += ContinuationLinks(o.ContinuationFileNames);
  page += std::string("<script>") + kLoader + ScriptString(script) + ",[" + list +
          "]);</script></body></html>";
  return page;
}

namespace fs = std::filesystem;

bool HoldsWebPlayer(const fs::path& folder) {
  std::error_code ec;
  return fs::is_regular_file(folder / "ruffle.js", ec);
}

// The folders where npm puts a package: node_modules here and above, then the global ones.
std::vector<fs::path> NodeModulesFolders() {
  std::vector<fs::path> folders;
  std::error_code ec;
  fs::path dir = fs::current_path(ec);
  if (!ec) {
    for (;;) {
      folders.push_back(dir / "node_modules");
      if (dir == dir.parent_path() || dir.empty()) break;
      dir = dir.parent_path();
    }
  }
  if (const char* prefix = std::getenv("NPM_CONFIG_PREFIX"); prefix && *prefix) {
    folders.push_back(fs::path(prefix) / "lib" / "node_modules");
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    folders.push_back(fs::path(home) / ".npm-global" / "lib" / "node_modules");
    folders.push_back(fs::path(home) / ".local" / "lib" / "node_modules");
  }
  folders.push_back("/usr/local/lib/node_modules");
  folders.push_back("/usr/lib/node_modules");
  return folders;
}

// The files a page needs, relative to the player's folder: all but the source maps, which only
// a debugger reads and which double the copy.
std::vector<fs::path> WebPlayerFiles(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || it->path().extension() == ".map") continue;
    found.push_back(fs::relative(it->path(), folder, ec));
  }
  if (ec) {
    throw EStreamError("\"" + folder.string() + "\": the web player's files cannot be listed (" +
                       ec.message() + ")");
  }
  return found;
}

bool SameBytes(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (!fs::is_regular_file(b, ec) || fs::file_size(a, ec) != fs::file_size(b, ec) || ec) {
    return false;
  }
  try {
    TFileStream x(a.string(), TFileStream::Mode::Read), y(b.string(), TFileStream::Mode::Read);
    std::vector<char> bx(64 * 1024), by(64 * 1024);
    for (;;) {
      const std::size_t n = x.Read(bx.data(), bx.size());
      if (y.Read(by.data(), by.size()) != n ||
          !std::equal(bx.begin(), bx.begin() + long(n), by.begin())) {
        return false;
      }
      if (n == 0) return true;
    }
  } catch (const EStreamError&) {
    return false;
  }
}

// Puts the local web player's files into the folder beside the page.
void StageWebPlayer(TSafeFileSet& files, const std::string& pageFileName,
                    const std::string& webPlayer) {
  std::error_code ec;
  // A page written into a pipe or a device has no folder of its own to put a player in.
  const fs::file_status status = fs::status(pageFileName, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) return;
  const fs::path from = FindLocalWebPlayer(webPlayer);
  const fs::path to = fs::path(pageFileName).parent_path() / kLocalWebPlayerFolder;
  for (const fs::path& file : WebPlayerFiles(from)) {
    const fs::path source = from / file, target = to / file;
    if (SameBytes(source, target)) continue;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      throw EStreamError("\"" + target.parent_path().string() + "\" cannot be created (" +
                         ec.message() + ")");
    }
    files.Stage(target.string(), [&](TStream& out) {
      TFileStream in(source.string(), TFileStream::Mode::Read);
      std::vector<char> buffer(64 * 1024);
      while (const std::size_t n = in.Read(buffer.data(), buffer.size()))
        out.Write(buffer.data(), n);
    });
  }
}

}  // namespace

std::string FindLocalWebPlayer(const std::string& webPlayer) {
  if (webPlayer.rfind("local:", 0) == 0) {
    fs::path given = webPlayer.substr(6);
    std::error_code ec;
    if (given.filename() == "ruffle.js" && fs::is_regular_file(given, ec)) {
      given = given.has_parent_path() ? given.parent_path() : fs::path(".");
    }
    if (!given.empty() && HoldsWebPlayer(given)) return given.string();
    throw std::runtime_error("--web-player " + webPlayer + ": \"" + given.string() +
                             "\" holds no ruffle.js; give the folder of the npm package "
                             "@ruffle-rs/ruffle");
  }
  std::string looked;
  for (const fs::path& folder : NodeModulesFolders()) {
    const fs::path package = folder / "@ruffle-rs" / "ruffle";
    if (HoldsWebPlayer(package)) return package.string();
    looked += (looked.empty() ? "" : ", ") + folder.string();
  }
  throw std::runtime_error(
      "--web-player local: the Ruffle web player (npm package @ruffle-rs/ruffle) was not found "
      "in " +
      looked +
      "; install it with \"npm install @ruffle-rs/ruffle\" or give its folder with --web-player "
      "local:PATH");
}

std::string MovieFileNameBesidePage(const std::string& movieFileName) {
  const std::size_t sep = movieFileName.find_last_of(kPathSeparators);
  std::string s = sep == std::string::npos ? movieFileName : movieFileName.substr(sep + 1);
#ifdef _WIN32
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
#endif
  return s;
}

std::string WebPlayerScript(const std::string& webPlayer) {
  if (webPlayer.empty()) return kDefaultWebPlayerURL;
  if (webPlayer == "none") return {};
  if (IsLocalWebPlayer(webPlayer)) return std::string(kLocalWebPlayerFolder) + "/ruffle.js";
  return webPlayer;
}

bool IsLocalWebPlayer(const std::string& webPlayer) {
  return webPlayer == "local" || webPlayer.rfind("local:", 0) == 0;
}

std::string MakeWebPage(const TWebPageOptions& o) {
  const std::string script = WebPlayerScript(o.WebPlayerURL);
  return script.empty() ? PlainPage(o) : PlayingPage(o, script);
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
  TSafeFileSet files;
  StageWebPage(files, pageFileName, options);
  files.Commit();
}

std::string StageWebPage(TSafeFileSet& files, const std::string& pageFileName,
                         const TWebPageOptions& options) {
  if (IsLocalWebPlayer(options.WebPlayerURL)) {
    StageWebPlayer(files, pageFileName, options.WebPlayerURL);
  }
  const std::string page = MakeWebPage(options);
  return files.Stage(pageFileName, [&](TStream& out) { out.Write(page.data(), page.size()); });
}

}  // namespace kestrova
