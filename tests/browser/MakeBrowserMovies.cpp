// Writes the browser test's site: movies built like the recorder's (segments as sprites of strips
// of lossless bitmaps), each stopped at a chosen frame by a stop action, the page that plays each
// through the web player, and the frame the project's own player draws there, as raw RGBA; the
// recorder's own page as it writes it by default, a recording split into three parts, and pages
// that cannot play (opened from disk, the web player missing).
// With the slideshow's JPEG slides as well: the pictures and the case that compares the
// slideshow the program makes of them (run_browser_test.sh makes it and its frames) in the web
// player with the project's own player's frames.
// Usage: make_browser_movies SITEDIR
#include <cmath>
#include <cstddef>
#include <cstdio>
// After <cstdio>: the library's header uses FILE and size_t without including their headers.
#include <jpeglib.h>

#include <fstream>
#include <iostream>

#include "player/Player.h"
#include "player/WebPage.h"
#ifdef KESTROVA_RECORDER_PAGE
#include "media/DIBitmap.h"
#include "recorder/FlashSegmentMovie.h"
#include "recorder/Output.h"
#include "recorder/SoundEncoder.h"
#include "swfobjects/SoundTags.h"
#endif
#include "tests/player/MovieMaker.h"

namespace kestrova::test {
namespace {

constexpr int kWidth = 96, kHeight = 72;

std::unique_ptr<TSWFDoAction> Stop() {
  auto action = std::make_unique<TSWFDoAction>();
  action->Actions().push_back(std::make_unique<TSWFActionStop>());
  return action;
}

// An 8-bit picture of w x h pixels: a palette of 256 colours and a pattern that differs in every
// column and row, so a texel taken from the wrong place shows.
std::unique_ptr<TSWFDefineBitsLossless> Picture(std::uint16_t id, int w, int h, int seed) {
  Bytes raw;
  for (int i = 0; i < 256; ++i) {
    raw.insert(raw.end(), {std::uint8_t(i * 37 + seed), std::uint8_t(i * 11 + 3 * seed),
                           std::uint8_t(255 - i)});
  }
  const int stride = (w + 3) & ~3;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < stride; ++x) raw.push_back(std::uint8_t(x * 5 + y * 17 + seed));
  }
  return Lossless(id, 3, w, h, raw, false, 256);
}

// The recorder's rectangle for a w x h picture: right edge at w - 1 pixels, the fill shifted by
// (-5, -5) twips and scaled by (w - 1) * 20 / w + 15/4096 and 20 + 15/4096.
std::unique_ptr<TSWFDefineShape> RecorderShape(std::uint16_t id, std::uint16_t bitmap, int w,
                                               int h) {
  TSWFMatrix m;
  m.SetTranslate(-5, -5);
  m.SetScale(float((w - 1) * 20.0 / w + 15.0 / 4096), float(20 + 15.0 / 4096));
  return RectShape(id, 0, 0, (w - 1) * 20, h * 20, ImageFill(bitmap, 0x41, m.GetRec()));
}

struct TStrip {
  std::uint16_t Depth;
  int Top, Rows;
};

