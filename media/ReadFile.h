// Reading a whole file through a reader that takes a stream: the one place that opens the file
// for the ID3 and MPEG audio readers.
#pragma once

#include <exception>
#include <string>

#include "swftools/Stream.h"

namespace kestrova {

// Opens fileName and hands it to reader.ReadFromStream, returning what that returns. A file that
// cannot be opened, or a read that throws, leaves the reader reset (ResetData) and gives false;
// nothing is thrown.
template <class TReader>
bool ReadFromFileWith(TReader& reader, const std::string& fileName) {
  try {
    TFileStream file(fileName, TFileStream::Mode::Read);
    return reader.ReadFromStream(file);
  } catch (const std::exception&) {
    reader.ResetData();
    return false;
  }
}

}  // namespace kestrova
