// The generators' fast paths (period tables, counters filled in one loop)
// against the element-by-element reference, across period boundaries.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "signal_generator.h"

namespace velnor::server {
namespace {

SignalInfo Info(const std::string& atom, const std::string& generator, std::uint32_t components) {
    SignalInfo info;
    info.atom = atom;
    info.generator = generator;
    for (std::uint32_t j = 0; j < components; ++j) info.components.push_back("c" + std::to_string(j));
    return info;
}

std::vector<unsigned char> Filled(const SignalGenerator& generator, std::uint64_t position, std::uint64_t count,
                                  bool computed, unsigned char poison = 0xA5) {
    std::vector<unsigned char> bytes(count * generator.AtomBytes() + 1, poison);
    if (computed)
        generator.FillComputed(position, count, bytes.data());
    else
        generator.Fill(position, count, bytes.data());
    return bytes;
}

struct Case {
    std::string atom;
    std::string generator;
    std::uint32_t components;
};

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const char* atom : {"double", "float", "uint64", "int64", "uint32", "int32", "uint16", "int16", "uint8", "int8"})
        for (const char* generator : {"counter", "ramp", "sine", "noise"})
            for (std::uint32_t components : {1u, 3u, 4u, 6u}) cases.push_back({atom, generator, components});
    return cases;
}

class GeneratorTest : public testing::TestWithParam<Case> {};

TEST_P(GeneratorTest, FillEqualsTheElementByElementDefinition) {
    const Case& c = GetParam();
    const SignalGenerator generator(Info(c.atom, c.generator, c.components));
    const std::uint64_t period = generator.PeriodAtoms() > 0 ? generator.PeriodAtoms() : 1000;
    // Blocks starting before, at and after a period's end, one spanning
    // several periods, and one far out.
    const std::uint64_t positions[] = {0, 1, period - 3, period, 2 * period + 5, (1ULL << 40) + 7};
    for (const std::uint64_t position : positions) {
        for (const std::uint64_t count : {std::uint64_t{1}, std::uint64_t{17}, 2 * period + 9}) {
            SCOPED_TRACE("position " + std::to_string(position) + ", count " + std::to_string(count));
            // The guard byte after the block must stay untouched.
            EXPECT_EQ(Filled(generator, position, count, false), Filled(generator, position, count, true));
        }
    }
}

