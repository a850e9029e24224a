/* wayland_floor_grab.c - the Wayland benchmark's floor: a PipeWire consumer that receives the
 * frames of a screen-cast node (BGRx in shared memory) and keeps none of them.
 *
 * usage: wayland_floor_grab <fd|-1> <node_id> <seconds> <out.ppm> [want_cursor_meta 0|1]
 *   fd      : PipeWire remote fd (-1: the default socket)
 *   out.ppm : the first frame, as binary PPM (/dev/null to keep nothing)
 * Prints the negotiated format and frames=N ... fps=F.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>
#include <spa/debug/types.h>
#include <spa/buffer/meta.h>

#define CURSOR_META_SIZE(w, h) (sizeof(struct spa_meta_cursor) + \
    sizeof(struct spa_meta_bitmap) + (w) * (h) * 4)

struct data {
    struct pw_main_loop *loop;
    struct pw_stream *stream;
    struct spa_hook listener;
    struct spa_video_info format;
    int have_format;
    long frames;
    long empty;
    long cursor_meta_frames;
    double t_start, t_first, t_last;
    const char *out;
    int want_cursor;
};

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void write_ppm(struct data *d, const uint8_t *p, int32_t stride) {
    int w = d->format.info.raw.size.width, h = d->format.info.raw.size.height;
    uint32_t f = d->format.info.raw.format;
    FILE *fp = fopen(d->out, "wb");
    if (!fp) { perror("fopen"); return; }
    fprintf(fp, "P6\n%d %d\n255\n", w, h);
    unsigned long long sum = 0;
    uint8_t *row = malloc(w * 3);
    for (int y = 0; y < h; y++) {
        const uint8_t *s = p + (size_t)y * stride;
        for (int x = 0; x < w; x++) {
            uint8_t r, g, b;
            switch (f) {
            case SPA_VIDEO_FORMAT_BGRx: case SPA_VIDEO_FORMAT_BGRA:
                b = s[4*x]; g = s[4*x+1]; r = s[4*x+2]; break;
            case SPA_VIDEO_FORMAT_RGBx: case SPA_VIDEO_FORMAT_RGBA:
                r = s[4*x]; g = s[4*x+1]; b = s[4*x+2]; break;
            case SPA_VIDEO_FORMAT_xRGB: case SPA_VIDEO_FORMAT_ARGB:
                r = s[4*x+1]; g = s[4*x+2]; b = s[4*x+3]; break;
            case SPA_VIDEO_FORMAT_xBGR: case SPA_VIDEO_FORMAT_ABGR:
                b = s[4*x+1]; g = s[4*x+2]; r = s[4*x+3]; break;
            default: r = g = b = 0;
            }
            row[3*x] = r; row[3*x+1] = g; row[3*x+2] = b;
            sum += r + g + b;
        }
        fwrite(row, 1, w * 3, fp);
    }
    free(row);
    fclose(fp);
    printf("first frame written to %s (rgb byte sum %llu)\n", d->out, sum);
}

static void on_process(void *userdata) {
    struct data *d = userdata;
    struct pw_buffer *b = pw_stream_dequeue_buffer(d->stream);
    if (!b) return;
    struct spa_buffer *buf = b->buffer;
    struct spa_data *sd = &buf->datas[0];
    struct spa_meta_cursor *mc = spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(*mc));
    if (mc && spa_meta_cursor_is_valid(mc)) {
        if (d->cursor_meta_frames++ == 0) {
            struct spa_meta_bitmap *bm = mc->bitmap_offset ?
                SPA_PTROFF(mc, mc->bitmap_offset, struct spa_meta_bitmap) : NULL;
            printf("cursor meta: id=%u position=%d,%d hotspot=%d,%d bitmap=%ux%u\n", mc->id,
                   mc->position.x, mc->position.y, mc->hotspot.x, mc->hotspot.y,
                   bm ? bm->size.width : 0, bm ? bm->size.height : 0);
        }
    }
    if (sd->data == NULL || sd->chunk->size == 0) {
        d->empty++;
    } else {
        double t = now();
        if (d->frames == 0) {
            d->t_first = t;
            printf("first frame after %.3f s: datatype=%u chunk size=%u stride=%d\n",
                   t - d->t_start, sd->type, sd->chunk->size, sd->chunk->stride);
            write_ppm(d, (uint8_t *)sd->data + sd->chunk->offset, sd->chunk->stride);
            fflush(stdout);
        }
        d->t_last = t;
        d->frames++;
    }
    pw_stream_queue_buffer(d->stream, b);
}

static void on_param_changed(void *userdata, uint32_t id, const struct spa_pod *param) {
    struct data *d = userdata;
    if (param == NULL || id != SPA_PARAM_Format) return;
    if (spa_format_parse(param, &d->format.media_type, &d->format.media_subtype) < 0) return;
    if (d->format.media_type != SPA_MEDIA_TYPE_video ||
        d->format.media_subtype != SPA_MEDIA_SUBTYPE_raw) return;
    if (spa_format_video_raw_parse(param, &d->format.info.raw) < 0) return;
    d->have_format = 1;
    printf("negotiated: format=%s size=%ux%u framerate=%u/%u max_framerate=%u/%u\n",
           spa_debug_type_find_name(spa_type_video_format, d->format.info.raw.format),
           d->format.info.raw.size.width, d->format.info.raw.size.height,
           d->format.info.raw.framerate.num, d->format.info.raw.framerate.denom,
           d->format.info.raw.max_framerate.num, d->format.info.raw.max_framerate.denom);
    fflush(stdout);

    uint8_t buffer[1024];
    struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const struct spa_pod *params[3];
    int n = 0;
    /* only CPU-mappable memory: no dma-buf on a GPU-less machine */
    params[n++] = spa_pod_builder_add_object(&b,
        SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd)));
    params[n++] = spa_pod_builder_add_object(&b,
        SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
        SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(struct spa_meta_header)));
    if (d->want_cursor)
        params[n++] = spa_pod_builder_add_object(&b,
            SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
            SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
            SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(CURSOR_META_SIZE(384, 384),
                CURSOR_META_SIZE(1, 1), CURSOR_META_SIZE(1024, 1024)));
    pw_stream_update_params(d->stream, params, n);
}

