// Helpers shared by the tag family tests: golden rows, whole records, and bodies read through the
// real file reader.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"

namespace kestrova::test {

// One golden case: the object a row builds must write exactly body under code.
struct GoldenRow {
  const char* what;
  std::uint16_t code;
  std::function<std::unique_ptr<TSWFObject>()> build;
  Bytes body;
  // Prefixes of the body shorter than this must fail to read; 0 means every proper prefix.
  std::size_t firstReadablePrefix = 0;
};

// A whole record: header for code and body, in the form the framing chooses.
inline Bytes Record(std::uint16_t code, const Bytes& body) {
  TMemoryStream m;
  WriteRecordHeader(m, code, static_cast<std::uint32_t>(body.size()));
  m.Write(body.data(), body.size());
  return m.Bytes();
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A reader whose body holds the given tag records, parsed into objects.
inline std::unique_ptr<TSWFStreamReader> ParseRecords(const Bytes& records,
                                                      std::uint8_t version = 10) {
  auto reader = std::make_unique<TSWFStreamReader>();
  reader->SetVersion(version);
  reader->Body().Write(records.data(), records.size());
  reader->ParseTags(true, true);
  return reader;
}

// Write, read, write again and copy: every path must give the golden bytes.
inline void CheckGoldenRow(const GoldenRow& row) {
  SCOPED_TRACE(row.what);
  auto tag = row.build();
  ASSERT_EQ(tag->TagID, row.code);
  const Bytes written = WriteTag(*tag);
  EXPECT_EQ(written, Record(row.code, row.body)) << Hex(written);
  auto back = ReadBody(row.code, row.body);
  EXPECT_EQ(WriteBody(*back), row.body);
  // Written again and read, the object read comes back field for field; a copy equals it.
  EXPECT_TRUE(ReadBody(row.code, WriteBody(*back))->Equals(*back)) << "write-read changed fields";
  EXPECT_TRUE(CloneTag(*back)->Equals(*back)) << "the copy differs";
  EXPECT_EQ(WriteTag(*CloneTag(*back)), Record(row.code, row.body));
  // Assigning an object to itself must keep everything it owns.
  auto self = row.build();
  self->Assign(*self);
  EXPECT_EQ(WriteTag(*self), Record(row.code, row.body)) << "self-assigned";
}

// Every truncated prefix of the body, framed as a tag of its own length and followed by a
// ShowFrame, reads without a crash; too short a prefix gives an error tag, and the ShowFrame
// after it is always read.
inline void SweepTruncatedPrefixes(const GoldenRow& row) {
  SCOPED_TRACE(row.what);
  const std::size_t mustFail = row.firstReadablePrefix ? row.firstReadablePrefix : row.body.size();
  for (std::size_t k = 0; k < row.body.size(); ++k) {
    const Bytes prefix(row.body.begin(), row.body.begin() + k);
    auto reader = ParseRecords(Concat({Record(row.code, prefix), {0x40, 0x00}}));
    ASSERT_EQ(reader->TagList.size(), 2u) << "prefix " << k;
    EXPECT_EQ(reader->TagList[1]->TagID, 1) << "prefix " << k;
    if (k > 0 && k < mustFail) {
      EXPECT_TRUE(reader->TagList[0]->Error() != nullptr) << "prefix " << k;
    }
  }
}

}  // namespace kestrova::test