// Two segments of a recording, each a sprite: a full picture at depth 0 one row down, then
// strips at depths 1, 3, 5. The root stops at stopFrame, and so does the sprite then on show.
Bytes Recording(int stopFrame) {
  TTestMovie movie(kWidth, kHeight);
  movie.SetVersion(6);
  movie.SetCompressed(true);
  std::uint16_t id = 1;
  auto segment = [&](std::uint16_t spriteId, int seed, int localStop) {
    auto sprite = std::make_unique<TSWFDefineSprite>();
    sprite->SpriteId = spriteId;
    const std::vector<std::vector<TStrip>> frames = {
        {{0, 0, kHeight}}, {}, {{1, 0, 32}}, {{3, 32, 32}, {5, 64, kHeight - 64}}};
    for (std::size_t f = 0; f < frames.size(); ++f) {
      for (const TStrip& s : frames[f]) {
        const std::uint16_t bitmap = id++, shape = id++;
        movie.Add(Picture(bitmap, kWidth, s.Rows, seed + int(f) * 40 + s.Top));
        movie.Add(RecorderShape(shape, bitmap, kWidth, s.Rows));
        sprite->ControlTags.push_back(Remove(s.Depth));
        sprite->ControlTags.push_back(Place(s.Depth, shape, 0, (s.Top + 1) * 20));
      }
      if (int(f) + 1 == localStop) sprite->ControlTags.push_back(Stop());
      sprite->ControlTags.push_back(std::make_unique<TSWFShowFrame>());
    }
    sprite->FrameCount = std::uint16_t(frames.size());
    movie.Add(std::move(sprite));
  };
  segment(100, 0, stopFrame <= 4 ? stopFrame : 0);
  segment(101, 90, stopFrame > 4 ? stopFrame - 4 : 0);
  for (int frame = 1; frame <= 8; ++frame) {
    if (frame == 1) movie.Add(Place(1, 100));
    if (frame == 5) {
      movie.Add(Remove(1));
      movie.Add(Place(2, 101));
    }
    if (frame == stopFrame) movie.Add(Stop());
    movie.ShowFrame();
  }
  return movie.Save();
}

Bytes Argb() {
  Bytes raw;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int a = x < 4 ? 255 : 0;  // opaque and transparent halves: exact in any blending
      raw.insert(raw.end(), {std::uint8_t(a), std::uint8_t(a ? 30 * y : 0),
                             std::uint8_t(a ? 30 * x : 0), std::uint8_t(a ? 99 : 0)});
    }
  }
  return raw;
}

Bytes Pix15() {
  Bytes raw;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const unsigned v = (unsigned(4 * x) << 10) | (unsigned(4 * y) << 5) | 31u;
      raw.insert(raw.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
    }
  }
  return raw;
}

// Each lossless format at one texel per pixel, side by side, on a grey stage; stopped at once.
Bytes Formats() {
  TTestMovie movie(48, 8);
  movie.SetVersion(6);
  auto bg = std::make_unique<TSWFSetBackgroundColor>();
  bg->BackgroundColor().SetRGB(SWFRGB(90, 90, 90));
  movie.Add(std::move(bg));
  std::vector<std::unique_ptr<TSWFDefineBitsLossless>> bitmaps;
  bitmaps.push_back(Picture(1, 8, 8, 7));
  bitmaps.push_back(Lossless(2, 4, 8, 8, Pix15()));
  std::vector<std::uint32_t> rgb;
  for (int i = 0; i < 64; ++i) rgb.push_back(0x030507u * i);
  bitmaps.push_back(Bitmap24(3, 8, 8, rgb));
  bitmaps.push_back(Lossless(4, 5, 8, 8, Argb(), true));
  for (std::uint16_t i = 0; i < bitmaps.size(); ++i) {
    const std::uint16_t bitmap = bitmaps[i]->CharacterId;
    movie.Add(std::move(bitmaps[i]));
    movie.Add(
        RectShape(std::uint16_t(10 + i), 0, 0, 160, 160, ImageFill(bitmap, 0x41, PixelScale())));
    movie.Add(Place(std::uint16_t(1 + i), std::uint16_t(10 + i), i * 160, 0));
  }
  // Edges on pixel boundaries: the web player smooths edges that cut through pixels, which the
  // project's player, sampling pixel centres, does not.
  movie.Add(RectShape(20, 0, 0, 80, 100, SolidFill(200, 30, 60)));
  movie.Add(Place(9, 20, 680, 20));
  movie.Add(Stop());
  movie.ShowFrame();
  return movie.Save();
}

void WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  if (!out) throw std::runtime_error("cannot write " + name);
}

