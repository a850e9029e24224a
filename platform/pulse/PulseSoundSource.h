// Sound from the Linux sound server through libpulse, which PulseAudio and PipeWire (with
// pipewire-pulse) both serve: the default input, the default output's monitor, or both mixed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kestrova::platform::pulse {

struct TPulseOptions {
  // The server to ask; empty for the user's own (PULSE_SERVER, then the usual socket). A server
  // is never started for us.
  std::string Server;
  std::uint32_t FragmentMillis = 20;  // how much the server hands over at once
  std::uint32_t BufferMillis = 5000;  // kept for a recorder that does not read; older goes
  std::uint32_t ConnectTimeoutMillis = 5000;
};

// Captures on libpulse's threaded main loop; the server converts to the recording's format and
// the streams are mixed on their capture times (platform/SoundMixer.h). End ticks are
// milliseconds of the monotonic clock, as the X11 backend's TClock counts them, less the latency
// the server reports for each stream.
class TPulseSoundSource : public TSoundSource {
 public:
  explicit TPulseSoundSource(TPulseOptions options = {});
  ~TPulseSoundSource() override;
  TPulseSoundSource(const TPulseSoundSource&) = delete;
  TPulseSoundSource& operator=(const TPulseSoundSource&) = delete;

  bool Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) override;
  TSoundRead Read(std::vector<std::int16_t>& samples) override;
  void Close() override;
  std::string Problem() const override;

  // The device latency the server reported last, for each stream in the order microphone, monitor
  // (microseconds; 0 before the first report).
  std::vector<std::int64_t> Latencies() const;

  struct TImpl;

 private:
  TPulseOptions FOptions;
  std::unique_ptr<TImpl> F;
};

}  // namespace kestrova::platform::pulse
