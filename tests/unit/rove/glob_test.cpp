// The pattern matcher of --glob: names with "*" and "?", paths with "**".
#include <gtest/gtest.h>

#include "rove_glob.h"
#include "support/case_name.h"

namespace {

struct MatchCase {
    std::string name;
    std::string pattern;
    std::string path;
    bool matches;
};

std::ostream& operator<<(std::ostream& os, const MatchCase& c) { return os << c.name; }

class GlobMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(GlobMatch, Path) {
    EXPECT_EQ(MatchPath(mci::Tokenize(GetParam().pattern), mci::Tokenize(GetParam().path)), GetParam().matches)
        << GetParam().pattern << " ~ " << GetParam().path;
}

const MatchCase c_cases[] = {
    {"literal", "a.b", "a.b", true},
    {"literalOther", "a.b", "a.c", false},
    {"starInName", "board*", "board12", true},
    {"starEmpty", "board*", "board", true},
    {"starMiddle", "b*d0", "board0", true},
    {"starBacktracks", "*a*b", "xaab", true},
    {"starBacktracksFails", "*a*b", "xaba", false},
    {"starStaysInName", "a*", "a.b", false},
    {"questionOne", "board?", "board1", true},
    {"questionNotTwo", "board?", "board12", false},
    {"questionNotNone", "board?", "board", false},
    {"anyNamesNone", "a.**.g", "a.g", true},
    {"anyNamesSeveral", "a.**.g", "a.b.c.g", true},
    {"anyNamesLast", "a.**", "a.b.c", true},
    {"anyNamesItself", "a.**", "a", true},
    {"anyNamesWrongEnd", "a.**.g", "a.b.h", false},
    {"anyNamesFirst", "**.gain", "boards.board0.gain", true},
    {"twoAnyNames", "**.b.**.d", "a.b.c.d", true},
    {"deeperThanPattern", "a.*", "a.b.c", false},
};

INSTANTIATE_TEST_SUITE_P(Glob, GlobMatch, ::testing::ValuesIn(c_cases), velnor::test::NameOfCase());

TEST(GlobPattern, MarksOnly) {
    EXPECT_TRUE(IsPattern("a.*"));
    EXPECT_TRUE(IsPattern("a?"));
    EXPECT_FALSE(IsPattern("a.b[1]"));
}

}  // namespace
