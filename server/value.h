#pragma once
// Typed node values as the server keeps them, independent of CORBA.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "istd/any.h"

namespace velnor::server {

// Type codes shared with the client (0 no value ... 9 enumeration).
enum class ValueType : std::int16_t {
    None = 0,
    Bool = 1,
    Int32 = 2,
    UInt32 = 3,
    Int64 = 4,
    UInt64 = 5,
    Double = 6,
    Float = 7,
    String = 8,
    Enum = 9,
};

// The element vectors of istd::Any, so that texts come out as the client's.
// Enumerations are kept as their names (std::string).
using Elements = istd::Any::Storage;

static_assert(sizeof(int) == 4 && sizeof(long long) == 8, "element widths");

// "int32", ... as written in tree files; nullopt for an unknown name.
std::optional<ValueType> ValueTypeFromName(const std::string& name);
const char* ValueTypeName(ValueType type);
bool IsIntegral(ValueType type);
bool IsNumeric(ValueType type);  // integral or floating

// The variant alternative index that holds elements of `type` (enum -> string).
std::size_t StorageIndex(ValueType type);
// An element vector of `type` with `count` default elements.
Elements MakeElements(ValueType type, std::size_t count);
std::size_t ElementCount(const Elements& elements);

// Text of element i, formatted like the client's access read.
std::string ElementText(const Elements& elements, std::size_t i);

// Renders "[a,b,c]" for arrays or the element for scalars, stopping once the
// text is longer than `stopAfter` characters (0: never) to spare huge arrays.
std::string ValueText(const Elements& elements, bool isArray, std::size_t stopAfter);

// Cuts `text` to `maxLength` characters (UTF-8 sequences are kept whole) and
// appends "..." when it was longer; maxLength 0 keeps everything.
std::string Truncate(const std::string& text, std::uint32_t maxLength);

// A numeric element widened for range checks; nullopt for texts.
std::optional<long double> NumericElement(const Elements& elements, std::size_t i);

// False when `v` lies outside the bounds; NaN lies in no range, so it is
// outside as soon as there is a bound.
bool InRange(long double v, const std::optional<long double>& min, const std::optional<long double>& max);

// A min/max bound as shown in messages: whole numbers without decimals.
std::string BoundText(long double bound);
// "[0, 10]"; a missing side shows as -inf or inf.
std::string RangeText(const std::optional<long double>& min, const std::optional<long double>& max);

// Copies `count` elements starting at `pos` (caller checked the bounds).
Elements Slice(const Elements& elements, std::size_t pos, std::size_t count);
// Overwrites elements of `target` from `pos` with `source` of the same type.
void Splice(Elements& target, std::size_t pos, const Elements& source);

}  // namespace velnor::server
