#pragma once
// The atoms a simulated signal produces. Every element is a pure function of
// its atom position and component, so that a reader (or a test) can tell
// exactly which atoms it got.
//
// Element k = position * components + j (component j of the atom at
// `position`), P the atom's position within the generator's period:
//   counter  k, wrapped to the element type (floating types: k itself,
//            rounded, also beyond 2^64)
//   ramp     P * (j + 1) for integers (wrapped), P / 1000 * (j + 1) for
//            floating types; period 1000 atoms
//   sine     sin(2 pi P / 500 + j pi / 2), scaled to 80 % of a signed
//            type's range, or 10 % .. 90 % of an unsigned one; period 500
//   noise    splitmix64(k modulo 2^64) wrapped (integers), uniform in
//            [-1, 1) (floating)
// Every position has its atoms: nothing here overflows, whatever the
// position, and a fill writes every byte it was given.
#include <cstdint>
#include <string>
#include <vector>

#include "tree.h"

namespace velnor::server {

// Atom type codes of the signal protocol: 1 double ... 10 int8.
enum class AtomType : std::int16_t {
    Double = 1,
    Float = 2,
    UInt64 = 3,
    Int64 = 4,
    UInt32 = 5,
    Int32 = 6,
    UInt16 = 7,
    Int16 = 8,
    UInt8 = 9,
    Int8 = 10,
};

// From the tree file's name ("int16"); throws std::invalid_argument.
AtomType AtomTypeFromName(const std::string& name);
std::uint32_t ElementBytes(AtomType type);

// One step of splitmix64: the noise generator's mixing function.
std::uint64_t SplitMix64(std::uint64_t k);

// The generator of a signal, parsed once so that filling never compares names.
enum class GeneratorKind { Counter, Ramp, Sine, Noise };

class SignalGenerator {
public:
    explicit SignalGenerator(const SignalInfo& info);

    AtomType Type() const { return m_type; }
    std::uint32_t Components() const { return m_components; }
    std::uint32_t AtomBytes() const { return m_atomBytes; }

    // Writes the atoms [position, position + count) to `out`, which has
    // room for count * AtomBytes() bytes.
    void Fill(std::uint64_t position, std::uint64_t count, unsigned char* out) const;
    // The same atoms computed one element at a time, without the period
    // table: the reference that the fast paths must match.
    void FillComputed(std::uint64_t position, std::uint64_t count, unsigned char* out) const;

    // Atoms in the cached period (0: every block is computed).
    std::uint64_t PeriodAtoms() const { return m_periodAtoms; }

    // The bytes of the atoms [position, position + count) inside the cached
    // table, or null when the table does not hold them in one piece. The
    // table holds a period and one stream block more, so that any block of
    // the signal is a slice of it and can be sent without being filled.
    const unsigned char* Slice(std::uint64_t position, std::uint64_t count) const;

private:
    void FillPeriodic(std::uint64_t position, std::uint64_t count, unsigned char* out) const;

    AtomType m_type;
    GeneratorKind m_kind;
    std::uint32_t m_components;
    std::uint32_t m_atomBytes;
    // One period of atoms, ready as bytes, for the generators that repeat:
    // ramp and sine, and the counter of 8- and 16-bit atoms (it wraps), so
    // that a block costs one memcpy per period it spans.
    std::uint64_t m_periodAtoms = 0;
    std::uint64_t m_tableAtoms = 0;  // the period and the block after it (when they fit)
    std::vector<unsigned char> m_period;
};

}  // namespace velnor::server
