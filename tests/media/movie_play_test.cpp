// Real movies on the headless backend: movies of every format we promise, made by the ffmpeg
// tool for this run, shown and heard exactly as FFmpeg's own decode of the same file (after the
// same conversion), their end, their position, and every kind of bad file.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "platform/movie/movie_player.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/movie_writer.h"

namespace {

constexpr int W = 64, H = 48;              // the movies' frame size
constexpr int FPS = 25;
constexpr int FRAME_MS = 1000 / FPS;
constexpr int RATE = 44100;
constexpr int WIN_W = 96, WIN_H = 72;
constexpr PlatRect kRect = {16, 12, W, H};
constexpr uint8_t kBackground[4] = {0x60, 0x40, 0x20, 0xFF};

struct Format {
  const char* name;
  const char* file;
  const char* args;   // the encoders and container, after the generated picture and tone
  int firstPictureMs;  // the container puts the pictures this late, behind the sound's start
};

// Every format a game may ship. WMV3 and WMA Pro have no encoder in Debian's FFmpeg, so only
// their decoding is left untested; the lossless FFV1 shows the conversion alone.
const Format kFormats[] = {
    {"mpeg1", "m1.mpg", "-c:v mpeg1video -c:a mp2 -f mpeg", 11},
    {"mpeg2", "m2.mpg", "-c:v mpeg2video -c:a mp2 -f vob", 11},
    {"wmv1", "w1.wmv", "-c:v wmv1 -c:a wmav2 -f asf", 46},
    {"wmv2", "w2.wmv", "-c:v wmv2 -c:a wmav2 -f asf", 46},
    {"mjpeg", "mj.avi", "-c:v mjpeg -c:a pcm_s16le", 0},
    {"mpeg4", "m4.avi", "-c:v mpeg4 -c:a mp2", 0},
    {"h264", "h.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac", 0},
    {"theora", "t.ogg", "-c:v libtheora -c:a libvorbis", 0},
    {"vp8", "v8.webm", "-c:v libvpx -c:a libvorbis", 0},
    {"vp9", "v9.webm", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus", 0},
    {"ffv1", "ff.avi", "-c:v ffv1 -c:a pcm_s16le", 0},
};

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The ffmpeg tool's path from PATH, "" when it is not installed.
std::string FfmpegPath() {
  const char* path = getenv("PATH");
  std::istringstream in(path ? path : "");
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty() && PlatIsProgramFile(dir + "/ffmpeg")) return dir + "/ffmpeg";
  return std::string();
}

// Runs the commands side by side and waits for all of them; false when one did not start.
bool RunAll(const std::vector<std::vector<std::string>>& commands) {
  std::vector<int> ids;
  for (const auto& c : commands) {
    int id = PlatStartWatchedProcess(c);
    if (id < 0) return false;
    ids.push_back(id);
  }
  for (int id : ids)
    while (!PlatProcessEnded(id)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return true;
}

class MoviePlay : public HeadlessTest {
 protected:
  static void SetUpTestSuite() {
    std::string ffmpeg = FfmpegPath();
    if (ffmpeg.empty()) return;
    folder_ = new TempFolder;
    std::string base = folder_->path() + "/";
    std::string size = std::to_string(W) + "x" + std::to_string(H);
    std::vector<std::vector<std::string>> make;
    for (const Format& f : kFormats) {
      std::vector<std::string> c = {ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                    "testsrc=size=" + size + ":rate=" + std::to_string(FPS) + ":duration=1",
                                    "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1"};
      for (const std::string& w : Words(f.args)) c.push_back(w);
      c.push_back(base + f.file);
      make.push_back(c);
    }
    make.push_back({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=44100:duration=1", "-c:a", "libvorbis", base + "tone.ogg"});
    // A stream that grows past the pixel budget midway: a transport stream of small pictures
    // followed by one of a 4096 x 4096 picture; and a Matroska movie over the budget.
    make.push_back({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=" + size + ":rate=" + std::to_string(FPS) + ":duration=0.4", "-c:v", "libx264",
                    "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-f", "mpegts", base + "small.ts"});
    make.push_back({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "color=c=gray:size=4096x4096:rate=25:duration=0.08", "-c:v", "libx264", "-preset", "ultrafast",
                    "-pix_fmt", "yuv420p", "-f", "mpegts", base + "big.ts"});
    make.push_back({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "color=c=gray:size=4200x2400:rate=25:duration=0.04", "-c:v", "ffv1", base + "over.mkv"});
    ASSERT_TRUE(RunAll(make));
    folder_->Write("grow.ts", ReadAll(base + "small.ts") + ReadAll(base + "big.ts"));
    // FFmpeg's own decode of each: every picture in BGRA at its size, the sound as our mixer
    // takes it (stereo 16-bit at the mixer's rate).
    std::vector<std::vector<std::string>> decode;
    for (const Format& f : kFormats)
      decode.push_back({ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", base + f.file, "-map", "0:v",
                        "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", base + f.file + ".bgra",
                        "-map", "0:a", "-ac", "2", "-ar", std::to_string(RATE), "-f", "s16le", base + f.file + ".pcm"});
    ASSERT_TRUE(RunAll(decode));
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    if (!folder_) GTEST_SKIP() << "the ffmpeg tool is not installed";
    HeadlessTest::SetUp();
    PlatAudioOpen(RATE);
    ASSERT_TRUE(g_Platform->CreateWindow(0, WIN_W, WIN_H, "movie"));
    std::vector<uint8_t> back(size_t(WIN_W) * WIN_H * 4);
    for (size_t i = 0; i < back.size(); i++) back[i] = kBackground[i % 4];
    g_Platform->PresentFrame(0, back.data(), WIN_W, WIN_H, WIN_W * 4, 0, 0, WIN_W, WIN_H);
  }
  void TearDown() override {
    g_PlatformMedia->MovieClose();
    PlatAudioClose();
    HeadlessTest::TearDown();
  }

  static std::string Path(const std::string& file) { return folder_->path() + "/" + file; }

  bool Open(const std::string& file, PlatRect r = kRect, int volume = 0) {
    start_ = PlatGetTicks();
    return g_PlatformMedia->MovieOpen(0, Path(file).c_str(), r.x, r.y, r.width, r.height, volume);
  }
  // The window as it is shown `ms` after the movie started.
  std::vector<uint8_t> ShownAt(uint32_t ms) {
    HeadlessSetTicks(start_ + ms);
    return HeadlessWindow(0).frame;
  }
  // Largest difference of one colour level between the movie's rectangle and a picture.
  static int RectDifference(const std::vector<uint8_t>& window, const uint8_t* picture) {
    int worst = 0;
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W * 4; x++) {
        int a = window[size_t(kRect.y + y) * WIN_W * 4 + kRect.x * 4 + x];
        int b = picture[size_t(y) * W * 4 + x];
        worst = std::max(worst, std::abs(a - b));
      }
    return worst;
  }
  static bool OutsideIsBackground(const std::vector<uint8_t>& window) {
    for (int y = 0; y < WIN_H; y++)
      for (int x = 0; x < WIN_W; x++) {
        bool inside = x >= kRect.x && x < kRect.x + W && y >= kRect.y && y < kRect.y + H;
        if (!inside && memcmp(&window[(size_t(y) * WIN_W + x) * 4], kBackground, 4) != 0) return false;
      }
    return true;
  }
  // Takes `frames` stereo frames from the mixer once the movie's voice holds them, the game's
  // clock moving with the sound taken.
  std::vector<int16_t> Listen(int frames) {
    std::vector<int16_t> out;
    const int chunk = RATE / 20;
    while (int(out.size() / 2) < frames) {
      HeadlessSetTicks(start_ + uint32_t(out.size() / 2 * 1000 / RATE));
      auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
      while (PlatMovieSoundAhead() < uint32_t(chunk) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::vector<int16_t> part(size_t(chunk) * 2);
      PlatAudioMix(part.data(), chunk);
      out.insert(out.end(), part.begin(), part.end());
    }
    return out;
  }
  int PollEnds() {
    int ends = 0;
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e))
      if (e.type == PLAT_EVENT_MOVIE_END && e.window == 0) ends++;
    return ends;
  }

  static TempFolder* folder_;
  uint32_t start_ = 0;
};

TempFolder* MoviePlay::folder_ = nullptr;

TEST_F(MoviePlay, ShownPicturesEqualFfmpegsOwnDecode) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    std::string ref = ReadAll(Path(std::string(f.file) + ".bgra"));
    const size_t frameBytes = size_t(W) * H * 4;
    ASSERT_GE(ref.size(), frameBytes * FPS);
    ASSERT_TRUE(Open(f.file));
    // Before its first picture the movie shows nothing yet; then each picture halfway
    // through its time.
    if (f.firstPictureMs >= 2) {
      std::vector<uint8_t> early = ShownAt(uint32_t(f.firstPictureMs / 2));
      EXPECT_EQ(memcmp(&early[(size_t(kRect.y) * WIN_W + kRect.x) * 4], kBackground, 4), 0);
    }
    for (int k : {0, 6, 12, 18, 24}) {
      std::vector<uint8_t> shown = ShownAt(uint32_t(f.firstPictureMs + k * FRAME_MS + FRAME_MS / 2));
      ASSERT_EQ(shown.size(), size_t(WIN_W) * WIN_H * 4);
      EXPECT_EQ(RectDifference(shown, reinterpret_cast<const uint8_t*>(ref.data()) + frameBytes * k), 0) << "frame " << k;
      EXPECT_TRUE(OutsideIsBackground(shown)) << "frame " << k;
    }
    g_PlatformMedia->MovieClose();
    HeadlessSetTicks(0);
  }
}

