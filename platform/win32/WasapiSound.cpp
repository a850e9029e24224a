#include "platform/win32/WasapiSound.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the COM headers below rely on it.
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "platform/SoundMixer.h"

namespace kestrova::platform::win32 {
namespace {

// Holds one COM reference and lets it go.
template <class T>
class TCom {
 public:
  TCom() = default;
  ~TCom() { Reset(); }
  TCom(const TCom&) = delete;
  TCom& operator=(const TCom&) = delete;
  T** Put() {
    Reset();
    return &FP;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* operator->() const { return FP; }
  T* Get() const { return FP; }
  void Reset() {
    if (FP != nullptr) FP->Release();
    FP = nullptr;
  }

 private:
  T* FP = nullptr;
};

std::string HResultText(HRESULT hr) {
  char text[32];
  std::snprintf(text, sizeof text, "error 0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT share everything but their first field, which is the
// plain format tag; comparing here spares linking the GUID library.
bool IsWaveSubtype(const GUID& g) {
  static const unsigned char tail[8] = {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
  return g.Data2 == 0x0000 && g.Data3 == 0x0010 && std::equal(tail, tail + 8, g.Data4);
}

// The endpoint's mix format as the converter reads it; nothing for layouts it cannot read
// (24-bit packed, compressed).
bool DeviceFormatOf(const WAVEFORMATEX& wf, TDeviceFormat& out) {
  WORD tag = wf.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE && wf.cbSize >= 22) {
    const auto& ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wf);
    if (!IsWaveSubtype(ext.SubFormat)) return false;
    tag = static_cast<WORD>(ext.SubFormat.Data1);
  }
  out.Rate = static_cast<std::int32_t>(wf.nSamplesPerSec);
  out.Channels = wf.nChannels;
  if (wf.nBlockAlign != wf.nChannels * (wf.wBitsPerSample / 8)) return false;
  if (tag == WAVE_FORMAT_IEEE_FLOAT && wf.wBitsPerSample == 32) {
    out.Type = TSampleType::Float32;
  } else if (tag == WAVE_FORMAT_PCM && wf.wBitsPerSample == 16) {
    out.Type = TSampleType::Int16;
  } else if (tag == WAVE_FORMAT_PCM && wf.wBitsPerSample == 32) {
    out.Type = TSampleType::Int32;
  } else {
    return false;
  }
  return out.Channels >= 1 && out.Channels <= 32 && out.Rate >= 1000 && out.Rate <= 768000;
}

std::int64_t QpcMicros() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::int64_t>(static_cast<double>(now.QuadPart) * 1e6 /
                                   static_cast<double>(frequency.QuadPart));
}

// How far the tick counter's microseconds are ahead of the performance counter's, taken the
// moment the tick counter steps (it moves only every 10 to 16 ms), so packets dated by the
// performance counter land on ticks to a millisecond.
std::int64_t TickOffsetMicros() {
  const ULONGLONG start = GetTickCount64();
  const std::int64_t deadline = QpcMicros() + 50000;
  ULONGLONG tick = start;
  std::int64_t qpc = QpcMicros();
  while ((tick = GetTickCount64()) == start && (qpc = QpcMicros()) < deadline) {
  }
  return static_cast<std::int64_t>(tick) * 1000 - qpc;
}

struct TEndpoint {
  EDataFlow Flow;
  const char* What;     // as the user is told it
  const char* Missing;  // when there is no such device
};
constexpr TEndpoint kMicrophone{eCapture, "the microphone", "There is no microphone"};
constexpr TEndpoint kLoopback{eRender, "what the computer plays",
                              "There is no sound output to record what the computer plays"};

struct TCapture {
  TEndpoint Endpoint{};
  TCom<IMMDevice> Device;
  TCom<IAudioClient> Client;
  TCom<IAudioCaptureClient> Capture;
  HANDLE Event = nullptr;
  std::unique_ptr<TSoundConverter> Converter;
  std::int32_t DeviceRate = 48000;
  bool Alive = true;
  ~TCapture() {
    if (Client.Get() != nullptr) Client->Stop();
    if (Event != nullptr) CloseHandle(Event);
  }
};

}  // namespace

struct TWasapiSoundSource::TImpl {
  TSoundFormat Format;
  std::thread Thread;
  HANDLE Stop = nullptr;

  mutable std::mutex Lock;  // guards what follows
  std::unique_ptr<TSoundMixer> Mixer;
  std::string ProblemText;
  std::uint32_t BufferMillis = 5000;

  void SetProblem(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    if (ProblemText.empty()) ProblemText = text;
  }

