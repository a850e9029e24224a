// Helpers shared by the tests: byte vectors, tag writing and reading through the real engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "swfobjects/SWFObjects.h"
#include "swftools/Stream.h"
#include "swftools/SWFTools.h"

namespace kestrova::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string Hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t v : b) {
    std::snprintf(buf, sizeof buf, "%02X ", v);
    s += buf;
  }
  return s;
}

// The whole record (header and body) a tag writes.
inline Bytes WriteTag(TSWFObject& tag) {
  TMemoryStream m;
  TBitsEngine be(m);
  tag.WriteToStream(be);
  return m.Bytes();
}

// The body alone.
inline Bytes WriteBody(TSWFObject& tag) {
  TMemoryStream m;
  TBitsEngine be(m);
  tag.WriteTagBody(be);
  be.FlushLastByte(true);
  return m.Bytes();
}

// Reads a body into a fresh object of the tag's code, the way the file reader does.
inline std::unique_ptr<TSWFObject> ReadBody(std::uint16_t tagID, const Bytes& body,
                                            std::uint8_t version = 10, bool parseActions = true) {
  auto tag = CreateTagByID(tagID);
  if (!tag) return nullptr;
  TMemoryStream m(body);
  TBitsEngine be(m);
  TSWFReadContext context;
  context.SWFVersion = version;
  context.ParseActions = parseActions;
  tag->BodySize = static_cast<std::int32_t>(body.size());
  ReadTagBody(*tag, be, context);
  return tag;
}

}  // namespace kestrova::test