TEST_F(MoviePlay, SoundReachingTheMixerEqualsFfmpegsOwnDecode) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    std::string ref = ReadAll(Path(std::string(f.file) + ".pcm"));
    const int16_t* want = reinterpret_cast<const int16_t*>(ref.data());
    const int compare = RATE / 2;
    ASSERT_GE(ref.size(), size_t(compare) * 4 + RATE / 10 * 4);
    ASSERT_TRUE(Open(f.file));
    std::vector<int16_t> heard = Listen(compare + RATE / 10);
    // The movie's sound may start a little after its pictures (silence is put before it):
    // find where it begins, then it must be FFmpeg's samples one for one.
    int best = -1, bestWorst = 1 << 20;
    for (int lead = 0; lead <= RATE / 10; lead++) {
      int worst = 0;
      for (int i = 0; i < compare * 2 && worst < bestWorst; i++) worst = std::max(worst, std::abs(heard[size_t(lead) * 2 + i] - want[i]));
      if (worst < bestWorst) bestWorst = worst, best = lead;
    }
    EXPECT_EQ(bestWorst, 0) << "at a lead of " << best << " frames";
    EXPECT_LT(best, RATE / 20);
    g_PlatformMedia->MovieClose();
  }
}

TEST_F(MoviePlay, EndIsPostedOnceAtTheEndAndPositionFollowsTheClock) {
  for (const char* file : {"m2.mpg", "h.mp4", "v8.webm"}) {
    SCOPED_TRACE(file);
    HeadlessSetTicks(0);
    ASSERT_TRUE(Open(file));
    for (uint32_t t : {0u, 250u, 600u}) {
      ShownAt(t);
      EXPECT_EQ(g_PlatformMedia->MoviePosition(), t);
      EXPECT_EQ(PollEnds(), 0) << t;
      EXPECT_TRUE(g_PlatformMedia->MovieIsPlaying());
    }
    ShownAt(900);
    EXPECT_EQ(PollEnds(), 0);
    ShownAt(1200);
    EXPECT_EQ(PollEnds(), 1);
    EXPECT_EQ(PollEnds(), 0);
    ShownAt(3000);
    EXPECT_EQ(PollEnds(), 0);
    EXPECT_FALSE(g_PlatformMedia->MovieIsPlaying());
    uint32_t end = g_PlatformMedia->MoviePosition();
    EXPECT_GE(end, 990u);
    EXPECT_LE(end, 1100u);
    g_PlatformMedia->MovieClose();
  }
}

