// FFmpeg behind a small record: a movie file's pictures as they are decoded, converted to BGRA
// on demand, and its sound as interleaved stereo 16-bit samples at the mixer's rate, with their
// times in milliseconds from the start.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A movie's picture is at most this wide or high and at most this many pixels (a 4K frame's
// order): a game cannot show more, and no decoder buffer may grow with what a file claims.
constexpr int MOVIE_MAX_SIDE = 8192;
constexpr int64_t MOVIE_MAX_PIXELS = int64_t(4096) * 2304;

// The containers movies come in, as FFmpeg names their demuxers. Nothing else is opened: no
// playlist, list of files or picture sequence, whose entries would make FFmpeg open other files.
extern const char* const MOVIE_CONTAINERS;

enum MovieStep { MOVIE_STEP_VIDEO, MOVIE_STEP_AUDIO, MOVIE_STEP_BLOCKED, MOVIE_STEP_END, MOVIE_STEP_ERROR };

struct MovieDecoderState;
struct MovieScalerState;
struct AVFrame;

// A decoded picture (not converted yet) and its time. Move-only; its memory goes back to the
// decoder when the last picture sharing it is dropped. Any thread.
class MoviePicture {
 public:
  MoviePicture() = default;
  MoviePicture(MoviePicture&& other) noexcept;
  MoviePicture& operator=(MoviePicture&& other) noexcept;
  MoviePicture(const MoviePicture&) = delete;
  MoviePicture& operator=(const MoviePicture&) = delete;
  ~MoviePicture();

  bool Empty() const { return frame_ == nullptr; }
  double Ms() const { return ms_; }
  int Width() const;
  int Height() const;
  // Another picture holding the same pixels (no copy); empty when out of memory.
  MoviePicture Share() const;

 private:
  friend class MovieDecoder;
  friend class MovieScaler;
  AVFrame* frame_ = nullptr;
  double ms_ = 0;
};

// Conversion of decoded pictures to BGRA (opaque), scaled bilinearly to any size, with a
// scaler of its own: the thread that shows pictures converts them while another decodes.
// Not shared between threads.
class MovieScaler {
 public:
  // `threads`: slices converted side by side (0: as many as processors).
  explicit MovieScaler(int threads) : threads_(threads) {}
  MovieScaler(const MovieScaler&) = delete;
  MovieScaler& operator=(const MovieScaler&) = delete;
  ~MovieScaler();
  // Writes the picture, scaled to width x height, into `dest` (rows of `pitch` bytes). False
  // when it cannot: no picture, a size out of bounds, a pixel format without a conversion.
  bool Convert(const MoviePicture& picture, uint8_t* dest, int pitch, int width, int height);

 private:
  MovieScalerState* s_ = nullptr;
  int threads_;
};

// One open movie. Not shared between threads: the player's decoding thread owns it once open.
class MovieDecoder {
 public:
  MovieDecoder() = default;
  MovieDecoder(const MovieDecoder&) = delete;
  MovieDecoder& operator=(const MovieDecoder&) = delete;
  ~MovieDecoder();

  // Opens the file (UTF-8 path) with `threads` decoding threads (0: as many as processors) and
  // its sound resampled to `audioRate` Hz stereo. `cancel`, when set, aborts blocking reads.
  // False, with Error() saying why, when the file cannot be played: missing, not in one of the
  // containers above, no video stream, no decoder, a picture size out of bounds. FFmpeg opens
  // this one file and nothing else, whatever the file names inside.
  bool Open(const char* path, int threads, int audioRate, const std::atomic<bool>* cancel);
  void Close();
  const std::string& Error() const { return error_; }
  int Width() const;
  int Height() const;
  bool HasAudio() const;
  // How long one picture stays up when the file does not say: from the stream's frame rate,
  // 40 ms when that rate is zero or absurd.
  double FrameMs() const;

  // Decodes on until a picture or a run of sound is ready, or the movie ends. Without
  // `pictureRoom` no picture is decoded: the sound is read on ahead while the pictures' packets
  // wait in a bounded queue, and BLOCKED says that queue is full. Corrupt packets and pictures
  // out of bounds are skipped; a file that breaks off ends where it breaks; ERROR when too many
  // packets in a row fail (then decoding stops as at the end).
  MovieStep Step(bool pictureRoom);
  // The picture of the last VIDEO step, handed over (empty when taken already or out of memory),
  // and its time.
  MoviePicture TakeVideo();
  double VideoMs() const;
  // The sound of the last AUDIO step and the time of its first sample.
  const std::vector<int16_t>& Audio() const { return audio_; }
  double AudioMs() const;

 private:
  MovieDecoderState* s_ = nullptr;
  std::string error_;
  std::vector<int16_t> audio_;
};
