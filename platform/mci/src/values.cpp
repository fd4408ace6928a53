#include "values.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "istd/exact_conversion.h"
#include "istd/exception.h"
#include "istd/strings.h"

namespace mci::detail {

namespace {

using Text = std::string;

template <class T>
constexpr bool IsInteger = std::is_integral_v<T> && !std::is_same_v<T, bool>;

// --- one element from one type to another; false when it does not fit ---
//
// Between bool, integers and floating values the shared exactness rules
// apply (istd/exact_conversion.h); texts are the library's own addition:
// a text is read as one whole number, and any element reads as its text.

template <class To>
bool FromText(const Text& from, To& to) {
    if constexpr (std::is_same_v<To, Text>) {
        to = from;
        return true;
    } else if constexpr (std::is_same_v<To, bool>) {
        if (from == "true" || from == "1") return (to = true), true;
        if (from == "false" || from == "0") return (to = false), true;
        return false;
    } else {
        // The whole text must be one number: no blanks, no trailing signs.
        if (from.empty() || std::isspace(static_cast<unsigned char>(from[0]))) return false;
        char* end = nullptr;
        errno = 0;
        if constexpr (IsInteger<To>) {
            if constexpr (std::is_signed_v<To>) {
                const long long number = std::strtoll(from.c_str(), &end, 10);
                if (errno == ERANGE || *end != '\0') return false;
                return istd::ConvertExactly(number, to);
            } else {
                if (from[0] == '-') return false;
                const unsigned long long number = std::strtoull(from.c_str(), &end, 10);
                if (errno == ERANGE || *end != '\0') return false;
                return istd::ConvertExactly(number, to);
            }
        } else {
            const long double number = std::strtold(from.c_str(), &end);
            if (*end != '\0') return false;
            return istd::ConvertExactly(number, to);
        }
    }
}

template <class To, class From>
bool ConvertElement(const From& from, To& to) {
    if constexpr (std::is_same_v<To, From>) {
        to = from;
        return true;
    } else if constexpr (std::is_same_v<From, Text>) {
        return FromText(from, to);
    } else if constexpr (std::is_same_v<To, Text>) {
        to = istd::FormatElement(from);
        return true;
    } else {
        return istd::ConvertExactly(from, to);
    }
}

// --- the union cases as plain element types ---

template <class F>
decltype(auto) VisitElements(const i_NET::Values& values, F&& visit) {
    switch (values._d()) {
        case 1: return visit(values.b(), bool{});
        case 2: return visit(values.i32(), int{});
        case 3: return visit(values.u32(), static_cast<unsigned int>(0));
        case 4: return visit(values.i64(), static_cast<long long>(0));
        case 5: return visit(values.u64(), static_cast<unsigned long long>(0));
        case 6: return visit(values.f64(), double{});
        case 7: return visit(values.f32(), float{});
        case 8: return visit(values.s(), Text{});
        default:
            throw istd::Exception("The registry sent values of unknown type " + std::to_string(values._d()), true);
    }
}

template <class E, class Seq>
E ElementAt(const Seq& seq, CORBA::ULong i) {
    if constexpr (std::is_same_v<E, Text>) {
        return Text(static_cast<const char*>(seq[i]));
    } else {
        return static_cast<E>(seq[i]);
    }
}

template <class T>
std::string TextOf(const T& value) {
    if constexpr (std::is_same_v<T, Text>) {
        return "'" + value + "'";
    } else {
        return istd::FormatElement(value);
    }
}

template <class Seq, class E>
void Fill(Seq& seq, const std::vector<E>& elements) {
    seq.length(static_cast<CORBA::ULong>(elements.size()));
    for (CORBA::ULong i = 0; i < elements.size(); ++i) {
        if constexpr (std::is_same_v<E, Text>) {
            seq[i] = CORBA::string_dup(elements[i].c_str());
        } else {
            seq[i] = elements[i];
        }
    }
}

// An element the registry sent as the caller's T, or an exception naming
// the node.
template <class T, class E>
void ConvertRead(const E& element, const NodeFacts& node, T& converted) {
    if (!ConvertElement(element, converted))
        throw istd::Exception("Value " + TextOf(element) + " of node " + node.DottedPath() + " does not fit " +
                                  istd::CppName<T>(),
                              true);
}

// A caller's element in the node's element type E, or an exception naming
// the node.
template <class E, class T>
E ConvertForNode(const T& element, const NodeFacts& node) {
    if constexpr (std::is_same_v<E, T>) {
        return element;
    } else {
        E converted{};
        if (!ConvertElement(element, converted))
            throw istd::Exception("Value " + TextOf(element) + " does not fit node " + node.DottedPath(), true);
        return converted;
    }
}

template <class E, class T>
std::vector<E> ConvertAll(const std::vector<T>& elements, const NodeFacts& node) {
    std::vector<E> out(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i)
        out[i] = ConvertForNode<E>(static_cast<const T&>(elements[i]), node);
    return out;
}

// Calls `visit` with a value of the element type the node's values travel
// in (T's own for a node without value type: the server refuses it).
template <class T, class F>
decltype(auto) VisitNodeType(const NodeFacts& node, F&& visit) {
    switch (node.valueType) {
        case enums::eBool: return visit(bool{});
        case enums::eInt32: return visit(int{});
        case enums::eUInt32: return visit(static_cast<unsigned int>(0));
        case enums::eInt64: return visit(static_cast<long long>(0));
        case enums::eUInt64: return visit(static_cast<unsigned long long>(0));
        case enums::eDouble: return visit(double{});
        case enums::eFloat: return visit(float{});
        case enums::eString:
        case enums::eEnum: return visit(Text{});
        default: return visit(T{});
    }
}

// A text travels as a CORBA string, which ends at its first NUL byte: one
// with a NUL would be stored cut short, so it is refused before sending.
void CheckSendable(const Text& text, const NodeFacts& node) {
    if (text.find('\0') != Text::npos)
        throw istd::Exception("A text for node " + node.DottedPath() + " contains a NUL byte, which it cannot carry",
                              true);
}

// Each sequence is filled inside the union: setting a filled one would
// copy it.
template <class E>
i_NET::Values Wrap(const std::vector<E>& elements) {
    i_NET::Values values;
    if constexpr (std::is_same_v<E, bool>) {
        values.b(i_NET::BoolSeq());
        Fill(values.b(), elements);
    } else if constexpr (std::is_same_v<E, int>) {
        values.i32(i_NET::LongSeq());
        Fill(values.i32(), elements);
    } else if constexpr (std::is_same_v<E, unsigned int>) {
        values.u32(i_NET::ULongSeq());
        Fill(values.u32(), elements);
    } else if constexpr (std::is_same_v<E, long long>) {
        values.i64(i_NET::LongLongSeq());
        Fill(values.i64(), elements);
    } else if constexpr (std::is_same_v<E, unsigned long long>) {
        values.u64(i_NET::ULongLongSeq());
        Fill(values.u64(), elements);
    } else if constexpr (std::is_same_v<E, double>) {
        values.f64(i_NET::DoubleSeq());
        Fill(values.f64(), elements);
    } else if constexpr (std::is_same_v<E, float>) {
        values.f32(i_NET::FloatSeq());
        Fill(values.f32(), elements);
    } else {
        values.s(i_NET::StringSeq());
        Fill(values.s(), elements);
    }
    return values;
}

}  // namespace

CORBA::Short WireCase(enums::NodeValType_e type) {
    return type == enums::eEnum ? CORBA::Short(8) : CORBA::Short(type);
}

std::uint32_t Length(const i_NET::Values& values) {
    return VisitElements(values, [](const auto& seq, auto) { return static_cast<std::uint32_t>(seq.length()); });
}

namespace {

// Element i of a sequence of E as T.
template <class T, class E, class Seq>
void ConvertAt(const Seq& seq, CORBA::ULong i, const NodeFacts& node, T& converted) {
    if constexpr (std::is_same_v<T, Text> && std::is_same_v<E, Text>) {
        converted.assign(static_cast<const char*>(seq[i]));  // no copy in between
    } else {
        ConvertRead(ElementAt<E>(seq, i), node, converted);
    }
}

}  // namespace

template <class T>
std::vector<T> FromValues(const i_NET::Values& values, const NodeFacts& node) {
    return VisitElements(values, [&](const auto& seq, auto tag) {
        std::vector<T> out(seq.length());
        for (CORBA::ULong i = 0; i < seq.length(); ++i) {
            T converted{};
            ConvertAt<T, decltype(tag)>(seq, i, node, converted);
            out[i] = std::move(converted);
        }
        return out;
    });
}

namespace {

template <class F>
decltype(auto) VisitElement(const i_NET::Value& element, F&& visit) {
    switch (element._d()) {
        case 1: return visit(static_cast<bool>(element.b()));
        case 2: return visit(static_cast<int>(element.i32()));
        case 3: return visit(static_cast<unsigned int>(element.u32()));
        case 4: return visit(static_cast<long long>(element.i64()));
        case 5: return visit(static_cast<unsigned long long>(element.u64()));
        case 6: return visit(static_cast<double>(element.f64()));
        case 7: return visit(static_cast<float>(element.f32()));
        case 8: return visit(static_cast<const char*>(element.s()));
        default:
            throw istd::Exception("The registry sent a value of unknown type " + std::to_string(element._d()), true);
    }
}

template <class E, class T>
i_NET::Value ValueAs(const T& element, const NodeFacts& node) {
    const E converted = ConvertForNode<E>(element, node);
    i_NET::Value value;
    if constexpr (std::is_same_v<E, bool>) value.b(converted);
    else if constexpr (std::is_same_v<E, int>) value.i32(converted);
    else if constexpr (std::is_same_v<E, unsigned int>) value.u32(converted);
    else if constexpr (std::is_same_v<E, long long>) value.i64(converted);
    else if constexpr (std::is_same_v<E, unsigned long long>) value.u64(converted);
    else if constexpr (std::is_same_v<E, double>) value.f64(converted);
    else if constexpr (std::is_same_v<E, float>) value.f32(converted);
    else {
        CheckSendable(converted, node);
        value.s(converted.c_str());
    }
    return value;
}

}  // namespace

template <class T>
void FromValue(const i_NET::Value& element, const NodeFacts& node, T& value) {
    VisitElement(element, [&](auto e) {
        T converted{};
        if constexpr (std::is_same_v<decltype(e), const char*>) {
            if constexpr (std::is_same_v<T, Text>) converted.assign(e);
            else ConvertRead(Text(e), node, converted);
        } else {
            ConvertRead(e, node, converted);
        }
        value = std::move(converted);
    });
}

template <class T>
i_NET::Value ToValue(const T& element, const NodeFacts& node) {
    return VisitNodeType<T>(node, [&](auto tag) { return ValueAs<decltype(tag)>(element, node); });
}

namespace {

// The elements in E's union case; no converted copy when they are E already.
template <class E, class T>
i_NET::Values WrapAs(const std::vector<T>& elements, const NodeFacts& node) {
    if constexpr (std::is_same_v<E, T>) {
        if constexpr (std::is_same_v<E, Text>)
            for (const Text& text : elements) CheckSendable(text, node);
        return Wrap(elements);
    } else {
        return Wrap(ConvertAll<E>(elements, node));
    }
}

}  // namespace

template <class T>
i_NET::Values ToValues(const std::vector<T>& elements, const NodeFacts& node) {
    return VisitNodeType<T>(node, [&](auto tag) { return WrapAs<decltype(tag)>(elements, node); });
}

istd::Any ToAny(const i_NET::Values& values, bool isArray) {
    return VisitElements(values, [&](const auto& seq, auto tag) {
        using E = decltype(tag);
        std::vector<E> elements(seq.length());
        for (CORBA::ULong i = 0; i < seq.length(); ++i) elements[i] = ElementAt<E>(seq, i);
        return istd::Any(std::move(elements), isArray);
    });
}

#define MCI_VALUES_INSTANTIATE(T)                                                                   \
    template std::vector<T> FromValues<T>(const i_NET::Values&, const NodeFacts&);                  \
    template void FromValue<T>(const i_NET::Value&, const NodeFacts&, T&);                          \
    template i_NET::Value ToValue<T>(const T&, const NodeFacts&);                                   \
    template i_NET::Values ToValues<T>(const std::vector<T>&, const NodeFacts&);
MCI_VALUES_INSTANTIATE(bool)
MCI_VALUES_INSTANTIATE(int)
MCI_VALUES_INSTANTIATE(unsigned int)
MCI_VALUES_INSTANTIATE(long long)
MCI_VALUES_INSTANTIATE(unsigned long long)
MCI_VALUES_INSTANTIATE(double)
MCI_VALUES_INSTANTIATE(float)
MCI_VALUES_INSTANTIATE(std::string)
#undef MCI_VALUES_INSTANTIATE

}  // namespace mci::detail
