// Value texts of the YAML files: exact texts for the cases a reader gets
// wrong, and round trips through yaml-cpp (the reader both programs use) for
// every text and floating value, sampled with a fixed seed.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "istd/yaml_text.h"
#include "support/case_name.h"

namespace {

struct TextCase {
    std::string name;
    std::string bytes;
    std::string yaml;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) { return os << c.name; }

class YamlTexts : public ::testing::TestWithParam<TextCase> {};

// The scalar read back by yaml-cpp, decoded by the rule.
std::string ReadBack(const std::string& yaml) {
    const YAML::Node node = YAML::Load("[" + yaml + "]")[0];
    return istd::YamlTextBytes(node.Tag(), node.Scalar()).value_or("<bad base64>");
}

TEST_P(YamlTexts, AreWrittenSoAndReadBackExactly) {
    EXPECT_EQ(istd::YamlText(GetParam().bytes), GetParam().yaml);
    EXPECT_EQ(ReadBack(GetParam().yaml), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, YamlTexts,
    ::testing::Values(TextCase{"empty", "", "\"\""},
                      TextCase{"quotes", "say \"hi\" \\ 'bye' # no comment", "\"say \\\"hi\\\" \\\\ 'bye' # no comment\""},
                      TextCase{"lineEnds", "a\nb\r\n\tc", "\"a\\nb\\r\\n\\tc\""},
                      TextCase{"controls", "\x01\x1f\x7f", "\"\\x01\\x1F\\x7F\""},
                      TextCase{"nul", std::string("a\0b", 3), "\"a\\x00b\""},
                      TextCase{"c1", "\xc2\x85\xc2\x9b", "\"\\u0085\\u009B\""},
                      TextCase{"separators", "\xe2\x80\xa8\xe2\x80\xa9\xef\xbb\xbf", "\"\\u2028\\u2029\\uFEFF\""},
                      TextCase{"utf8", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x98\x83 \xf0\x9f\x98\x80", "\"Gr\xc3\xbc\xc3\x9f" "e \xe2\x98\x83 \xf0\x9f\x98\x80\""},
                      TextCase{"latin1", "a\xff\xfe" "b", "!!binary \"Yf/+Yg==\""},
                      TextCase{"cutSequence", "\xe2\x98", "!!binary \"4pg=\""},
                      TextCase{"overlong", "\xc0\x80", "!!binary \"wIA=\""},
                      TextCase{"surrogate", "\xed\xa0\x80", "!!binary \"7aCA\""},
                      TextCase{"beyondUnicode", "\xf4\x90\x80\x80", "!!binary \"9JCAgA==\""}),
    velnor::test::NameOfCase());

TEST(YamlTexts, AnyBytesReadBackExactly) {
    std::mt19937 random(21);
    // Bytes biased towards the lead and continuation bytes of UTF-8, so that
    // valid and broken sequences both come up often.
    const std::string pool = "a\"\\\n\r\t\x01\x7f:#- \xc2\x85\x9b\xa8\xe2\x80\xef\xbb\xbf\xf0\x9f\xff";
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(random() % 24, ' ');
        for (char& c : bytes) c = pool[random() % pool.size()];
        ASSERT_EQ(ReadBack(istd::YamlText(bytes)), bytes) << istd::YamlText(bytes);
    }
}

TEST(YamlTexts, BadBase64IsNoText) {
    for (const char* bad : {"YWI", "YW=I", "=YWI", "YWI*", "Y===", "YW\x01I="})
        EXPECT_FALSE(istd::YamlTextBytes(istd::c_yamlBinaryTag, bad)) << bad;
    EXPECT_EQ(istd::YamlTextBytes(istd::c_yamlBinaryTag, " YW\nI= "), "ab");
    EXPECT_EQ(istd::YamlTextBytes("!", "YWI="), "YWI=");
}

template <class F>
F FromBits(std::uint64_t bits) {
    std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t> narrow = static_cast<decltype(narrow)>(bits);
    F value;
    std::memcpy(&value, &narrow, sizeof value);
    return value;
}

TEST(YamlFloating, ShortestTextsAndNaNBits) {
    EXPECT_EQ(istd::YamlFloating(0.1f), "0.1");
    EXPECT_EQ(istd::YamlFloating(std::numeric_limits<float>::denorm_min()), "1e-45");
    EXPECT_EQ(istd::YamlFloating(std::numeric_limits<float>::max()), "3.4028235e+38");
    EXPECT_EQ(istd::YamlFloating(std::numeric_limits<double>::denorm_min()), "5e-324");
    EXPECT_EQ(istd::YamlFloating(1.0 / 3), "0.3333333333333333");
    EXPECT_EQ(istd::YamlFloating(-0.0), "-0");
    EXPECT_EQ(istd::YamlFloating(-std::numeric_limits<double>::infinity()), "-.inf");
    EXPECT_EQ(istd::YamlFloating(std::numeric_limits<float>::quiet_NaN()), ".nan");
    EXPECT_EQ(istd::YamlFloating(FromBits<float>(0xffc00000)), ".nan(0xffc00000)");
    EXPECT_EQ(istd::YamlFloating(FromBits<float>(0x7f800001)), ".nan(0x7f800001)");
    EXPECT_EQ(istd::YamlFloating(FromBits<double>(0x7ff0000000000001)), ".nan(0x7ff0000000000001)");
}

struct ReadCase {
    std::string text;
    istd::FloatingText_e result;
    float value;  // when read
};

std::ostream& operator<<(std::ostream& os, const ReadCase& c) { return os << c.text; }

class ReadFloat : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadFloat, AsAFloat) {
    float value = -7;
    ASSERT_EQ(istd::ReadYamlFloating(GetParam().text, value), GetParam().result);
    if (GetParam().result != istd::FloatingText_e::eNumber) {
        EXPECT_EQ(value, -7);  // untouched
    } else if (std::isnan(GetParam().value)) {
        EXPECT_TRUE(std::isnan(value));
    } else {
        EXPECT_EQ(value, GetParam().value);
        EXPECT_EQ(std::signbit(value), std::signbit(GetParam().value));
    }
}

