// Helpers shared by the tag family tests: golden rows, whole records, and bodies read through the
// real file reader.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"

namespace kestrova::test {

// One golden case of any tag family: the object a row builds must write exactly body under code.
// The same row drives the write, the read (in both action modes when actions is set), the
// write-read-write round trip, the copy, the self-assignment and the truncated-prefix sweep.
struct GoldenRow {
  const char* what;
  std::uint16_t code;
  std::function<std::unique_ptr<TSWFObject>()> build;
  Bytes body;
  // Prefixes of the body shorter than this must fail to read; 0 means every proper prefix.
  std::size_t firstReadablePrefix = 0;
  // MinVersion of the built object, before and after writing and once read back; 0: not checked.
  std::uint16_t minVersion = 0;
  // The file version the body is read back with.
  std::uint8_t readVersion = 10;
  // Prefix lengths that are complete bodies on their own, read without error; none if empty.
  std::function<bool(std::size_t)> completePrefix = {};
  // The tag carries actions: read it with and without parsing them.
  bool actions = false;
  // Checks of the object read back from body, beyond writing the same bytes; none if empty.
  std::function<void(const TSWFObject& read)> checkRead = {};
};

// A whole record: header for code and body, in the form the framing chooses.
inline Bytes Record(std::uint16_t code, const Bytes& body) {
  TMemoryStream m;
  WriteRecordHeader(m, code, static_cast<std::uint32_t>(body.size()));
  m.Write(body.data(), body.size());
  return m.Bytes();
}

// A whole record with the long header whatever the body's length.
inline Bytes LongRecord(std::uint16_t code, const Bytes& body) {
  TMemoryStream m;
  WriteRecordHeader(m, code, static_cast<std::uint32_t>(body.size()), true);
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
                                                      std::uint8_t version = 10,
                                                      bool parseActions = true) {
  auto reader = std::make_unique<TSWFStreamReader>();
  reader->SetVersion(version);
  reader->Body().Write(records.data(), records.size());
  reader->ParseTags(true, parseActions);
  return reader;
}

// The action modes a row is read in.
inline std::vector<bool> ParseModes(const GoldenRow& row) {
  return row.actions ? std::vector<bool>{true, false} : std::vector<bool>{true};
}

// Write, read, write again and copy: every path must give the golden bytes.
inline void CheckGoldenRow(const GoldenRow& row) {
  SCOPED_TRACE(row.what);
  auto tag = row.build();
  ASSERT_EQ(tag->TagID, row.code);
  if (row.minVersion) {
    EXPECT_EQ(tag->MinVersion(), row.minVersion) << "before writing";
  }
  const Bytes record = Record(row.code, row.body);
  const Bytes written = WriteTag(*tag);
  EXPECT_EQ(written, record) << Hex(written);
  if (row.minVersion) {
    EXPECT_EQ(tag->MinVersion(), row.minVersion) << "after writing";
  }
  for (const bool parse : ParseModes(row)) {
    SCOPED_TRACE(parse ? "actions parsed" : "actions kept raw");
    auto back = ReadBody(row.code, row.body, row.readVersion, parse);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(WriteBody(*back), row.body) << "read, then written again";
    EXPECT_EQ(WriteTag(*CloneTag(*back)), record) << "copy of what was read";
    if (row.minVersion) {
      EXPECT_EQ(back->MinVersion(), row.minVersion) << "read back";
    }
    if (parse && row.checkRead) row.checkRead(*back);
  }
  // A copy owns all it holds: it outlives the original.
  auto copy = CloneTag(*tag);
  tag.reset();
  EXPECT_EQ(WriteTag(*copy), record) << "copy";
  // Assigning an object to itself must keep everything it owns.
  auto self = row.build();
  self->Assign(*self);
  EXPECT_EQ(WriteTag(*self), record) << "self-assigned";
}

// Every truncated prefix of the body, read by the file reader:
// - framed as a tag of its own length and followed by a ShowFrame, it reads without a crash and
//   the ShowFrame after it is always read; too short a prefix (not a complete one) gives an error
//   tag naming the stored code, which a rebuild writes back unchanged; a prefix that reads is
//   written and read again to the same bytes;
// - cut by the end of the file inside the body its header announced, it belongs to no tag and a
//   rebuild keeps its bytes.
inline void SweepTruncatedPrefixes(const GoldenRow& row) {
  SCOPED_TRACE(row.what);
  const std::size_t mustFail = row.firstReadablePrefix ? row.firstReadablePrefix : row.body.size();
  for (const bool parse : ParseModes(row)) {
    for (std::size_t k = 0; k < row.body.size(); ++k) {
      SCOPED_TRACE("prefix " + std::to_string(k) + (parse ? "" : ", actions kept raw"));
      const Bytes prefix(row.body.begin(), row.body.begin() + k);
      const Bytes file = Concat({Record(row.code, prefix), {0x40, 0x00}});
      auto reader = ParseRecords(file, row.readVersion, parse);
      ASSERT_EQ(reader->TagList.size(), 2u);
      EXPECT_EQ(reader->TagList[1]->TagID, 1);
      const TSWFErrorTag* error = reader->TagList[0]->Error();
      const bool complete = row.completePrefix && row.completePrefix(k);
      if (k > 0 && k < mustFail && !complete) {
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->FailedTagID, row.code);
      }
      if (complete) {
        EXPECT_EQ(reader->TagList[0]->TagID, row.code) << "a complete body";
      }
      reader->MakeStream();
      if (error) {
        EXPECT_EQ(reader->Body().Bytes(), file) << "an error tag keeps its bytes";
      } else {
        const Bytes once = reader->Body().Bytes();
        auto again = ParseRecords(once, row.readVersion, parse);
        again->MakeStream();
        EXPECT_EQ(again->Body().Bytes(), once) << "written, read and written again";
      }

      Bytes cut = LongRecord(row.code, row.body);
      cut.resize(6 + k);
      auto r = ParseRecords(cut, row.readVersion, parse);
      ASSERT_EQ(r->TagList.size(), 1u);
      EXPECT_EQ(r->TagList[0]->SWFObject, nullptr) << "file cut inside the body";
      r->MakeStream();
      EXPECT_EQ(r->Body().Bytes(), cut);
    }
  }
}

}  // namespace kestrova::test
