#include "expected.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace signal_test {

namespace {

template <class T>
T Wrapped(std::uint64_t k) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(k);
    } else {
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(k));
    }
}

template <class T>
std::string Number(T value) {
    char text[400];
    if constexpr (std::is_floating_point_v<T>) {
        std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    } else if constexpr (std::is_signed_v<T>) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    } else {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    }
    return text;
}

std::string TextField(const std::string& text) {
    char field[420];
    std::snprintf(field, sizeof field, "%11s  ", text.c_str());
    return field;
}

template <class T>
std::string Render(Format format, std::uint64_t first, std::uint64_t count, std::uint32_t components) {
    std::string out;
    for (std::uint64_t p = first; p < first + count; ++p) {
        for (std::uint32_t j = 0; j < components; ++j) {
            const T value = Wrapped<T>(p * components + j);
            if (format == Format::Binary) {
                out.append(reinterpret_cast<const char*>(&value), sizeof value);
            } else if (format == Format::Csv) {
                out += Number(value);
                if (j + 1 < components) out += ",";
            } else {
                out += TextField(Number(value));
            }
        }
        if (format != Format::Binary) out += "\n";
    }
    return out;
}

}  // namespace

const std::vector<AtomType>& AtomTypes() {
    static const std::vector<AtomType> types = {
        {"double", &Render<double>},       {"float", &Render<float>},   {"uint64", &Render<std::uint64_t>},
        {"int64", &Render<std::int64_t>},  {"uint32", &Render<std::uint32_t>}, {"int32", &Render<std::int32_t>},
        {"uint16", &Render<std::uint16_t>}, {"int16", &Render<std::int16_t>}, {"uint8", &Render<std::uint8_t>},
        {"int8", &Render<std::int8_t>},
    };
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
