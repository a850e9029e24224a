// The stream SaveFileSafely hands to its writer: buffered, write-only and forward-only, over a
// file the system's own calls opened (SafeFile.cpp on POSIX, SafeFileWin.cpp on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "swftools/Stream.h"

namespace kestrova {

class TForwardWriteStream : public TStream {
 public:
  // Writes every byte it is given, or throws EStreamError naming the file.
  using TWriteAll = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
  // path names the file in messages.
  TForwardWriteStream(std::string path, TWriteAll writeAll)
      : FPath(std::move(path)), FWriteAll(std::move(writeAll)) {
    FBuffer.reserve(kBufferSize);
  }

  std::size_t Read(void*, std::size_t) override { Fail("the stream is write-only"); }
  void Write(const void* buffer, std::size_t count) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (FBuffer.size() + count > kBufferSize) Flush();
    if (count >= kBufferSize) {
      FWriteAll(bytes, count);
    } else {
      FBuffer.insert(FBuffer.end(), bytes, bytes + count);
    }
    FWritten += count;
  }
  void WriteByte(std::uint8_t b) override {
    if (FBuffer.size() >= kBufferSize) Flush();
    FBuffer.push_back(b);
    ++FWritten;
  }
  std::uint64_t Position() const override { return FWritten; }
  void SetPosition(std::uint64_t position) override {
    if (position != FWritten) Fail("the stream goes forward only");
  }
  std::uint64_t Size() const override { return FWritten; }
  bool Seekable() const override { return false; }

  // Writes out what is buffered; throws as TWriteAll does.
  void Flush() {
    if (!FBuffer.empty()) FWriteAll(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;
  [[noreturn]] void Fail(const char* what) const {
    throw EStreamError("Cannot write file \"" + FPath + "\": " + what);
  }

  std::string FPath;
  TWriteAll FWriteAll;
  std::vector<std::uint8_t> FBuffer;
  std::uint64_t FWritten = 0;
};

}  // namespace kestrova
