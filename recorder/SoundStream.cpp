#include "recorder/SoundStream.h"

#include <exception>

#include "swfobjects/SoundTags.h"

namespace kestrova {

TSoundRecording::TSoundRecording(platform::TSoundSource& source,
                                 std::unique_ptr<TSoundEncoder> encoder)
    : FSource(source),
      FEncoder(std::move(encoder)),
      FTimeline(FEncoder->Format().Rate, FEncoder->Format().Channels) {}

void TSoundRecording::Read(std::uint32_t originTick, std::uint32_t excludedMs) {
  FRead.clear();
  const platform::TSoundRead read = FSource.Read(FRead);
  const std::size_t frames =
      std::min(read.Frames, FRead.size() / std::size_t(FEncoder->Format().Channels));
  if (frames == 0) return;
  const double endMs = double(static_cast<std::int32_t>(read.EndTick - originTick)) - excludedMs;
  FTimeline.Place(FRead.data(), frames, endMs);
}

void TSoundRecording::Discard() {
  FRead.clear();
  FSource.Read(FRead);
}

std::uint64_t TSoundRecording::FrameStart(std::uint64_t k) const {
  return k * std::uint64_t(FEncoder->Format().Rate) / kFramesPerSecond;
}

std::unique_ptr<TSWFObject> TSoundRecording::NextBlock(bool final) {
  const std::uint64_t from = FrameStart(FNextFrame), to = FrameStart(FNextFrame + 1);
  ++FNextFrame;
  FFrame.clear();
  FTimeline.Take(from, to, FFrame);
  return FEncoder->Encode(FFrame.data(), static_cast<std::size_t>(to - from), final);
}

std::unique_ptr<TSWFObject> TSoundRecording::Head() const {
  return FEncoder->Head(kFramesPerSecond);
}

TSoundSegmentMovie::TSoundSegmentMovie(std::unique_ptr<TSegmentMovie> movie, TSoundRecording& sound,
                                       std::function<void(const std::string&)> onFailure)
    : TForwardingSegmentMovie(std::move(movie)), FSound(sound), FOnFailure(std::move(onFailure)) {}

void TSoundSegmentMovie::Catch(bool final) {
  try {
    if (!FHeadWritten) {
      Inner().AddSound(FSound.Head());
      FHeadWritten = true;
    }
    while (FWaiting != 0) {
      --FWaiting;
      Inner().AddSound(FSound.NextBlock(final && FWaiting == 0));
      Inner().ShowFrame(1);
    }
  } catch (const std::exception& e) {
    FWaiting = 0;  // the movie cannot take them: they count as lost
    if (FOnFailure) FOnFailure(e.what());
    throw;
  }
}

std::uint32_t TSoundSegmentMovie::AddPicture(const TDIBitmap& picture) {
  Catch();
  return Inner().AddPicture(picture);
}

void TSoundSegmentMovie::SetBusy(bool busy) {
  Catch();
  Inner().SetBusy(busy);
}

void TSoundSegmentMovie::RemoveObject(std::uint16_t depth) {
  Catch();
  Inner().RemoveObject(depth);
}

void TSoundSegmentMovie::PlaceObject(std::uint32_t shape, std::uint16_t depth, std::int32_t x,
                                     std::int32_t y) {
  Catch();
  Inner().PlaceObject(shape, depth, x, y);
}

void TSoundSegmentMovie::ShowFrame(std::uint16_t count) {
  Catch();
  FWaiting += count == 0 ? 1 : count;
}

std::uint16_t TSoundSegmentMovie::CalcFrameCount() {
  return static_cast<std::uint16_t>(Inner().CalcFrameCount() + FWaiting);
}

void TSoundSegmentMovie::SaveToFile(const std::string& fileName) {
  Catch();
  Inner().SaveToFile(fileName);
}

void TSoundSegmentMovie::Close(bool final) {
  Catch(final);
}

}  // namespace kestrova
