#include "signal_generator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace velnor::server {

namespace {

constexpr double c_pi = 3.14159265358979323846;
constexpr std::uint64_t c_rampPeriod = 1000;
constexpr std::uint64_t c_sinePeriod = 500;

struct AtomName {
    const char* name;
    AtomType type;
    std::uint32_t bytes;
};

constexpr AtomName c_atomNames[] = {
    {"double", AtomType::Double, 8}, {"float", AtomType::Float, 4},   {"uint64", AtomType::UInt64, 8},
    {"int64", AtomType::Int64, 8},   {"uint32", AtomType::UInt32, 4}, {"int32", AtomType::Int32, 4},
    {"uint16", AtomType::UInt16, 2}, {"int16", AtomType::Int16, 2},   {"uint8", AtomType::UInt8, 1},
    {"int8", AtomType::Int8, 1},
};

// Integers wrap modulo 2^bits (two's complement for signed types).
template <class T>
T Wrapped(std::uint64_t k) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(k);
    } else {
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(k));
    }
}

// `unit` in [-1, 1] onto the type: floating types keep it.
template <class T>
T Scaled(double unit) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(unit);
    } else if constexpr (std::is_signed_v<T>) {
        const long double top = static_cast<long double>(std::numeric_limits<T>::max());
        return static_cast<T>(std::llround(static_cast<double>(0.8L * top * unit)));
    } else {
        const long double top = static_cast<long double>(std::numeric_limits<T>::max());
        return static_cast<T>((0.5L + 0.4L * unit) * top + 0.5L);
    }
}

GeneratorKind KindFromName(const std::string& name) {
    if (name == "counter") return GeneratorKind::Counter;
    if (name == "ramp") return GeneratorKind::Ramp;
    if (name == "noise") return GeneratorKind::Noise;
    if (name == "sine") return GeneratorKind::Sine;
    throw std::invalid_argument("unknown signal generator '" + name + "'");
}

template <class T>
T Noise(std::uint64_t k) {
    const std::uint64_t bits = SplitMix64(k);
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(static_cast<double>(bits >> 11) * 0x1.0p-53 * 2.0 - 1.0);
    } else {
        return Wrapped<T>(bits);
    }
}

template <class T>
T Ramp(std::uint64_t phase, std::uint32_t j) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(static_cast<double>(phase) / c_rampPeriod * (j + 1));
    } else {
        return Wrapped<T>(phase * (j + 1));
    }
}

template <class T>
T Sine(std::uint64_t phase, std::uint32_t j) {
    const double angle = 2.0 * c_pi * static_cast<double>(phase) / c_sinePeriod + j * c_pi / 2.0;
    return Scaled<T>(std::sin(angle));
}

// Counter elements of floating types hold k itself, which may need more
// than 64 bits far out in the signal.
template <class T>
void FillWideCounter(std::uint32_t components, std::uint64_t position, std::uint64_t count, T* elements) {
    using Wide = unsigned __int128;
    Wide k = static_cast<Wide>(position) * components;
    for (std::uint64_t n = count * components; n > 0; --n) *elements++ = static_cast<T>(k++);
}

// True when every element number k of the atoms [position, position +
// count) fits 64 bits.
bool ElementsFit64(std::uint32_t components, std::uint64_t position, std::uint64_t count) {
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    return position <= max - count && (components == 0 || position + count <= max / components);
}

// Element by element; the generator is chosen once per block. Positions
// only advance from `position`, so no product of a position can overflow:
// element numbers are taken modulo 2^64 (integer counters and noise wrap
// at their width anyway) and periodic generators step through their phase.
template <class T>
void FillAs(GeneratorKind kind, std::uint32_t components, std::uint64_t position, std::uint64_t count,
            unsigned char* out) {
    T* elements = reinterpret_cast<T*>(out);
    const std::uint64_t n = count * components;
    switch (kind) {
        case GeneratorKind::Counter:
            if constexpr (std::is_floating_point_v<T>) {
                if (!ElementsFit64(components, position, count)) {
                    FillWideCounter(components, position, count, elements);
                    return;
                }
            }
            for (std::uint64_t k = position * components, i = 0; i < n; ++i) *elements++ = Wrapped<T>(k++);
            return;
        case GeneratorKind::Noise:
            for (std::uint64_t k = position * components, i = 0; i < n; ++i) *elements++ = Noise<T>(k++);
            return;
        case GeneratorKind::Ramp:
            for (std::uint64_t phase = position % c_rampPeriod, a = 0; a < count; ++a) {
                for (std::uint32_t j = 0; j < components; ++j) *elements++ = Ramp<T>(phase, j);
                if (++phase == c_rampPeriod) phase = 0;
            }
            return;
        case GeneratorKind::Sine:
            for (std::uint64_t phase = position % c_sinePeriod, a = 0; a < count; ++a) {
                for (std::uint32_t j = 0; j < components; ++j) *elements++ = Sine<T>(phase, j);
                if (++phase == c_sinePeriod) phase = 0;
            }
            return;
    }
}