// Writes the movie, its page and the player's frame at stopFrame; returns the case's JSON.
std::string WriteCase(const std::string& site, const std::string& name, const Bytes& movie,
                      int stopFrame) {
  WriteFile(site + "/" + name + ".swf", movie.data(), movie.size());
  TMoviePlayer player(std::make_unique<TMemoryStream>(movie));
  for (int i = 0; i < stopFrame; ++i) {
    if (!player.NextFrame()) throw std::runtime_error(name + " has too few frames");
  }
  WriteFile(site + "/" + name + ".rgba", player.Pixels(),
            std::size_t(player.Width()) * player.Height() * 4);
  TWebPageOptions page;
  page.MovieFileName = name + ".swf";
  page.Width = player.Width();
  page.Height = player.Height();
  page.WebPlayerURL = "ruffle/ruffle.js";
  WriteWebPage(site + "/" + WebPageFileName(name + ".swf"), page);
  char json[256];
  std::snprintf(json, sizeof json,
                "{\"name\":\"%s\",\"page\":\"%s.html\",\"width\":%d,\"height\":%d,"
                "\"expected\":\"%s.rgba\",\"seconds\":%.2f}",
                name.c_str(), name.c_str(), player.Width(), player.Height(), name.c_str(),
                stopFrame / player.FrameRate());
  return json;
}

#ifdef KESTROVA_RECORDER_PAGE
// A one-segment recording of the recorder's own kind, its picture drawn from seed.
std::string RecorderSegment(const std::string& file, int seed, std::uint16_t frames) {
  auto segment = FlashSegmentMovieFactory()(kWidth, kHeight);
  TDIBitmap picture;
  picture.Allocate(kWidth, kHeight, 8);
  // A palette of its own for each seed: without one every index is black, and every picture
  // the same.
  picture.Palette.clear();
  for (int i = 0; i < 256; ++i) {
    picture.Palette.push_back(TRGBQuad{std::uint8_t(i * 5 + seed * 80),
                                       std::uint8_t(i * 3 + seed * 40), std::uint8_t(255 - i), 0});
  }
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      picture.Bits[std::size_t(y) * picture.BytesPerLine + x] =
          std::uint8_t(x * 3 + y * 7 + seed * 41);
    }
  }
  segment->RemoveObject(0);
  segment->PlaceObject(segment->AddPicture(picture), 0, 0, 1);
  segment->ShowFrame(frames);
  segment->SaveToFile(file);
  return file;
}

