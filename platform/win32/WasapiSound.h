// Sound on Windows through WASAPI in shared mode: the default capture endpoint (the microphone),
// the default render endpoint in loopback (what the computer plays), or both mixed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kestrova::platform::win32 {

// Captures on a thread of its own, woken by the endpoints' events (and every 20 ms besides, since
// a loopback endpoint signals nothing before Windows 10 and nothing at all while nothing plays).
// Samples come in the endpoint's mix format and are converted here; each packet is dated by the
// performance counter time Windows gives it, put on the GetTickCount64 milliseconds the Win32
// clock counts.
class TWasapiSoundSource : public TSoundSource {
 public:
  TWasapiSoundSource();
  ~TWasapiSoundSource() override;
  TWasapiSoundSource(const TWasapiSoundSource&) = delete;
  TWasapiSoundSource& operator=(const TWasapiSoundSource&) = delete;

  bool Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) override;
  TSoundRead Read(std::vector<std::int16_t>& samples) override;
  void Close() override;
  std::string Problem() const override;

  struct TImpl;

 private:
  std::unique_ptr<TImpl> F;
};

}  // namespace kestrova::platform::win32
