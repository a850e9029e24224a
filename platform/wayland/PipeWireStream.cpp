#include "platform/wayland/PipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/wayland/StreamPixels.h"

namespace kestrova::platform::wayland {

namespace {

constexpr std::size_t CursorMetaSize(std::size_t side) {
  return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + side * side * 4;
}
// Damage comes as at most this many rectangles a frame; more are merged by the compositor.
constexpr int kDamageRegions = 16;

}  // namespace

struct TPipeWireStream::TImpl {
  pw_thread_loop* Loop = nullptr;
  pw_context* Context = nullptr;
  pw_core* Core = nullptr;
  pw_stream* Stream = nullptr;
  spa_hook StreamListener{};
  spa_hook CoreListener{};
  std::function<void()> OnEnd;

  // Stream thread only.
  std::int32_t Width = 0, Height = 0;
  TPixelOrder Order = TPixelOrder::Bgrx;
  bool FormatChanged = true;
  std::vector<std::uint8_t> Converted;
  TDamage FrameDamage;

  TLatestFrame Latest;
  mutable std::mutex Lock;  // guards what follows
  std::condition_variable FirstFrame;
  TCursorInfo Pointer;
  bool HavePointer = false;
  bool HaveFrame = false;
  std::int32_t FrameWidth = 0, FrameHeight = 0;
  bool EndedFlag = false;
  std::string Reason;
  std::uint64_t FrameCount = 0, RefusedCount = 0;

  void End(const std::string& why) {
    {
      const std::lock_guard<std::mutex> hold(Lock);
      if (EndedFlag) return;
      EndedFlag = true;
      Reason = why;
    }
    FirstFrame.notify_all();
    if (OnEnd) OnEnd();
  }

  void ParamChanged(std::uint32_t id, const spa_pod* param) {
    if (param == nullptr || id != SPA_PARAM_Format) return;
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
      return;
    }
    spa_video_info_raw raw{};
    if (spa_format_video_raw_parse(param, &raw) < 0) return;
    Width = static_cast<std::int32_t>(raw.size.width);
    Height = static_cast<std::int32_t>(raw.size.height);
    Order = raw.format == SPA_VIDEO_FORMAT_RGBx || raw.format == SPA_VIDEO_FORMAT_RGBA
                ? TPixelOrder::Rgbx
                : TPixelOrder::Bgrx;
    FormatChanged = true;

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[4];
    std::uint32_t n = 0;
    // Memory the processor can read: a machine without a GPU never offers DMA-BUF anyway.
    params[n++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[n++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
    // A pointer can be 384x384 (large pointers on a scaled screen).
    params[n++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(static_cast<int>(CursorMetaSize(384)),
                                 static_cast<int>(CursorMetaSize(1)),
                                 static_cast<int>(CursorMetaSize(1024)))));
    params[n++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(static_cast<int>(sizeof(spa_meta_region) * kDamageRegions),
                                 static_cast<int>(sizeof(spa_meta_region)),
                                 static_cast<int>(sizeof(spa_meta_region) * kDamageRegions))));
    pw_stream_update_params(Stream, params, n);
  }

  void StateChanged(pw_stream_state state, const char* error) {
    if (state == PW_STREAM_STATE_ERROR) {
      End(error != nullptr ? error : "stream error");
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
      End("the stream was disconnected");
    }
  }

  // The damage of a buffer: its rectangles where the compositor gave some, else all of it.
  void ReadDamage(spa_buffer* buffer) {
    FrameDamage.Clear();
    spa_meta* meta = spa_buffer_find_meta(buffer, SPA_META_VideoDamage);
    if (meta != nullptr && !FormatChanged) {
      spa_meta_region* r;
      spa_meta_for_each(r, meta) {
        if (!spa_meta_region_is_valid(r)) break;
        const TScreenRect rect{
            r->region.position.x, r->region.position.y,
            r->region.position.x + static_cast<std::int32_t>(r->region.size.width),
            r->region.position.y + static_cast<std::int32_t>(r->region.size.height)};
        FrameDamage.Add(ClipRect(rect, Width, Height));
      }
    }
    // No rectangle said is no proof that nothing changed.
    if (FrameDamage.Rects.empty()) FrameDamage.SetAll();
  }

