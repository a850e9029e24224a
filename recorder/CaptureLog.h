// The recorder's diagnostic log: a plain sequence of string values in the component-streaming
// format, appended one per entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova {

// The bytes of one string value: 6 and a one-byte length (ASCII, at most 255 bytes), 12 and a
// 32-bit length (longer ASCII), or 20, a 32-bit length and UTF-8 (any byte of 128 or above).
std::vector<std::uint8_t> EncodeLogValue(const std::string& text);

// Appends one value to the file (made when missing, private to the user; a link of that name is
// not followed). Returns false when the file cannot be written: a log that fails must not stop a
// recording.
bool WriteLog(const std::string& fileName, const std::string& text);

}  // namespace kestrova
