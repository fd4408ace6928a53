// The printers write exactly what iostream formatting gives (fixed notation,
// 6 decimals, fields of 11 characters), with 8-bit atoms as numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "rove_signal.h"
#include "rove_signal_output.h"

namespace {

// Runs `write` with a temporary file and gives what it wrote.
template <class F>
std::string Captured(F&& write) {
    std::FILE* file = std::tmpfile();
    write(file);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    return text;
}

template <class T>
void Reference(std::ostream& os, T value) {
    if constexpr (sizeof(T) == 1)
        os << static_cast<int>(value);
    else if constexpr (std::is_same_v<T, float>)
        os << static_cast<double>(value);
    else
        os << value;
}

// What the stream formatting of the same atoms gives.
template <class T>
std::string IostreamText(const std::vector<T>& elements, std::uint32_t components, bool csv) {
    std::ostringstream os;
    os << std::fixed;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::uint32_t j = static_cast<std::uint32_t>(i % components);
        if (csv) {
            Reference(os, elements[i]);
            if (j + 1 < components) os << ",";
        } else {
            os << std::setw(11);
            Reference(os, elements[i]);
            os << "  ";
        }
        if (j + 1 == components) os << "\n";
    }
    return os.str();
}

template <class T>
std::string Printed(std::vector<T> elements, std::uint32_t components, std::int32_t format) {
    RoveTraits<T> traits(components, {});
    const auto atoms = static_cast<std::uint32_t>(elements.size() / components);
    isig::Array<RoveTraits<T>> array(traits, elements.data(), atoms);
    return Captured([&](std::FILE* file) { signal_output::WriteSignalData(file, format, array, atoms); });
}

// Whole atoms only: a partial last atom is left out of the comparison.
template <class T>
void ExpectLikeIostream(std::vector<T> elements, std::uint32_t components) {
    elements.resize(elements.size() / components * components);
    EXPECT_EQ(Printed(elements, components, eFormatText), IostreamText(elements, components, false));
    EXPECT_EQ(Printed(elements, components, eFormatCsv), IostreamText(elements, components, true));
}

template <class T>
std::vector<T> Extremes() {
    using L = std::numeric_limits<T>;
    return {L::min(), L::max(), T(0), T(1), static_cast<T>(L::max() / 3), static_cast<T>(L::min() / 7)};
}

TEST(PrintSignalData, IntegersLikeIostream) {
    ExpectLikeIostream(Extremes<short>(), 2);
    ExpectLikeIostream(Extremes<unsigned short>(), 3);
    ExpectLikeIostream(Extremes<int>(), 2);
    ExpectLikeIostream(Extremes<unsigned int>(), 1);
    ExpectLikeIostream(Extremes<long long>(), 2);
    ExpectLikeIostream(Extremes<unsigned long long>(), 3);
}

TEST(PrintSignalData, EightBitAtomsAreNumbers) {
    ExpectLikeIostream(std::vector<signed char>{65, -1, 10, 0, -128, 127}, 2);
    ExpectLikeIostream(std::vector<unsigned char>{65, 255, 10, 0}, 4);
    EXPECT_EQ(Printed(std::vector<signed char>{65, -1, 10, 0}, 4, eFormatCsv), "65,-1,10,0\n");
}

TEST(PrintSignalData, FloatingValuesLikeIostream) {
    using D = std::numeric_limits<double>;
    ExpectLikeIostream(std::vector<double>{1.5, -0.0, 0.0, D::quiet_NaN(), -D::quiet_NaN(), D::infinity(),
                                           -D::infinity(), D::max(), D::lowest(), D::denorm_min(), 0.0000005,
                                           0.0000015, 123456.7890125, -2.5e-7, 1e22, 9999.9999995},
                       2);
    using F = std::numeric_limits<float>;
    ExpectLikeIostream(std::vector<float>{1.1f, -0.0f, F::quiet_NaN(), F::infinity(), F::max(), F::lowest(),
                                          F::denorm_min(), 3.14159274f},
                       4);
    EXPECT_EQ(Printed(std::vector<double>{1.5}, 1, eFormatText), "   1.500000  \n");
}

TEST(PrintSignalData, ThreeAtomsOfTwoComponents) {
    const std::vector<int> elements{1, -2, 30, 400, 5000, -60000};
    EXPECT_EQ(Printed(elements, 2, eFormatText),
              "          1           -2  \n         30          400  \n       5000       -60000  \n");
    EXPECT_EQ(Printed(elements, 2, eFormatCsv), "1,-2\n30,400\n5000,-60000\n");
}

TEST(PrintSignalData, CountBeyondTheAtomsIsRefused) {
    std::vector<int> elements{1, 2};
    RoveTraits<int> traits(1, {});
    isig::Array<RoveTraits<int>> array(traits, elements.data(), 2);
    EXPECT_THROW(Captured([&](std::FILE* file) { signal_output::WriteSignalData(file, eFormatText, array, 3); }),
                 istd::Exception);
    EXPECT_EQ(Captured([&](std::FILE* file) { signal_output::WriteSignalData(file, eFormatText, array, 0); }), "");
}

