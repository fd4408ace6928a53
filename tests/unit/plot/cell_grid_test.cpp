#include "plot/cell_grid.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

class CellGridTest : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_CTYPE, "C.UTF-8"); }
};

TEST_F(CellGridTest, PutClipsAtTheEdgeAndAtMaxCols) {
  plot::CellGrid grid(6, 2);
  EXPECT_EQ(grid.put(2, 0, "abcdef"), 4);
  EXPECT_EQ(grid.put(0, 1, "abcdef", {}, 3), 3);
  EXPECT_EQ(grid.put(0, 2, "off the grid"), 0);
  EXPECT_EQ(grid.text(), "  abcd\nabc\n");
}

TEST_F(CellGridTest, NothingATerminalWouldActOnReachesACell) {
  struct Case {
    const char* name;
    std::string input;
    std::string shown;
  };
  const Case cases[] = {
      {"escape sequence", "\x1b[2J", "\xEF\xBF\xBD[2J"},
      {"C1 control", "a\xC2\x9B" "b", "a\xEF\xBF\xBD" "b"},
      {"bytes that are not UTF-8", "a\xff\xfe" "b", "a\xEF\xBF\xBD\xEF\xBF\xBD" "b"},
      {"truncated sequence", "a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"wide character", "\xE6\xBC\xA2", "\xEF\xBF\xBD"},
      {"one-column letters", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
      {"braille", "\xE2\xA3\xBF", "\xE2\xA3\xBF"},
  };
  for (const Case& c : cases) {
    plot::CellGrid grid(10, 1);
    grid.put(0, 0, c.input);
    EXPECT_EQ(grid.rowText(0), c.shown) << c.name;
  }
}

TEST_F(CellGridTest, BlitAndFillClipToTheTarget) {
  plot::CellGrid inner(3, 2);
  inner.fill(0, 0, 3, 2, U'#');
  plot::CellGrid outer(4, 3);
  outer.fill(-5, -5, 100, 100, U'.');
  outer.blit(inner, 2, 2);
  EXPECT_EQ(outer.text(), "....\n....\n..##\n");
  outer.set(0, 0, U'x', {1, plot::kDefaultColour, plot::kBold});
  EXPECT_EQ(outer.at(0, 0).style.fg, 1);
  EXPECT_EQ(outer.at(0, 0).style.attributes, plot::kBold);
}

}  // namespace
