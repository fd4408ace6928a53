#include "isig/signal_meta.h"

#include <sstream>

namespace isig {

const SignalMeta c_noMeta{};

std::string ToString(SignalMetaId_e id) {
    switch (id) {
        case eMetaLmt: return "lmt";
        case eMetaAtomCount: return "atoms";
        case eMetaPosition: return "position";
        case eMetaEvent: return "event";
    }
    return std::to_string(static_cast<std::int32_t>(id));
}

std::string ToString(const SignalMeta& meta) {
    if (meta.empty()) return "no metadata";
    std::ostringstream text;
    const char* separator = "";
    for (const auto& [id, value] : meta) {
        text << separator << ToString(id) << ": " << value;
        separator = ", ";
    }
    return text.str();
}

}  // namespace isig