  // On the capture thread: a fresh client of c's device, initialised for shared capture in its
  // mix format. Empty, or why not.
  std::string Initialize(TCapture& c, bool events) {
    HRESULT hr =
        c.Device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, c.Client.PutVoid());
    if (FAILED(hr)) return std::string("Cannot open ") + c.Endpoint.What + ": " + HResultText(hr);
    WAVEFORMATEX* mix = nullptr;
    hr = c.Client->GetMixFormat(&mix);
    if (FAILED(hr) || mix == nullptr) {
      return std::string("Cannot read the sound format of ") + c.Endpoint.What;
    }
    TDeviceFormat from;
    const bool readable = DeviceFormatOf(*mix, from);
    DWORD flags = events ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0;
    if (c.Endpoint.Flow == eRender) flags |= AUDCLNT_STREAMFLAGS_LOOPBACK;
    const REFERENCE_TIME bufferDuration = 2000000;  // 200 ms, in 100 ns units
    if (readable) {
      hr = c.Client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, bufferDuration, 0, mix, nullptr);
    }
    CoTaskMemFree(mix);
    if (!readable) {
      return std::string("The sound format of ") + c.Endpoint.What + " is not supported";
    }
    if (FAILED(hr)) return std::string("Cannot record ") + c.Endpoint.What + ": " + HResultText(hr);
    c.Converter = std::make_unique<TSoundConverter>(from, Format);
    c.DeviceRate = from.Rate;
    return {};
  }

  // On the capture thread: opens one endpoint. Empty, or why not.
  std::string OpenEndpoint(IMMDeviceEnumerator& devices, TCapture& c) {
    HRESULT hr = devices.GetDefaultAudioEndpoint(c.Endpoint.Flow, eConsole, c.Device.Put());
    if (hr == E_NOTFOUND || c.Device.Get() == nullptr) return c.Endpoint.Missing;
    if (FAILED(hr)) return std::string("Cannot find ") + c.Endpoint.What + ": " + HResultText(hr);
    // Events first; a system that cannot signal a loopback endpoint (older Windows, Wine) is
    // polled by the capture loop's 20 ms wake-ups instead.
    bool events = true;
    std::string whyNot = Initialize(c, events);
    if (!whyNot.empty() && c.Endpoint.Flow == eRender) {
      events = false;
      if (Initialize(c, events).empty()) whyNot.clear();
    }
    if (!whyNot.empty()) return whyNot;
    if (events) {
      c.Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      if (c.Event == nullptr || FAILED(c.Client->SetEventHandle(c.Event))) {
        return std::string("Cannot wait for ") + c.Endpoint.What;
      }
    }
    hr = c.Client->GetService(__uuidof(IAudioCaptureClient), c.Capture.PutVoid());
    if (FAILED(hr)) return std::string("Cannot record ") + c.Endpoint.What + ": " + HResultText(hr);
    hr = c.Client->Start();
    if (FAILED(hr)) return std::string("Cannot start ") + c.Endpoint.What + ": " + HResultText(hr);
    return {};
  }