// A JPEG picture of w x h pixels, smooth shading with sharp-edged bands that differ from seed to
// seed, colour sampled in full (4:4:4) so that decoders differ only by their rounding.
void WriteJpeg(const std::string& file, int w, int h, int seed) {
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) throw std::runtime_error("cannot write " + file);
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, out);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 92, TRUE);
  for (int i = 0; i < c.num_components; ++i) {
    c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  }
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(w) * 3);
  while (c.next_scanline < c.image_height) {
    const int y = static_cast<int>(c.next_scanline);
    for (int x = 0; x < w; ++x) {
      const bool band = ((x + seed * 13) / 20 + y / 15) % 2 == 0;
      row[std::size_t(x) * 3] = JSAMPLE((x * 255 / w + seed * 90) % 256);
      row[std::size_t(x) * 3 + 1] = JSAMPLE((y * 255 / h + seed * 50) % 256);
      row[std::size_t(x) * 3 + 2] = JSAMPLE(band ? 40 + seed * 60 : 200 - seed * 30);
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(out);
}

// Two JPEG slides of 2 s each at 12 frames a second: the web player must show them in order, each
// as the project's player draws it (frames 1 and 25) within the JPEG decoders' rounding.
std::string WriteSlideshowCase(const std::string& site) {
  constexpr int kSlideW = 160, kSlideH = 120;
  WriteJpeg(site + "/slide-1.jpg", kSlideW, kSlideH, 0);
  WriteJpeg(site + "/slide-2.jpg", kSlideW, kSlideH, 1);
  char json[384];
  std::snprintf(json, sizeof json,
                "{\"name\":\"slideshow of JPEG slides\",\"kind\":\"slides\","
                "\"page\":\"slideshow.html\",\"width\":%d,\"height\":%d,"
                "\"expected\":[\"slideshow-frames/frame-00001.png\","
                "\"slideshow-frames/frame-00025.png\"],\"seconds\":12,\"tolerance\":4}",
                kSlideW, kSlideH);
  return json;
}

// The first frame the project's player draws of a movie, as raw RGBA beside it.
void WriteFirstFrame(const std::string& movie, const std::string& rgba) {
  TMoviePlayer player(movie);
  if (!player.NextFrame()) throw std::runtime_error(movie + " has no frame");
  WriteFile(rgba, player.Pixels(), std::size_t(player.Width()) * player.Height() * 4);
}

// A recording with sound, as the recorder writes it: two segments of a second each, every frame
// with its block of a tone (MP3 where the build codes it, else ADPCM), joined into one stream.
// The web player must take the stream without an error and still show the frames.
std::string WriteSoundCase(const std::string& site) {
  TSoundOptions options;
  options.Coding = Mp3EncoderBuiltIn() ? TSoundEncoding::Mp3 : TSoundEncoding::Adpcm;
  options.Format = {22050, 1};
  std::unique_ptr<TSoundEncoder> coder = MakeSoundEncoder(options);
  std::vector<std::int16_t> frame(22050 / 12);
  std::uint64_t sample = 0;
  std::vector<TSegmentInput> inputs;
  for (int s = 1; s <= 2; ++s) {
    const std::string file = site + "/sound-segment" + std::to_string(s) + ".swf";
    auto segment = FlashSegmentMovieFactory()(kWidth, kHeight);
    segment->AddSound(coder->Head(12));
    for (int f = 0; f < 12; ++f) {
      for (std::int16_t& v : frame) {
        v = static_cast<std::int16_t>(6000 *
                                      std::sin(2 * 3.14159265 * 440 * double(sample++) / 22050));
      }
      if (f == 0) {
        TDIBitmap picture;
        picture.Allocate(kWidth, kHeight, 8);
        picture.Palette.clear();
        for (int i = 0; i < 256; ++i) {
          picture.Palette.push_back(
              TRGBQuad{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3), 0});
        }
        for (std::size_t i = 0; i < picture.Bits.size(); ++i) picture.Bits[i] = std::uint8_t(i * 7);
        segment->RemoveObject(1);
        segment->PlaceObject(segment->AddPicture(picture), 1, 0, 0);
      }
      segment->AddSound(coder->Encode(frame.data(), frame.size(), s == 2 && f == 11));
      segment->ShowFrame(1);
    }
    segment->SaveToFile(file);
    inputs.push_back({file, std::uint16_t(12)});
  }
  const std::string movie = site + "/with sound.swf";
  WriteOutputFiles(inputs, kWidth, kHeight, movie);
  WriteFirstFrame(movie, site + "/with-sound.rgba");
  char json[256];
  std::snprintf(json, sizeof json,
                "{\"name\":\"recording with sound\",\"page\":\"with%%20sound.html\",\"width\":%d,"
                "\"height\":%d,\"expected\":\"with-sound.rgba\",\"seconds\":1.5,\"quiet\":true}",
                kWidth, kHeight);
  return json;
}

