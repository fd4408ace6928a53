// Element selections and the splitting of access arguments.
#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>

#include "istd/exception.h"
#include "rove_values.h"
#include "support/case_name.h"

namespace {

struct IndexCase {
    const char* text;
    std::vector<idx_t> ranges;
};

class ParseIndexesGood : public ::testing::TestWithParam<IndexCase> {};

TEST_P(ParseIndexesGood, GivesRangesInWrittenOrder) {
    EXPECT_EQ(ParseIndexes(GetParam().text), GetParam().ranges) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseIndexesGood,
    ::testing::Values(IndexCase{"", {}}, IndexCase{"[", {}}, IndexCase{"[]", {}}, IndexCase{"{1}", {}},
                      IndexCase{"[3]", {{3, 1}}}, IndexCase{"[0:4]", {{0, 5}}},
                      IndexCase{"[1,3:5]", {{1, 1}, {3, 3}}}, IndexCase{"[5,5,0]", {{5, 1}, {5, 1}, {0, 1}}},
                      IndexCase{"[,2,,]", {{2, 1}}}, IndexCase{"[4294967295]", {{4294967295u, 1}}},
                      IndexCase{"[0:4294967294]", {{0, 4294967295u}}},
                      IndexCase{"[1:4294967295]", {{1, 4294967295u}}}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

class ParseIndexesFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(ParseIndexesFormat, FailsWithFormatMessage) {
    try {
        ParseIndexes(GetParam());
        FAIL() << GetParam() << " was accepted";
    } catch (const istd::Exception& e) {
        EXPECT_STREQ(e.what(), "Wrong format of array index") << GetParam();
    }
}

// Items beginning with "-" and counts beyond 32 bits are refused: they would
// otherwise select element 4294967295 or wrap the count.
INSTANTIATE_TEST_SUITE_P(Table, ParseIndexesFormat,
                         ::testing::Values("[4:4]", "[3:1]", "[1:2:3]", "[5:]", "[:5]", "[:]", "[1,:]", "[-1]",
                                           "[-0]", "[1:-3]", "[-1:3]", "[0:4294967295]", "[2,-5]"),
    velnor::test::TextOfCase());

class ParseIndexesNumber : public ::testing::TestWithParam<const char*> {};

TEST_P(ParseIndexesNumber, FailsInNumberConversion) {
    EXPECT_THROW(ParseIndexes(GetParam()), boost::bad_lexical_cast) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Table, ParseIndexesNumber,
                         ::testing::Values("[ 1]", "[1 ]", "[x]", "[1x]", "[4294967296]", "[0x1]", "[1:2 ]",
                                           "[1.5]", "[+-1]"),
    velnor::test::TextOfCase());

TEST(IndexShape, FirstCharacterDecides) {
    EXPECT_TRUE(IsArray("[1]"));
    EXPECT_FALSE(IsArray("{1}"));
    EXPECT_FALSE(IsArray(""));
    EXPECT_TRUE(IsExec("{}"));
    EXPECT_FALSE(IsExec("[1]"));
    EXPECT_FALSE(IsExec(""));
}

struct SplitCase {
    const char* argument;
    bool setsValues;
    ArgumentUse use;
    const char* path;
    const char* value;
    const char* index;
};

class SplitArgumentTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArgumentTable, SplitsPathValueIndex) {
    const SplitCase& c = GetParam();
    AccessArgument a;
    ASSERT_EQ(SplitArgument(c.argument, c.setsValues, a), c.use) << c.argument;
    if (c.use != ArgumentUse::eUse) return;
    EXPECT_EQ(a.path, c.path) << c.argument;
    EXPECT_EQ(a.value, c.value) << c.argument;
    EXPECT_EQ(a.index, c.index) << c.argument;
}

const ArgumentUse kUse = ArgumentUse::eUse;

INSTANTIATE_TEST_SUITE_P(
    Table, SplitArgumentTable,
    ::testing::Values(SplitCase{"a.b.c", true, kUse, "a.b.c", "", ""},
                      SplitCase{"a.b.c=5", true, kUse, "a.b.c", "5", ""},
                      SplitCase{"a=b=c", true, kUse, "a", "b=c", ""},
                      SplitCase{"a=", true, kUse, "a", "", ""},
                      SplitCase{"a[2]=7", true, kUse, "a", "7", "[2]"},
                      SplitCase{"f{1 2}", true, kUse, "f", "", "{1 2}"},
                      SplitCase{"f{1 2}=3", true, ArgumentUse::eFunctionWithValue, "", "", ""},
                      SplitCase{"a=1", false, ArgumentUse::eValueNotAllowed, "", "", ""},
                      SplitCase{"a=", false, ArgumentUse::eValueNotAllowed, "", "", ""},
                      SplitCase{"a{x}[1]", true, kUse, "a{x}", "", "[1]"},
                      SplitCase{"a[1]{x}", true, kUse, "a", "", "[1]"},
                      SplitCase{"a[1]x", true, kUse, "a[1]x", "", ""},
                      SplitCase{"a]1[", true, kUse, "a]1[", "", ""},
                      SplitCase{"a[0][1]", true, kUse, "a[0]", "", "[1]"},
                      SplitCase{"a=[1]", true, kUse, "a", "[1]", ""},
                      SplitCase{"", true, kUse, "", "", ""}),
    [](const auto& info) { return velnor::test::CaseName(info.param.argument, info.index); });

}  // namespace
