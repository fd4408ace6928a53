// Item conversions of value texts: a malformed item fails, it never turns
// into a different number.
#include <gtest/gtest.h>

#include <limits>

#include <string>

#include "istd/convert.h"
#include "istd/exception.h"
#include "rove_values.h"
#include "support/case_name.h"

namespace {

template <class T>
std::string FailureOf(const std::string& item) {
    try {
        ConvertItem<T>(item);
    } catch (const istd::Exception& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(ConvertItem, IntegersDecimalAndHex) {
    EXPECT_EQ(ConvertItem<int>("5"), 5);
    EXPECT_EQ(ConvertItem<int>("-5"), -5);
    EXPECT_EQ(ConvertItem<int>("0x10"), 16);
    EXPECT_EQ(ConvertItem<int>("0xFFFFFFFF"), -1);
    EXPECT_EQ(ConvertItem<int>("0x7fffffff"), 2147483647);
    EXPECT_EQ(ConvertItem<unsigned int>("0xffffffff"), 4294967295u);
    EXPECT_EQ(ConvertItem<unsigned int>("0x00000000000010"), 16u);
    EXPECT_EQ(ConvertItem<long long>("0xFFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(ConvertItem<long long>("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ConvertItem<unsigned long long>("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(ConvertItem<unsigned long long>("0xaBcDeF"), 0xabcdefu);
}

struct FailCase {
    const char* item;
    const char* message;
};

class IntFailures : public ::testing::TestWithParam<FailCase> {};
TEST_P(IntFailures, Message) { EXPECT_EQ(FailureOf<int>(GetParam().item), GetParam().message); }
INSTANTIATE_TEST_SUITE_P(
    Table, IntFailures,
    ::testing::Values(FailCase{"0x1fz", "Bad hex cast from 0x1fz to unsigned int"},
                      FailCase{"0x10,0x20", "Bad hex cast from 0x10,0x20 to unsigned int"},
                      FailCase{"0x100000000", "Bad hex cast from 0x100000000 to unsigned int"},
                      FailCase{"0x-1", "Bad hex cast from 0x-1 to unsigned int"},
                      FailCase{"0x 1", "Bad hex cast from 0x 1 to unsigned int"},
                      FailCase{"0x1\n", "Bad hex cast from 0x1\n to unsigned int"},
                      FailCase{"0X10", "Bad cast from 0X10 to int"}, FailCase{"0x", "Bad cast from 0x to int"},
                      FailCase{"1,2", "Bad cast from 1,2 to int"}, FailCase{" 1", "Bad cast from  1 to int"},
                      FailCase{"1\n", "Bad cast from 1\n to int"}, FailCase{"", "Bad cast from  to int"},
                      FailCase{"2147483648", "Bad cast from 2147483648 to int"},
                      FailCase{"1.5", "Bad cast from 1.5 to int"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.item, info.index); });

class UnsignedFailures : public ::testing::TestWithParam<FailCase> {};
TEST_P(UnsignedFailures, Message) { EXPECT_EQ(FailureOf<unsigned int>(GetParam().item), GetParam().message); }
INSTANTIATE_TEST_SUITE_P(Table, UnsignedFailures,
                         ::testing::Values(FailCase{"-1", "Bad cast from -1 to unsigned int"},
                                           FailCase{"-0", "Bad cast from -0 to unsigned int"},
                                           FailCase{"4294967296", "Bad cast from 4294967296 to unsigned int"},
                                           FailCase{"0xg", "Bad hex cast from 0xg to unsigned int"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.item, info.index); });

TEST(ConvertItem, SixtyFourBitFailuresNameTheirTypes) {
    EXPECT_EQ(FailureOf<long long>("0x10000000000000000"), "Bad hex cast from 0x10000000000000000 to unsigned long long");
    EXPECT_EQ(FailureOf<long long>("x"), "Bad cast from x to long long");
    EXPECT_EQ(FailureOf<unsigned long long>("-1"), "Bad cast from -1 to unsigned long long");
    EXPECT_EQ(FailureOf<unsigned long long>("0x1fz"), "Bad hex cast from 0x1fz to unsigned long long");
}

TEST(ConvertItem, Bool) {
    EXPECT_TRUE(ConvertItem<bool>("true"));
    EXPECT_FALSE(ConvertItem<bool>("false"));
    EXPECT_TRUE(ConvertItem<bool>("0x1"));
    EXPECT_FALSE(ConvertItem<bool>("0x0"));
    EXPECT_EQ(FailureOf<bool>("0x2"), "Bad hex cast from 0x2 to bool");
    EXPECT_EQ(FailureOf<bool>("0x1z"), "Bad hex cast from 0x1z to bool");
    EXPECT_EQ(FailureOf<bool>("maybe"), "Bad cast from maybe to bool");
}

TEST(ConvertItem, FloatingPointHasNoHexPrefix) {
    EXPECT_DOUBLE_EQ(ConvertItem<double>("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(ConvertItem<double>("-2e3"), -2000.0);
    EXPECT_FLOAT_EQ(ConvertItem<float>("0.1"), 0.1f);
    EXPECT_EQ(FailureOf<double>("0x10"), "Bad cast from 0x10 to double");
    EXPECT_EQ(FailureOf<double>("1.5\n"), "Bad cast from 1.5\n to double");
    EXPECT_EQ(FailureOf<float>("abc"), "Bad cast from abc to float");
    // Rounded to the nearest value of the type, but never to 0 from a number
    // that is not 0.
    EXPECT_EQ(ConvertItem<float>("1e-45"), std::numeric_limits<float>::denorm_min());
    EXPECT_EQ(ConvertItem<double>("-0e-999"), 0.0);
    EXPECT_EQ(FailureOf<float>("1e-50"), "Bad cast from 1e-50 to float");
    EXPECT_EQ(FailureOf<double>("-0.001e-400"), "Bad cast from -0.001e-400 to double");
}

TEST(ConvertItem, TextUnchanged) {
    EXPECT_EQ(ConvertItem<std::string>("a,b\n"), "a,b\n");
    EXPECT_EQ(ConvertItem<std::string>("0x1fz"), "0x1fz");
}

TEST(ConvertValues, StopsAtFirstFailure) {
    EXPECT_EQ(ConvertValues<int>({"1", "0x2", "-3"}), (std::vector<int>{1, 2, -3}));
    // A NUL byte in an item is shown, not cutting the message short.
    EXPECT_EQ(FailureOf<int>(std::string("2\0x", 3)), "Bad cast from 2\\0x to int");
    try {
        ConvertValues<int>({"1", "x", "y"});
        FAIL();
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "Bad cast from x to int");
    }
}

TEST(HexTo, WholeItemOnly) {
    EXPECT_EQ(istd::HexTo<std::uint32_t>("0x10"), 16u);
    EXPECT_EQ(istd::HexTo<std::uint8_t>("0xff"), 255u);
    EXPECT_THROW(istd::HexTo<std::uint8_t>("0x100"), istd::Exception);
    EXPECT_THROW(istd::HexTo<std::uint32_t>("10"), istd::Exception);
    EXPECT_THROW(istd::HexTo<std::uint32_t>("0x"), istd::Exception);
}

TEST(ToString, Decimal) {
    EXPECT_EQ(istd::ToString(0), "0");
    EXPECT_EQ(istd::ToString(-17520), "-17520");
}

}  // namespace
