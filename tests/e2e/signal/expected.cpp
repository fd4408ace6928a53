#include "expected.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace signal_test {

namespace {

// The README defines the counting signals: element j of the atom at
// position p is k = p * components + j, "wrapped to the element type".
// Written out: an integer type of b bits holds k modulo 2^b, read as two's
// complement when the type is signed; a floating type holds k itself. The
// texts and bytes below follow that definition directly.
struct CounterType {
    std::string name;
    unsigned bits;
    bool isSigned;
    bool isFloating;
};

// The decimal text of element k.
std::string CounterText(const CounterType& type, std::uint64_t k) {
    char text[64];
    if (type.isFloating) {
        // Exact while k fits the mantissa, which the tests' ranges keep to.
        if (k >= (std::uint64_t{1} << (type.bits == 32 ? 24 : 53)))
            throw std::out_of_range("counter element beyond the exact range of " + type.name);
        std::snprintf(text, sizeof text, "%llu.000000", static_cast<unsigned long long>(k));
        return text;
    }
    const std::uint64_t modulus_1 = type.bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << type.bits) - 1;
    const std::uint64_t r = k & modulus_1;  // k modulo 2^bits
    const std::uint64_t half = std::uint64_t{1} << (type.bits - 1);
    if (type.isSigned && r >= half) {
        // r - 2^bits, written as minus its distance to 2^bits.
        const std::uint64_t below = modulus_1 - r + 1;
        std::snprintf(text, sizeof text, "-%llu", static_cast<unsigned long long>(below));
    } else {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(r));
    }
    return text;
}

// The bytes of element k as the machine (little-endian, IEEE 754) stores them.
std::string CounterBytes(const CounterType& type, std::uint64_t k) {
    std::string bytes;
    if (type.isFloating) {
        if (type.bits == 64) {
            const double value = static_cast<double>(k);
            bytes.assign(reinterpret_cast<const char*>(&value), sizeof value);
        } else {
            const float value = static_cast<float>(k);
            bytes.assign(reinterpret_cast<const char*>(&value), sizeof value);
        }
        return bytes;
    }
    for (unsigned i = 0; i < type.bits / 8; ++i) bytes += static_cast<char>((k >> (8 * i)) & 0xff);
    return bytes;
}

std::string TextField(const std::string& text) {
    char field[420];
    std::snprintf(field, sizeof field, "%11s  ", text.c_str());
    return field;
}

std::string Render(const CounterType& type, Format format, std::uint64_t first, std::uint64_t count,
                   std::uint32_t components) {
    std::string out;
    for (std::uint64_t p = first; p < first + count; ++p) {
        for (std::uint32_t j = 0; j < components; ++j) {
            const std::uint64_t k = p * components + j;
            if (format == Format::Binary) {
                out += CounterBytes(type, k);
            } else if (format == Format::Csv) {
                out += CounterText(type, k);
                if (j + 1 < components) out += ",";
            } else {
                out += TextField(CounterText(type, k));
            }
        }
        if (format != Format::Binary) out += "\n";
    }
    return out;
}

const std::vector<CounterType> c_counterTypes = {
    {"double", 64, true, true}, {"float", 32, true, true},  {"uint64", 64, false, false}, {"int64", 64, true, false},
    {"uint32", 32, false, false}, {"int32", 32, true, false}, {"uint16", 16, false, false}, {"int16", 16, true, false},
    {"uint8", 8, false, false},   {"int8", 8, true, false},
};

}  // namespace

const std::vector<AtomType>& AtomTypes() {
    static const std::vector<AtomType> types = [] {
        std::vector<AtomType> all;
        for (const CounterType& type : c_counterTypes) {
            all.push_back(AtomType{type.name, [type](Format format, std::uint64_t first, std::uint64_t count,
                                                     std::uint32_t components) {
                                       return Render(type, format, first, count, components);
                                   }});
        }
        return all;
    }();
    return types;
}

const AtomType& TypeNamed(const std::string& name) {
    for (const AtomType& type : AtomTypes())
        if (type.name == name) return type;
    throw std::invalid_argument(name);
}

std::string Header(Format format, const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (format == Format::Csv) {
            out += names[i];
            if (i + 1 < names.size()) out += ",";
        } else {
            out += TextField(names[i]);
        }
    }
    return out + "\n";
}

velnor::test::RunResult RunRove(const velnor::test::RegistryServer& server, std::vector<std::string> args) {
    args.insert(args.begin(), "signal");
    return velnor::test::Rove(server, args);
}

std::unique_ptr<velnor::test::Child> StartRove(const velnor::test::RegistryServer& server,
                                               std::vector<std::string> args,
                                               const velnor::test::RunOptions& options) {
    args.insert(args.begin(), {velnor::test::BinPath("velnor-rove"), "signal", "--port", server.PortText()});
    return std::make_unique<velnor::test::Child>(args, options);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool HasShape(const std::string& text, const std::string& pattern) {
    std::size_t t = 0;
    for (char c : pattern) {
        if (c == '9') {
            if (t >= text.size() || !std::isdigit(static_cast<unsigned char>(text[t]))) return false;
            while (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t]))) ++t;
        } else {
            if (t >= text.size() || text[t] != c) return false;
            ++t;
        }
    }
    return t == text.size();
}

}  // namespace signal_test
