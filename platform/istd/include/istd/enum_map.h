#pragma once
// Two-way tables between an enumeration's values and their names, and the
// cast from text (by name, else by number).
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "istd/exception.h"

namespace istd {

struct BimapStrCmp {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

template <class E>
class BiMap {
public:
    using Pair = std::pair<E, const char*>;

    BiMap(std::initializer_list<Pair> pairs) {
        for (const auto& p : pairs) m_description.emplace(p.first, p.second);
        for (const auto& p : pairs) {
            m_nameToValue.emplace(p.second, p.first);
            m_valueToName.emplace(p.first, p.second);
        }
        if (m_nameToValue.size() != m_description.size())
            throw Exception("invalid enum description table", true);
    }

    // Null when the value has no name.
    const char* Name(E value) const {
        auto it = m_valueToName.find(value);
        return it == m_valueToName.end() ? nullptr : it->second;
    }
    // Throws "invalid value" when the value has no name.
    const char* NameOf(E value) const {
        const char* name = Name(value);
        if (!name) throw Exception("invalid value", true);
        return name;
    }
    bool Find(const char* name, E& value) const {
        auto it = m_nameToValue.find(name);
        if (it == m_nameToValue.end()) return false;
        value = it->second;
        return true;
    }
    bool Has(E value) const { return m_description.count(value) != 0; }

    const std::map<E, const char*>& Description() const { return m_description; }
    const std::map<E, const char*>& ValueToName() const { return m_valueToName; }

private:
    std::map<E, const char*> m_description;
    std::map<const char*, E, BimapStrCmp> m_nameToValue;
    std::map<E, const char*> m_valueToName;
};

// One table per enumeration; the owner of the enumeration defines `items`.
template <class E>
struct EnumMap {
    static const BiMap<E> items;
};

// Which values a number may select (a name selects every value); an
// enumeration's owner narrows it by specialising Selects.
template <class E>
struct EnumNumbered {
    static bool Selects(E) { return true; }
};

// By name (exact), else by the whole text read as a signed 64-bit decimal.
// A number that does not fit the 32-bit enumeration is never narrowed into
// another value: it is "Invalid enum value" like any number without a name.
template <class E>
E EnumCast(const std::string& text) {
    E value{};
    if (EnumMap<E>::items.Find(text.c_str(), value)) return value;

    if (text.empty() || text.find('\0') != std::string::npos)
        throw Exception("Invalid integer value", true);
    const char* begin = text.c_str();
    // A sign, then digits: strtoll would also skip leading blanks, which a
    // decimal read of the whole text does not.
    if (!(begin[0] == '-' || begin[0] == '+' || (begin[0] >= '0' && begin[0] <= '9')))
        throw Exception("Invalid integer value", true);
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(begin, &end, 10);
    if (errno == ERANGE || end == begin || *end != '\0')
        throw Exception("Invalid integer value", true);
    if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max())
        throw Exception("Invalid enum value", true);
    // Compared as numbers: casting a number without an enumerator to E is
    // undefined when it lies outside the values E can hold (-1 for an
    // enumeration of 0..7).
    for (const auto& entry : EnumMap<E>::items.ValueToName())
        if (static_cast<long long>(entry.first) == number && EnumNumbered<E>::Selects(entry.first)) return entry.first;
    throw Exception("Invalid enum value", true);
}

}  // namespace istd
