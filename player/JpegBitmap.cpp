#include "player/JpegBitmap.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "media/MediaBudget.h"
#include "player/Player.h"

#ifdef KESTROVA_HAVE_JPEG
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#endif

namespace kestrova {

std::vector<std::uint8_t> JoinJpegStream(const std::vector<std::uint8_t>& tables,
                                         const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> joined;
  joined.reserve(tables.size() + image.size());
  joined.insert(joined.end(), tables.begin(), tables.end());
  joined.insert(joined.end(), image.begin(), image.end());
  std::vector<std::uint8_t> out;
  out.reserve(joined.size());
  std::size_t i = 0;
  auto pairAt = [&joined](std::size_t at) {
    return at + 4 <= joined.size() && joined[at] == 0xFF && joined[at + 1] == 0xD9 &&
           joined[at + 2] == 0xFF && joined[at + 3] == 0xD8;
  };
  // An erroneous header (end, start) before the real start marker.
  if (pairAt(0)) i = 2;
  // Entropy-coded data stuffs every 0xFF with a zero, so an end marker followed by a start marker
  // can only be the seam between two streams.
  while (i < joined.size()) {
    if (i > 0 && pairAt(i)) {
      i += 4;
      continue;
    }
    out.push_back(joined[i++]);
  }
  return out;
}

#ifdef KESTROVA_HAVE_JPEG

bool JpegDecodingAvailable() {
  return true;
}

namespace {

// libjpeg's fatal errors come back here by longjmp instead of ending the program; nothing with a
// destructor lives between the setjmp and the calls that may jump.
struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<TJpegError*>(info->err);
  (*info->err->format_message)(info, error->Message);
  std::longjmp(error->Jump, 1);
}

// Warnings (a stream cut short, extraneous bytes) leave a picture that is still drawn.
void QuietMessage(j_common_ptr, int) {}

// Decodes into pixels (RGBX, rows top first) after checking the size with check. Returns false
// with error.Message set when libjpeg gives up; check's own refusal comes back as its text.
bool RunDecoder(const std::vector<std::uint8_t>& jpeg, TJpegError& error,
                bool (*check)(unsigned, unsigned, void*), void* context,
                std::vector<std::uint8_t>& pixels, unsigned& width, unsigned& height) {
  jpeg_decompress_struct info;
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = ErrorExit;
  error.Manager.emit_message = QuietMessage;
  error.Message[0] = '\0';
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_RGBX;
  if (!check(info.image_width, info.image_height, context)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  width = info.image_width;
  height = info.image_height;
  pixels.resize(std::size_t(width) * height * 4);
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels.data() + std::size_t(info.output_scanline) * width * 4;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

struct TSizeCheck {
  TBudgetClaim Claim;
  std::string Refusal;
};

bool CheckSize(unsigned width, unsigned height, void* context) {
  auto& check = *static_cast<TSizeCheck*>(context);
  const std::uint64_t texels = std::uint64_t(width) * height;
  if (texels > kMaxTexels) {
    check.Refusal = "its picture of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels is larger than a player holds";
    return false;
  }
  try {
    // The decoder's rows and the texels made of them.
    check.Claim = TBudgetClaim(TMediaBudget::Default(), texels * 8, "a JPEG picture");
  } catch (const std::exception& e) {
    check.Refusal = e.what();
    return false;
  }
  return true;
}

bool StartsWith(const std::vector<std::uint8_t>& data, const char* magic) {
  const std::size_t n = std::strlen(magic);
  return data.size() >= n && std::memcmp(data.data(), magic, n) == 0;
}

}  // namespace

TTexture DecodeJpeg(const std::vector<std::uint8_t>& jpeg, const std::uint8_t* alpha,
                    std::size_t alphaSize) {
  if (StartsWith(jpeg, "\x89PNG") || StartsWith(jpeg, "GIF8")) {
    throw EPlayerError("PNG and GIF pictures in JPEG tags are not drawn");
  }
  TJpegError error;
  TSizeCheck check;
  std::vector<std::uint8_t> pixels;
  unsigned width = 0, height = 0;
  if (!RunDecoder(jpeg, error, CheckSize, &check, pixels, width, height)) {
    throw EPlayerError(!check.Refusal.empty()
                           ? check.Refusal
                           : std::string("its JPEG data is damaged (") + error.Message + ")");
  }
  TTexture t;
  t.Width = static_cast<int>(width);
  t.Height = static_cast<int>(height);
  const std::size_t texels = std::size_t(width) * height;
  std::vector<std::uint8_t> plane;
  if (alphaSize > 0) plane = Inflate(alpha, alphaSize, texels);
  t.Texels.resize(texels);
  for (std::size_t i = 0; i < texels; ++i) {
    const unsigned a = plane.empty() ? 255 : plane[i];
    auto pre = [a](unsigned v) { return a == 255 ? v : (v * a + 127) / 255; };
    const std::uint8_t* p = &pixels[i * 4];
    t.Texels[i] = pre(p[0]) | (pre(p[1]) << 8) | (pre(p[2]) << 16) | (std::uint32_t(a) << 24);
  }
  if (!plane.empty()) {
    t.Opaque = std::all_of(plane.begin(), plane.end(), [](std::uint8_t a) { return a == 255; });
  }
  return t;
}

#else

bool JpegDecodingAvailable() {
  return false;
}

TTexture DecodeJpeg(const std::vector<std::uint8_t>&, const std::uint8_t*, std::size_t) {
  throw EPlayerError("this build has no JPEG decoder");
}

#endif

}  // namespace kestrova
