#include <crypt.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "swftools/SWFmd5.h"

namespace kestrova {
namespace {

std::string HexDigest(const std::uint8_t d[16]) {
  std::string s;
  char buf[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", d[i]);
    s += buf;
  }
  return s;
}

std::string MD5Hex(const std::string& text, std::size_t piece) {
  TMD5Context c;
  MD5Init(c);
  for (std::size_t i = 0; i < text.size(); i += piece) {
    MD5Update(c, text.data() + i, std::min(piece, text.size() - i));
  }
  std::uint8_t d[16];
  MD5Final(c, d);
  return HexDigest(d);
}

TEST(MD5, RFC1321TestSuiteInOneUpdateAndInPieces) {
  const std::pair<std::string, std::string> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, digest] : suite) {
    // Pieces of 1, 7 and 64 bytes cross the block buffer at every offset.
    for (std::size_t piece : {std::size_t(1000), std::size_t(1), std::size_t(7), std::size_t(64)}) {
      EXPECT_EQ(MD5Hex(text, piece), digest) << '"' << text << "\" in pieces of " << piece;
    }
  }
}

TEST(MD5, FinalWipesTheContext) {
  TMD5Context c;
  MD5Init(c);
  MD5Update(c, "secret", 6);
  std::uint8_t d[16];
  MD5Final(c, d);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&c);
  for (std::size_t i = 0; i < sizeof c; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

// The system's crypt(3) "$1$" scheme as the reference.
std::string SystemCrypt(const std::string& password, const std::string& setting) {
  auto data = std::make_unique<crypt_data>();
  const char* out = crypt_r(password.c_str(), setting.c_str(), data.get());
  return out ? std::string(out) : std::string("(crypt failed)");
}

TEST(MD5Crypt, AgreesWithTheSystemCrypt) {
  // Lengths around the 16-byte pieces, the 64-byte block and the 8-bit boundary of the length.
  std::string binary;
  for (int i = 1; i < 256; ++i) binary += static_cast<char>(i);
  const std::string passwords[] = {
      "",
      "a",
      "password",
      "Kestrova recorder",
      "0123456789abcde",  // 15
      "0123456789abcdef",
      "0123456789abcdefg",
      std::string(55, 'x'),
      std::string(64, 'y'),
      std::string(255, 'z'),
      std::string(256, 'q'),
      std::string(300, 'w'),
      binary,
  };
  const std::string salts[] = {"ab", "./", "zZ", "09", "Q."};
  for (const auto& password : passwords) {
    for (const auto& salt : salts) {
      const std::string ours = MD5Crypt(password, salt);
      EXPECT_EQ(ours, SystemCrypt(password, "$1$" + salt + "$"))
          << "password of " << password.size() << " bytes, salt " << salt;
      EXPECT_EQ(ours.size(), 28u);
    }
  }
}

TEST(MD5Crypt, SaltRules) {
  const std::string ref = MD5Crypt("secret", "ab");
  EXPECT_EQ(ref.substr(0, 6), "$1$ab$");
  EXPECT_EQ(MD5Crypt("secret", "$1$ab"), ref) << "magic prefix dropped";
  EXPECT_EQ(MD5Crypt("secret", "abcdefgh"), ref) << "cut to 2 characters";
  EXPECT_EQ(MD5Crypt("secret", "$1$abXY$junk"), ref) << "prefix dropped, then cut";
  EXPECT_EQ(MD5Crypt("secret", "ab"), ref) << "deterministic";
  EXPECT_NE(MD5Crypt("secret", "ac"), ref);
  EXPECT_NE(MD5Crypt("Secret", "ab"), ref);
}

TEST(MD5Crypt, ShortSaltsAreReplacedByRandomOnes) {
  std::set<std::string> salts;
  for (const std::string given : {"", "a", "$1$", "$1$b"}) {
    for (int i = 0; i < 20; ++i) {
      const std::string hash = MD5Crypt("secret", given);
      ASSERT_EQ(hash.size(), 28u);
      ASSERT_EQ(hash.substr(0, 3), "$1$");
      ASSERT_EQ(hash[5], '$');
      const std::string salt = hash.substr(3, 2);
      for (char ch : salt) {
        EXPECT_NE(kMD5CryptAlphabet.find(ch), std::string_view::npos) << hash;
      }
      // The hash is the real one for the salt that was drawn.
      EXPECT_EQ(hash, SystemCrypt("secret", hash)) << "salt given: " << given;
      salts.insert(salt);
    }
  }
  // 80 draws from 4096 salts: all the same would mean the generator is not random.
  EXPECT_GT(salts.size(), 40u);
}

}  // namespace
}  // namespace kestrova