using istd::FloatingText_e;
const float c_inf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadFloat,
    ::testing::Values(ReadCase{"1.5", FloatingText_e::eNumber, 1.5f}, ReadCase{"+.5e1", FloatingText_e::eNumber, 5},
                      ReadCase{"5.", FloatingText_e::eNumber, 5}, ReadCase{"-0", FloatingText_e::eNumber, -0.0f},
                      ReadCase{"0e-999", FloatingText_e::eNumber, 0},
                      ReadCase{"3.4028235e38", FloatingText_e::eNumber, std::numeric_limits<float>::max()},
                      ReadCase{"1e-45", FloatingText_e::eNumber, std::numeric_limits<float>::denorm_min()},
                      ReadCase{".Inf", FloatingText_e::eNumber, c_inf}, ReadCase{"-.INF", FloatingText_e::eNumber, -c_inf},
                      ReadCase{"+.inf", FloatingText_e::eNumber, c_inf},
                      ReadCase{".NaN", FloatingText_e::eNumber, NAN}, ReadCase{".NAN", FloatingText_e::eNumber, NAN},
                      ReadCase{"3.40282357e38", FloatingText_e::eTooLarge, 0},
                      ReadCase{"-1e39", FloatingText_e::eTooLarge, 0}, ReadCase{"1e-50", FloatingText_e::eTooSmall, 0},
                      ReadCase{"-0.0000001e-40", FloatingText_e::eTooSmall, 0},
                      ReadCase{"0x10", FloatingText_e::eNoNumber, 0}, ReadCase{"nan", FloatingText_e::eNoNumber, 0},
                      ReadCase{"inf", FloatingText_e::eNoNumber, 0}, ReadCase{"-.nan", FloatingText_e::eNoNumber, 0},
                      ReadCase{".nan(0x1)", FloatingText_e::eNoNumber, 0},
                      ReadCase{".nan(0x1ffc00000)", FloatingText_e::eNoNumber, 0},
                      ReadCase{" 1", FloatingText_e::eNoNumber, 0}, ReadCase{"1e", FloatingText_e::eNoNumber, 0},
                      ReadCase{".", FloatingText_e::eNoNumber, 0}, ReadCase{"1,5", FloatingText_e::eNoNumber, 0}),
    [](const auto& info) { return velnor::test::CaseName(info.param.text, info.index); });

template <class F>
void ExpectBitsRoundTrip(std::uint64_t bits) {
    const F value = FromBits<F>(bits);
    F back{};
    ASSERT_EQ(istd::ReadYamlFloating(istd::YamlFloating(value), back), FloatingText_e::eNumber) << bits;
    ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << istd::YamlFloating(value);
}

TEST(YamlFloating, EveryBitPatternReadsBack) {
    std::mt19937_64 random(21);
    for (int round = 0; round < 20000; ++round) {
        const std::uint64_t bits = random();
        ExpectBitsRoundTrip<float>(bits);
        ExpectBitsRoundTrip<double>(bits);
        // Subnormals and values next to the largest, where digits run short.
        ExpectBitsRoundTrip<float>(bits & 0x807fffff);
        ExpectBitsRoundTrip<double>(bits & 0x800fffffffffffff);
        ExpectBitsRoundTrip<float>(0x7f7fffff - (bits & 0xff));
    }
}

}  // namespace