TEST_F(MoviePlay, PauseHoldsPositionPictureAndSound) {
  ASSERT_TRUE(Open("mj.avi"));
  std::vector<uint8_t> before = ShownAt(300);
  g_PlatformMedia->MoviePause();
  EXPECT_FALSE(g_PlatformMedia->MovieIsPlaying());
  std::vector<uint8_t> later = ShownAt(800);
  EXPECT_EQ(g_PlatformMedia->MoviePosition(), 300u);
  EXPECT_EQ(before, later);
  EXPECT_EQ(PollEnds(), 0);
  ShownAt(5000);
  EXPECT_EQ(PollEnds(), 0);
}

TEST_F(MoviePlay, MovedRectangleShowsTheScaledPicture) {
  ASSERT_TRUE(Open("ff.avi"));
  ShownAt(20);
  g_PlatformMedia->MovieSetRect(0, 0, WIN_W, WIN_H);
  std::vector<uint8_t> shown = ShownAt(FRAME_MS * 3 + FRAME_MS / 2);
  // FFV1 is lossless: the testsrc colour bars come through the bilinear scaling to the full
  // window, so its top-left corner is the movie's and no background is left.
  std::string ref = ReadAll(Path("ff.avi.bgra"));
  const uint8_t* frame = reinterpret_cast<const uint8_t*>(ref.data()) + size_t(W) * H * 4 * 3;
  for (int c = 0; c < 3; c++) EXPECT_NEAR(shown[c], frame[c], 8);
  for (size_t i = 0; i < shown.size(); i += 4) ASSERT_NE(memcmp(&shown[i], kBackground, 4), 0) << i / 4;
}