  // On the capture thread: takes every packet waiting. A failure means the endpoint is gone.
  HRESULT Drain(TCapture& c, std::size_t index, std::int64_t tickOffset,
                std::vector<std::int16_t>& converted) {
    UINT32 waiting = 0;
    HRESULT hr;
    while (SUCCEEDED(hr = c.Capture->GetNextPacketSize(&waiting)) && waiting > 0) {
      BYTE* data = nullptr;
      UINT32 frames = 0;
      DWORD flags = 0;
      UINT64 position = 0, qpc = 0;
      hr = c.Capture->GetBuffer(&data, &frames, &flags, &position, &qpc);
      if (FAILED(hr)) return hr;
      converted.clear();
      c.Converter->Convert((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 ? nullptr : data, frames,
                           converted);
      c.Capture->ReleaseBuffer(frames);
      if (frames == 0 || converted.empty()) continue;
      // qpc: the performance counter, in 100 ns units, when the packet's first frame was taken;
      // a packet whose time the device could not tell is dated by its arrival.
      const std::int64_t span = static_cast<std::int64_t>(frames - 1) * 1000000 / c.DeviceRate;
      const std::int64_t last = ((flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) != 0
                                     ? QpcMicros()
                                     : static_cast<std::int64_t>(qpc / 10) + span) +
                                tickOffset;
      std::lock_guard<std::mutex> guard(Lock);
      Mixer->Push(index, converted.data(),
                  converted.size() / static_cast<std::size_t>(Format.Channels), last);
    }
    return hr;
  }

  void Run(std::vector<TEndpoint> endpoints, std::promise<std::string> opened) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
      std::vector<std::unique_ptr<TCapture>> captures;
      std::string whyNot = Start(endpoints, captures);
      const bool ok = whyNot.empty();
      opened.set_value(std::move(whyNot));
      if (ok) Loop(captures);
    }
    if (SUCCEEDED(com)) CoUninitialize();
  }

  std::string Start(const std::vector<TEndpoint>& endpoints,
                    std::vector<std::unique_ptr<TCapture>>& captures) {
    TCom<IMMDeviceEnumerator> devices;
    const HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                        __uuidof(IMMDeviceEnumerator), devices.PutVoid());
    if (FAILED(hr)) return "The Windows sound service is not available: " + HResultText(hr);
    for (const TEndpoint& e : endpoints) {
      captures.push_back(std::make_unique<TCapture>());
      captures.back()->Endpoint = e;
      std::string whyNot = OpenEndpoint(*devices.Get(), *captures.back());
      if (!whyNot.empty()) return whyNot;
    }
    return {};
  }

  void Loop(std::vector<std::unique_ptr<TCapture>>& captures) {
    const std::int64_t tickOffset = TickOffsetMicros();
    std::vector<HANDLE> handles = {Stop};
    for (auto& c : captures) {
      if (c->Event != nullptr) handles.push_back(c->Event);
    }
    std::vector<std::int16_t> converted;
    for (;;) {
      const DWORD woke =
          WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 20);
      if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
      for (std::size_t i = 0; i < captures.size(); ++i) {
        TCapture& c = *captures[i];
        if (!c.Alive) continue;
        const HRESULT hr = Drain(c, i, tickOffset, converted);
        if (FAILED(hr)) {
          c.Alive = false;
          SetProblem(hr == AUDCLNT_E_DEVICE_INVALIDATED
                         ? std::string("The device for ") + c.Endpoint.What + " was removed"
                         : std::string("Windows stopped recording ") + c.Endpoint.What + ": " +
                               HResultText(hr));
          std::lock_guard<std::mutex> guard(Lock);
          Mixer->EndStream(i);
        }
      }
    }
  }
};

TWasapiSoundSource::TWasapiSoundSource() : F(std::make_unique<TImpl>()) {}

TWasapiSoundSource::~TWasapiSoundSource() {
  Close();
}

bool TWasapiSoundSource::Open(TSoundInput input, const TSoundFormat& format, std::string& whyNot) {
  Close();
  std::vector<TEndpoint> endpoints;
  if (input == TSoundInput::Microphone || input == TSoundInput::Both) {
    endpoints.push_back(kMicrophone);
  }
  if (input == TSoundInput::System || input == TSoundInput::Both) endpoints.push_back(kLoopback);
  if (endpoints.empty() || (format.Channels != 1 && format.Channels != 2) || format.Rate < 1000 ||
      format.Rate > 768000) {
    whyNot = "No sound input was asked for, or its format cannot be recorded";
    return false;
  }
  TImpl& f = *F;
  f.Format = format;
  {
    std::lock_guard<std::mutex> guard(f.Lock);
    TSoundMixer::TLimits limits;
    limits.CapacityFrames = static_cast<std::size_t>(format.Rate) * f.BufferMillis / 1000;
    f.Mixer = std::make_unique<TSoundMixer>(endpoints.size(), format, limits);
    f.ProblemText.clear();
  }
  f.Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (f.Stop == nullptr) {
    whyNot = "Cannot start the sound thread";
    return false;
  }
  std::promise<std::string> opened;
  std::future<std::string> result = opened.get_future();
  try {
    f.Thread = std::thread(&TImpl::Run, &f, std::move(endpoints), std::move(opened));
    whyNot = result.get();
  } catch (const std::exception& e) {
    whyNot = std::string("Cannot start the sound thread: ") + e.what();
  }
  if (!whyNot.empty()) {
    Close();
    return false;
  }
  return true;
}

TSoundRead TWasapiSoundSource::Read(std::vector<std::int16_t>& samples) {
  std::lock_guard<std::mutex> guard(F->Lock);
  if (!F->Mixer) return {};
  return F->Mixer->Take(samples);
}

void TWasapiSoundSource::Close() {
  TImpl& f = *F;
  if (f.Stop != nullptr) SetEvent(f.Stop);
  if (f.Thread.joinable()) f.Thread.join();
  if (f.Stop != nullptr) CloseHandle(f.Stop);
  f.Stop = nullptr;
  std::lock_guard<std::mutex> guard(f.Lock);
  f.Mixer.reset();
}

std::string TWasapiSoundSource::Problem() const {
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

}  // namespace kestrova::platform::win32
