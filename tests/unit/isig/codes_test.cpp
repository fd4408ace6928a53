#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

#include "isig/access_mode.h"
#include "isig/codes.h"
#include "isig/signal_meta.h"
#include "isig/signal_traits.h"

namespace isig {
namespace {

template <class T>
std::string Text(T value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

TEST(Codes, SuccessCodesAreWrittenWithNumberAndMeaning) {
    const struct {
        SuccessCode_e code;
        const char* text;
    } cases[] = {
        {eSuccess, "0 (success)"},
        {eOtherMode, "-1 (open in another mode)"},
        {eNoData, "-2 (no data yet)"},
        {eClosed, "-4 (closed or interrupted)"},
        {eQueueClosed, "-5 (queue closed)"},
        {eRemoteFailed, "-6 (remote access failed)"},
        {eFailure, "-99 (general failure)"},
        {static_cast<SuccessCode_e>(-3), "-3 (unknown code)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Text(c.code), c.text);
        EXPECT_EQ(ToString(c.code), c.text);
    }
}

TEST(Codes, StreamStatesAreWrittenByName) {
    const struct {
        StreamState state;
        const char* text;
    } cases[] = {{eIdle, "idle (0)"},         {eStarting, "starting (1)"}, {eDispatching, "dispatching (2)"},
                 {eStopping, "stopping (3)"}, {eShutdown, "shut down (4)"}, {static_cast<StreamState>(9), "unknown state (9)"}};
    for (const auto& c : cases) EXPECT_EQ(Text(c.state), c.text);
}

TEST(Codes, RemoteCodesMapOntoKnownCodesOnly) {
    const struct {
        std::int64_t value;
        SuccessCode_e code;
    } cases[] = {{0, eSuccess}, {-1, eOtherMode}, {-2, eNoData}, {-4, eClosed}, {-5, eQueueClosed},
                 {-6, eRemoteFailed}, {-99, eFailure}, {-3, eFailure}, {1, eFailure},
                 {std::numeric_limits<std::int64_t>::min(), eFailure}, {std::int64_t{1} << 32, eFailure}};
    for (const auto& c : cases) EXPECT_EQ(ToSuccessCode(c.value), c.code) << c.value;
}

TEST(Codes, AccessModesHaveTheirNamesBothWays) {
    const struct {
        AccessMode_e mode;
        const char* name;
        std::int32_t value;
    } cases[] = {{eNow, "Now", 10}, {eLmt, "Lmt", 11}, {ePosition, "Position", 12}, {eEvent, "Event", 13},
                 {eSingleEvent, "SingleEvent", 14}};
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<std::int32_t>(c.mode), c.value);
        EXPECT_STREQ(istd::EnumMap<AccessMode_e>::items.NameOf(c.mode), c.name);
        EXPECT_EQ(istd::EnumCast<AccessMode_e>(c.name), c.mode);
        EXPECT_EQ(istd::EnumCast<AccessMode_e>(std::to_string(c.value)), c.mode);
    }
    EXPECT_THROW(istd::EnumCast<AccessMode_e>("now"), istd::Exception);
    EXPECT_THROW(istd::EnumCast<AccessMode_e>("15"), istd::Exception);
}

TEST(SignalMeta, TextListsTheItemsInIdOrder) {
    EXPECT_EQ(ToString(c_noMeta), "no metadata");
    EXPECT_EQ(ToString(SignalMeta{{eMetaPosition, 300}, {eMetaLmt, -1200}, {eMetaAtomCount, 4}}),
              "lmt: -1200, atoms: 4, position: 300");
    EXPECT_EQ(ToString(SignalMeta{{eMetaEvent, 3}, {static_cast<SignalMetaId_e>(17), 1}}), "event: 3, 17: 1");
}

TEST(SignalTraits, AtomTypesHaveTheirCodesSizesAndNames) {
    EXPECT_EQ((SignalTraits<double>::c_baseEnumType), eAtomDouble);
    EXPECT_EQ((SignalTraits<float>::c_baseEnumType), eAtomFloat);
    EXPECT_EQ((SignalTraits<unsigned long long>::c_baseEnumType), eAtomUInt64);
    EXPECT_EQ((SignalTraits<long long>::c_baseEnumType), eAtomInt64);
    EXPECT_EQ((SignalTraits<unsigned int>::c_baseEnumType), eAtomUInt32);
    EXPECT_EQ((SignalTraits<int>::c_baseEnumType), eAtomInt32);
    EXPECT_EQ((SignalTraits<unsigned short>::c_baseEnumType), eAtomUInt16);
    EXPECT_EQ((SignalTraits<short>::c_baseEnumType), eAtomInt16);
    EXPECT_EQ((SignalTraits<unsigned char>::c_baseEnumType), eAtomUInt8);
    EXPECT_EQ((SignalTraits<signed char>::c_baseEnumType), eAtomInt8);
    const struct {
        std::int32_t code;
        std::uint32_t size;
        const char* name;
    } cases[] = {{1, 8, "double"}, {2, 4, "float"}, {3, 8, "uint64"}, {4, 8, "int64"}, {5, 4, "uint32"},
                 {6, 4, "int32"},  {7, 2, "uint16"}, {8, 2, "int16"},  {9, 1, "uint8"},  {10, 1, "int8"},
                 {0, 0, ""},       {-1, 0, ""},      {11, 0, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(ElementSize(c.code), c.size) << c.code;
        EXPECT_STREQ(AtomTypeName(c.code), c.name) << c.code;
    }
}

TEST(SignalTraits, RuntimeAtomNeedsComponentsThatFitThirtyTwoBits) {
    using T = SignalTraits<double>;
    EXPECT_FALSE(T().IsRuntimeAtomValid());
    EXPECT_EQ(T().GetAtomSize(), 0u);
    const T three(3, {"x", "y"});
    EXPECT_TRUE(three.IsRuntimeAtomValid());
    EXPECT_EQ(three.GetAtomSize(), 24u);
    EXPECT_EQ(three.GetComponentNames(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(T(1, {"a", "b"}).GetComponentNames(), std::vector<std::string>{"a"});
    const T huge(std::numeric_limits<std::uint32_t>::max() / 8 + 1, {});
    EXPECT_FALSE(huge.IsRuntimeAtomValid());
    EXPECT_EQ(huge.GetAtomSize(), 0u);
}

}  // namespace
}  // namespace isig