// Blocks larger than the output buffer come out whole.
TEST(PrintSignalData, LargeBlockLikeIostream) {
    std::vector<double> elements(40000);
    for (std::size_t i = 0; i < elements.size(); ++i) elements[i] = std::sin(static_cast<double>(i)) * 1e6;
    ExpectLikeIostream(elements, 4);
}

TEST(PrintSignalData, EveryInt16AndUint16LikeIostream) {
    std::vector<short> all16;
    std::vector<unsigned short> allU16;
    for (int v = -32768; v <= 32767; ++v) all16.push_back(static_cast<short>(v));
    for (int v = 0; v <= 65535; ++v) allU16.push_back(static_cast<unsigned short>(v));
    ExpectLikeIostream(all16, 4);
    ExpectLikeIostream(allU16, 4);
}

// Texts of 10, 11 and 12 characters: the field holds the first two, the
// third widens it.
TEST(PrintSignalData, ValuesAroundTheFieldWidthLikeIostream) {
    ExpectLikeIostream(std::vector<double>{999.999999, -999.999999, 9999.999999, -9999.999999, 99999.999999,
                                           -1000.0, 10000.0, 12345678.5, -99999999.25},
                       3);
    ExpectLikeIostream(std::vector<long long>{9999999999LL, -999999999LL, -9999999999LL, 10000000000LL,
                                              -10000000000LL, 99999999999LL},
                       2);
    ExpectLikeIostream(std::vector<unsigned long long>{9999999999ULL, 10000000000ULL, 99999999999ULL}, 3);
    ExpectLikeIostream(std::vector<int>{-2147483647 - 1, 2147483647, -999999999, -1000000000}, 2);
}

// Values at and next to the ties of the sixth decimal: the exact decimal
// value decides, ties go to even.
TEST(PrintSignalData, DoublesNextToRoundingTiesLikeIostream) {
    std::vector<double> values{0.0078125, -0.0078125, 0.0000005, 1.0000005, 2.5e-7, 0.5e-6, 1.5e-6, 2.5e-6};
    for (int k = 0; k < 2000; ++k) {
        const double tie = (k * 7919 % 100000000 + 0.5) / 1e6;  // up to 100 integer digits of micro units
        for (double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)}) {
            values.push_back(v);
            values.push_back(-v);
        }
    }
    for (int e = -20; e <= 0; ++e) values.push_back(std::ldexp(3.0, e));  // exact binary ties
    const double limit = 17592186044416.0 / 1e6;                          // where the fast path ends
    for (double v : {limit, std::nextafter(limit, 0.0), std::nextafter(limit, 1e300)}) {
        values.push_back(v);
        values.push_back(-v);
    }
    ExpectLikeIostream(values, 4);
}

TEST(PrintSignalData, RandomDoublesOfEveryMagnitudeLikeIostream) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 16);
    std::vector<double> values;
    std::vector<float> floats;
    for (int i = 0; i < 100000; ++i) {
        const double v = mantissa(random) * std::pow(10.0, exponent(random)) * (i % 2 ? -1 : 1);
        values.push_back(v);
        floats.push_back(static_cast<float>(v));
    }
    ExpectLikeIostream(values, 4);
    ExpectLikeIostream(floats, 4);
}

TEST(PrintHeaderTest, TextCsvAndEmpty) {
    const std::vector<std::string> names{"x", "a-much-longer-name", "y"};
    EXPECT_EQ(Captured([&](std::FILE* f) { signal_output::WriteHeader(f, eFormatText, names); }),
              "          x  a-much-longer-name            y  \n");
    EXPECT_EQ(Captured([&](std::FILE* f) { signal_output::WriteHeader(f, eFormatCsv, names); }),
              "x,a-much-longer-name,y\n");
    EXPECT_EQ(Captured([&](std::FILE* f) { signal_output::WriteHeader(f, eFormatText, {}); }), "\n");
}

TEST(DumpSignalDataTest, RawBytesInHostOrder) {
    const std::vector<short> elements{1, -1, 256};
    const std::string bytes =
        Captured([&](std::FILE* f) { EXPECT_EQ(signal_output::WriteSignalBytes(f, elements.data(), 2, 3), 3); });
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(elements.data()), 6));
}

TEST(DumpSignalDataTest, FailedWriteThrows) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    const std::vector<char> block(100000, 'x');
    EXPECT_THROW(signal_output::WriteSignalBytes(full, block.data(), 1, 100000), istd::Exception);
    std::fclose(full);
}

TEST(StatisticsLines, PairsItemsByName) {
    const isig::SignalStatistics first{{"queue", 10, 1, 4}};
    const isig::SignalStatistics last{{"stream", 500, 0, 4}, {"queue", 110, 3, 4}};
    std::ostringstream os;
    signal_output::WriteStatistics(os, first, last, 2000000);
    EXPECT_EQ(os.str(),
              "seconds, name, total, rejected, atoms/s, bytes/s\n"
              "2.000000, queue, 100, 2, 50.000000, 200.000000\n");
}

}  // namespace
