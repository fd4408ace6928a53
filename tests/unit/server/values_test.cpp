// Value texts, cutting, conversions of written elements and generators.
#include <gtest/gtest.h>

#include <cmath>

#include "convert.h"
#include "support/case_name.h"
#include "updater.h"
#include "value.h"

namespace velnor::server {
namespace {

struct TruncateCase {
    const char* text;
    std::uint32_t maxLength;
    const char* expected;
};

class Cut : public ::testing::TestWithParam<TruncateCase> {};

TEST_P(Cut, CountsCharactersNotBytes) { EXPECT_EQ(Truncate(GetParam().text, GetParam().maxLength), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Texts, Cut,
                         ::testing::Values(TruncateCase{"abcdef", 0, "abcdef"}, TruncateCase{"abcdef", 6, "abcdef"},
                                           TruncateCase{"abcdef", 5, "abcde..."}, TruncateCase{"abcdef", 1, "a..."},
                                           TruncateCase{"", 3, ""}, TruncateCase{"ä€😀b", 3, "ä€😀..."},
                                           TruncateCase{"ä€😀b", 4, "ä€😀b"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

TEST(ValueText, StopsEarlyOnHugeArraysButCutsTheSame) {
    const Elements big = std::vector<int>(1000000, 7);
    const std::string text = ValueText(big, true, 40);
    EXPECT_LT(text.size(), 50u);
    EXPECT_EQ(Truncate(text, 10), "[7,7,7,7,7...");
    EXPECT_EQ(ValueText(Elements(std::vector<double>{1.0 / 3, 1e20}), true, 0), "[0.333333333333333,1e+20]");
    EXPECT_EQ(ValueText(Elements(std::vector<float>{123456789.f}), false, 0), "1.23457e+08");
}

struct ConvertCase {
    Elements in;
    ValueType target;
    const char* expected;  // "[...]" of the result, or "fail <text>"
};

class Convert : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Convert, OnlyExactConversionsPass) {
    auto result = ConvertElements(GetParam().in, GetParam().target);
    const std::string got = std::holds_alternative<Elements>(result)
                                ? ValueText(std::get<Elements>(result), true, 0)
                                : "fail " + std::get<ConversionFailure>(result).text;
    EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, Convert,
    ::testing::Values(ConvertCase{std::vector<int>{5, -5}, ValueType::Double, "[5,-5]"},
                      ConvertCase{std::vector<double>{2.0, 1.5}, ValueType::Int32, "fail 1.5"},
                      ConvertCase{std::vector<int>{1, -1}, ValueType::UInt64, "fail -1"},
                      ConvertCase{std::vector<long long>{2147483647, 2147483648}, ValueType::Int32, "fail 2147483648"},
                      ConvertCase{std::vector<long long>{-2147483648LL}, ValueType::Int32, "[-2147483648]"},
                      ConvertCase{std::vector<unsigned long long>{9223372036854775808ULL}, ValueType::Int64,
                                  "fail 9223372036854775808"},
                      ConvertCase{std::vector<double>{1e19}, ValueType::UInt64, "[10000000000000000000]"},
                      ConvertCase{std::vector<double>{1.8446744073709552e19}, ValueType::UInt64,
                                  "fail 1.84467440737096e+19"},
                      ConvertCase{std::vector<unsigned>{0, 1}, ValueType::Bool, "[false,true]"},
                      ConvertCase{std::vector<double>{1.0}, ValueType::Bool, "fail 1"},
                      ConvertCase{std::vector<bool>{true}, ValueType::Int32, "[1]"},
                      ConvertCase{std::vector<int>{16777217}, ValueType::Float, "fail 16777217"},
                      ConvertCase{std::vector<long long>{9007199254740992LL}, ValueType::Double, "[9.00719925474099e+15]"},
                      ConvertCase{std::vector<std::string>{"x"}, ValueType::Enum, "[x]"},
                      ConvertCase{std::vector<std::string>{"1"}, ValueType::Int32, "fail '1'"},
                      ConvertCase{std::vector<int>{1}, ValueType::String, "fail 1"},
                      ConvertCase{std::vector<double>{std::nan("")}, ValueType::Int64, "fail nan"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.expected, info.index); });

Node NumericNode(ValueType type, std::optional<long double> min, std::optional<long double> max) {
    Node node;
    node.type = type;
    node.min = min;
    node.max = max;
    return node;
}

TEST(Generators, CounterWrapsFromMaxToMin) {
    std::mt19937_64 random(1);
    const Node node = NumericNode(ValueType::Int32, 2, 4);
    EXPECT_EQ(NextElement(Generator::Counter, 3, node, random), 4);
    EXPECT_EQ(NextElement(Generator::Counter, 4, node, random), 2);
    const Node unbounded = NumericNode(ValueType::UInt32, std::nullopt, std::nullopt);
    EXPECT_EQ(NextElement(Generator::Counter, 4294967295.0L, unbounded, random), 0);
}

TEST(Generators, RampClimbsInTwentyStepsThenStartsOver) {
    std::mt19937_64 random(1);
    const Node node = NumericNode(ValueType::Double, 0, 10);
    EXPECT_EQ(NextElement(Generator::Ramp, 0, node, random), 0.5L);
    EXPECT_EQ(NextElement(Generator::Ramp, 10, node, random), 0);
}

TEST(Generators, ToggleFlips) {
    std::mt19937_64 random(1);
    const Node node = NumericNode(ValueType::Bool, std::nullopt, std::nullopt);
    EXPECT_EQ(NextElement(Generator::Toggle, 0, node, random), 1);
    EXPECT_EQ(NextElement(Generator::Toggle, 1, node, random), 0);
}

TEST(Generators, RandomWalkStaysWithinTheBounds) {
    std::mt19937_64 random(7);
    const Node node = NumericNode(ValueType::Double, 20, 21);
    long double v = 20.5;
    bool moved = false;
    for (int i = 0; i < 5000; ++i) {
        const long double next = NextElement(Generator::RandomWalk, v, node, random);
        ASSERT_GE(next, 20);
        ASSERT_LE(next, 21);
        moved = moved || next != v;
        v = next;
    }
    EXPECT_TRUE(moved);
}

}  // namespace
}  // namespace velnor::server
