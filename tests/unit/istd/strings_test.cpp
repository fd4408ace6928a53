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
