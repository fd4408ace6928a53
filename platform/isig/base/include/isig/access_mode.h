#pragma once
// How a data-on-demand read picks its atoms, with the names the tool's
// --mode option takes.
#include <cstdint>

#include "istd/enum_map.h"

namespace isig {

enum AccessMode_e : std::int32_t {
    eNow = 10,
    eLmt = 11,
    ePosition = 12,
    eEvent = 13,
    eSingleEvent = 14,
};

}  // namespace isig

namespace istd {
template <>
inline const BiMap<isig::AccessMode_e> EnumMap<isig::AccessMode_e>::items{
    {isig::eNow, "Now"},
    {isig::eLmt, "Lmt"},
    {isig::ePosition, "Position"},
    {isig::eEvent, "Event"},
    {isig::eSingleEvent, "SingleEvent"},
};
}  // namespace istd
