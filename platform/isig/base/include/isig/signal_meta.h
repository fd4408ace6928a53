#pragma once
// Metadata of a block of atoms.
#include <cstdint>
#include <map>
#include <string>

namespace isig {

enum SignalMetaId_e : std::int32_t {
    eMetaLmt = 0,        // LMT of the first atom
    eMetaAtomCount = 1,  // atoms in the block
    eMetaPosition = 2,   // absolute position of the first atom
    eMetaEvent = 3,      // trigger event number
};

using SignalMeta = std::map<SignalMetaId_e, std::int64_t>;

// The metadata of a block that carries none.
extern const SignalMeta c_noMeta;

// "lmt", "atoms", "position", "event"; the number for other ids.
std::string ToString(SignalMetaId_e id);
// "lmt: 1200, atoms: 4, position: 300" in id order; "no metadata" when empty.
std::string ToString(const SignalMeta& meta);

}  // namespace isig