// The recorder's own output with the page it writes by default (the web player from its public
// address, which the test serves from the local copy), under a name that must be escaped to be
// found (a space, '#', a letter past ASCII).
std::string WriteRecorderCase(const std::string& site) {
  const std::string segment = RecorderSegment(site + "/capture1.swf", 0, 1);
  const std::string movie = site + "/take #2 \xC3\xBC.swf";
  WriteOutputFiles({{segment, std::uint16_t(1)}}, kWidth, kHeight, movie);
  WriteFirstFrame(movie, site + "/recorder.rgba");
  char json[256];
  std::snprintf(json, sizeof json,
                "{\"name\":\"recorder page\",\"page\":\"take%%20%%232%%20%%C3%%BC.html\","
                "\"width\":%d,\"height\":%d,\"expected\":\"recorder.rgba\",\"seconds\":0.5}",
                kWidth, kHeight);
  return json;
}

// A recording the join splits into three parts of 18 frames, each its own picture: the web
// player must show the three in order, one part loading the next, and the page must name the
// part on show. The same page opened from disk must say why it cannot play instead.
std::string WriteThreePartCase(const std::string& site) {
  std::vector<TSegmentInput> inputs;
  for (int i = 1; i <= 3; ++i) {
    inputs.push_back({RecorderSegment(site + "/part" + std::to_string(i) + "-segment.swf", i, 18),
                      std::uint16_t(18)});
  }
  TOutputLimits limits;
  limits.MaxFrames = 18;
  const TOutputResult r =
      WriteOutputFiles(inputs, kWidth, kHeight, site + "/long take.swf", limits);
  if (r.Movies.size() != 3) throw std::runtime_error("the recording was not split in three");
  std::string expected;
  for (std::size_t i = 0; i < r.Movies.size(); ++i) {
    const std::string rgba = "long-take-" + std::to_string(i + 1) + ".rgba";
    WriteFirstFrame(r.Movies[i], site + "/" + rgba);
    expected += (i ? ",\"" : "\"") + rgba + "\"";
  }
  char json[512];
  std::snprintf(json, sizeof json,
                "{\"name\":\"three parts\",\"kind\":\"sequence\",\"page\":\"long%%20take.html\","
                "\"width\":%d,\"height\":%d,\"expected\":[%s],\"seconds\":12},"
                "{\"name\":\"opened from disk\",\"kind\":\"file\",\"page\":\"long take.html\"}",
                kWidth, kHeight, expected.c_str());
  return json;
}
#endif

// The page of a movie whose web player cannot be loaded: the words must show instead.
std::string WriteNoPlayerCase(const std::string& site) {
  TWebPageOptions page;
  page.MovieFileName = "recording-1.swf";
  page.Width = kWidth;
  page.Height = kHeight;
  page.WebPlayerURL = "missing/ruffle.js";
  WriteWebPage(site + "/no-player.html", page);
  return "{\"name\":\"web player missing\",\"kind\":\"noplayer\",\"page\":\"no-player.html\"}";
}

}  // namespace
}  // namespace kestrova::test

int main(int argc, char** argv) {
  using namespace kestrova::test;
  if (argc != 2) {
    std::cerr << "Usage: make_browser_movies SITEDIR\n";
    return 2;
  }
  try {
    const std::string site = argv[1];
    std::string cases = "[";
    for (int frame : {1, 4, 7}) {
      if (cases.size() > 1) cases += ",";
      cases += WriteCase(site, "recording-" + std::to_string(frame), Recording(frame), frame);
    }
    cases += "," + WriteCase(site, "formats", Formats(), 1);
    cases += "," + WriteNoPlayerCase(site);
#ifdef KESTROVA_RECORDER_PAGE
    cases += "," + WriteRecorderCase(site);
    cases += "," + WriteThreePartCase(site);
    cases += "," + WriteSlideshowCase(site);
    cases += "," + WriteSoundCase(site);
#endif
    cases += "]";
    std::ofstream(site + "/cases.json") << cases << "\n";
    // The public address that pages load the web player from by default, which the test serves
    // from its local copy.
    std::ofstream(site + "/default-web-player.txt") << kestrova::kDefaultWebPlayerURL << "\n";
  } catch (const std::exception& e) {
    std::cerr << "make_browser_movies: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
