// The zlib format (zlib header, deflate data, Adler-32) for whole buffers: the one place that
// chooses which library writes it. Reading stays on zlib's streaming inflate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrova {

enum class TDeflateWriter : std::uint8_t { Zlib, Libdeflate };

// The writer used when none is named: the faster of the two on screen content at equal or
// smaller output (figures in bench/README.md).
TDeflateWriter DefaultDeflateWriter();
const char* DeflateWriterName(TDeflateWriter writer);

// Appends one zlib stream of size bytes to out. level is zlib's: -1 the default (6), 0 stored, 1
// fastest to 9 smallest. libdeflate is given the level of the same name, and for the default
// its level 7, the lowest whose output is no larger than zlib's default on screen content. Throws
// std::invalid_argument for a level outside -1..9 and EZlibError (swftools/ZStream.h) when the
// library fails.
void ZlibCompress(const void* data, std::size_t size, std::vector<std::uint8_t>& out,
                  int level = -1, TDeflateWriter writer = DefaultDeflateWriter());

// Inflates one whole zlib stream with zlib. Throws EZlibError for damaged or cut data, data after
// the stream's end, or an output larger than maxSize (so a claimed size cannot make it allocate
// without bound).
std::vector<std::uint8_t> ZlibDecompress(const void* data, std::size_t size, std::size_t maxSize);

}  // namespace kestrova
