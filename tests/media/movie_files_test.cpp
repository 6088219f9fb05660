// Movie files that would make FFmpeg reach beyond them: lists of files, playlists naming local
// files and web addresses, picture-sequence patterns. None opens, nothing they name is opened or
// connected to; and a movie's picture size is held to the bounds a game can show.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "platform/movie/movie_decoder.h"
#include "platform/movie/movie_player.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/movie_writer.h"

namespace {

// Counts the times files are opened, by the kernel's own account.
class OpenWatch {
 public:
  explicit OpenWatch(const std::vector<std::string>& paths) : fd_(inotify_init1(IN_NONBLOCK)) {
    for (const std::string& p : paths) EXPECT_GE(inotify_add_watch(fd_, p.c_str(), IN_OPEN), 0) << p;
  }
  ~OpenWatch() { close(fd_); }
  int Opens() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(fd_, buffer, sizeof buffer)) > 0;)
      for (char* p = buffer; p < buffer + got;) {
        const inotify_event* e = reinterpret_cast<const inotify_event*>(p);
        if (e->mask & IN_OPEN) opens_++;
        p += sizeof(inotify_event) + e->len;
      }
    return opens_;
  }

 private:
  int fd_;
  int opens_ = 0;
};

// A listening TCP port on the loopback address, to tell whether anything connected to it.
class Listener {
 public:
  Listener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(fd_, 8), 0);
    EXPECT_EQ(getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length), 0);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { close(fd_); }
  int Port() const { return port_; }
  // A completed connection waits in the queue whether or not it was accepted.
  bool Connected() {
    int c = accept(fd_, nullptr, nullptr);
    if (c < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
    close(c);
    return true;
  }

 private:
  int fd_;
  int port_ = 0;
};

class MovieFiles : public HeadlessTest {
 protected:
  std::string Path(const std::string& name) const { return folder_.path() + "/" + name; }
  TempFolder folder_;
};

TEST_F(MovieFiles, AListOfFilesNamingItselfIsRefusedAfterOneOpen) {
  // FFmpeg's concatenation list, its one entry the list itself.
  folder_.Write("loop.mpg", "ffconcat version 1.0\nfile loop.mpg\n");
  OpenWatch watch({Path("loop.mpg")});
  MovieDecoder d;
  EXPECT_FALSE(d.Open(Path("loop.mpg").c_str(), 1, 44100, nullptr));
  EXPECT_LE(watch.Opens(), 1);
}

TEST_F(MovieFiles, APlaylistNamingALocalFileOrAWebAddressReachesNeither) {
  folder_.Write("secret.ts", std::string(188 * 4, 'G'));
  Listener web;
  std::string local = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.0,\n" + Path("secret.ts") + "\n#EXT-X-ENDLIST\n";
  std::string remote = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.0,\nhttp://127.0.0.1:" +
                       std::to_string(web.Port()) + "/seg.ts\n#EXT-X-ENDLIST\n";
  folder_.Write("local.mpg", local);
  folder_.Write("remote.mpg", remote);
  OpenWatch watch({Path("secret.ts")});
  for (const char* name : {"local.mpg", "remote.mpg"}) {
    SCOPED_TRACE(name);
    MovieDecoder d;
    EXPECT_FALSE(d.Open(Path(name).c_str(), 1, 44100, nullptr));
    EXPECT_FALSE(PlatMovieOpen(0, Path(name).c_str(), PlatRect{0, 0, 64, 48}, 0));
  }
  EXPECT_EQ(watch.Opens(), 0);
  EXPECT_FALSE(web.Connected());
}

TEST_F(MovieFiles, APictureSequencePatternOpensNoPictureOfTheSequence) {
  // A picture file named as a pattern, and pictures its pattern would pick up.
  std::string png = "\x89PNG\r\n\x1a\n" + std::string(64, '\0');
  folder_.Write("pic%03d.png", png);
  folder_.Write("pic001.png", png);
  folder_.Write("pic002.png", png);
  OpenWatch watch({Path("pic001.png"), Path("pic002.png")});
  MovieDecoder d;
  EXPECT_FALSE(d.Open(Path("pic%03d.png").c_str(), 1, 44100, nullptr));
  EXPECT_EQ(watch.Opens(), 0);
}

TEST_F(MovieFiles, APictureIsAtMost8192ASideAndAboutA4KFrameInPixels) {
  struct Case {
    int width, height;
    bool opens;
  };
  const Case cases[] = {{8192, 16, true},    {8193, 16, false},   {16, 8192, true},   {16, 8193, false},
                        {4096, 2304, true},  {2304, 4096, true},  {4096, 2305, false}, {3072, 3073, false},
                        {3840, 2160, true},  {16000, 16000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    // The headers alone claim the size: a refusal costs no memory for it.
    folder_.Write("size.avi", RawAviMovie(c.width, c.height, 1, 25, 0));
    MovieDecoder d;
    EXPECT_EQ(d.Open(Path("size.avi").c_str(), 1, 44100, nullptr), c.opens) << d.Error();
  }
}

}  // namespace
