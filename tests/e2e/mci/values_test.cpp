// Reads and writes of every element type against a real server.
#include <cmath>

#include "registry_fixture.h"

namespace mcitest {
namespace {

using ValuesTest = RegistryTest;

template <class T>
void ExpectRoundTrip(const std::string& path, const T& initial, const T& next) {
    SCOPED_TRACE(path);
    const mci::Node node = RegistryTest::At(path);
    T value{};
    node.Get(value, 0);
    EXPECT_EQ(value, initial);
    node.Set(std::vector<T>{next}, 0);
    T back{};
    RegistryTest::At(path).Get(back, 0);
    EXPECT_EQ(back, next);
}

TEST_F(ValuesTest, ScalarsOfEveryTypeRoundTrip) {
    ExpectRoundTrip<bool>("scalars.flag", true, false);
    ExpectRoundTrip<int>("scalars.count", -7, 2147483647);
    ExpectRoundTrip<unsigned int>("scalars.ucount", 7u, 4294967295u);
    ExpectRoundTrip<long long>("scalars.big", -9000000000LL, -9223372036854775807LL - 1);
    ExpectRoundTrip<unsigned long long>("scalars.ubig", 18000000000000000000ULL, 18446744073709551615ULL);
    ExpectRoundTrip<double>("scalars.ratio", 0.25, 1.0 / 3.0);
    ExpectRoundTrip<float>("scalars.level", 1.5f, 0.1f);
    ExpectRoundTrip<std::string>("scalars.label", "hello world", "a,b=c [x]");
    ExpectRoundTrip<std::string>("scalars.mode", "slow", "fast");
}

TEST_F(ValuesTest, HandlesCacheTypeSizeAndFlags) {
    struct Case {
        const char* path;
        mci::enums::NodeValType_e type;
        std::uint32_t size;
        bool array;
    };
    const Case cases[] = {
        {"scalars.flag", mci::enums::eBool, 1, false},     {"scalars.count", mci::enums::eInt32, 1, false},
        {"scalars.ucount", mci::enums::eUInt32, 1, false}, {"scalars.big", mci::enums::eInt64, 1, false},
        {"scalars.ubig", mci::enums::eUInt64, 1, false},   {"scalars.ratio", mci::enums::eDouble, 1, false},
        {"scalars.level", mci::enums::eFloat, 1, false},   {"scalars.label", mci::enums::eString, 1, false},
        {"scalars.mode", mci::enums::eEnum, 1, false},     {"arrays.ints", mci::enums::eInt32, 4, true},
        {"arrays.texts", mci::enums::eString, 3, true},    {"scalars", mci::enums::eNoValue, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const mci::Node node = At(c.path);
        EXPECT_EQ(node.GetValueType(), c.type);
        EXPECT_EQ(node.GetSize(), c.size);
        EXPECT_EQ(node.IsArray(), c.array);
    }
    EXPECT_TRUE(At("scalars.count").IsWritable());
    EXPECT_TRUE(At("scalars.count").IsReadable());
    EXPECT_FALSE(At("limits.readonly").IsWritable());
    EXPECT_TRUE(At("limits.fixed").IsConstant());
    EXPECT_TRUE(At("actions.bump").IsExecutable());
}

template <class T>
void ExpectArray(const std::string& path, const std::vector<T>& initial, const std::vector<T>& slice) {
    SCOPED_TRACE(path);
    const mci::Node node = RegistryTest::At(path);
    ASSERT_EQ(node.GetSize(), initial.size());
    std::vector<T> whole;
    node.Get(whole, 0, node.GetSize());
    EXPECT_EQ(whole, initial);
    // A write at position 1 changes exactly the written elements.
    node.Set(slice, 1);
    std::vector<T> expected = initial;
    std::copy(slice.begin(), slice.end(), expected.begin() + 1);
    node.Get(whole, 0, node.GetSize());
    EXPECT_EQ(whole, expected);
    std::vector<T> part;
    node.Get(part, 1, static_cast<std::uint32_t>(slice.size()));
    EXPECT_EQ(part, slice);
    T last{};
    node.Get(last, node.GetSize() - 1);
    EXPECT_EQ(last, expected.back());
}

TEST_F(ValuesTest, ArraysOfEveryTypeByPositionAndCount) {
    ExpectArray<bool>("arrays.flags", {true, false, true}, {true, false});
    ExpectArray<int>("arrays.ints", {1, 2, 3, 4}, {-8, 9});
    ExpectArray<unsigned int>("arrays.uints", {10, 20, 30}, {4000000000u});
    ExpectArray<long long>("arrays.bigs", {-5000000000LL, 0, 5000000000LL}, {7, -7});
    ExpectArray<unsigned long long>("arrays.ubigs", {1, 2}, {18446744073709551615ULL});
    ExpectArray<double>("arrays.doubles", {0.5, 1.5, 2.5}, {1e20, -0.125});
    ExpectArray<float>("arrays.floats", {0.25f, 0.75f}, {3.5f});
    ExpectArray<std::string>("arrays.texts", {"alpha", "beta", "gamma"}, {"", "delta, epsilon"});
}

TEST_F(ValuesTest, ReadsConvertWhenTheValueFits) {
    double asDouble = 0;
    At("limits.readonly").Get(asDouble, 0);
    EXPECT_EQ(asDouble, 5.0);
    long long asLong = 0;
    At("limits.readonly").Get(asLong, 0);
    EXPECT_EQ(asLong, 5);
    std::string asText;
    At("limits.gain").Get(asText, 0);
    EXPECT_EQ(asText, "1.5");
    std::vector<std::string> texts;
    At("limits.readonly").Get(texts, 0, 1);
    EXPECT_EQ(texts, std::vector<std::string>{"5"});
}

TEST_F(ValuesTest, ReadsThatDoNotFitThrow) {
    EXPECT_NE(ErrorOf([] {
                  int v;
                  At("limits.gain").Get(v, 0);  // 1.5
              }).find("does not fit int"),
              std::string::npos);
    EXPECT_NE(ErrorOf([] {
                  unsigned int v;
                  At("arrays.bigs").Get(v, 0);  // negative
              }).find("does not fit unsigned int"),
              std::string::npos);
    EXPECT_NE(ErrorOf([] {
                  double v;
                  At("limits.mode").Get(v, 0);  // "off"
              }).find("does not fit double"),
              std::string::npos);
    // The exactness rules of the server hold for reads too.
    EXPECT_NE(ErrorOf([] {
                  bool v;
                  At("limits.whole").Get(v, 0);  // 1.0
              }).find("does not fit bool"),
              std::string::npos);
    EXPECT_NE(ErrorOf([] {
                  double v;
                  At("limits.wide").Get(v, 0);  // 2^53 + 1
              }).find("does not fit double"),
              std::string::npos);
}

TEST_F(ValuesTest, ReadsOutsideTheArrayThrow) {
    const mci::Node node = At("arrays.uints");
    std::vector<unsigned int> values;
    EXPECT_FALSE(ErrorOf([&] { node.Get(values, 2, 5); }).empty());
    unsigned int one;
    EXPECT_FALSE(ErrorOf([&] { node.Get(one, 3); }).empty());
}

// Every refused write leaves the node as it was.
TEST_F(ValuesTest, RefusedWritesLeaveTheNodeUnchanged) {
    struct Case {
        const char* what;
        const char* path;
        std::function<void(const mci::Node&)> write;
    };
    const Case cases[] = {
        {"read-only", "limits.readonly", [](const mci::Node& n) { n.Set(std::vector<int>{9}, 0); }},
        {"constant", "limits.fixed", [](const mci::Node& n) { n.Set(std::vector<int>{9}, 0); }},
        {"above max", "limits.gain", [](const mci::Node& n) { n.Set(std::vector<double>{10.5}, 0); }},
        {"below min", "limits.gain", [](const mci::Node& n) { n.Set(std::vector<double>{-1}, 0); }},
        {"outside domain", "limits.mode", [](const mci::Node& n) { n.Set(std::vector<std::string>{"warp"}, 0); }},
        {"fraction to int", "limits.checked", [](const mci::Node& n) { n.Set(std::vector<double>{1.5}, 0); }},
        {"past the end", "limits.pair", [](const mci::Node& n) { n.Set(std::vector<int>{8, 9}, 1); }},
        {"text to int", "limits.checked", [](const mci::Node& n) { n.Set(std::vector<std::string>{"3x"}, 0); }},
        // Refused as the server would refuse them, not rounded on the way.
        {"integer a double cannot hold", "limits.unbounded",
         [](const mci::Node& n) { n.Set(std::vector<long long>{9007199254740993LL}, 0); }},
        {"floating to bool", "limits.switch", [](const mci::Node& n) { n.Set(std::vector<double>{1.0}, 0); }},
        // A CORBA string would end at the NUL: the text is refused, not cut.
        {"text with NUL", "scalars.label",
         [](const mci::Node& n) { n.Set(std::vector<std::string>{std::string("ab\0cd", 5)}, 0); }},
        {"texts with NUL", "arrays.texts",
         [](const mci::Node& n) { n.Set(std::vector<std::string>{"x", std::string("y\0", 2)}, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const mci::Node node = At(c.path);
        // Other tests of the suite may have written the node before.
        const std::string before = node.ToString(0);
        const std::string message = ErrorOf([&] { c.write(node); });
        // The server's (or the conversion's) text reaches the caller as it is.
        EXPECT_NE(message.find(c.path), std::string::npos) << message;
        EXPECT_EQ(node.ToString(0), before);
    }
}

TEST_F(ValuesTest, ConvenienceFormsReportFailureAsFalse) {
    std::string text;
    EXPECT_TRUE(At("limits.gain").GetValue(text));
    EXPECT_EQ(text, "1.5");
    EXPECT_FALSE(At("scalars").GetValue(text));  // no value
    EXPECT_FALSE(At("limits.readonly").SetValue(1));
    EXPECT_TRUE(At("actions.target").SetValue(17));
    int back = 0;
    At("actions.target").Get(back, 0);
    EXPECT_EQ(back, 17);
}

TEST_F(ValuesTest, TextIsCutToTheLimitByTheServer) {
    const mci::Node node = At("arrays.doubles");
    const std::string whole = node.ToString(0);
    ASSERT_GT(whole.size(), 5u);
    EXPECT_EQ(node.ToString(5), whole.substr(0, 5) + "...");
    EXPECT_EQ(node.ToString(static_cast<std::uint32_t>(whole.size())), whole);
}

TEST_F(ValuesTest, DomainAndValidator) {
    std::vector<std::string> domain;
    EXPECT_TRUE(At("limits.mode").GetDomainValues(domain));
    EXPECT_EQ(domain, (std::vector<std::string>{"off", "slow", "fast"}));
    EXPECT_FALSE(At("limits.gain").GetDomainValues(domain));
    std::string expression;
    EXPECT_TRUE(At("limits.checked").GetValidatorExpression(expression));
    EXPECT_EQ(expression, "value > 0");
    EXPECT_FALSE(At("limits.gain").GetValidatorExpression(expression));
}

TEST_F(ValuesTest, ExecuteRunsTheFunction) {
    EXPECT_FALSE(At("actions.refuse").Execute());
    EXPECT_TRUE(At("actions.bump").Execute());
    int target = 0;
    At("actions.target").Get(target, 0);
    EXPECT_EQ(target, 42);
}

}  // namespace
}  // namespace mcitest
