#include "app/RecordOptions.h"

#include <charconv>

namespace kestrova {

namespace {

// A whole number in [low, high], nothing else.
std::optional<std::int64_t> WholeNumber(const std::string& v, std::int64_t low, std::int64_t high) {
  std::int64_t n = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (v.empty() || ec != std::errc() || end != v.data() + v.size() || n < low || n > high) {
    return std::nullopt;
  }
  return n;
}

}  // namespace

bool ParseRecordArgs(const std::vector<std::string>& args, TRecordArgs& r, std::string& problem) {
  bool targetGiven = false;
  auto target = [&](TRecordTarget t) {
    if (targetGiven) {
      problem = "--full-screen, --active-window, --region and --window exclude each other";
      return false;
    }
    targetGiven = true;
    r.Target = t;
    return true;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--full-screen") {
      if (!target(TRecordTarget::FullScreen)) return false;
    } else if (a == "--active-window") {
      if (!target(TRecordTarget::ActiveWindow)) return false;
    } else if (a == "--region" && hasValue) {
      if (!target(TRecordTarget::Region)) return false;
      const std::string& v = args[++i];
      std::int64_t n[4];
      std::size_t from = 0;
      for (int k = 0; k < 4; ++k) {
        const std::size_t comma = k < 3 ? v.find(',', from) : v.size();
        const auto part = comma == std::string::npos ? std::nullopt
                                                     : WholeNumber(v.substr(from, comma - from),
                                                                   k < 2 ? -65535 : 1, 65535);
        if (!part)
          return problem = "--region takes X,Y,WIDTH,HEIGHT in pixels, such as 0,0,640,480", false;
        n[k] = *part;
        from = comma + 1;
      }
      r.Region = {static_cast<std::int32_t>(n[0]), static_cast<std::int32_t>(n[1]),
                  static_cast<std::int32_t>(n[0] + n[2]), static_cast<std::int32_t>(n[1] + n[3])};
    } else if (a == "--window" && hasValue) {
      if (!target(TRecordTarget::Window)) return false;
      const std::string& v = args[++i];
      std::uint64_t id = 0;
      const int base = v.rfind("0x", 0) == 0 ? 16 : 10;
      const char* first = v.data() + (base == 16 ? 2 : 0);
      const auto [end, ec] = std::from_chars(first, v.data() + v.size(), id, base);
      if (first == v.data() + v.size() || ec != std::errc() || end != v.data() + v.size() ||
          id == 0) {
        return problem = "--window takes a window's identifier, such as 0x3a00007", false;
      }
      r.Window = id;
    } else if (a == "--platform" && hasValue) {
      r.Platform = args[++i];
    } else if (a == "--seconds" && hasValue) {
      const auto n = WholeNumber(args[++i], 1, 9999999);
      if (!n) return problem = "--seconds takes a whole number from 1 to 9999999", false;
      r.Seconds = static_cast<std::uint32_t>(*n);
    } else if (a == "--hotkey" && hasValue) {
      const std::optional<platform::THotKeyChoice> key = platform::ParseHotKey(args[++i]);
      if (!key) {
        return problem = "--hotkey takes modifiers and a letter or digit, such as Ctrl+Alt+S",
               false;
      }
      r.HotKey = *key;
    } else if (a == "--delay" && hasValue) {
      const auto n = WholeNumber(args[++i], 0, 3600);
      if (!n) return problem = "--delay takes a whole number of seconds from 0 to 3600", false;
      r.Delay = static_cast<std::uint32_t>(*n);
    } else if (a == "--colours" && hasValue) {
      const std::string& v = args[++i];
      if (v == "256") {
        r.Colours = TColourDepth::Palette256;
      } else if (v == "32k") {
        r.Colours = TColourDepth::Rgb15;
      } else if (v == "16m") {
        r.Colours = TColourDepth::Rgb32;
      } else {
        return problem = "--colours takes 256, 32k or 16m", false;
      }
    } else if (a == "--quiet" || a == "-q") {
      r.Quiet = true;
    } else if (a == "-o" && hasValue) {
      r.Output = args[++i];
    } else if (a == "--web-player") {
      if (!hasValue || args[i + 1].empty()) return problem = "--web-player needs a URL", false;
      r.WebPlayer = args[++i];
    } else {
      return problem = "unexpected argument \"" + a + "\"", false;
    }
  }
  if (!r.Output.empty() && r.Output.back() == '/') return problem = "-o names a folder", false;
  return true;
}

bool ParseRecoverArgs(const std::vector<std::string>& args, TRecoverArgs& r, std::string& problem) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      r.Output = args[++i];
    } else if (args[i] == "--web-player") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        return problem = "--web-player needs a URL", false;
      }
      r.WebPlayer = args[++i];
    } else if (args[i] == "--quiet" || args[i] == "-q") {
      r.Quiet = true;
    } else if (r.Folder.empty() && !args[i].empty() && args[i][0] != '-') {
      r.Folder = args[i];
    } else {
      return problem = "unexpected argument \"" + args[i] + "\"", false;
    }
  }
  return true;
}

}  // namespace kestrova