static void on_state_changed(void *userdata, enum pw_stream_state old,
                             enum pw_stream_state state, const char *error) {
    struct data *d = userdata;
    printf("stream state: %s -> %s%s%s (t=%.3f)\n", pw_stream_state_as_string(old),
           pw_stream_state_as_string(state), error ? " error=" : "", error ? error : "",
           now() - d->t_start);
    fflush(stdout);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
        pw_main_loop_quit(d->loop);
}

static const struct pw_stream_events stream_events = {
    PW_VERSION_STREAM_EVENTS,
    .state_changed = on_state_changed,
    .param_changed = on_param_changed,
    .process = on_process,
};

static void on_timeout(void *userdata, uint64_t expirations) {
    struct data *d = userdata;
    pw_main_loop_quit(d->loop);
}

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s <fd|-1> <node_id> <seconds> <out.ppm> [cursor_meta 0|1]\n", argv[0]);
        return 2;
    }
    int fd = atoi(argv[1]);
    uint32_t node = (uint32_t)strtoul(argv[2], NULL, 10);
    double secs = atof(argv[3]);
    struct data d = { 0 };
    d.out = argv[4];
    d.want_cursor = argc > 5 ? atoi(argv[5]) : 0;
    d.t_start = now();

    pw_init(&argc, &argv);
    d.loop = pw_main_loop_new(NULL);
    struct pw_loop *l = pw_main_loop_get_loop(d.loop);
    struct pw_context *ctx = pw_context_new(l, NULL, 0);
    struct pw_core *core = fd >= 0 ? pw_context_connect_fd(ctx, fd, NULL, 0)
                                   : pw_context_connect(ctx, NULL, 0);
    if (!core) { perror("pw_context_connect"); return 1; }
    d.stream = pw_stream_new(core, "kestrova-bench-floor",
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                          PW_KEY_MEDIA_ROLE, "Screen", NULL));
    pw_stream_add_listener(d.stream, &d.listener, &stream_events, &d);

    uint8_t buffer[1024];
    struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const struct spa_pod *params[1];
    params[0] = spa_pod_builder_add_object(&b,
        SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
        SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format, SPA_POD_CHOICE_ENUM_Id(9,
            SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
            SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
            SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_ABGR),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(
            &SPA_RECTANGLE(1280, 720), &SPA_RECTANGLE(1, 1), &SPA_RECTANGLE(8192, 8192)),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(
            &SPA_FRACTION(60, 1), &SPA_FRACTION(0, 1), &SPA_FRACTION(1000, 1)));

    if (pw_stream_connect(d.stream, PW_DIRECTION_INPUT, node,
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS, params, 1) < 0) {
        fprintf(stderr, "pw_stream_connect failed\n");
        return 1;
    }
    struct spa_source *timer = pw_loop_add_timer(l, on_timeout, &d);
    struct timespec ts = { (time_t)secs, (long)((secs - (time_t)secs) * 1e9) };
    pw_loop_update_timer(l, timer, &ts, NULL, false);

    pw_main_loop_run(d.loop);

    double span = d.t_last - d.t_first;
    printf("frames=%ld empty=%ld cursor_meta_frames=%ld span=%.3f s fps=%.2f\n",
           d.frames, d.empty, d.cursor_meta_frames, span,
           (d.frames > 1 && span > 0) ? (d.frames - 1) / span : 0.0);
    pw_stream_destroy(d.stream);
    pw_core_disconnect(core);
    pw_context_destroy(ctx);
    pw_main_loop_destroy(d.loop);
    pw_deinit();
    return d.frames > 0 ? 0 : 1;
}
