// The text-table command: cells split at commas and line ends, quotes and leading blanks, the
// count it reports, and the messages for a missing file.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/platform.h"
#include "tests/support/script_fixture.h"

namespace {

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(PlatUtf8ToCp932(utf8.data(), utf8.size(), &out));
  return out;
}

class TextTableTest : public ScriptTest {
 protected:
  // Reads `bytes` as a table both ways: the count, and the cells (unset ones stay "-").
  void ReadTable(const std::string& bytes, int64_t* count, std::vector<std::string>* cells) {
    folder_.Write("data/table.csv", bytes);
    ResetScriptSet();
    ASSERT_TRUE(Boot(R"(global int n = -1
global str cells[8] = "-"
file main.txt
*SYSTEM_START
readtexttable file="DATA/Table.csv" count=1 out=n
readtexttable file="data/table.csv" read=1 out=cells
wait frames=1
)"));
    RunPasses(1);
    ASSERT_EQ(ShownMessage(), 0);
    *count = Int("n");
    cells->clear();
    for (int i = 0; i < 8; i++) {
      std::string c = Text("cells", i);
      if (c == "-") break;
      cells->push_back(c);
    }
  }
};

struct TableCase {
  std::string bytes;
  int64_t count;
  std::vector<std::string> cells;
};

TEST_F(TextTableTest, CellsAndCountsFollowCommasLineEndsAndQuotes) {
  const TableCase cases[] = {
      {"a,b\r\nc,d\r\n", 5, {"a", "b", "c", "d", ""}},
      {"a\r\nb\r\n", 1, {""}},
      {"", 1, {""}},
      {"x, \"1,2\",y", 3, {"x", "\"1,2\"", "y"}},
      {"p,'q,r'\n s ,t", 4, {"p", "'q,r'", "s ", "t"}},
      {"a,b\rc,d\n", 5, {"a", "b", "c", "d", ""}},
      // The count starts at 1 for the line end that read mode appends, which closes "c" without
      // storing it.
      {"a,b\r\n\r\nc", 4, {"a", "b", ""}},
      {"  \"\" \r\nz,", 3, {"", "z", ""}},
      // Both characters' trail byte is 0x5C; a trail byte is never a separator.
      {Cp932("表") + "," + Cp932("ソ") + "\r\n", 3, {Cp932("表"), Cp932("ソ"), ""}},
  };
  for (const TableCase& c : cases) {
    int64_t count = 0;
    std::vector<std::string> cells;
    ReadTable(c.bytes, &count, &cells);
    EXPECT_EQ(count, c.count) << c.bytes;
    EXPECT_EQ(cells, c.cells) << c.bytes;
  }
}

TEST_F(TextTableTest, MissingFileGivesItsMessageAndEndsTheTurn) {
  ASSERT_TRUE(Boot(R"(global int n = -1
file main.txt
*SYSTEM_START
readtexttable file="none.csv" count=1 out=n
n = 5
wait frames=1
)"));
  RunPasses(1);
  EXPECT_NE(std::string(LastErrorDialogText()).find("[none.csv]"), std::string::npos);
  EXPECT_EQ(Int("n"), -1);
  EXPECT_EQ(g_QuitFlag, 1);
}

}  // namespace
