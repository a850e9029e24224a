// MD5 message digest and the "$1$" MD5-crypt password hash that protected movies carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrova {

// State of one digest computation. MD5Final wipes it, so a finished context holds no trace of
// the data (a password) it digested.
struct TMD5Context {
  std::uint32_t State[4];
  std::uint64_t BitCount;  // message length in bits, modulo 2^64
  std::uint8_t Buffer[64];
};

void MD5Init(TMD5Context& context);
void MD5Update(TMD5Context& context, const void* data, std::size_t count);
void MD5Final(TMD5Context& context, std::uint8_t digest[16]);

// The salt characters MD5Crypt draws from when it makes a salt.
inline constexpr std::string_view kMD5CryptAlphabet =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Where new salts come from: a function returning at least 2 characters of kMD5CryptAlphabet.
// The default draws from the system's entropy; tests and the simulated desktop seed their own so
// that protected movies come out the same on every run.
using TSaltSource = std::function<std::string()>;
// Replaces the process-wide salt source; an empty function restores the default. Thread-safe.
void SetSaltSource(TSaltSource source);
// A source of salts from a generator seeded with seed: the same seed gives the same salts.
TSaltSource SeededSaltSource(std::uint32_t seed);
// A new 2-character salt from the current source.
std::string NewSalt();

// "$1$" + salt + "$" + 22 hash characters (28 characters in all). A leading "$1$" of the salt is
// dropped and the salt is cut to 2 characters; a shorter salt is replaced by NewSalt(). Password
// and salt are byte strings. Throws nothing.
std::string MD5Crypt(std::string_view password, std::string_view salt);

}  // namespace kestrova
