#pragma once
// Layout of the atoms of a signal: element type (compile time), component
// count and names (run time).
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace isig {

// Atom type codes as a signal source reports them.
enum AtomTypeCode_e : std::int32_t {
    eAtomInvalid = -1,
    eAtomNone = 0,
    eAtomDouble = 1,
    eAtomFloat = 2,
    eAtomUInt64 = 3,
    eAtomInt64 = 4,
    eAtomUInt32 = 5,
    eAtomInt32 = 6,
    eAtomUInt16 = 7,
    eAtomInt16 = 8,
    eAtomUInt8 = 9,
    eAtomInt8 = 10,
};

template <class T> struct AtomTypeOf;
template <> struct AtomTypeOf<double> { static constexpr AtomTypeCode_e c_code = eAtomDouble; };
template <> struct AtomTypeOf<float> { static constexpr AtomTypeCode_e c_code = eAtomFloat; };
template <> struct AtomTypeOf<unsigned long long> { static constexpr AtomTypeCode_e c_code = eAtomUInt64; };
template <> struct AtomTypeOf<long long> { static constexpr AtomTypeCode_e c_code = eAtomInt64; };
template <> struct AtomTypeOf<unsigned int> { static constexpr AtomTypeCode_e c_code = eAtomUInt32; };
template <> struct AtomTypeOf<int> { static constexpr AtomTypeCode_e c_code = eAtomInt32; };
template <> struct AtomTypeOf<unsigned short> { static constexpr AtomTypeCode_e c_code = eAtomUInt16; };
template <> struct AtomTypeOf<short> { static constexpr AtomTypeCode_e c_code = eAtomInt16; };
template <> struct AtomTypeOf<unsigned char> { static constexpr AtomTypeCode_e c_code = eAtomUInt8; };
template <> struct AtomTypeOf<signed char> { static constexpr AtomTypeCode_e c_code = eAtomInt8; };

// Bytes of one element of the given type code; 0 for codes without a type.
std::uint32_t ElementSize(std::int32_t atomType);
// The name used in tree files ("int16", "double", ...); "" for codes without a type.
const char* AtomTypeName(std::int32_t atomType);

// Marks traits whose component count is known only at run time.
struct RuntimeDefined {};

template <class T, class LAYOUT = RuntimeDefined, std::uint32_t N = 1>
class SignalTraits {
public:
    using Element_t = T;
    static constexpr AtomTypeCode_e c_baseEnumType = AtomTypeOf<T>::c_code;

    // No components yet: the runtime atom is not valid.
    SignalTraits() = default;
    // Names beyond `components` are dropped.
    SignalTraits(std::uint32_t components, std::vector<std::string> names)
        : m_components(components), m_names(std::move(names)) {
        if (m_names.size() > components) m_names.resize(components);
    }

    std::uint32_t GetComponents() const { return m_components; }
    const std::vector<std::string>& GetComponentNames() const { return m_names; }
    // Bytes per atom; 0 when the runtime atom is not valid.
    std::uint32_t GetAtomSize() const {
        return IsRuntimeAtomValid() ? m_components * static_cast<std::uint32_t>(sizeof(T)) : 0;
    }
    // At least one component, and an atom small enough for 32-bit sizes.
    bool IsRuntimeAtomValid() const {
        return m_components > 0 && m_components <= std::numeric_limits<std::uint32_t>::max() / sizeof(T);
    }

private:
    std::uint32_t m_components = 0;
    std::vector<std::string> m_names;
};

}  // namespace isig
