#include <gtest/gtest.h>

#include "istd/enum_map.h"
#include "support/case_name.h"

namespace {
enum Color_e { eRed = 0, eGreen = 1, eBlue = 7 };
enum Broken_e { eA = 0, eB = 1 };
}  // namespace

template <>
const istd::BiMap<Color_e> istd::EnumMap<Color_e>::items{{eRed, "red"}, {eGreen, "green"}, {eBlue, "blue"}};

namespace {

struct CastCase {
    std::string text;
    bool ok;
    Color_e value;
    std::string error;
};

class EnumCastTest : public ::testing::TestWithParam<CastCase> {};

TEST_P(EnumCastTest, ByNameElseByWholeNumber) {
    const CastCase& c = GetParam();
    if (c.ok) {
        EXPECT_EQ(istd::EnumCast<Color_e>(c.text), c.value);
        return;
    }
    try {
        istd::EnumCast<Color_e>(c.text);
        ADD_FAILURE() << "cast of '" << c.text << "' succeeded";
    } catch (const istd::Exception& e) {
        EXPECT_EQ(std::string(e.what()), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnumCastTest,
    ::testing::Values(CastCase{"green", true, eGreen, ""}, CastCase{"7", true, eBlue, ""},
                      CastCase{"0", true, eRed, ""}, CastCase{"Green", false, eRed, "Invalid integer value"},
                      CastCase{"", false, eRed, "Invalid integer value"},
                      CastCase{"1x", false, eRed, "Invalid integer value"},
                      CastCase{" 1", false, eRed, "Invalid integer value"},
                      CastCase{"+1", true, eGreen, ""}, CastCase{"+7", true, eBlue, ""},
                      CastCase{"-0", true, eRed, ""},
                      CastCase{"+", false, eRed, "Invalid integer value"},
                      CastCase{"+-1", false, eRed, "Invalid integer value"},
                      CastCase{"+ 1", false, eRed, "Invalid integer value"},
                      CastCase{"++1", false, eRed, "Invalid integer value"},
                      CastCase{"+3", false, eRed, "Invalid enum value"},
                      CastCase{"99999999999999999999", false, eRed, "Invalid integer value"},
                      CastCase{"3", false, eRed, "Invalid enum value"},
                      CastCase{"-1", false, eRed, "Invalid enum value"},
                      // above every value the enumeration can hold
                      CastCase{"8", false, eRed, "Invalid enum value"},
                      // 2^32 + 7 must not narrow to 7
                      CastCase{"4294967303", false, eRed, "Invalid enum value"},
                      CastCase{"4294967297", false, eRed, "Invalid enum value"}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

TEST(BiMap, DuplicateNameOrValueIsRefused) {
    EXPECT_THROW((istd::BiMap<Broken_e>{{eA, "x"}, {eB, "x"}}), istd::Exception);
    EXPECT_THROW((istd::BiMap<Broken_e>{{eA, "x"}, {eA, "y"}}), istd::Exception);
    try {
        istd::BiMap<Broken_e> map{{eA, "x"}, {eB, "x"}};
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "invalid enum description table");
    }
}

TEST(BiMap, NamesBothWays) {
    const auto& items = istd::EnumMap<Color_e>::items;
    EXPECT_STREQ(items.NameOf(eBlue), "blue");
    EXPECT_EQ(items.Name(static_cast<Color_e>(3)), nullptr);
    EXPECT_THROW(items.NameOf(static_cast<Color_e>(3)), istd::Exception);
}

}  // namespace
