// kestrova slideshow and kestrova join: the movie builder on files a user has.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/Progress.h"
#include "flashobjects/FlashMovie.h"
#include "media/ImageReader.h"
#include "media/MediaError.h"
#include "media/SoundReader.h"
#include "player/WebPage.h"
#include "recorder/Output.h"
#include "swfobjects/SoundTags.h"
#include "swftools/SafeFile.h"

namespace kestrova {

namespace {

// A failure that names the file it concerns; the command prints it as its one error line.
class EFileError : public std::runtime_error {
 public:
  EFileError(const std::string& file, const std::string& reason)
      : std::runtime_error("\"" + file + "\": " + reason) {}
};

// "RRGGBB", "#RRGGBB" or "0xRRGGBB".
bool ParseColor(std::string text, TSWFRGBRec& color) {
  if (text.rfind("#", 0) == 0) text.erase(0, 1);
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  const unsigned long v = std::stoul(text, nullptr, 16);
  color = SWFRGB(static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v));
  return true;
}

std::string SizeText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 1000000) {
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.1f KB", double(bytes) / 1e3);
  }
  return text;
}

// A movie named like its own page ("out.html") would be overwritten by it.
void RefusePageNamedLikeMovie(const std::string& movie) {
  if (PageNameEqualsMovie(movie)) {
    throw std::invalid_argument("\"" + movie + "\": its page would be \"" + WebPageFileName(movie) +
                                "\", the movie's own name; name the movie .swf");
  }
}

// ---- slideshow ----

struct TSlideshowOptions {
  std::string Output;
  std::vector<std::string> Images;
  double FPS = 12;
  double SecondsEach = 3;
  std::string Audio;
  TSWFRGBRec Background{0, 0, 0};
  std::string WebPlayer;
  bool Quiet = false;
};

void DeclareSlideshow(CLI::App& app, TSlideshowOptions& o) {
  AddArgument(app, "OUT.swf", o.Output, "the movie written, with its page (.html) beside it")
      ->required();
  AddArgument(app, "IMAGE...", o.Images, "the BMP or JPEG pictures, in the order shown")
      ->required();
  AddNumber(app, "--fps", o.FPS, 0.01, 255.0, "N", "frames per second");
  AddNumber(app, "--seconds-each", o.SecondsEach, 0.001, 86400.0, "S",
            "how long each picture shows, in seconds");
  app.add_option("--audio", o.Audio, "a PCM WAV or MP3 sound started on the first frame")
      ->type_name("FILE")
      ->default_str("none");
  AddChecked(
      app, "--background", [&o](const std::string& text) { return ParseColor(text, o.Background); },
      "RRGGBB", "a colour as RRGGBB", "the stage's colour around smaller pictures",
      "000000, black");
  AddWebPlayer(app, o.WebPlayer);
  AddQuiet(app, o.Quiet);
}

// SWF plays event sounds at 5512, 11025, 22050 and 44100 Hz only.
int SoundRateCode(std::uint32_t rate) {
  switch (rate) {
    case 5512:
    case 5513:
      return 0;
    case 11025:
      return 1;
    case 22050:
      return 2;
    case 44100:
      return 3;
    default:
      return -1;
  }
}