  void ReadPointer(spa_buffer* buffer) {
    spa_meta* meta = spa_buffer_find_meta(buffer, SPA_META_Cursor);
    if (meta == nullptr || meta->data == nullptr) return;
    const std::lock_guard<std::mutex> hold(Lock);
    if (ReadCursorMeta(meta->data, meta->size, Pointer)) HavePointer = true;
  }

  void Take(pw_buffer* b) {
    spa_buffer* buffer = b->buffer;
    ReadPointer(buffer);
    if (buffer->n_datas < 1) return;
    const spa_data& d = buffer->datas[0];
    spa_meta_header* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    const bool corrupted =
        (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) ||
        (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0;
    // A buffer without pixels carries only the pointer's move.
    if (d.data == nullptr || d.chunk->size == 0 || corrupted) return;
    if (!FrameFits(d.maxsize, d.chunk->offset, d.chunk->stride, Width, Height)) {
      const std::lock_guard<std::mutex> hold(Lock);
      ++RefusedCount;
      return;
    }
    const auto* pixels = static_cast<const std::uint8_t*>(d.data) + d.chunk->offset;
    const auto stride = static_cast<std::size_t>(d.chunk->stride);
    ReadDamage(buffer);
    if (FormatChanged) FrameDamage.SetAll();
    if (Order == TPixelOrder::Bgrx) {
      Latest.Push(pixels, Width, Height, stride, FrameDamage);
    } else {
      const std::size_t outStride = 4 * static_cast<std::size_t>(Width);
      Converted.resize(outStride * static_cast<std::size_t>(Height));
      CopyAsBgrx(pixels, stride, Order, Width, Height, FrameDamage, Converted.data(), outStride);
      Latest.Push(Converted.data(), Width, Height, outStride, FrameDamage);
    }
    FormatChanged = false;
    {
      const std::lock_guard<std::mutex> hold(Lock);
      HaveFrame = true;
      FrameWidth = Width;
      FrameHeight = Height;
      ++FrameCount;
    }
    FirstFrame.notify_all();
  }

  // Stops the loop's thread first, so that no callback runs while the objects go.
  void Shutdown() {
    if (Loop == nullptr) return;
    pw_thread_loop_lock(Loop);
    OnEnd = nullptr;
    if (Stream != nullptr) {
      pw_stream_disconnect(Stream);
      pw_stream_destroy(Stream);
      Stream = nullptr;
    }
    if (Core != nullptr) {
      pw_core_disconnect(Core);
      Core = nullptr;
    }
    pw_thread_loop_unlock(Loop);
    pw_thread_loop_stop(Loop);
    pw_context_destroy(Context);
    pw_thread_loop_destroy(Loop);
    Loop = nullptr;
  }

  void Process() {
    // Every buffer in turn: each one's damage is relative to the one before.
    while (pw_buffer* b = pw_stream_dequeue_buffer(Stream)) {
      Take(b);
      pw_stream_queue_buffer(Stream, b);
    }
  }
};

namespace {

void OnParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
  static_cast<TPipeWireStream::TImpl*>(data)->ParamChanged(id, param);
}
void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  static_cast<TPipeWireStream::TImpl*>(data)->StateChanged(state, error);
}
void OnProcess(void* data) {
  static_cast<TPipeWireStream::TImpl*>(data)->Process();
}
void OnCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
  if (id == PW_ID_CORE && res == -EPIPE) {
    static_cast<TPipeWireStream::TImpl*>(data)->End(message != nullptr ? message
                                                                       : "PipeWire went away");
  }
}

pw_stream_events StreamEvents() {
  pw_stream_events e{};
  e.version = PW_VERSION_STREAM_EVENTS;
  e.state_changed = OnStateChanged;
  e.param_changed = OnParamChanged;
  e.process = OnProcess;
  return e;
}
const pw_stream_events kStreamEvents = StreamEvents();

