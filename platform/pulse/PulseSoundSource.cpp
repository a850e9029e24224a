#include "platform/pulse/PulseSoundSource.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/SoundMixer.h"

namespace kestrova::platform::pulse {
namespace {

std::int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What each stream records; the order is the order of Latencies().
struct TDevice {
  const char* Name;  // nullptr: the default input
  const char* What;  // as the user is told it
};
constexpr TDevice kMicrophone{nullptr, "the microphone"};
constexpr TDevice kMonitor{"@DEFAULT_MONITOR@", "what the computer plays"};

std::vector<TDevice> DevicesOf(TSoundInput input) {
  switch (input) {
    case TSoundInput::Microphone:
      return {kMicrophone};
    case TSoundInput::System:
      return {kMonitor};
    case TSoundInput::Both:
      return {kMicrophone, kMonitor};
    case TSoundInput::Off:
      break;
  }
  return {};
}

}  // namespace

// One capture stream; callbacks find their source through it.
struct TStreamSlot {
  TPulseSoundSource::TImpl* Owner = nullptr;
  pa_stream* Stream = nullptr;
  std::size_t Index = 0;
  TDevice Device{};
  std::unique_ptr<TCaptureClock> Clock;  // the loop's thread alone uses it
};

struct TPulseSoundSource::TImpl {
  pa_threaded_mainloop* Loop = nullptr;
  pa_context* Context = nullptr;
  std::vector<std::unique_ptr<TStreamSlot>> Streams;
  TSoundFormat Format;
  std::size_t FrameBytes = 4;
  bool Running = false;  // set once Open succeeded; only the loop's thread reads it then

  mutable std::mutex Lock;  // guards what follows: the loop's thread writes, Read takes
  std::unique_ptr<TSoundMixer> Mixer;
  std::string ProblemText;
  std::vector<std::int64_t> Latencies;
  std::uint32_t BufferMillis = 0;

  void SetProblem(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    if (ProblemText.empty()) ProblemText = text;
  }

  static void OnContextState(pa_context* c, void* userdata) {
    auto* self = static_cast<TImpl*>(userdata);
    const pa_context_state_t state = pa_context_get_state(c);
    if (self->Running && !PA_CONTEXT_IS_GOOD(state)) {
      self->SetProblem(std::string("The sound server went away (") +
                       pa_strerror(pa_context_errno(c)) + "); the recording goes on without sound");
      std::lock_guard<std::mutex> guard(self->Lock);
      for (std::size_t i = 0; i < self->Streams.size(); ++i) self->Mixer->EndStream(i);
    }
    pa_threaded_mainloop_signal(self->Loop, 0);
  }

  static void OnStreamState(pa_stream* s, void* userdata) {
    auto* slot = static_cast<TStreamSlot*>(userdata);
    TImpl* self = slot->Owner;
    if (self->Running && pa_stream_get_state(s) == PA_STREAM_FAILED) {
      self->SetProblem(std::string("The sound server stopped recording ") + slot->Device.What +
                       " (" + pa_strerror(pa_context_errno(self->Context)) + ")");
      std::lock_guard<std::mutex> guard(self->Lock);
      self->Mixer->EndStream(slot->Index);
    }
    pa_threaded_mainloop_signal(self->Loop, 0);
  }

  static void OnRead(pa_stream* s, std::size_t, void* userdata) {
    auto* slot = static_cast<TStreamSlot*>(userdata);
    slot->Owner->TakeFragments(s, *slot);
  }

  void TakeFragments(pa_stream* s, TStreamSlot& slot) {
    for (;;) {
      const void* data = nullptr;
      std::size_t bytes = 0;
      if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
      const std::size_t frames = bytes / FrameBytes;
      // Kept past the drop: the server may reuse the memory afterwards.
      std::vector<std::int16_t> copy;
      if (data != nullptr) {
        const auto* p = static_cast<const std::int16_t*>(data);
        copy.assign(p, p + frames * static_cast<std::size_t>(Format.Channels));
      }
      pa_stream_drop(s);
      // The server's queue shows in when fragments arrive (the capture clock takes the earliest);
      // what the device itself still held when the server read it is the source's latency.
      const pa_timing_info* timing = pa_stream_get_timing_info(s);
      const std::int64_t deviceLatency =
          timing != nullptr ? static_cast<std::int64_t>(timing->source_usec) : 0;
      const std::int64_t now = NowMicros();
      const std::int64_t captured = slot.Clock->Arrived(frames, now, deviceLatency);
      std::lock_guard<std::mutex> guard(Lock);
      Latencies[slot.Index] = deviceLatency;
      Mixer->Push(slot.Index, data != nullptr ? copy.data() : nullptr, frames, captured);
    }
  }

