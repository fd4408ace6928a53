#include <gtest/gtest.h>

#include "istd/exception.h"
#include "istd/strings.h"
#include "support/case_name.h"

namespace {

struct SplitCase {
    std::string text;
    std::string delimiter;
    std::vector<std::string> pieces;
};

class Tokenize : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Tokenize, DropsEmptyPieces) {
    EXPECT_EQ(istd::TokenizeString(GetParam().text, GetParam().delimiter), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(Cases, Tokenize,
                         ::testing::Values(SplitCase{"1,3:5", ",", {"1", "3:5"}}, SplitCase{"5:", ":", {"5"}},
                                           SplitCase{":5", ":", {"5"}}, SplitCase{"", ",", {}},
                                           SplitCase{",,,", ",", {}}, SplitCase{"a..b", ".", {"a", "b"}},
                                           SplitCase{"a::b::", "::", {"a", "b"}},
                                           SplitCase{std::string("a\0b,c", 5), ",", {std::string("a\0b", 3), "c"}}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

struct OneLineCase {
    std::string text;
    std::string line;
};

class OneLine : public ::testing::TestWithParam<OneLineCase> {};

// What a listing shows of a text: one line, no control character, no byte
// outside UTF-8; everything else unchanged.
TEST_P(OneLine, EscapesWhatWouldBreakTheLineOrDriveTheTerminal) {
    EXPECT_EQ(istd::OneLineText(GetParam().text), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OneLine,
    ::testing::Values(OneLineCase{"plain text, tab\tkept", "plain text, tab\tkept"},
                      OneLineCase{"one\ntwo\r\n", "one\\ntwo\\r\\n"},
                      OneLineCase{"\x1b[2J\x07", "\\x1b[2J\\x07"},
                      OneLineCase{std::string("a\0b", 3), "a\\x00b"},
                      OneLineCase{"del\x7f", "del\\x7f"},
                      // C1 controls in UTF-8 (U+009B is the one-character CSI)
                      OneLineCase{"\xc2\x9b" "31m", "\\xc2\\x9b" "31m"},
                      OneLineCase{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
                      // Bytes that are no UTF-8: a lone one, an overlong form,
                      // a surrogate, a sequence cut short.
                      OneLineCase{"caf\xe9", "caf\\xe9"}, OneLineCase{"\xc0\xaf", "\\xc0\\xaf"},
                      OneLineCase{"\xed\xa0\x80", "\\xed\\xa0\\x80"}, OneLineCase{"\xe2\x82", "\\xe2\\x82"},
                      OneLineCase{"back\\slash", "back\\slash"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

TEST(Strings, IsUtf8) {
    for (const char* valid : {"", "ascii", "caf\xc3\xa9", "\xf4\x8f\xbf\xbf"}) EXPECT_TRUE(istd::IsUtf8(valid)) << valid;
    for (const char* invalid : {"\xff", "\xc3", "\xc1\xbf", "\xed\xbf\xbf", "\xf4\x90\x80\x80"})
        EXPECT_FALSE(istd::IsUtf8(invalid)) << invalid;
}

TEST(Strings, TrimAndJoin) {
    EXPECT_EQ(istd::TrimString("  readable hidden \n"), "readable hidden");
    EXPECT_EQ(istd::TrimString(" \t "), "");
    EXPECT_EQ(istd::StringVecIntoString({"a", "b", "c"}, ","), "a,b,c");
    EXPECT_EQ(istd::StringVecIntoString({}, ","), "");
}

TEST(Strings, ToBoolAcceptsWordsAndDigits) {
    for (const char* t : {"true", "TRUE", "yes", "on", "1"}) EXPECT_TRUE(istd::ToBool(t)) << t;
    for (const char* f : {"false", "False", "no", "off", "0"}) EXPECT_FALSE(istd::ToBool(f)) << f;
    for (const char* bad : {"", "2", "tru", " true", "true\n"}) {
        try {
            istd::ToBool(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const istd::Exception& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Bad cast from ") + bad + " to bool");
        }
    }
}

}  // namespace