TEST_F(MoviePlay, VolumeAttenuatesTheVoice) {
  ASSERT_TRUE(Open("mj.avi", kRect, -600));
  std::vector<int16_t> quiet = Listen(RATE / 5);
  g_PlatformMedia->MovieClose();
  HeadlessSetTicks(0);
  ASSERT_TRUE(Open("mj.avi", kRect, 0));
  std::vector<int16_t> loud = Listen(RATE / 5);
  int peakQuiet = 0, peakLoud = 0;
  for (int16_t s : quiet) peakQuiet = std::max(peakQuiet, std::abs(int(s)));
  for (int16_t s : loud) peakLoud = std::max(peakLoud, std::abs(int(s)));
  ASSERT_GT(peakLoud, 1000);
  // -6 dB is half the amplitude.
  EXPECT_NEAR(double(peakQuiet) / peakLoud, 0.501, 0.01);
}

struct BadCase {
  const char* name;
  bool opens;   // plays (then ends) rather than being refused
};

TEST_F(MoviePlay, BadFilesAreRefusedOrEndWithoutHarm) {
  std::string good = ReadAll(Path("m2.mpg"));
  std::string corrupt = good;
  for (size_t i = corrupt.size() * 2 / 5; i < corrupt.size() * 3 / 5; i += 7) corrupt[i] = char(corrupt[i] ^ 0x5A);
  folder_->Write("truncated.mpg", good.substr(0, good.size() / 3));
  folder_->Write("corrupt.mpg", corrupt);
  folder_->Write("text.mpg", std::string(4000, 'x'));
  folder_->Write("empty.avi", "");
  folder_->Write("huge.avi", RawAviMovie(8193, 16, 1, 25, 1));
  folder_->Write("tall.avi", RawAviMovie(16, 8193, 1, 25, 1));
  folder_->Write("zero_rate.avi", RawAviMovie(32, 16, 0, 0, 4));
  folder_->Write("absurd_rate.avi", RawAviMovie(32, 16, 1, 1000000000, 4));
  folder_->Write("slow_rate.avi", RawAviMovie(32, 16, 100000, 1, 4));
  const BadCase cases[] = {{"missing.mpg", false},   {"text.mpg", false},     {"empty.avi", false},
                           {"tone.ogg", false},      {"huge.avi", false},     {"tall.avi", false},
                           {"truncated.mpg", true},  {"corrupt.mpg", true},   {"zero_rate.avi", true},
                           {"absurd_rate.avi", true}, {"slow_rate.avi", true}};
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    HeadlessSetTicks(0);
    ASSERT_EQ(Open(c.name), c.opens);
    if (!c.opens) {
      EXPECT_FALSE(g_PlatformMedia->MovieIsPlaying());
      EXPECT_EQ(PollEnds(), 0);
      continue;
    }
    // Whatever the file claims, the movie is over within its real length (at most a second
    // here) and says so once.
    int ends = 0;
    for (uint32_t t = 100; t <= 1500; t += 100) {
      ShownAt(t);
      ends += PollEnds();
    }
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(g_PlatformMedia->MovieIsPlaying());
    g_PlatformMedia->MovieClose();
  }
}

