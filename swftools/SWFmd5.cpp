#include "swftools/SWFmd5.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

namespace kestrova {

namespace {

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// Per-step shift amounts and sine-derived constants of the four rounds.
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void MD5Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = block[4 * i] | (block[4 * i + 1] << 8) | (block[4 * i + 2] << 16) |
           (std::uint32_t(block[4 * i + 3]) << 24);
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t next = b + RotateLeft(a + f + kSine[i] + x[g], kShift[i]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  std::memset(x, 0, sizeof x);
}

}  // namespace

void MD5Init(TMD5Context& context) {
  context.State[0] = 0x67452301;
  context.State[1] = 0xefcdab89;
  context.State[2] = 0x98badcfe;
  context.State[3] = 0x10325476;
  context.BitCount = 0;
  std::memset(context.Buffer, 0, sizeof context.Buffer);
}

void MD5Update(TMD5Context& context, const void* data, std::size_t count) {
  const auto* input = static_cast<const std::uint8_t*>(data);
  std::size_t used = static_cast<std::size_t>((context.BitCount >> 3) & 63);
  context.BitCount += static_cast<std::uint64_t>(count) << 3;
  while (count > 0) {
    const std::size_t take = std::min(count, 64 - used);
    std::memcpy(context.Buffer + used, input, take);
    used += take;
    input += take;
    count -= take;
    if (used == 64) {
      MD5Transform(context.State, context.Buffer);
      used = 0;
    }
  }
}

void MD5Final(TMD5Context& context, std::uint8_t digest[16]) {
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(context.BitCount >> (8 * i));
  // Pad with 0x80 and zeros to 56 bytes modulo 64, then the bit length.
  static const std::uint8_t kPadding[64] = {0x80};
  const std::size_t used = static_cast<std::size_t>((context.BitCount >> 3) & 63);
  MD5Update(context, kPadding, used < 56 ? 56 - used : 120 - used);
  MD5Update(context, length, 8);
  for (int i = 0; i < 16; ++i) {
    digest[i] = static_cast<std::uint8_t>(context.State[i / 4] >> (8 * (i % 4)));
  }
  // volatile so the wipe of a dying context is not optimised away.
  volatile std::uint8_t* p = reinterpret_cast<volatile std::uint8_t*>(&context);
  for (std::size_t i = 0; i < sizeof context; ++i) p[i] = 0;
}

namespace {

constexpr std::string_view kMagic = "$1$";

std::string SaltFrom(std::mt19937& generator) {
  std::uniform_int_distribution<std::size_t> pick(0, kMD5CryptAlphabet.size() - 1);
  std::string salt(2, '.');
  for (char& ch : salt) ch = kMD5CryptAlphabet[pick(generator)];
  return salt;
}

std::string RandomSalt() {
  // One generator per thread, seeded once from the system's entropy source.
  thread_local std::mt19937 generator(std::random_device{}());
  return SaltFrom(generator);
}

std::mutex gSaltMutex;
TSaltSource gSaltSource;  // empty: RandomSalt

std::string EffectiveSalt(std::string_view salt) {
  if (salt.substr(0, kMagic.size()) == kMagic) salt.remove_prefix(kMagic.size());
  if (salt.size() < 2) return NewSalt();
  return std::string(salt.substr(0, 2));
}

void Update(TMD5Context& c, std::string_view s) {
  MD5Update(c, s.data(), s.size());
}

// Appends count characters of the crypt base-64 alphabet for value, low six bits first.
void To64(std::string& out, std::uint32_t value, int count) {
  for (; count > 0; --count, value >>= 6) out += kMD5CryptAlphabet[value & 0x3f];
}

}  // namespace

void SetSaltSource(TSaltSource source) {
  std::lock_guard<std::mutex> lock(gSaltMutex);
  gSaltSource = std::move(source);
}

TSaltSource SeededSaltSource(std::uint32_t seed) {
  auto generator = std::make_shared<std::mt19937>(seed);
  return [generator] { return SaltFrom(*generator); };
}

std::string NewSalt() {
  std::lock_guard<std::mutex> lock(gSaltMutex);
  std::string salt = gSaltSource ? gSaltSource() : RandomSalt();
  // A source giving too little, or characters outside the alphabet, cannot break a hash.
  for (char& ch : salt) {
    if (kMD5CryptAlphabet.find(ch) == std::string_view::npos) ch = '.';
  }
  if (salt.size() < 2) salt.resize(2, '.');
  return salt.substr(0, 2);
}

std::string MD5Crypt(std::string_view password, std::string_view saltIn) {
  const std::string salt = EffectiveSalt(saltIn);
  std::uint8_t final[16];
  TMD5Context alt;
  MD5Init(alt);
  Update(alt, password);
  Update(alt, salt);
  Update(alt, password);
  MD5Final(alt, final);

  TMD5Context ctx;
  MD5Init(ctx);
  Update(ctx, password);
  Update(ctx, kMagic);
  Update(ctx, salt);
  for (std::size_t left = password.size(); left > 0; left -= std::min<std::size_t>(left, 16)) {
    MD5Update(ctx, final, std::min<std::size_t>(left, 16));
  }
  // The published scheme mixes in a zero byte for each set bit of the length and the first
  // password byte for each clear one, over every bit of the full length.
  const std::uint8_t zero = 0;
  for (std::size_t bits = password.size(); bits > 0; bits >>= 1) {
    if (bits & 1) {
      MD5Update(ctx, &zero, 1);
    } else {
      MD5Update(ctx, password.data(), 1);
    }
  }
  MD5Final(ctx, final);

  for (int i = 0; i < 1000; ++i) {
    TMD5Context round;
    MD5Init(round);
    if (i & 1) {
      Update(round, password);
    } else {
      MD5Update(round, final, 16);
    }
    if (i % 3) Update(round, salt);
    if (i % 7) Update(round, password);
    if (i & 1) {
      MD5Update(round, final, 16);
    } else {
      Update(round, password);
    }
    MD5Final(round, final);
  }

  std::string out = std::string(kMagic) + salt + "$";
  const auto group = [&](int a, int b, int c) {
    To64(out, (std::uint32_t(final[a]) << 16) | (final[b] << 8) | final[c], 4);
  };
  group(0, 6, 12);
  group(1, 7, 13);
  group(2, 8, 14);
  group(3, 9, 15);
  group(4, 10, 5);
  To64(out, final[11], 2);
  std::memset(final, 0, sizeof final);
  return out;
}

}  // namespace kestrova