pw_core_events CoreEvents() {
  pw_core_events e{};
  e.version = PW_VERSION_CORE_EVENTS;
  e.error = OnCoreError;
  return e;
}
const pw_core_events kCoreEvents = CoreEvents();

std::once_flag GPipeWireInit;

}  // namespace

TPipeWireStream::TPipeWireStream(int remoteFd, std::uint32_t node, std::function<void()> onEnd)
    : F(std::make_unique<TImpl>()) {
  F->OnEnd = std::move(onEnd);
  std::call_once(GPipeWireInit, [] { pw_init(nullptr, nullptr); });
  F->Loop = pw_thread_loop_new("kestrova-screen", nullptr);
  if (F->Loop == nullptr) {
    ::close(remoteFd);
    throw std::runtime_error("PipeWire's thread loop could not be made");
  }
  F->Context = pw_context_new(pw_thread_loop_get_loop(F->Loop), nullptr, 0);
  if (F->Context == nullptr || pw_thread_loop_start(F->Loop) < 0) {
    ::close(remoteFd);
    if (F->Context != nullptr) pw_context_destroy(F->Context);
    pw_thread_loop_destroy(F->Loop);
    throw std::runtime_error("PipeWire could not start");
  }
  pw_thread_loop_lock(F->Loop);
  std::string failure;
  F->Core = pw_context_connect_fd(F->Context, remoteFd, nullptr, 0);  // owns the fd now
  if (F->Core == nullptr) {
    failure = "the PipeWire remote the portal gave could not be connected";
  } else {
    pw_core_add_listener(F->Core, &F->CoreListener, &kCoreEvents, F.get());
    F->Stream = pw_stream_new(F->Core, "kestrova",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (F->Stream == nullptr) failure = "a PipeWire stream could not be made";
  }
  if (failure.empty()) {
    pw_stream_add_listener(F->Stream, &F->StreamListener, &kStreamEvents, F.get());
    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080), minSize = SPA_RECTANGLE(1, 1),
                        maxSize = SPA_RECTANGLE(16384, 16384);
    const spa_fraction defaultRate = SPA_FRACTION(30, 1), minRate = SPA_FRACTION(0, 1),
                       maxRate = SPA_FRACTION(1000, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    if (pw_stream_connect(
            F->Stream, PW_DIRECTION_INPUT, node,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            params, 1) < 0) {
      failure = "the screen's PipeWire stream could not be connected";
    }
  }
  pw_thread_loop_unlock(F->Loop);
  if (!failure.empty()) {
    F->OnEnd = nullptr;
    F->Shutdown();
    throw std::runtime_error(failure);
  }
}

TPipeWireStream::~TPipeWireStream() {
  F->Shutdown();
}

bool TPipeWireStream::WaitForFrame(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> hold(F->Lock);
  F->FirstFrame.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                         [this] { return F->HaveFrame || F->EndedFlag; });
  return F->HaveFrame;
}

TLatestFrame& TPipeWireStream::Latest() {
  return F->Latest;
}

void TPipeWireStream::Size(std::int32_t& width, std::int32_t& height) const {
  const std::lock_guard<std::mutex> hold(F->Lock);
  width = F->FrameWidth;
  height = F->FrameHeight;
}

bool TPipeWireStream::Cursor(TCursorInfo& info) const {
  const std::lock_guard<std::mutex> hold(F->Lock);
  if (!F->HavePointer) return false;
  info = F->Pointer;
  return true;
}

bool TPipeWireStream::Ended() const {
  const std::lock_guard<std::mutex> hold(F->Lock);
  return F->EndedFlag;
}

std::string TPipeWireStream::EndReason() const {
  const std::lock_guard<std::mutex> hold(F->Lock);
  return F->Reason;
}

std::uint64_t TPipeWireStream::Frames() const {
  const std::lock_guard<std::mutex> hold(F->Lock);
  return F->FrameCount;
}

std::uint64_t TPipeWireStream::Refused() const {
  const std::lock_guard<std::mutex> hold(F->Lock);
  return F->RefusedCount;
}

}  // namespace kestrova::platform::wayland
