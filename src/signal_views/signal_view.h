#pragma once
// An output of the signal command other than the printers: the atoms of
// each block as they arrive, the end of each acquisition pass, the end of
// the run. The plot and the .npy file are views.
#include <cstdint>
#include <string>
#include <vector>

#include "isig/signal_meta.h"

namespace signal_views {

// What a view knows of the signal before its first atom.
struct SignalShape {
    std::string path;                     // the node's path
    std::int32_t atomType = 0;            // 1 double ... 10 signed 8 bits
    std::uint32_t atomBytes = 0;          // all components of one atom
    std::vector<std::string> components;  // one name per component
    bool stream = false;                  // a stream, else data on demand
};

// The name of an atom type ("double", "uint16", ...), as the tree file
// spells it; empty for a code that is no atom type.
std::string AtomTypeName(std::int32_t atomType);
// Bytes of one element of the type; 0 for a code that is no atom type.
std::uint32_t ElementBytes(std::int32_t atomType);

class SignalView {
public:
    virtual ~SignalView() = default;
    // `atoms` atoms at `elements`, of the shape's type, component after
    // component; `meta` describes the block they start.
    virtual void Atoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta) = 0;
    // One acquisition pass (a --loop repetition) is complete.
    virtual void PassDone() = 0;
    // The acquisition has ended: completely, or through a failure or an
    // interrupt. May throw istd::Exception when `complete`.
    virtual void End(bool complete) = 0;
};

}  // namespace signal_views
