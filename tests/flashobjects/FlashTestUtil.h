// Helpers for the movie builder tests: pictures, temporary files and reading a saved movie back
// with the project's own reader.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "flashobjects/FlashObjects.h"
#include "media/DIBitmap.h"
#include "swfstreams/SWFStreams.h"
#include "tests/TestUtil.h"

namespace kestrova::test {

// An 8-bit bitmap whose pixel (x, y), counted from the top row, is pixel(x, y); palette entry i
// is (i, 255 - i, i / 2) in blue, green, red. Rows are stored bottom-up, as grabs are.
template <class F>
TDIBitmap Indexed8(std::int32_t width, std::int32_t height, F pixel) {
  TDIBitmap b;
  b.Allocate(width, height, 8);
  b.Palette.resize(256);
  for (int i = 0; i < 256; ++i) {
    b.Palette[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                    static_cast<std::uint8_t>(i / 2), 0};
  }
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = b.Scanline(height - 1 - y);
    for (std::int32_t x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(pixel(x, y));
  }
  return b;
}

// A fresh folder for one test's files, removed with the object.
class TTempDir {
 public:
  TTempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Path = std::filesystem::temp_directory_path() /
           ("kestrova-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
            std::to_string(::getpid()));
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TTempDir() { std::filesystem::remove_all(Path); }
  std::string File(const std::string& name) const { return (Path / name).string(); }
  // The names of the files in the folder.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Path)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }
  std::filesystem::path Path;
};

// A saved movie read back: header and one parsed tag object per tag.
inline std::unique_ptr<TSWFStreamReader> ReadMovie(const std::string& fileName) {
  auto reader = std::make_unique<TSWFStreamReader>(fileName);
  EXPECT_TRUE(reader->IsValid) << fileName;
  reader->ParseTags(true, true);
  return reader;
}

inline std::vector<int> TagCodes(const TSWFStreamReader& reader) {
  std::vector<int> codes;
  for (const auto& info : reader.TagList) codes.push_back(info->TagID);
  return codes;
}

template <class T>
T& TagAt(const TSWFStreamReader& reader, std::size_t index) {
  auto* tag = dynamic_cast<T*>(reader.TagList.at(index)->SWFObject.get());
  if (tag == nullptr)
    throw std::runtime_error("tag " + std::to_string(index) + " is another class");
  return *tag;
}

// Every character reference of the movie, inside sprites too, names a character defined by an
// earlier tag, and no id is defined twice. Returns the problems found.
inline std::vector<std::string> ReferenceProblems(const TSWFStreamReader& reader) {
  std::vector<std::string> problems;
  std::set<std::uint16_t> defined;
  std::vector<std::uint16_t*> ids;
  for (std::size_t i = 0; i < reader.TagList.size(); ++i) {
    TSWFObject* tag = reader.TagList[i]->SWFObject.get();
    if (tag == nullptr) continue;
    ids.clear();
    tag->ReferencedCharacterIDs(ids);
    for (const std::uint16_t* id : ids) {
      if (!defined.count(*id)) {
        problems.push_back("tag " + std::to_string(i) + " refers to undefined " +
                           std::to_string(*id));
      }
    }
    ids.clear();
    tag->DefinedCharacterIDs(ids);
    for (const std::uint16_t* id : ids) {
      if (!defined.insert(*id).second) {
        problems.push_back("tag " + std::to_string(i) + " defines " + std::to_string(*id) +
                           " again");
      }
    }
  }
  return problems;
}

}  // namespace kestrova::test
