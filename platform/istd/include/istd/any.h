#pragma once
// A registry value: a scalar or an array of one of the eight element types
// (bool, int, unsigned int, long long, unsigned long long, double, float, text).
#include <cstdint>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace istd {

class Any {
public:
    using Storage = std::variant<std::monostate, std::vector<bool>, std::vector<int>,
                                 std::vector<unsigned int>, std::vector<long long>,
                                 std::vector<unsigned long long>, std::vector<double>, std::vector<float>,
                                 std::vector<std::string>>;

    Any() = default;
    template <class T>
    Any(std::vector<T> elements, bool isArray) : m_storage(std::move(elements)), m_isArray(isArray) {}
    template <class T>
    static Any Scalar(T value) { return Any(std::vector<T>{std::move(value)}, false); }

    bool IsEmpty() const { return m_storage.index() == 0; }
    bool IsArray() const { return m_isArray; }
    std::size_t Size() const;
    const Storage& Elements() const { return m_storage; }

    template <class T>
    const std::vector<T>* As() const { return std::get_if<std::vector<T>>(&m_storage); }

    // One element as the access read writes it: bool as true/false, integers
    // in decimal, double with 15 and float with 6 significant digits in
    // general notation, text unchanged.
    std::string ElementText(std::size_t i) const;
    // A scalar as its element; an array as "[e0,e1,...]"; empty as "".
    std::string Text() const;

    bool operator==(const Any& other) const { return m_isArray == other.m_isArray && m_storage == other.m_storage; }

private:
    Storage m_storage;
    bool m_isArray = false;
};

std::ostream& operator<<(std::ostream& os, const Any& value);

// Element texts shared by every printer of values.
std::string FormatElement(bool v);
std::string FormatElement(int v);
std::string FormatElement(unsigned int v);
std::string FormatElement(long long v);
std::string FormatElement(unsigned long long v);
std::string FormatElement(double v);
std::string FormatElement(float v);
inline const std::string& FormatElement(const std::string& v) { return v; }

}  // namespace istd