void FillTyped(AtomType type, GeneratorKind kind, std::uint32_t components, std::uint64_t position,
               std::uint64_t count, unsigned char* out) {
    switch (type) {
#define VELNOR_FILL_CASE(TYPE, T) \
    case AtomType::TYPE:          \
        FillAs<T>(kind, components, position, count, out); \
        return;
        VELNOR_FILL_CASE(Double, double)
        VELNOR_FILL_CASE(Float, float)
        VELNOR_FILL_CASE(UInt64, std::uint64_t)
        VELNOR_FILL_CASE(Int64, std::int64_t)
        VELNOR_FILL_CASE(UInt32, std::uint32_t)
        VELNOR_FILL_CASE(Int32, std::int32_t)
        VELNOR_FILL_CASE(UInt16, std::uint16_t)
        VELNOR_FILL_CASE(Int16, std::int16_t)
        VELNOR_FILL_CASE(UInt8, std::uint8_t)
        VELNOR_FILL_CASE(Int8, std::int8_t)
#undef VELNOR_FILL_CASE
    }
}

// A period larger than this is not worth its memory: such blocks are computed.
constexpr std::uint64_t c_maxPeriodBytes = 1u << 20;
// The period with a stream block after it, so that blocks are slices.
constexpr std::uint64_t c_maxTableBytes = 4u << 20;

// Atoms after which the generator repeats itself exactly, or 0. A counter
// of b-bit elements repeats after 2^b elements, that is after
// 2^b / gcd(components, 2^b) atoms.
std::uint64_t PeriodOf(GeneratorKind kind, AtomType type, std::uint32_t components) {
    if (kind == GeneratorKind::Ramp) return c_rampPeriod;
    if (kind == GeneratorKind::Sine) return c_sinePeriod;
    const std::uint32_t bytes = ElementBytes(type);
    const bool integer = type != AtomType::Double && type != AtomType::Float;
    if (kind != GeneratorKind::Counter || !integer || bytes > 2 || components == 0) return 0;
    std::uint64_t period = std::uint64_t{1} << (8 * bytes);
    for (std::uint32_t c = components; c % 2 == 0 && period > 1; c /= 2) period /= 2;
    return period;
}

}  // namespace

AtomType AtomTypeFromName(const std::string& name) {
    for (const AtomName& entry : c_atomNames)
        if (name == entry.name) return entry.type;
    throw std::invalid_argument("unknown atom type '" + name + "'");
}

std::uint32_t ElementBytes(AtomType type) {
    for (const AtomName& entry : c_atomNames)
        if (type == entry.type) return entry.bytes;
    return 0;
}

std::uint64_t SplitMix64(std::uint64_t k) {
    std::uint64_t z = k + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

SignalGenerator::SignalGenerator(const SignalInfo& info)
    : m_type(AtomTypeFromName(info.atom)),
      m_kind(KindFromName(info.generator)),
      m_components(static_cast<std::uint32_t>(info.components.size())),
      m_atomBytes(m_components * ElementBytes(m_type)) {
    const std::uint64_t period = PeriodOf(m_kind, m_type, m_components);
    if (period == 0 || m_atomBytes == 0 || period > c_maxPeriodBytes / m_atomBytes) return;
    m_periodAtoms = period;
    m_tableAtoms = period;
    if (info.access == SignalInfo::Access::Stream && info.block <= (c_maxTableBytes / m_atomBytes) - period)
        m_tableAtoms += info.block;
    m_period.resize(m_tableAtoms * m_atomBytes);
    FillComputed(0, m_tableAtoms, m_period.data());
}

const unsigned char* SignalGenerator::Slice(std::uint64_t position, std::uint64_t count) const {
    if (m_periodAtoms == 0) return nullptr;
    const std::uint64_t phase = position % m_periodAtoms;
    if (count > m_tableAtoms - phase) return nullptr;
    return m_period.data() + phase * m_atomBytes;
}

void SignalGenerator::Fill(std::uint64_t position, std::uint64_t count, unsigned char* out) const {
    if (m_periodAtoms > 0)
        FillPeriodic(position, count, out);
    else
        FillComputed(position, count, out);
}

void SignalGenerator::FillComputed(std::uint64_t position, std::uint64_t count, unsigned char* out) const {
    FillTyped(m_type, m_kind, m_components, position, count, out);
}

void SignalGenerator::FillPeriodic(std::uint64_t position, std::uint64_t count, unsigned char* out) const {
    std::uint64_t phase = position % m_periodAtoms;
    while (count > 0) {
        const std::uint64_t run = std::min(count, m_periodAtoms - phase);
        std::memcpy(out, m_period.data() + phase * m_atomBytes, run * m_atomBytes);
        out += run * m_atomBytes;
        count -= run;
        phase = 0;
    }
}

}  // namespace velnor::server
