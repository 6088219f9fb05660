// The movie decoder on FFmpeg: demuxing (of the movie's own file only), decoding, picture
// conversion (libswscale) and sound resampling (libswresample), with every size, rate and time
// from the file bounded before use.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/movie/movie_decoder.h"
#include "platform/platform.h"

namespace {

// The FFmpeg entry points the decoder uses, taken from the libraries when the first movie opens:
// FFmpeg and the hundred libraries behind it cost a start-up tens of milliseconds, and most
// runs of a game show no movie at all.
#define KIVOR_FFMPEG_FUNCTIONS(X)               \
  X(AVFORMAT, avformat_alloc_context)           \
  X(AVFORMAT, avformat_open_input)              \
  X(AVFORMAT, avformat_find_stream_info)        \
  X(AVFORMAT, avformat_close_input)             \
  X(AVFORMAT, av_find_best_stream)              \
  X(AVFORMAT, av_guess_frame_rate)              \
  X(AVFORMAT, av_read_frame)                    \
  X(AVCODEC, avcodec_find_decoder)              \
  X(AVCODEC, avcodec_alloc_context3)            \
  X(AVCODEC, avcodec_parameters_to_context)     \
  X(AVCODEC, avcodec_open2)                     \
  X(AVCODEC, avcodec_free_context)              \
  X(AVCODEC, avcodec_send_packet)               \
  X(AVCODEC, avcodec_receive_frame)             \
  X(AVCODEC, av_packet_alloc)                   \
  X(AVCODEC, av_packet_free)                    \
  X(AVCODEC, av_packet_unref)                   \
  X(AVCODEC, av_packet_move_ref)                \
  X(AVUTIL, av_log_set_level)                   \
  X(AVUTIL, av_frame_alloc)                     \
  X(AVUTIL, av_frame_free)                      \
  X(AVUTIL, av_frame_unref)                     \
  X(AVUTIL, av_frame_move_ref)                  \
  X(AVUTIL, av_frame_clone)                     \
  X(AVUTIL, av_opt_set)                         \
  X(AVUTIL, av_dict_set_int)                    \
  X(AVUTIL, av_dict_free)                       \
  X(AVUTIL, av_channel_layout_default)          \
  X(AVUTIL, av_channel_layout_copy)             \
  X(AVUTIL, av_channel_layout_uninit)           \
  X(AVUTIL, av_opt_set_int)                     \
  X(AVUTIL, av_buffer_create)                   \
  X(SWSCALE, sws_alloc_context)                 \
  X(SWSCALE, sws_init_context)                  \
  X(SWSCALE, sws_freeContext)                   \
  X(SWSCALE, sws_scale_frame)                   \
  X(SWRESAMPLE, swr_alloc_set_opts2)            \
  X(SWRESAMPLE, swr_init)                       \
  X(SWRESAMPLE, swr_free)                       \
  X(SWRESAMPLE, swr_get_out_samples)            \
  X(SWRESAMPLE, swr_convert)

struct FfmpegFunctions {
#define KIVOR_FFMPEG_SLOT(library, name) decltype(&::name) name;
  KIVOR_FFMPEG_FUNCTIONS(KIVOR_FFMPEG_SLOT)
#undef KIVOR_FFMPEG_SLOT
};
FfmpegFunctions g_Ff;

enum FfmpegLibrary { AVFORMAT, AVCODEC, AVUTIL, SWSCALE, SWRESAMPLE, FFMPEG_LIBRARIES };

// Loads the libraries (by the major versions these headers describe) and every entry point
// once, for the process's life; true when all are there. Any thread may call it.
bool LoadFfmpeg() {
  static std::once_flag once;
  static bool loaded;
  std::call_once(once, [] {
    const char* const names[FFMPEG_LIBRARIES] = {
        "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
        "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
        "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
        "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
        "libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR)};
    void* libraries[FFMPEG_LIBRARIES];
    for (int i = 0; i < FFMPEG_LIBRARIES; i++) libraries[i] = PlatLoadLibrary(names[i]);
    FfmpegFunctions f{};
    bool all = true;
#define KIVOR_FFMPEG_LOAD(library, name)                                                    \
  f.name = reinterpret_cast<decltype(&::name)>(PlatLibrarySymbol(libraries[library], #name)); \
  all = all && f.name;
    KIVOR_FFMPEG_FUNCTIONS(KIVOR_FFMPEG_LOAD)
#undef KIVOR_FFMPEG_LOAD
    if (all) g_Ff = f;
    loaded = all;
  });
  return loaded;
}

// A stretch of corrupt packets this long with nothing decoded ends the movie.
constexpr int MAX_BAD_PACKETS = 256;
// Timestamps that jump further than this are taken as broken and the pictures follow on
// instead, so a file's claims can never hold the game under a still picture.
constexpr double MAX_GAP_MS = 10000.0;
constexpr int MAX_SAMPLE_RATE = 768000;
constexpr int MAX_CHANNELS = 64;
// Pictures' packets read ahead to reach the sound behind them.
constexpr size_t MAX_QUEUED_PACKETS = 512;
constexpr size_t MAX_QUEUED_BYTES = 32u << 20;

// The decoder's own slack over the pixel budget: it checks its buffers' sizes with their rows
// rounded up, and the budget itself is held to on every picture it gives.
constexpr int64_t DECODER_MAX_PIXELS = MOVIE_MAX_PIXELS + 64 * MOVIE_MAX_SIDE;

bool InBounds(int width, int height) {
  return width > 0 && height > 0 && width <= MOVIE_MAX_SIDE && height <= MOVIE_MAX_SIDE &&
         int64_t(width) * height <= MOVIE_MAX_PIXELS;
}

int Interrupt(void* opaque) {
  const std::atomic<bool>* cancel = static_cast<const std::atomic<bool>*>(opaque);
  return cancel && cancel->load() ? 1 : 0;
}

void KeepBuffer(void*, uint8_t*) {}

// Every file FFmpeg opens goes through here. Only the address each open decoder gave it for its
// own movie, from that decoder's own context, is let through to FFmpeg's default opening (which
// keeps to the file protocol); anything a file names inside itself is refused.
struct OpenGate {
  std::mutex lock;
  std::vector<std::pair<const AVFormatContext*, std::string>> allowed;
  decltype(AVFormatContext::io_open) defaultOpen = nullptr;
};
OpenGate g_Gate;

int OpenOnlyTheMovie(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options) {
  decltype(AVFormatContext::io_open) open = nullptr;
  {
    std::lock_guard<std::mutex> g(g_Gate.lock);
    for (const auto& a : g_Gate.allowed)
      if (a.first == s && url && a.second == url && !(flags & AVIO_FLAG_WRITE)) open = g_Gate.defaultOpen;
  }
  return open ? open(s, pb, url, flags, options) : AVERROR(EPERM);
}

void AllowOpen(const AVFormatContext* s, const std::string& url) {
  std::lock_guard<std::mutex> g(g_Gate.lock);
  g_Gate.allowed.emplace_back(s, url);
}

void ForbidOpen(const AVFormatContext* s) {
  std::lock_guard<std::mutex> g(g_Gate.lock);
  for (size_t i = 0; i < g_Gate.allowed.size(); i++)
    if (g_Gate.allowed[i].first == s) g_Gate.allowed.erase(g_Gate.allowed.begin() + ptrdiff_t(i--));
}

}  // namespace

const char* const MOVIE_CONTAINERS = "mpeg,mpegts,mpegvideo,avi,asf,mov,matroska,ogg";

struct MovieDecoderState {
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  int videoIndex = -1, audioIndex = -1;
  AVPacket* packet = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  SwrContext* resampler = nullptr;
  int resamplerKey[3] = {};   // source format, rate, channels
  int outRate = 44100;
  double startMs = 0;
  double frameMs = 40;
  double videoMs = 0, lastVideoMs = 0, videoShift = 0;
  bool anyVideo = false;
  double audioMs = 0, nextAudioMs = -1;
  bool inputDone = false, videoDone = false, audioDone = true;
  bool videoPending = false, audioPending = false, videoFlushed = false;
  int badPackets = 0;
  std::deque<AVPacket*> videoPackets;
  size_t videoBytes = 0;
};

MovieDecoder::~MovieDecoder() { Close(); }

void MovieDecoder::Close() {
  if (!s_) return;
  for (AVPacket* p : s_->videoPackets) g_Ff.av_packet_free(&p);
  g_Ff.avcodec_free_context(&s_->video);
  g_Ff.avcodec_free_context(&s_->audio);
  ForbidOpen(s_->format);
  g_Ff.avformat_close_input(&s_->format);
  g_Ff.av_packet_free(&s_->packet);
  g_Ff.av_frame_free(&s_->picture);
  g_Ff.av_frame_free(&s_->sound);
  g_Ff.swr_free(&s_->resampler);
  delete s_;
  s_ = nullptr;
}

namespace {

AVCodecContext* OpenCodec(AVStream* stream, int threads) {
  const AVCodec* codec = g_Ff.avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* c = g_Ff.avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  if (g_Ff.avcodec_parameters_to_context(c, stream->codecpar) < 0) {
    g_Ff.avcodec_free_context(&c);
    return nullptr;
  }
  c->thread_count = threads;
  c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  c->max_pixels = DECODER_MAX_PIXELS;
  c->pkt_timebase = stream->time_base;
  if (g_Ff.avcodec_open2(c, codec, nullptr) < 0) g_Ff.avcodec_free_context(&c);
  return c;
}

bool GoodTimeBase(AVRational r) { return r.num > 0 && r.den > 0; }

}  // namespace

bool MovieDecoder::Open(const char* path, int threads, int audioRate, const std::atomic<bool>* cancel) {
  Close();
  error_.clear();
  if (!LoadFfmpeg()) return error_ = "the FFmpeg libraries cannot be loaded", false;
  // A damaged file would fill the log with the decoders' complaints; the player reports itself.
  g_Ff.av_log_set_level(AV_LOG_FATAL);
  s_ = new MovieDecoderState;
  s_->outRate = audioRate;
  s_->format = g_Ff.avformat_alloc_context();
  if (!s_->format) return error_ = "out of memory", Close(), false;
  s_->format->interrupt_callback = {Interrupt, const_cast<std::atomic<bool>*>(cancel)};
  // The movie's own file by the file protocol, whatever its name looks like, in one of the
  // containers movies come in; and FFmpeg's every other open refused at the gate.
  std::string url = std::string("file:") + path;
  if (g_Ff.av_opt_set(s_->format, "format_whitelist", MOVIE_CONTAINERS, 0) < 0 ||
      g_Ff.av_opt_set(s_->format, "protocol_whitelist", "file", 0) < 0)
    return error_ = "out of memory", Close(), false;
  {
    std::lock_guard<std::mutex> g(g_Gate.lock);
    if (!g_Gate.defaultOpen) g_Gate.defaultOpen = s_->format->io_open;
  }
  s_->format->io_open = OpenOnlyTheMovie;
  AllowOpen(s_->format, url);
  // A failed open frees the context; the gate forgets it before its address can come again.
  AVFormatContext* opening = s_->format;
  if (g_Ff.avformat_open_input(&s_->format, url.c_str(), nullptr, nullptr) < 0) {
    ForbidOpen(opening);
    return error_ = "cannot open the file as a movie", Close(), false;
  }
  // The decoders that look into the streams before playing keep to the pixel budget too.
  std::vector<AVDictionary*> probing(s_->format->nb_streams, nullptr);
  for (AVDictionary*& d : probing) g_Ff.av_dict_set_int(&d, "max_pixels", DECODER_MAX_PIXELS, 0);
  int found = g_Ff.avformat_find_stream_info(s_->format, probing.data());
  for (AVDictionary*& d : probing) g_Ff.av_dict_free(&d);
  if (found < 0) return error_ = "not a movie", Close(), false;
  s_->videoIndex = g_Ff.av_find_best_stream(s_->format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (s_->videoIndex < 0) return error_ = "no video stream", Close(), false;
  AVStream* vs = s_->format->streams[s_->videoIndex];
  if (!InBounds(vs->codecpar->width, vs->codecpar->height)) return error_ = "picture size out of bounds", Close(), false;
  if (!GoodTimeBase(vs->time_base)) return error_ = "no time base", Close(), false;
  s_->video = OpenCodec(vs, threads);
  if (!s_->video) return error_ = "no decoder for the video", Close(), false;
  AVRational rate = g_Ff.av_guess_frame_rate(s_->format, vs, nullptr);
  double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  s_->frameMs = fps >= 0.1 && fps <= 1000 ? 1000.0 / fps : 40.0;
  if (s_->format->start_time != AV_NOPTS_VALUE && s_->format->start_time > 0)
    s_->startMs = double(s_->format->start_time) / 1000.0;

  // A sound track that cannot be decoded leaves a silent movie, not a refusal.
  s_->audioIndex = g_Ff.av_find_best_stream(s_->format, AVMEDIA_TYPE_AUDIO, -1, s_->videoIndex, nullptr, 0);
  if (s_->audioIndex >= 0) {
    AVStream* as = s_->format->streams[s_->audioIndex];
    const AVCodecParameters* p = as->codecpar;
    if (GoodTimeBase(as->time_base) && p->sample_rate > 0 && p->sample_rate <= MAX_SAMPLE_RATE &&
        p->ch_layout.nb_channels > 0 && p->ch_layout.nb_channels <= MAX_CHANNELS)
      s_->audio = OpenCodec(as, 1);
    if (!s_->audio) s_->audioIndex = -1;
  }
  s_->audioDone = s_->audio == nullptr;
  s_->packet = g_Ff.av_packet_alloc();
  s_->picture = g_Ff.av_frame_alloc();
  s_->sound = g_Ff.av_frame_alloc();
  if (!s_->packet || !s_->picture || !s_->sound) return error_ = "out of memory", Close(), false;
  return true;
}

int MovieDecoder::Width() const { return s_ ? s_->format->streams[s_->videoIndex]->codecpar->width : 0; }
int MovieDecoder::Height() const { return s_ ? s_->format->streams[s_->videoIndex]->codecpar->height : 0; }
bool MovieDecoder::HasAudio() const { return s_ && s_->audio; }
double MovieDecoder::FrameMs() const { return s_ ? s_->frameMs : 40.0; }
double MovieDecoder::VideoMs() const { return s_ ? s_->videoMs : 0; }
double MovieDecoder::AudioMs() const { return s_ ? s_->audioMs : 0; }

namespace {

// The picture's time from its timestamp, kept in order and free of absurd jumps.
double PictureTime(MovieDecoderState* s) {
  AVStream* st = s->format->streams[s->videoIndex];
  int64_t ts = s->picture->best_effort_timestamp;
  double t = ts != AV_NOPTS_VALUE ? double(ts) * av_q2d(st->time_base) * 1000.0 - s->startMs + s->videoShift
                                  : s->lastVideoMs + s->frameMs;
  if (!std::isfinite(t)) t = s->lastVideoMs + s->frameMs;
  double follow = s->anyVideo ? s->lastVideoMs + s->frameMs : 0.0;
  if (t > s->lastVideoMs + MAX_GAP_MS) {
    s->videoShift -= t - follow;
    t = follow;
  }
  if (t < s->lastVideoMs) t = s->lastVideoMs;
  if (t < 0) t = 0;
  s->anyVideo = true;
  s->lastVideoMs = t;
  return t;
}

// Sound from the decoder's frame (or the resampler's tail when `frame` is null) as stereo
// 16-bit at the output rate; false when nothing came out.
bool Resample(MovieDecoderState* s, const AVFrame* frame, std::vector<int16_t>* out) {
  if (frame) {
    int channels = frame->ch_layout.nb_channels;
    if (frame->sample_rate <= 0 || frame->sample_rate > MAX_SAMPLE_RATE || channels <= 0 || channels > MAX_CHANNELS ||
        frame->nb_samples <= 0)
      return false;
    int key[3] = {frame->format, frame->sample_rate, channels};
    if (!s->resampler || key[0] != s->resamplerKey[0] || key[1] != s->resamplerKey[1] || key[2] != s->resamplerKey[2]) {
      g_Ff.swr_free(&s->resampler);
      AVChannelLayout in;
      if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) g_Ff.av_channel_layout_default(&in, channels);
      else if (g_Ff.av_channel_layout_copy(&in, &frame->ch_layout) < 0) return false;
      AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
      int r = g_Ff.swr_alloc_set_opts2(&s->resampler, &stereo, AV_SAMPLE_FMT_S16, s->outRate, &in,
                                  AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
      g_Ff.av_channel_layout_uninit(&in);
      if (r < 0 || g_Ff.swr_init(s->resampler) < 0) {
        g_Ff.swr_free(&s->resampler);
        return false;
      }
      memcpy(s->resamplerKey, key, sizeof key);
    }
  }
  if (!s->resampler) return false;
  int count = g_Ff.swr_get_out_samples(s->resampler, frame ? frame->nb_samples : 0);
  if (count <= 0) return false;
  if (count > s->outRate * 10) count = s->outRate * 10;
  out->resize(size_t(count) * 2);
  uint8_t* dest = reinterpret_cast<uint8_t*>(out->data());
  int got = g_Ff.swr_convert(s->resampler, &dest, count, frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                        frame ? frame->nb_samples : 0);
  if (got <= 0) return out->clear(), false;
  out->resize(size_t(got) * 2);
  return true;
}

// The time of the sound just resampled: its timestamp for the first run, then the run before
// it plus its length, so gaps in the file's stamps never tear the sound apart.
void StampSound(MovieDecoderState* s, const AVFrame* frame, size_t samples) {
  if (s->nextAudioMs < 0) {
    AVStream* st = s->format->streams[s->audioIndex];
    int64_t ts = frame ? frame->best_effort_timestamp : AV_NOPTS_VALUE;
    double t = ts != AV_NOPTS_VALUE ? double(ts) * av_q2d(st->time_base) * 1000.0 - s->startMs : 0;
    s->nextAudioMs = std::isfinite(t) && t > 0 && t < MAX_GAP_MS ? t : 0;
  }
  s->audioMs = s->nextAudioMs;
  s->nextAudioMs += double(samples / 2) * 1000.0 / s->outRate;
}

}  // namespace

namespace {

// Gives a packet to its decoder; false once too many in a row were refused as corrupt.
bool Send(MovieDecoderState* s, AVCodecContext* to, const AVPacket* packet) {
  int r = g_Ff.avcodec_send_packet(to, packet);
  if (r >= 0 || r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
  return ++s->badPackets <= MAX_BAD_PACKETS;
}

}  // namespace

MovieStep MovieDecoder::Step(bool pictureRoom) {
  if (!s_) return MOVIE_STEP_ERROR;
  MovieDecoderState* s = s_;
  for (;;) {
    if (pictureRoom && s->videoPending) {
      int r = g_Ff.avcodec_receive_frame(s->video, s->picture);
      // A picture larger than the bounds (the stream changed its size) is never handed on.
      if (r == 0 && (!InBounds(s->picture->width, s->picture->height) || s->picture->format < 0)) {
        g_Ff.av_frame_unref(s->picture);
        if (++s->badPackets > MAX_BAD_PACKETS) return error_ = "too many pictures out of bounds", MOVIE_STEP_ERROR;
        continue;
      }
      if (r == 0) {
        s->badPackets = 0;
        s->videoMs = PictureTime(s);
        return MOVIE_STEP_VIDEO;
      }
      s->videoPending = false;
      if (r == AVERROR_EOF || s->videoFlushed) s->videoDone = true;
    }
    if (s->audioPending) {
      int r = g_Ff.avcodec_receive_frame(s->audio, s->sound);
      if (r == 0) {
        bool got = Resample(s, s->sound, &audio_);
        g_Ff.av_frame_unref(s->sound);
        if (got) {
          s->badPackets = 0;
          StampSound(s, s->sound, audio_.size());
          return MOVIE_STEP_AUDIO;
        }
        continue;
      }
      s->audioPending = false;
      if (r == AVERROR_EOF || s->inputDone) {
        s->audioDone = true;
        if (Resample(s, nullptr, &audio_)) {
          StampSound(s, nullptr, audio_.size());
          return MOVIE_STEP_AUDIO;
        }
      }
    }
    if (pictureRoom && !s->videoPending && !s->videoDone) {
      if (!s->videoPackets.empty()) {
        AVPacket* p = s->videoPackets.front();
        s->videoPackets.pop_front();
        s->videoBytes -= size_t(p->size);
        bool ok = Send(s, s->video, p);
        g_Ff.av_packet_free(&p);
        if (!ok) return error_ = "too many corrupt packets", MOVIE_STEP_ERROR;
        s->videoPending = true;
        continue;
      }
      if (s->inputDone) {
        // The end, or a file that breaks off: what the decoder still holds comes out first.
        g_Ff.avcodec_send_packet(s->video, nullptr);
        s->videoFlushed = s->videoPending = true;
        continue;
      }
    }
    if (s->inputDone) {
      if (s->videoDone && s->audioDone) return MOVIE_STEP_END;
      if (s->audioPending) continue;
      return MOVIE_STEP_BLOCKED;
    }
    if (!pictureRoom && (s->videoPackets.size() >= MAX_QUEUED_PACKETS || s->videoBytes >= MAX_QUEUED_BYTES))
      return MOVIE_STEP_BLOCKED;
    int r = g_Ff.av_read_frame(s->format, s->packet);
    if (r < 0) {
      s->inputDone = true;
      if (s->audio && !s->audioDone) {
        g_Ff.avcodec_send_packet(s->audio, nullptr);
        s->audioPending = true;
      }
      continue;
    }
    if (s->packet->stream_index == s->videoIndex) {
      AVPacket* p = g_Ff.av_packet_alloc();
      if (!p) return error_ = "out of memory", MOVIE_STEP_ERROR;
      g_Ff.av_packet_move_ref(p, s->packet);
      s->videoBytes += size_t(p->size);
      s->videoPackets.push_back(p);
      continue;
    }
    if (s->packet->stream_index == s->audioIndex) {
      bool ok = Send(s, s->audio, s->packet);
      g_Ff.av_packet_unref(s->packet);
      if (!ok) return error_ = "too many corrupt packets", MOVIE_STEP_ERROR;
      s->audioPending = true;
      continue;
    }
    g_Ff.av_packet_unref(s->packet);
  }
}

MoviePicture MovieDecoder::TakeVideo() {
  MoviePicture p;
  if (!s_ || !s_->picture->buf[0]) return p;
  p.frame_ = g_Ff.av_frame_alloc();
  if (!p.frame_) {
    g_Ff.av_frame_unref(s_->picture);
    return p;
  }
  g_Ff.av_frame_move_ref(p.frame_, s_->picture);
  p.ms_ = s_->videoMs;
  return p;
}

MoviePicture::MoviePicture(MoviePicture&& other) noexcept : frame_(other.frame_), ms_(other.ms_) {
  other.frame_ = nullptr;
}

MoviePicture& MoviePicture::operator=(MoviePicture&& other) noexcept {
  if (this != &other) {
    if (frame_) g_Ff.av_frame_free(&frame_);
    frame_ = other.frame_;
    ms_ = other.ms_;
    other.frame_ = nullptr;
  }
  return *this;
}

MoviePicture::~MoviePicture() {
  if (frame_) g_Ff.av_frame_free(&frame_);
}

int MoviePicture::Width() const { return frame_ ? frame_->width : 0; }
int MoviePicture::Height() const { return frame_ ? frame_->height : 0; }

MoviePicture MoviePicture::Share() const {
  MoviePicture p;
  if (!frame_) return p;
  p.frame_ = g_Ff.av_frame_clone(frame_);
  p.ms_ = ms_;
  return p;
}

struct MovieScalerState {
  SwsContext* scaler = nullptr;
  int key[5] = {};   // source width, height, format; target width, height
  AVFrame* target = nullptr;
};

MovieScaler::~MovieScaler() {
  if (!s_) return;
  g_Ff.sws_freeContext(s_->scaler);
  g_Ff.av_frame_free(&s_->target);
  delete s_;
}

bool MovieScaler::Convert(const MoviePicture& picture, uint8_t* dest, int pitch, int width, int height) {
  const AVFrame* src = picture.frame_;
  if (!src || !dest || width <= 0 || height <= 0 || width > MOVIE_MAX_SIDE || height > MOVIE_MAX_SIDE ||
      pitch < width * 4 || !InBounds(src->width, src->height) || src->format < 0)
    return false;
  if (!s_) {
    s_ = new MovieScalerState;
    s_->target = g_Ff.av_frame_alloc();
  }
  if (!s_->target) return false;
  int key[5] = {src->width, src->height, src->format, width, height};
  if (!s_->scaler || memcmp(key, s_->key, sizeof key) != 0) {
    g_Ff.sws_freeContext(s_->scaler);
    s_->scaler = g_Ff.sws_alloc_context();
    if (!s_->scaler) return false;
    g_Ff.av_opt_set_int(s_->scaler, "srcw", src->width, 0);
    g_Ff.av_opt_set_int(s_->scaler, "srch", src->height, 0);
    g_Ff.av_opt_set_int(s_->scaler, "src_format", src->format, 0);
    g_Ff.av_opt_set_int(s_->scaler, "dstw", width, 0);
    g_Ff.av_opt_set_int(s_->scaler, "dsth", height, 0);
    g_Ff.av_opt_set_int(s_->scaler, "dst_format", AV_PIX_FMT_BGRA, 0);
    g_Ff.av_opt_set_int(s_->scaler, "sws_flags", SWS_BILINEAR, 0);
    g_Ff.av_opt_set_int(s_->scaler, "threads", threads_, 0);
    if (g_Ff.sws_init_context(s_->scaler, nullptr, nullptr) < 0) {
      g_Ff.sws_freeContext(s_->scaler);
      s_->scaler = nullptr;
      return false;
    }
    memcpy(s_->key, key, sizeof key);
  }
  // The destination is the caller's memory, lent to FFmpeg for this call only.
  AVFrame* t = s_->target;
  g_Ff.av_frame_unref(t);
  t->buf[0] = g_Ff.av_buffer_create(dest, size_t(pitch) * (height - 1) + size_t(width) * 4, KeepBuffer, nullptr, 0);
  if (!t->buf[0]) return false;
  t->data[0] = dest;
  t->linesize[0] = pitch;
  t->width = width;
  t->height = height;
  t->format = AV_PIX_FMT_BGRA;
  int r = g_Ff.sws_scale_frame(s_->scaler, t, src);
  g_Ff.av_frame_unref(t);
  return r >= 0;
}
