// Code page 932 <-> UTF-8 conversion from several threads at once, and after a refused text:
// each text converts as it does alone.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

struct Case {
  std::string cp932;   // empty: a text that is refused
  std::string utf8;
};

// "日本語テキスト", "ｶﾀｶﾅ" (one-byte kana) and a text of ASCII.
const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"\x93\xfa\x96\x7b\x8c\xea\x83\x65\x83\x4c\x83\x58\x83\x67", "日本語テキスト"},
      {"\xb6\xc0\xb6\xc5", "ｶﾀｶﾅ"},
      {"plain", "plain"},
  };
  return cases;
}

TEST(TextConvert, ARefusedTextLeavesTheNextOneWhole) {
  std::string out;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.utf8);
    EXPECT_FALSE(PlatCp932ToUtf8("\x93", 1, &out));
    ASSERT_TRUE(PlatCp932ToUtf8(c.cp932.data(), c.cp932.size(), &out));
    EXPECT_EQ(out, c.utf8);
    EXPECT_FALSE(PlatUtf8ToCp932("\xe6\x97", 2, &out));
    ASSERT_TRUE(PlatUtf8ToCp932(c.utf8.data(), c.utf8.size(), &out));
    EXPECT_EQ(out, c.cp932);
  }
}

TEST(TextConvert, ThreadsConvertingAtOnceEachGetTheirOwnText) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; t++)
    threads.emplace_back([t, &wrong] {
      const Case& c = Cases()[t % Cases().size()];
      std::string out;
      for (int i = 0; i < 2000; i++) {
        if (!PlatCp932ToUtf8(c.cp932.data(), c.cp932.size(), &out) || out != c.utf8) wrong[t]++;
        if (!PlatUtf8ToCp932(c.utf8.data(), c.utf8.size(), &out) || out != c.cp932) wrong[t]++;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
