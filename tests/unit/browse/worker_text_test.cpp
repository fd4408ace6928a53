// The texts the worker reads and writes: level dumps, edits, value texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "browse/value_text.h"
#include "browse/worker.h"
#include "mci/mci.h"

namespace browse {
namespace {

ChildRow Row(const char* name, int type, std::uint32_t flags, std::uint32_t size = 1) {
    ChildRow row;
    row.facts.name = name;
    row.facts.path = std::string("p.") + name;
    row.facts.type = type;
    row.facts.flags = flags;
    row.facts.size = size;
    return row;
}

TEST(LevelDump, ValuesAreMatchedToTheChildrenByNameAndType) {
    using namespace mci::enums;
    std::vector<ChildRow> children = {Row("serial", eString, mci::eReadable), Row("coeffs", eInt32, mci::eReadable | mci::eArray, 4),
                                      Row("reset", eNoValue, mci::eExecutable), Row("adc", eNoValue, mci::eSignal),
                                      Row("odd = name", eString, mci::eReadable), Row("plain", eNoValue, 0)};
    const std::string dump =
        "p\n"
        "  serial [string] = VB = 1\n"
        "  coeffs [int32[4]] = [0,1,2,3]\n"
        "  reset [function]\n"
        "  adc [signal]\n"
        "  odd = name [string] = x\\ny\n"
        "  plain\n";
    ASSERT_TRUE(ValuesFromLevelDump(dump, children));
    EXPECT_EQ(children[0].value, "VB = 1");
    EXPECT_EQ(children[1].value, "[0,1,2,3]");
    EXPECT_FALSE(children[2].hasValue);
    EXPECT_FALSE(children[3].hasValue);
    EXPECT_EQ(children[4].value, "x\\ny");
    EXPECT_FALSE(children[5].hasValue);
}

TEST(LevelDump, ATextThatDoesNotFitTheChildrenIsRefused) {
    using namespace mci::enums;
    struct Case {
        const char* name;
        std::string dump;
    };
    const Case cases[] = {
        {"another name", "p\n  other [string] = a\n"},
        {"another type", "p\n  name [int32] = 1\n"},
        {"a line too few", "p\n"},
        {"a line too many", "p\n  name [string] = a\n  more [string] = b\n"},
        {"a value split over lines", "p\n  name [string] = a\nb\n"},
    };
    for (const auto& c : cases) {
        std::vector<ChildRow> children = {Row("name", eString, mci::eReadable)};
        EXPECT_FALSE(ValuesFromLevelDump(c.dump, children)) << c.name;
    }
}

TEST(Edit, AnElementSelectionOnlyOnArrays) {
    struct Case {
        std::string text;
        bool isArray;
        std::string index;
        std::string value;
    };
    const Case cases[] = {
        {"[1,3:5]=7", true, "[1,3:5]", "7"},
        {"[1:2]=7,8", true, "[1:2]", "7,8"},
        {"[1]=", true, "[1]", ""},
        {"[1]=x", false, "", "[1]=x"},
        {"[a] text", true, "", "[a] text"},
        {"7,8", true, "", "7,8"},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        const EditParts parts = SplitEdit(c.text, c.isArray);
        EXPECT_EQ(parts.index, c.index) << c.text;
        EXPECT_EQ(parts.value, c.value) << c.text;
    }
}

TEST(ValueText, AsAccessPrintsAndCutAsTheRegistryCuts) {
    EXPECT_EQ(ValueText(istd::Any::Scalar(1.0 / 3), 0), "0.333333333333333");
    EXPECT_EQ(ValueText(istd::Any::Scalar(0.1f), 0), "0.1");
    EXPECT_EQ(ValueText(istd::Any::Scalar(std::numeric_limits<double>::quiet_NaN()), 0), "nan");
    EXPECT_EQ(ValueText(istd::Any::Scalar(-std::numeric_limits<double>::infinity()), 0), "-inf");
    EXPECT_EQ(ValueText(istd::Any::Scalar(std::numeric_limits<long long>::min()), 0), "-9223372036854775808");
    EXPECT_EQ(ValueText(istd::Any::Scalar(std::numeric_limits<unsigned long long>::max()), 0), "18446744073709551615");
    EXPECT_EQ(ValueText(istd::Any(std::vector<bool>{true, false}, true), 0), "[true,false]");
    EXPECT_EQ(ValueText(istd::Any(std::vector<int>{7}, true), 0), "[7]");
    EXPECT_EQ(ValueText(istd::Any::Scalar(std::string("0123456789")), 4), "0123...");
    EXPECT_EQ(ValueText(istd::Any::Scalar(std::string("\xC3\xA9\xC3\xA9\xC3\xA9")), 2), "\xC3\xA9\xC3\xA9...");
    // A huge array is formatted only as far as it is shown.
    const istd::Any huge(std::vector<unsigned int>(1u << 22, 4000000000u), true);
    EXPECT_EQ(ValueText(huge, 25), "[4000000000,4000000000,40...");
}

TEST(ValueText, EditTextIsWhatAccessTakesBack) {
    EXPECT_EQ(EditText(istd::Any(std::vector<double>{0.5, 0.25}, true)), "0.5,0.25");
    EXPECT_EQ(EditText(istd::Any::Scalar(std::string("a,b"))), "a,b");
    EXPECT_EQ(EditText(istd::Any::Scalar(-7)), "-7");
    EXPECT_EQ(EditText(istd::Any(std::vector<int>{}, true)), "");
}

TEST(ValueText, ClockTextIsTheTimeOfDayToTheMillisecond) {
    const auto epoch = std::chrono::system_clock::time_point{};
    EXPECT_EQ(ClockText(epoch + std::chrono::hours(49) + std::chrono::milliseconds(61001)), "01:01:01.001");
    EXPECT_EQ(ClockText(epoch + std::chrono::milliseconds(86399999)), "23:59:59.999");
}

}  // namespace
}  // namespace browse