TEST_F(MoviePlay, PicturesBeyondTheBoundsAreNeverTakenNorShown) {
  // Over the budget from its headers on: refused.
  EXPECT_FALSE(Open("over.mkv"));
  // Growing midway: the small pictures play, the large one is dropped, and the movie ends.
  ASSERT_TRUE(Open("grow.ts"));
  int ends = 0;
  for (uint32_t t = 40; t <= 2000 && !ends; t += 40) {
    ShownAt(t);
    ends += PollEnds();
  }
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(PlatMovieHeld().largestPicture, int64_t(W) * H);
}

TEST_F(MoviePlay, TheConvertedPicturesHeldAreNoMoreThanStated) {
  struct Case {
    PlatRect rect;
    int converted;   // a rectangle inside the window is converted straight into its picture
  };
  const Case cases[] = {{kRect, 0}, {{0, 0, WIN_W, WIN_H}, 0}, {{-8, -8, 4096, 2304}, 1}, {{40, 30, 4096, 2304}, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x" << c.rect.height);
    HeadlessSetTicks(0);
    ASSERT_TRUE(Open("h.mp4", c.rect));
    for (uint32_t t = 0; t <= 600; t += FRAME_MS) ShownAt(t);
    PlatMovieHolding held = PlatMovieHeld();
    EXPECT_EQ(held.converted, c.converted);
    EXPECT_GE(held.decoded, 1);
    EXPECT_LE(held.decoded, PLAT_MOVIE_QUEUE + 1);
    g_PlatformMedia->MovieClose();
  }
}

TEST_F(MoviePlay, ClosingMidwayEndsTheDecoderAndTheVoice) {
  ASSERT_TRUE(Open("v9.webm"));
  ShownAt(200);
  g_PlatformMedia->MovieClose();
  EXPECT_FALSE(PlatMovieIsOpen());
  EXPECT_EQ(PlatMovieSoundAhead(), 0u);
  std::vector<uint8_t> after = HeadlessWindow(0).frame;
  EXPECT_TRUE(OutsideIsBackground(after));
  EXPECT_EQ(memcmp(&after[(size_t(kRect.y) * WIN_W + kRect.x) * 4], kBackground, 4), 0);
  // A new movie replaces an open one.
  ASSERT_TRUE(Open("h.mp4"));
  ASSERT_TRUE(Open("t.ogg"));
  EXPECT_TRUE(g_PlatformMedia->MovieIsPlaying());
}

}  // namespace