  // With the loop locked: waits until ready() or failed() says so, or the deadline passes.
  template <class Ready, class Failed>
  bool WaitFor(std::uint32_t timeoutMillis, Ready ready, Failed failed) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis);
    while (!ready()) {
      if (failed() || std::chrono::steady_clock::now() > deadline) return false;
      // Polling rather than pa_threaded_mainloop_wait: a server that never answers must not
      // hang the recorder.
      pa_threaded_mainloop_unlock(Loop);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      pa_threaded_mainloop_lock(Loop);
    }
    return true;
  }

  void TearDown() {
    if (Loop == nullptr) return;
    pa_threaded_mainloop_lock(Loop);
    Running = false;
    for (auto& slot : Streams) {
      pa_stream_set_read_callback(slot->Stream, nullptr, nullptr);
      pa_stream_set_state_callback(slot->Stream, nullptr, nullptr);
      if (PA_STREAM_IS_GOOD(pa_stream_get_state(slot->Stream))) pa_stream_disconnect(slot->Stream);
    }
    if (Context != nullptr) {
      pa_context_set_state_callback(Context, nullptr, nullptr);
      pa_context_disconnect(Context);
    }
    pa_threaded_mainloop_unlock(Loop);
    pa_threaded_mainloop_stop(Loop);
    for (auto& slot : Streams) pa_stream_unref(slot->Stream);
    Streams.clear();
    if (Context != nullptr) pa_context_unref(Context);
    Context = nullptr;
    pa_threaded_mainloop_free(Loop);
    Loop = nullptr;
  }
};

TPulseSoundSource::TPulseSoundSource(TPulseOptions options)
    : FOptions(std::move(options)), F(std::make_unique<TImpl>()) {}

TPulseSoundSource::~TPulseSoundSource() {
  Close();
}