// DefineSound for a WAV (PCM) or MP3 file, in the format the sound reader reports. The sound
// data is read once and counted against the media budget by claim, which the caller keeps while
// the movie holds the sound.
std::unique_ptr<TSWFDefineSound> LoadSound(const std::string& file, TBudgetClaim& claim) {
  const TSoundKind kind = SoundKindOf(file);
  if (kind == TSoundKind::None) throw EFileError(file, "neither a .wav nor an .mp3 file name");
  TFileStream in(file, TFileStream::Mode::Read);
  TWaveReader wave;
  try {
    wave.ReadFromStream(in, kind);
  } catch (const EMediaError& e) {
    throw EFileError(file, e.what());
  }
  if (!wave.Shortfall.empty()) throw EFileError(file, "cut short: " + wave.Shortfall);
  auto sound = std::make_unique<TSWFDefineSound>();
  const bool mp3 = wave.FormatTag == kWaveFormatMP3File || wave.FormatTag == kWaveFormatMPEGLayer3;
  if (wave.FormatTag == kWaveFormatPCM) {
    if (wave.BitsPerSample != 8 && wave.BitsPerSample != 16) {
      throw EFileError(file, std::to_string(wave.BitsPerSample) +
                                 "-bit samples (a movie plays 8 and 16-bit sound)");
    }
    sound->SoundFormat = 3;  // uncompressed, little-endian
  } else if (mp3) {
    sound->SoundFormat = 2;
  } else {
    throw EFileError(file, "sound format " + std::to_string(wave.FormatTag) +
                               " (a movie plays PCM WAV and MP3)");
  }
  const int rate = SoundRateCode(wave.SamplesPerSec);
  if (rate < 0) {
    throw EFileError(file, std::to_string(wave.SamplesPerSec) +
                               " Hz (a movie plays 5512, 11025, 22050 and 44100 Hz)");
  }
  if (wave.Channels != 1 && wave.Channels != 2) {
    throw EFileError(file, std::to_string(wave.Channels) + " channels (a movie plays 1 or 2)");
  }
  if (wave.SampleCount <= 0 || wave.SampleCount > INT32_MAX || wave.DataSize == 0) {
    throw EFileError(file, "no sound data");
  }
  sound->SoundRate = static_cast<std::uint8_t>(rate);
  sound->SoundSize = mp3 || wave.BitsPerSample == 16;
  sound->SoundType = wave.Channels == 2;
  sound->SoundSampleCount = static_cast<std::uint32_t>(wave.SampleCount);
  try {
    sound->Data = wave.ReadData(in, claim);
  } catch (const EMediaError& e) {
    throw EFileError(file, e.what());
  }
  return sound;
}

// The picture readers take a file cut short and leave what is missing black; a slideshow
// refuses it instead, since its picture would be shown damaged. Only headers and run-length data
// are read here: the pixels are not allocated.
void CheckPictureComplete(const std::string& file) {
  TFileStream in(file, TFileStream::Mode::Read);
  std::uint8_t lead[2] = {0, 0};
  in.Read(lead, sizeof lead);
  in.SetPosition(0);
  try {
    if (lead[0] == 0xFF && lead[1] == 0xD8) {
      CheckJPEGComplete(in);
    } else {
      TBMPReader reader;
      reader.RequireComplete = true;
      reader.CheckStream(in);
    }
  } catch (const EMediaError& e) {
    throw EFileError(file, e.what());
  }
}

// Each picture is loaded twice: once for the stage size, and again when it is shown, so that
// only one picture's pixels are held at a time.
void BuildSlideshow(const TSlideshowOptions& o, std::ostream& err) {
  RefusePageNamedLikeMovie(o.Output);
  const long frames = std::max(1L, std::lround(o.SecondsEach * o.FPS));
  if (frames > 65535)
    throw std::invalid_argument("an image would be shown for more than 65535 frames");
  // The frame count is 16 bits: a longer show would need a second movie to go on in, which a
  // slideshow's single sound and page do not allow; it is refused before anything is read.
  const std::uint64_t total = std::uint64_t(frames) * o.Images.size();
  if (total > 65535) {
    throw std::invalid_argument(std::to_string(o.Images.size()) + " images of " +
                                std::to_string(frames) + " frames each make " +
                                std::to_string(total) +
                                " frames, and a movie holds 65535 at most (lower --fps or "
                                "--seconds-each, or make several slideshows)");
  }
  std::int32_t stageW = 1, stageH = 1;
  for (const std::string& file : o.Images) {
    CheckPictureComplete(file);
    TFlashImage probe(nullptr, file);
    stageW = std::max<std::int32_t>(stageW, probe.Width);
    stageH = std::max<std::int32_t>(stageH, probe.Height);
  }
  std::unique_ptr<TSWFDefineSound> sound;
  TBudgetClaim soundClaim;
  if (!o.Audio.empty()) sound = LoadSound(o.Audio, soundClaim);

  TFlashMovie movie(0, 0, stageW * 20, stageH * 20, static_cast<float>(o.FPS), false);
  movie.SetInPixels(true);
  movie.SetCompressed(true);
  movie.BackgroundColor().SetRGB(o.Background);
  movie.BeginStreaming(o.Output);
  if (sound) {
    sound->SoundId = movie.CurrentObjID++;
    auto start = std::make_unique<TSWFStartSound>();
    start->SoundId = sound->SoundId;
    movie.AddObject(std::move(sound));
    movie.AddObject(std::move(start));
  }
  TProgress progress(err, "slideshow", o.Images.size(), o.Quiet);
  for (std::size_t i = 0; i < o.Images.size(); ++i) {
    const std::string& file = o.Images[i];
    progress.Update(i + 1, file);
    TFlashImage& image = movie.AddImage(file);
    image.MakeData();
    TFlashShape& shape = movie.AddImageShape(image);
    movie.PlaceObject(shape, 1).SetTranslate((stageW - image.Width) / 2,
                                             (stageH - image.Height) / 2);
    movie.ShowFrame(static_cast<std::uint16_t>(frames));
    movie.RemoveObject(1);
    movie.Flush();
  }
  movie.MakeStream();
  TSafeFileSet files;
  files.Stage(o.Output, [&](TStream& file) { movie.SaveToStream(file); });
  StageWebPage(files, WebPageFileName(o.Output), {o.Output, stageW, stageH, o.WebPlayer, {}});
  files.Commit();
  progress.Finish();
  err << "kestrova slideshow: wrote " << o.Output << " and " << WebPageFileName(o.Output) << " ("
      << movie.FrameCount << " frames, " << stageW << "x" << stageH << ", "
      << SizeText(std::filesystem::file_size(o.Output)) << ")\n";
}

