// What the dump and rewrite commands do with a loaded movie, kept in the library so that the fuzz
// target runs the very same code on hostile input.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "swfstreams/SWFStreams.h"

namespace kestrova {

// Writes the listing of a loaded and parsed movie: the header, then one line per tag (sprites'
// inner tags indented below them) with the tag's fields. Strings of a movie before version 6
// (Windows-1252) are shown in UTF-8.
void WriteMovieListing(const TSWFStreamReader& reader, const std::string& fileName,
                       std::ostream& out);

// Compression choice of a rewrite.
enum class TRewriteCompression { Keep, Plain, Compressed };

// Makes a parsed movie ready to save: applies the compression choice (compressing raises the
// version to 6), converts the tags' strings when the written version crosses 6, and rebuilds the
// body; tags that could not be read and bytes that form no tag are written back unchanged.
// Returns the warnings to show, one line each (without a trailing newline): the reader's load
// warnings, then how many tags were copied unchanged and why. Throws what MakeStream throws.
std::vector<std::string> RebuildMovie(TSWFStreamReader& reader, TRewriteCompression compression);

}  // namespace kestrova
