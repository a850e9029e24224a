// kestrova probe: what the image and sound readers know about files.
#include <cmath>
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "media/ID3v1.h"
#include "media/ImageReader.h"
#include "media/MediaError.h"
#include "media/SoundReader.h"
#include "swfobjects/SoundTags.h"
#include "swfstreams/SWFStreams.h"

namespace kestrova {

namespace {

// One file's findings, in the order they are printed; numbers stay numbers in JSON.
struct TProbeField {
  std::string Name;
  std::variant<std::string, std::int64_t, double> Value;
};

struct TProbe {
  std::string File;
  std::vector<TProbeField> Fields;
  std::string Error;  // empty when the file was understood

  void Add(const std::string& name, std::variant<std::string, std::int64_t, double> value) {
    Fields.push_back({name, std::move(value)});
  }
  void AddText(const std::string& name, const std::string& value) {
    if (!value.empty()) Add(name, value);
  }
};

const char* CompressionName(std::uint32_t c) {
  switch (c) {
    case kBI_RGB:
      return "none";
    case kBI_RLE8:
      return "RLE8";
    case kBI_RLE4:
      return "RLE4";
    case kBI_BITFIELDS:
      return "bit fields";
    default:
      return "unknown";
  }
}

std::string FormatName(std::int16_t tag) {
  switch (tag) {
    case kWaveFormatPCM:
      return "PCM";
    case kWaveFormatADPCM:
      return "ADPCM";
    case kWaveFormatMPEG:
      return "MPEG";
    case kWaveFormatMPEGLayer3:
      return "MPEG layer 3";
    case kWaveFormatMP3File:
      return "MP3 file";
    default:
      return "format " + std::to_string(tag);
  }
}

void ProbeBMP(TStream& in, TProbe& p) {
  TBMPReader r;
  r.LoadFromStream(in);
  p.Add("type", std::string("BMP"));
  p.Add("width", std::int64_t{r.Width()});
  p.Add("height", std::int64_t{r.Rows()});
  p.Add("rows", std::string(r.Height() < 0 ? "top-down" : "bottom-up"));
  p.Add("bits_per_pixel", std::int64_t{r.BitCount()});
  p.Add("compression", std::string(CompressionName(r.SourceCompression())));
  if (r.Compression() == kBI_BITFIELDS) {
    char masks[64];
    std::snprintf(masks, sizeof masks, "%08X %08X %08X", r.Image().RedMask, r.Image().GreenMask,
                  r.Image().BlueMask);
    p.Add("masks_rgb", std::string(masks));
  }
  if (!r.Palette().empty()) p.Add("palette_entries", std::int64_t(r.Palette().size()));
  // For palette pictures this is also the table's size once compacted.
  p.Add("colors_used", std::int64_t{r.GetColorCount()});
  p.AddText("cut_short", r.Shortfall());
}

void ProbeJPEG(TStream& in, TProbe& p) {
  std::int32_t w = 0, h = 0;
  if (!GetJPEGSize(in, w, h)) {
    p.Error = "JPEG without a baseline frame header (progressive or damaged)";
    return;
  }
  p.Add("type", std::string("JPEG"));
  p.Add("width", std::int64_t{w});
  p.Add("height", std::int64_t{h});
  try {
    in.SetPosition(0);
    CheckJPEGComplete(in);
  } catch (const EMediaError& e) {
    p.Add("cut_short", std::string(e.what()));
  }
}

void ProbeTags(const TMPEGaudio& m, TProbe& p) {
  if (m.ID3v1.Exists) {
    const TID3v1& t = m.ID3v1;
    p.Add("id3v1_version", std::string(t.VersionID == 2 ? "1.1" : "1.0"));
    p.AddText("id3v1_title", t.Title);
    p.AddText("id3v1_artist", t.Artist);
    p.AddText("id3v1_album", t.Album);
    p.AddText("id3v1_year", t.Year);
    p.AddText("id3v1_comment", t.Comment);
    if (t.VersionID == 2) p.Add("id3v1_track", std::int64_t{t.Track});
    p.Add("id3v1_genre_id", std::int64_t{t.GenreID});
    p.AddText("id3v1_genre", GenreName(t.GenreID));
  }
  if (m.ID3v2.Exists) {
    const TID3v2& t = m.ID3v2;
    p.Add("id3v2_version", "2." + std::to_string(t.VersionID));
    p.Add("id3v2_size", std::int64_t{t.Size});
    p.AddText("id3v2_title", t.Title);
    p.AddText("id3v2_artist", t.Artist);
    p.AddText("id3v2_album", t.Album);
    if (t.Track != 0) p.Add("id3v2_track", std::int64_t{t.Track});
    p.AddText("id3v2_year", t.Year);
    p.AddText("id3v2_genre", t.Genre);
    p.AddText("id3v2_comment", t.Comment);
  }
}

void ProbeSound(TStream& in, TSoundKind kind, TProbe& p) {
  TWaveReader w;
  try {
    w.ReadFromStream(in, kind);
  } catch (const EMediaError& e) {
    p.Error = e.what();
    return;
  }
  p.Add("type", std::string(kind == TSoundKind::Wave ? "WAV" : "MP3"));
  p.Add("format_tag", std::int64_t{w.FormatTag});
  p.Add("format", FormatName(w.FormatTag));
  p.Add("channels", std::int64_t{w.Channels});
  p.Add("sample_rate", std::int64_t{w.SamplesPerSec});
  p.Add("bits_per_sample", std::int64_t{w.BitsPerSample});
  p.Add("samples", w.SampleCount);
  p.Add("duration", w.Duration);
  p.Add("data_offset", std::int64_t{w.DataOffset});
  p.Add("data_size", std::int64_t{w.DataSize});
  p.AddText("cut_short", w.Shortfall);
  if (!w.MPEG.Frame.Found) return;
  const TMPEGaudio& m = w.MPEG;
  static const char* const kVersions[] = {"2.5", "reserved", "2", "1"};
  p.Add("mpeg_version", std::string(kVersions[m.Frame.VersionID & 3]));
  p.Add("mpeg_layer", std::int64_t{4 - m.Frame.LayerID});
  p.Add("bit_rate", std::int64_t{w.BitRate});
  p.Add("frame_size", std::int64_t{w.FrameSize});
  p.Add("frame_count", std::int64_t{w.FrameCount});
  p.Add("samples_per_frame", std::int64_t{w.SamplesPerFrame});
  p.Add("vbr_header", m.VBR.Found ? m.VBR.ID : std::string("none"));
  if (m.VBR.Found) {
    p.Add("vbr_frames", std::int64_t{m.VBR.Frames});
    p.Add("vbr_bytes", std::int64_t{m.VBR.Bytes});
    p.AddText("vbr_vendor", m.VBR.VendorID);
    if (m.VBR.EncoderDelay != 0) p.Add("encoder_delay", std::int64_t{m.VBR.EncoderDelay});
  }
  ProbeTags(m, p);
}

// A movie: its stage and frames, and the format of the stream sound on its main timeline (a
// recording's sound), with the bytes a second its blocks take.
void ProbeMovie(const std::string& fileName, TProbe& p) {
  TSWFStreamReader reader;
  reader.LoadFromFile(fileName);
  if (!reader.IsValid) throw std::runtime_error("not a SWF file");
  reader.ParseTags(false);
  const double fps = reader.GetFPS() > 0 ? reader.GetFPS() : 12;
  p.Add("type", std::string("SWF"));
  p.Add("version", std::int64_t{reader.Version()});
  p.Add("width", std::int64_t{(reader.FrameSize.Right - reader.FrameSize.Left) / 20});
  p.Add("height", std::int64_t{(reader.FrameSize.Bottom - reader.FrameSize.Top) / 20});
  p.Add("frame_rate", double(fps));
  p.Add("frames", std::int64_t{reader.FrameCount});
  TSWFReadContext context = reader.NewReadContext(false);
  std::unique_ptr<TSWFObject> head;
  std::int64_t blockBytes = 0, blocks = 0;
  for (const auto& info : reader.TagList) {
    if (!head && (info->TagID == 18 || info->TagID == 45)) {
      head = reader.ReadTagObject(*info, context);
      if (head && head->TagID != info->TagID) head.reset();
    } else if (head && info->TagID == 19) {
      blockBytes += info->Length;
      ++blocks;
    }
  }
  if (!head) {
    p.Add("sound", std::string("none"));
    return;
  }
  const auto& h = static_cast<const TSWFSoundStreamHead&>(*head);
  static const char* const kCodings[16] = {"pcm",
                                           "adpcm",
                                           "mp3",
                                           "pcm-le",
                                           "nellymoser-16k",
                                           "nellymoser-8k",
                                           "nellymoser",
                                           "7",
                                           "8",
                                           "9",
                                           "10",
                                           "speex",
                                           "12",
                                           "13",
                                           "14",
                                           "15"};
  static const std::int64_t kRates[4] = {5512, 11025, 22050, 44100};
  p.Add("sound", std::string(kCodings[h.StreamSoundCompression & 15]));
  p.Add("sound_rate", kRates[h.StreamSoundRate & 3]);
  p.Add("sound_channels", std::int64_t{h.StreamSoundType ? 2 : 1});
  p.Add("sound_bits", std::int64_t{h.StreamSoundSize ? 16 : 8});
  p.Add("sound_blocks", blocks);
  if (blocks != 0) {
    // A block's bytes less the MP3 block's sample count and seek, per second of frames.
    const std::int64_t payload = blockBytes - (h.StreamSoundCompression == 2 ? 4 * blocks : 0);
    const double seconds = double(blocks) / fps;
    p.Add("sound_bytes_per_second", std::int64_t(std::llround(double(payload) / seconds)));
    p.Add("sound_bit_rate", std::int64_t(std::llround(payload * 8 / seconds / 1000)));
  }
}

bool StartsWith(std::span<const std::uint8_t> b, std::size_t at, const char* text) {
  for (std::size_t i = 0; text[i] != 0; ++i) {
    if (at + i >= b.size() || b[at + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

// Chooses the reader by the file's first bytes; an MP3 file may start with anything. The readers
// seek to what they need: a file is never read whole (it may be huge, or a device that never
// ends).
TProbe Probe(const std::string& fileName) {
  TProbe p;
  p.File = fileName;
  try {
    TFileStream in(fileName, TFileStream::Mode::Read);
    std::uint8_t lead[12] = {};
    const std::span<const std::uint8_t> bytes(lead, in.Read(lead, sizeof lead));
    in.SetPosition(0);
    const bool jpeg = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
    const bool bmp = StartsWith(bytes, 0, "BM");
    const bool wav = StartsWith(bytes, 0, "RIFF") && StartsWith(bytes, 8, "WAVE");
    const bool swf =
        StartsWith(bytes, 1, "WS") && (bytes[0] == 'F' || bytes[0] == 'C' || bytes[0] == 'Z');
    if (swf) {
      ProbeMovie(fileName, p);
    } else if (bmp) {
      ProbeBMP(in, p);
    } else if (jpeg) {
      ProbeJPEG(in, p);
    } else if (wav) {
      ProbeSound(in, TSoundKind::Wave, p);
    } else {
      ProbeSound(in, TSoundKind::MP3, p);
      if (!p.Error.empty() && SoundKindOf(fileName) != TSoundKind::MP3) {
        p.Error = "not a BMP, JPEG, WAV or MP3 file";
      }
    }
  } catch (const std::exception& e) {
    p.Error = e.what();
  }
  if (!p.Error.empty()) p.Fields.clear();
  return p;
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", std::isfinite(v) ? v : 0.0);
  return buf;
}

// The length of the well-formed UTF-8 sequence at s[i], or 0 with bad set to the bytes of the
// longest ill-formed prefix there (at least 1), which become one U+FFFD.
std::size_t Utf8Sequence(const std::string& s, std::size_t i, std::size_t& bad) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) length = 2;
  if (c >= 0xE0 && c <= 0xEF) length = 3;
  if (c >= 0xF0 && c <= 0xF4) length = 4;
  if (c == 0xE0) low = 0xA0;
  if (c == 0xED) high = 0x9F;  // no UTF-16 surrogates
  if (c == 0xF0) low = 0x90;
  if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  std::size_t n = 1;
  for (; length != 0 && n < length && i + n < s.size(); ++n) {
    const auto d = static_cast<unsigned char>(s[i + n]);
    if (d < (n == 1 ? low : 0x80) || d > (n == 1 ? high : 0xBF)) break;
  }
  if (length != 0 && n == length) return length;
  bad = n;
  return 0;
}

// A JSON string is UTF-8: bytes that are not (an ID3 frame that only says it is UTF-8, a file
// name in another encoding) become U+FFFD.
std::string JSONString(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    std::size_t bad = 0;
    const std::size_t length = Utf8Sequence(s, i, bad);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      i += bad;
      continue;
    }
    if (length > 1) {
      out.append(s, i, length);
      i += length;
      continue;
    }
    const auto c = static_cast<unsigned char>(s[i++]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string ValueText(const TProbeField& f, bool json) {
  if (const auto* s = std::get_if<std::string>(&f.Value)) return json ? JSONString(*s) : *s;
  if (const auto* i = std::get_if<std::int64_t>(&f.Value)) return std::to_string(*i);
  return Number(std::get<double>(f.Value));
}

void PrintText(const TProbe& p, std::ostream& out) {
  out << "file: " << p.File << "\n";
  for (const TProbeField& f : p.Fields) out << f.Name << ": " << ValueText(f, false) << "\n";
}

void PrintJSON(const TProbe& p, std::ostream& out) {
  out << "  {\"file\": " << JSONString(p.File);
  if (!p.Error.empty()) out << ", \"error\": " << JSONString(p.Error);
  for (const TProbeField& f : p.Fields) out << ", \"" << f.Name << "\": " << ValueText(f, true);
  out << "}";
}

}  // namespace

namespace {

struct TProbeOptions {
  std::vector<std::string> Files;
  bool JSON = false;
};

void DeclareProbe(CLI::App& app, TProbeOptions& o) {
  AddArgument(app, "FILE...", o.Files, "the BMP, JPEG, WAV or MP3 files")->required();
  app.add_flag("--json", o.JSON, "one JSON array instead of \"name: value\" lines");
}

}  // namespace

std::shared_ptr<void> ProbeOptions(CLI::App& app) {
  return DeclareWith<TProbeOptions, DeclareProbe>(app);
}

int ProbeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TProbeOptions o;
  if (int status = ReadArguments("probe", DeclareProbe, args, o, err); status != 0) return status;
  const bool json = o.JSON;
  const std::vector<std::string>& files = o.Files;
  int status = 0;
  bool printed = false;
  if (json) out << "[\n";
  for (std::size_t i = 0; i < files.size(); ++i) {
    const TProbe p = Probe(files[i]);
    if (!p.Error.empty()) {
      status = 1;
      // File system errors name the file themselves.
      err << "kestrova: probe: ";
      if (p.Error.find(files[i]) == std::string::npos) err << "\"" << files[i] << "\": ";
      err << p.Error << "\n";
    }
    if (json) {
      PrintJSON(p, out);
      out << (i + 1 < files.size() ? ",\n" : "\n");
    } else if (p.Error.empty()) {
      if (printed) out << "\n";
      PrintText(p, out);
      printed = true;
    }
  }
  if (json) out << "]\n";
  return status;
}

}  // namespace kestrova