// ---- join ----

struct TJoinArguments {
  std::string Output;
  std::vector<std::string> Inputs;
  std::string WebPlayer;
};

void DeclareJoin(CLI::App& app, TJoinArguments& o) {
  AddArgument(app, "OUT.swf", o.Output, "the movie written, with its page (.html) beside it")
      ->required();
  AddArgument(app, "IN.swf...", o.Inputs, "the movies joined, in the order played")->required();
  AddWebPlayer(app, o.WebPlayer);
}

void BuildJoin(const std::string& output, const std::vector<std::string>& inputs,
               const std::string& webPlayer, std::ostream& err) {
  std::vector<TSegmentInput> segments;
  for (const std::string& file : inputs) segments.push_back({file, std::nullopt});
  TJoinOptions options;
  options.RateOfFirstInput = true;
  options.StageOfLargestInput = true;
  options.OnMessage = [&err](const std::string& line) { err << "kestrova join: " << line << "\n"; };
  const TOutputResult r =
      WriteOutputFiles(segments, 0, 0, output, {}, webPlayer, TJoinPolicy::RefuseDamaged, options);
  std::string movies = r.Movies.front();
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < r.Movies.size(); ++i) {
    if (i > 0) movies += ", " + r.Movies[i];
    bytes += std::filesystem::file_size(r.Movies[i]);
  }
  err << "kestrova join: wrote " << movies << " and " << r.Page << " (" << r.Frames << " frames, "
      << r.StageWidth << "x" << r.StageHeight << ", " << SizeText(bytes) << ")\n";
}

// Runs a build; any failure becomes the command's one error line. The movie and its page are
// put in place together at the very end, so a failure leaves the files that were there before.
template <class F>
int Guarded(const char* command, const std::string& output, std::ostream& err, F build) {
  try {
    build();
    return 0;
  } catch (const EStreamError& e) {
    // The stream layer names the working file beside the output that it could not create or
    // write; the user knows the output. A file already there under that name is someone else's,
    // so it is named as it is.
    if (e.File.starts_with(output + ".") && e.SystemError != 0 && e.SystemError != EEXIST) {
      err << "kestrova " << command << ": \"" << output << "\": cannot be written ("
          << std::strerror(e.SystemError) << ")\n";
    } else {
      err << "kestrova " << command << ": " << e.what() << "\n";
    }
    return 1;
  } catch (const std::exception& e) {
    err << "kestrova " << command << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace

std::shared_ptr<void> SlideshowOptions(CLI::App& app) {
  return DeclareWith<TSlideshowOptions, DeclareSlideshow>(app);
}

std::shared_ptr<void> JoinOptions(CLI::App& app) {
  return DeclareWith<TJoinArguments, DeclareJoin>(app);
}

int SlideshowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  (void)out;
  TSlideshowOptions o;
  if (int status = ReadArguments("slideshow", DeclareSlideshow, args, o, err); status != 0) {
    return status;
  }
  return Guarded("slideshow", o.Output, err, [&] { BuildSlideshow(o, err); });
}

int JoinCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  (void)out;
  TJoinArguments o;
  if (int status = ReadArguments("join", DeclareJoin, args, o, err); status != 0) return status;
  return Guarded("join", o.Output, err, [&] { BuildJoin(o.Output, o.Inputs, o.WebPlayer, err); });
}

}  // namespace kestrova
