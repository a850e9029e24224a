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

// The same listing of a loaded movie that is not parsed: indexes it (ParseTags without objects),
// then reads, lists and drops one tag at a time, so it holds the body and one tag rather than
// every tag of the movie. Throws what ParseTags throws.
void WriteMovieListingTagByTag(TSWFStreamReader& reader, const std::string& fileName,
                               std::ostream& out);

// Compression choice of a rewrite.
enum class TRewriteCompression { Keep, Plain, Compressed };

// Makes a parsed movie ready to save: applies the compression choice (compressing raises the
// version to 6), converts the tags' strings when the written version crosses 6, and rebuilds the
// body; tags that could not be read and bytes that form no tag are written back unchanged.
// Returns the warnings to show, one line each (without a trailing newline): the reader's load
// warnings, then how many tags were copied unchanged and why. Throws what MakeStream throws.
std::vector<std::string> RebuildMovie(TSWFStreamReader& reader, TRewriteCompression compression);

// A rewrite planned tag by tag: what RebuildMovie and SaveToFile do together, holding only the
// loaded body (none when it stays in its file), one parsed tag at a time, and the new bytes of
// the tags whose bytes change.
struct TMovieRewrite {
  std::vector<std::string> Warnings;  // as RebuildMovie returns them
  std::size_t TagCount = 0;           // entries of the movie's index
  std::uint64_t BodySize = 0;         // of the body to be written
  // For each entry of the index: its new record, or empty when its stored bytes stay as they are.
  std::vector<std::vector<std::uint8_t>> Changed;
};

// Indexes a loaded movie (ParseTags without objects), applies the compression choice, then reads
// each tag, writes it as MakeStream would and drops it before the next one is read. Returns what
// SaveMovieRewrite needs. Throws EMemoryBudgetExceeded when one tag (with the body and the index)
// passes the reader's MemoryLimit.
TMovieRewrite PlanMovieRewrite(TSWFStreamReader& reader, TRewriteCompression compression);
// Writes the planned movie into stream: header, then each tag's new or stored record and any
// trailing bytes; compressed movies go through the deflating stream. The bytes are those of
// RebuildMovie followed by SaveToStream. Throws what the streams throw.
void WriteMovieRewrite(TSWFStreamReader& reader, const TMovieRewrite& plan, TStream& stream);
// WriteMovieRewrite into a file through SaveFileSafely (an earlier file stays whole on failure).
void SaveMovieRewrite(TSWFStreamReader& reader, const TMovieRewrite& plan,
                      const std::string& fileName);

}  // namespace kestrova
