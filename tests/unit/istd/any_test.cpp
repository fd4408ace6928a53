#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "istd/any.h"
#include "support/case_name.h"

namespace {

using istd::Any;

struct TextCase {
    Any value;
    std::string text;
};

class AnyText : public ::testing::TestWithParam<TextCase> {};

TEST_P(AnyText, PrintsLikeTheValueRead) {
    std::ostringstream os;
    os << std::fixed << GetParam().value;  // the stream's notation must not leak in
    EXPECT_EQ(os.str(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, AnyText,
    ::testing::Values(TextCase{Any::Scalar(true), "true"}, TextCase{Any::Scalar(false), "false"},
                      TextCase{Any::Scalar(-2147483647 - 1), "-2147483648"},
                      TextCase{Any::Scalar(4294967295u), "4294967295"},
                      TextCase{Any::Scalar(-9223372036854775807LL - 1), "-9223372036854775808"},
                      TextCase{Any::Scalar(18446744073709551615ULL), "18446744073709551615"},
                      TextCase{Any::Scalar(1.0 / 3.0), "0.333333333333333"},
                      TextCase{Any::Scalar(1e20), "1e+20"}, TextCase{Any::Scalar(-0.0), "-0"},
                      TextCase{Any::Scalar(std::numeric_limits<double>::infinity()), "inf"},
                      TextCase{Any::Scalar(0.1f), "0.1"}, TextCase{Any::Scalar(123456789.0f), "1.23457e+08"},
                      TextCase{Any::Scalar(std::string("a,b")), "a,b"},
                      TextCase{Any(std::vector<int>{1, 2, 3, 4}, true), "[1,2,3,4]"},
                      TextCase{Any(std::vector<bool>{true, false}, true), "[true,false]"},
                      TextCase{Any(std::vector<double>{}, true), "[]"}, TextCase{Any(), ""}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

TEST(Any, SizeAndArrayFlag) {
    Any array(std::vector<std::string>{"x", "y"}, true);
    EXPECT_TRUE(array.IsArray());
    EXPECT_EQ(array.Size(), 2u);
    ASSERT_NE(array.As<std::string>(), nullptr);
    EXPECT_EQ(array.As<int>(), nullptr);
    Any copy = array;
    EXPECT_EQ(copy, array);
    EXPECT_EQ(Any().Size(), 0u);
}

TEST(Any, NanPrintsAsNan) {
    EXPECT_EQ(Any::Scalar(std::nan("")).Text(), "nan");
}

}  // namespace
