// FFmpeg behind a small record: a movie file's pictures as BGRA and its sound as interleaved
// stereo 16-bit samples at the mixer's rate, with their times in milliseconds from the start.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Frames this wide or this high are refused: no decoder buffer may grow with what a file claims.
constexpr int MOVIE_MAX_SIDE = 16384;

enum MovieStep { MOVIE_STEP_VIDEO, MOVIE_STEP_AUDIO, MOVIE_STEP_BLOCKED, MOVIE_STEP_END, MOVIE_STEP_ERROR };

struct MovieDecoderState;

// One open movie. Not shared between threads: the player's decoding thread owns it once open.
class MovieDecoder {
 public:
  MovieDecoder() = default;
  MovieDecoder(const MovieDecoder&) = delete;
  MovieDecoder& operator=(const MovieDecoder&) = delete;
  ~MovieDecoder();

  // Opens the file (UTF-8 path) with `threads` decoding threads (0: as many as processors) and
  // its sound resampled to `audioRate` Hz stereo. `cancel`, when set, aborts blocking reads.
  // False, with Error() saying why, when the file cannot be played: missing, not a movie, no
  // video stream, no decoder, a frame size out of bounds.
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
  // wait in a bounded queue, and BLOCKED says that queue is full. Corrupt packets are skipped;
  // a file that breaks off ends where it breaks; ERROR when too many packets in a row fail
  // (then decoding stops as at the end).
  MovieStep Step(bool pictureRoom);
  // The picture of the last VIDEO step: its time, and its conversion to BGRA of width x height
  // (rows of `pitch` bytes), scaled bilinearly when the sizes differ.
  double VideoMs() const;
  bool ConvertVideo(uint8_t* dest, int pitch, int width, int height);
  // The sound of the last AUDIO step and the time of its first sample.
  const std::vector<int16_t>& Audio() const { return audio_; }
  double AudioMs() const;

 private:
  MovieDecoderState* s_ = nullptr;
  std::string error_;
  std::vector<int16_t> audio_;
};