bool TPulseSoundSource::Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) {
  Close();
  const std::vector<TDevice> devices = DevicesOf(input);
  pa_sample_spec spec{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(format.Rate),
                      static_cast<std::uint8_t>(format.Channels)};
  if (devices.empty() || (format.Channels != 1 && format.Channels != 2) || format.Rate <= 0 ||
      !pa_sample_spec_valid(&spec)) {
    whyNot = "No sound input was asked for, or its format cannot be recorded";
    return false;
  }
  TImpl& f = *F;
  f.Format = format;
  f.FrameBytes = 2 * static_cast<std::size_t>(format.Channels);
  {
    std::lock_guard<std::mutex> guard(f.Lock);
    TSoundMixer::TLimits limits;
    limits.CapacityFrames = static_cast<std::size_t>(format.Rate) *
                            std::max<std::uint32_t>(FOptions.BufferMillis, 100) / 1000;
    f.Mixer = std::make_unique<TSoundMixer>(devices.size(), format, limits);
    f.ProblemText.clear();
    f.Latencies.assign(devices.size(), 0);
    f.BufferMillis = FOptions.BufferMillis;
  }
  auto fail = [&](const std::string& text) {
    if (f.Loop != nullptr) pa_threaded_mainloop_unlock(f.Loop);
    Close();
    whyNot = text;
    return false;
  };

  f.Loop = pa_threaded_mainloop_new();
  if (f.Loop == nullptr || pa_threaded_mainloop_start(f.Loop) < 0) {
    if (f.Loop != nullptr) pa_threaded_mainloop_free(f.Loop);
    f.Loop = nullptr;
    whyNot = "Cannot start the sound thread";
    return false;
  }
  pa_threaded_mainloop_lock(f.Loop);
  f.Context = pa_context_new(pa_threaded_mainloop_get_api(f.Loop), "Kestrova");
  if (f.Context == nullptr) return fail("Cannot talk to the sound server (out of memory)");
  pa_context_set_state_callback(f.Context, &TImpl::OnContextState, &f);
  const std::string noServer =
      "No sound server answers (PulseAudio, or PipeWire with pipewire-pulse): ";
  if (pa_context_connect(f.Context, FOptions.Server.empty() ? nullptr : FOptions.Server.c_str(),
                         PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return fail(noServer + pa_strerror(pa_context_errno(f.Context)));
  }
  const bool connected = f.WaitFor(
      FOptions.ConnectTimeoutMillis,
      [&] { return pa_context_get_state(f.Context) == PA_CONTEXT_READY; },
      [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(f.Context)); });
  if (!connected) {
    const int err = pa_context_errno(f.Context);
    return fail(noServer + (err != 0 ? pa_strerror(err) : "it did not answer in time"));
  }

  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize =
      static_cast<std::uint32_t>(pa_usec_to_bytes(FOptions.FragmentMillis * 1000ULL, &spec));
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    auto slot = std::make_unique<TStreamSlot>();
    slot->Owner = &f;
    slot->Index = i;
    slot->Device = devices[i];
    slot->Clock = std::make_unique<TCaptureClock>(format.Rate);
    slot->Stream = pa_stream_new(f.Context, "Kestrova recording", &spec, nullptr);
    if (slot->Stream == nullptr) {
      return fail(std::string("Cannot record ") + devices[i].What + ": " +
                  pa_strerror(pa_context_errno(f.Context)));
    }
    pa_stream_set_state_callback(slot->Stream, &TImpl::OnStreamState, slot.get());
    pa_stream_set_read_callback(slot->Stream, &TImpl::OnRead, slot.get());
    TStreamSlot& s = *slot;
    f.Streams.push_back(std::move(slot));
    if (pa_stream_connect_record(s.Stream, s.Device.Name, &attr, flags) < 0) {
      return fail(std::string("Cannot record ") + s.Device.What + ": " +
                  pa_strerror(pa_context_errno(f.Context)));
    }
  }
  for (auto& slot : f.Streams) {
    pa_stream* s = slot->Stream;
    const bool ready = f.WaitFor(
        FOptions.ConnectTimeoutMillis, [&] { return pa_stream_get_state(s) == PA_STREAM_READY; },
        [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(s)); });
    if (!ready) {
      const int err = pa_context_errno(f.Context);
      const bool missing = err == PA_ERR_NOENTITY;
      return fail(std::string("Cannot record ") + slot->Device.What + ": " +
                  (missing    ? std::string("the sound server has no such device")
                   : err != 0 ? std::string(pa_strerror(err))
                              : std::string("the sound server did not answer in time")));
    }
  }
  f.Running = true;
  pa_threaded_mainloop_unlock(f.Loop);
  return true;
}

TSoundRead TPulseSoundSource::Read(std::vector<std::int16_t>& samples) {
  std::lock_guard<std::mutex> guard(F->Lock);
  if (!F->Mixer) return {};
  return F->Mixer->Take(samples);
}

void TPulseSoundSource::Close() {
  F->TearDown();
  std::lock_guard<std::mutex> guard(F->Lock);
  F->Mixer.reset();
}

std::string TPulseSoundSource::Problem() const {
  std::lock_guard<std::mutex> guard(F->Lock);
  if (!F->ProblemText.empty()) return F->ProblemText;
  if (F->Mixer && F->Mixer->DroppedFrames() > 0) {
    const std::uint64_t ms =
        F->Mixer->DroppedFrames() * 1000 / static_cast<std::uint64_t>(F->Format.Rate);
    return "Sound was lost: the recording did not take it for more than " +
           std::to_string(F->BufferMillis) + " ms (" + std::to_string(ms) + " ms dropped)";
  }
  return {};
}

std::vector<std::int64_t> TPulseSoundSource::Latencies() const {
  std::lock_guard<std::mutex> guard(F->Lock);
  return F->Latencies;
}

}  // namespace kestrova::platform::pulse