// Far out in the signal, where a position times the component count no
// longer fits 64 bits: every byte is written (two poisons give the same
// bytes) and the fast paths still match the definition.
TEST_P(GeneratorTest, FillsEveryByteAtAnyPosition) {
    const Case& c = GetParam();
    const SignalGenerator generator(Info(c.atom, c.generator, c.components));
    constexpr std::uint64_t max = ~std::uint64_t{0};
    for (const std::uint64_t position : {(std::uint64_t{1} << 63) - 1, max / 3, max / c.components - 5, max - 40}) {
        SCOPED_TRACE("position " + std::to_string(position));
        const std::vector<unsigned char> low = Filled(generator, position, 33, false, 0x00);
        EXPECT_EQ(std::vector<unsigned char>(low.begin(), low.end() - 1),
                  [&] {
                      std::vector<unsigned char> high = Filled(generator, position, 33, false, 0xFF);
                      return std::vector<unsigned char>(high.begin(), high.end() - 1);
                  }());
        EXPECT_EQ(low, Filled(generator, position, 33, true, 0x00));
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, GeneratorTest, testing::ValuesIn(AllCases()), [](const auto& info) {
    return info.param.atom + "_" + info.param.generator + "_" + std::to_string(info.param.components);
});

struct PeriodCase {
    std::string atom;
    std::string generator;
    std::uint32_t components;
    std::uint64_t periodAtoms;
};

class PeriodTest : public testing::TestWithParam<PeriodCase> {};

TEST_P(PeriodTest, RepeatingGeneratorsKeepOnePeriod) {
    const PeriodCase& c = GetParam();
    EXPECT_EQ(SignalGenerator(Info(c.atom, c.generator, c.components)).PeriodAtoms(), c.periodAtoms);
}

INSTANTIATE_TEST_SUITE_P(Generators, PeriodTest,
                         testing::Values(PeriodCase{"int16", "counter", 4, 16384}, PeriodCase{"int16", "counter", 3, 65536},
                                         PeriodCase{"uint8", "counter", 1, 256}, PeriodCase{"int8", "counter", 6, 128},
                                         PeriodCase{"uint16", "counter", 12, 16384},
                                         // 2^16 atoms of 198 bytes exceed the table's limit: computed
                                         PeriodCase{"int16", "counter", 99, 0}, PeriodCase{"int32", "counter", 1, 0},
                                         PeriodCase{"double", "counter", 2, 0}, PeriodCase{"double", "ramp", 2, 1000},
                                         PeriodCase{"int8", "sine", 2, 500}, PeriodCase{"int32", "noise", 1, 0}),
                         [](const auto& info) {
                             return info.param.atom + "_" + info.param.generator + "_" +
                                    std::to_string(info.param.components);
                         });

// Stream blocks are slices of the table: equal to the computed atoms
// wherever the block starts in the period; blocks the table cannot hold in
// one piece are no slices.
TEST(SliceTest, EveryBlockOfTheStreamIsASliceOfTheTable) {
    for (const char* generator : {"counter", "sine", "ramp"}) {
        SignalInfo info = Info("int16", generator, 4);
        info.block = 700;
        const SignalGenerator signal(info);
        const std::uint64_t period = signal.PeriodAtoms();
        ASSERT_GT(period, 0u) << generator;
        for (const std::uint64_t position : {std::uint64_t{0}, std::uint64_t{5}, period - 1, period + 3, 7 * period - 699,
                                             (std::uint64_t{1} << 40) + 11}) {
            const unsigned char* slice = signal.Slice(position, 700);
            ASSERT_NE(slice, nullptr) << generator << " at " << position;
            const std::vector<unsigned char> computed = Filled(signal, position, 700, true);
            EXPECT_EQ(std::vector<unsigned char>(slice, slice + 700 * signal.AtomBytes()),
                      std::vector<unsigned char>(computed.begin(), computed.end() - 1))
                << generator << " at " << position;
        }
        EXPECT_EQ(signal.Slice(period - 1, 702), nullptr) << generator;
    }
    SignalInfo dod = Info("int16", "sine", 4);
    dod.access = SignalInfo::Access::Dod;
    EXPECT_EQ(SignalGenerator(dod).Slice(1, 500), nullptr);  // only the period: a block of a period fits from 0
    EXPECT_NE(SignalGenerator(dod).Slice(0, 500), nullptr);
    EXPECT_EQ(SignalGenerator(Info("int32", "counter", 1)).Slice(0, 1), nullptr);
}

TEST(CounterTest, WrapsAtTheElementWidthInsideAndAcrossBlocks) {
    const SignalGenerator generator(Info("int16", "counter", 2));
    // Atom 32767 holds elements 65534 and 65535; atom 32768 starts again at 0.
    std::int16_t elements[6];
    generator.Fill(32766, 3, reinterpret_cast<unsigned char*>(elements));
    const std::int16_t expected[6] = {-4, -3, -2, -1, 0, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(elements[i], expected[i]) << "element " << i;
}

TEST(CounterTest, ElementNumbersBeyond64Bits) {
    // Atom 2^63 - 1 of two int32 components: elements 2^64 - 2 and 2^64 - 1.
    std::int32_t ints[4];
    SignalGenerator(Info("int32", "counter", 2)).Fill((std::uint64_t{1} << 63) - 1, 2, reinterpret_cast<unsigned char*>(ints));
    EXPECT_EQ(std::vector<std::int32_t>(ints, ints + 4), (std::vector<std::int32_t>{-2, -1, 0, 1}));
    // Floating counters hold k itself: 2^64 + j, not k modulo 2^64.
    double doubles[4];
    SignalGenerator(Info("double", "counter", 4)).Fill(std::uint64_t{1} << 62, 1, reinterpret_cast<unsigned char*>(doubles));
    for (double d : doubles) EXPECT_EQ(d, 18446744073709551616.0);
}

TEST(GeneratorNameTest, UnknownGeneratorIsRefused) {
    EXPECT_THROW(SignalGenerator(Info("int16", "square", 1)), std::invalid_argument);
}

}  // namespace
}  // namespace velnor::server
