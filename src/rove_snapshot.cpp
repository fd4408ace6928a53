#include "rove_snapshot.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include <yaml-cpp/yaml.h>

#include "istd/strings.h"

namespace {

using mci::enums::NodeValType_e;

// --- writing ---

template <class F, class Bits>
Bits BitsOf(F value) {
    static_assert(sizeof(F) == sizeof(Bits));
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <class F>
F ReadFloating(const char* text, char** end) {
    if constexpr (std::is_same_v<F, float>) return std::strtof(text, end);
    else return std::strtod(text, end);
}

// The fewest significant digits that read back to the same bits.
template <class F, class Bits>
std::string FloatingText(F value) {
    if (std::isinf(value)) return value > 0 ? ".inf" : "-.inf";
    const Bits bits = BitsOf<F, Bits>(value);
    if (std::isnan(value)) {
        if (bits == BitsOf<F, Bits>(std::numeric_limits<F>::quiet_NaN())) return ".nan";
        char hex[32];
        std::snprintf(hex, sizeof hex, ".nan(0x%0*" PRIx64 ")", static_cast<int>(sizeof(F) * 2),
                      static_cast<std::uint64_t>(bits));
        return hex;
    }
    const int least = std::numeric_limits<F>::digits10;
    char text[64];
    for (int digits = least; digits <= std::numeric_limits<F>::max_digits10; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (BitsOf<F, Bits>(ReadFloating<F>(text, nullptr)) == bits) break;
    }
    return text;
}

std::string ElementText(bool v) { return v ? "true" : "false"; }
std::string ElementText(int v) { return std::to_string(v); }
std::string ElementText(unsigned int v) { return std::to_string(v); }
std::string ElementText(long long v) { return std::to_string(v); }
std::string ElementText(unsigned long long v) { return std::to_string(v); }
std::string ElementText(double v) { return FloatingText<double, std::uint64_t>(v); }
std::string ElementText(float v) { return FloatingText<float, std::uint32_t>(v); }
std::string ElementText(const std::string& v) { return QuotedText(v); }

std::string Base64(const std::string& bytes) {
    return YAML::EncodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// Escapes whatever a YAML reader would not give back byte for byte: quotes,
// backslashes, control characters and the characters YAML takes as line
// breaks or a byte order mark.
std::string DoubleQuoted(const std::string& text) {
    std::string out = "\"";
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = istd::Utf8SequenceLength(text, i, code);
        char escape[16];
        if (code == '"') out += "\\\"";
        else if (code == '\\') out += "\\\\";
        else if (code == '\n') out += "\\n";
        else if (code == '\t') out += "\\t";
        else if (code == '\r') out += "\\r";
        else if (code < 0x20 || code == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", code);
            out += escape;
        } else if (code == 0x85 || code == 0x2028 || code == 0x2029 || code == 0xFEFF) {
            std::snprintf(escape, sizeof escape, "\\u%04X", code);
            out += escape;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + "\"";
}

std::string HeaderLine(const char* key, const std::string& value) { return std::string(key) + ": " + value + "\n"; }

// --- reading ---

int LineOf(const YAML::Node& node) { return node.Mark().line + 1; }

[[noreturn]] void Fail(const std::string& fileName, int line, const std::string& reason) {
    throw SnapshotFileError(fileName + ":" + std::to_string(line) + ": " + reason);
}

class Reader {
public:
    explicit Reader(std::string fileName) : m_file(std::move(fileName)) {}

    Snapshot Read(const std::string& text) {
        YAML::Node document;
        try {
            document = YAML::Load(text);
        } catch (const YAML::Exception& e) {
            Fail(m_file, e.mark.line + 1, e.msg);
        }
        m_lastLine = LastLine(text);
        if (!document.IsMap()) Fail(m_file, document.IsDefined() ? LineOf(document) : 1, "not a snapshot: a mapping with host, root, count and nodes is expected");
        return ReadTop(document);
    }

private:
    static int LastLine(const std::string& text) {
        int lines = 1;
        for (char c : text) lines += c == '\n';
        if (!text.empty() && text.back() == '\n') --lines;
        return lines;
    }

    // The keys of a mapping, each once, all known; their value nodes.
    std::map<std::string, YAML::Node> Keys(const YAML::Node& map, const std::set<std::string>& known) {
        std::map<std::string, YAML::Node> keys;
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!it->first.IsScalar()) Fail(m_file, LineOf(it->first), "a key must be a plain name");
            const std::string key = it->first.Scalar();
            if (!known.count(key)) Fail(m_file, LineOf(it->first), "unknown key '" + key + "'");
            if (keys.count(key)) Fail(m_file, LineOf(it->first), "duplicate key '" + key + "'");
            keys.emplace(key, it->second);
        }
        return keys;
    }

    YAML::Node Required(const std::map<std::string, YAML::Node>& keys, const char* key, const YAML::Node& owner) {
        auto it = keys.find(key);
        if (it == keys.end()) Fail(m_file, LineOf(owner), std::string("missing key '") + key + "'");
        return it->second;
    }

    std::string Text(const YAML::Node& node, const char* what) {
        if (!node.IsScalar()) Fail(m_file, LineOf(node), std::string(what) + " must be a scalar");
        if (node.Tag() == "tag:yaml.org,2002:binary") {
            const std::vector<unsigned char> bytes = YAML::DecodeBase64(node.Scalar());
            if (bytes.empty() && !node.Scalar().empty()) Fail(m_file, LineOf(node), "bad base64 text");
            return std::string(bytes.begin(), bytes.end());
        }
        return node.Scalar();
    }

    Snapshot ReadTop(const YAML::Node& document) {
        const auto keys = Keys(document, {"host", "port", "root", "version", "time", "tool", "count", "nodes"});
        Snapshot s;
        const YAML::Node host = Required(keys, "host", document);
        s.header.host = Text(host, "host");
        s.header.hostLine = LineOf(host);
        const YAML::Node root = Required(keys, "root", document);
        s.header.root = Text(root, "root");
        s.header.rootLine = LineOf(root);
        if (s.header.root != "application" && s.header.root != "platform")
            Fail(m_file, LineOf(root), "root must be application or platform");
        if (keys.count("port")) s.header.port = Number<std::int32_t>(keys.at("port"), "port");
        if (keys.count("version")) s.header.version = Text(keys.at("version"), "version");
        if (keys.count("time")) s.header.time = Text(keys.at("time"), "time");
        if (keys.count("tool")) s.header.tool = Text(keys.at("tool"), "tool");
        const YAML::Node count = Required(keys, "count", document);
        const auto expected = Number<std::uint32_t>(count, "count");
        const YAML::Node nodes = Required(keys, "nodes", document);
        if (nodes.IsNull()) {
            // "nodes:" with nothing after it: no entries.
        } else if (!nodes.IsSequence()) {
            Fail(m_file, LineOf(nodes), "nodes must be a sequence of entries");
        } else {
            std::map<std::string, int> seen;
            for (const auto& item : nodes) {
                SnapshotEntry entry = ReadEntry(item);
                auto [it, fresh] = seen.emplace(entry.path, entry.line);
                if (!fresh)
                    Fail(m_file, entry.line,
                         "duplicate path '" + entry.path + "' (first at line " + std::to_string(it->second) + ")");
                s.entries.push_back(std::move(entry));
            }
        }
        if (s.entries.size() != expected)
            Fail(m_file, m_lastLine,
                 "the file holds " + std::to_string(s.entries.size()) + " of " + std::to_string(expected) +
                     " entries (count); it was cut short or changed");
        return s;
    }

    SnapshotEntry ReadEntry(const YAML::Node& item) {
        if (!item.IsMap()) Fail(m_file, LineOf(item), "an entry must be a mapping of path, type and value");
        const auto keys = Keys(item, {"path", "type", "value"});
        SnapshotEntry entry;
        entry.line = LineOf(item);
        entry.path = mci::ToString(mci::Tokenize(Text(Required(keys, "path", item), "path")));
        if (entry.path.empty()) Fail(m_file, entry.line, "empty path");
        const YAML::Node type = Required(keys, "type", item);
        const std::string typeName = Text(type, "type");
        NodeValType_e code{};
        if (!istd::EnumMap<NodeValType_e>::items.Find(typeName.c_str(), code) || code == mci::enums::eNoValue)
            Fail(m_file, LineOf(type), "unknown type '" + typeName + "'");
        entry.type = code;
        entry.value = ReadValue(Required(keys, "value", item), code);
        return entry;
    }

    istd::Any ReadValue(const YAML::Node& value, NodeValType_e type) {
        switch (type) {
            case mci::enums::eBool: return Elements<bool>(value, type);
            case mci::enums::eInt32: return Elements<int>(value, type);
            case mci::enums::eUInt32: return Elements<unsigned int>(value, type);
            case mci::enums::eInt64: return Elements<long long>(value, type);
            case mci::enums::eUInt64: return Elements<unsigned long long>(value, type);
            case mci::enums::eDouble: return Elements<double>(value, type);
            case mci::enums::eFloat: return Elements<float>(value, type);
            default: return Elements<std::string>(value, type);
        }
    }

    template <class T>
    istd::Any Elements(const YAML::Node& value, NodeValType_e type) {
        const std::string name = istd::EnumMap<NodeValType_e>::items.NameOf(type);
        if (value.IsScalar()) return istd::Any::Scalar(Element<T>(value, name));
        if (!value.IsSequence())
            Fail(m_file, LineOf(value), "the value of a " + name + " node must be a scalar or a sequence");
        std::vector<T> elements;
        for (const auto& item : value) {
            if (!item.IsScalar()) Fail(m_file, LineOf(item), "an array element must be a scalar");
            elements.push_back(Element<T>(item, name));
        }
        return istd::Any(std::move(elements), true);
    }

    template <class T>
    T Element(const YAML::Node& node, const std::string& typeName) {
        if constexpr (std::is_same_v<T, std::string>) {
            return Text(node, "a value");
        } else {
            // A quoted number is a text, not a number.
            if (node.Tag() != "?") Fail(m_file, LineOf(node), "'" + node.Scalar() + "' is not a " + typeName);
            T value{};
            if (!Parse(node.Scalar(), value)) Fail(m_file, LineOf(node), "'" + node.Scalar() + "' is not a " + typeName);
            return value;
        }
    }

    template <class T>
    T Number(const YAML::Node& node, const char* what) {
        T value{};
        if (!node.IsScalar() || !Parse(node.Scalar(), value))
            Fail(m_file, LineOf(node), std::string(what) + " must be a whole number");
        return value;
    }

    static bool Parse(const std::string& text, bool& value) {
        if (text == "true") value = true;
        else if (text == "false") value = false;
        else return false;
        return true;
    }

    template <class T>
    static std::enable_if_t<std::is_integral_v<T>, bool> Parse(const std::string& text, T& value) {
        // Decimal digits and, for signed types, a leading minus: nothing else.
        if (text.empty() || text.size() > 21) return false;
        const bool negative = text[0] == '-';
        if (negative && !std::is_signed_v<T>) return false;
        if (text.find_first_not_of("0123456789", negative ? 1 : 0) != std::string::npos ||
            text.size() == (negative ? 1u : 0u))
            return false;
        errno = 0;
        char* end = nullptr;
        if constexpr (std::is_signed_v<T>) {
            const long long n = std::strtoll(text.c_str(), &end, 10);
            if (errno == ERANGE || n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max()) return false;
            value = static_cast<T>(n);
        } else {
            const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
            if (errno == ERANGE || n > std::numeric_limits<T>::max()) return false;
            value = static_cast<T>(n);
        }
        return true;
    }

    template <class F>
    static std::enable_if_t<std::is_floating_point_v<F>, bool> Parse(const std::string& text, F& value) {
        using Bits = std::conditional_t<std::is_same_v<F, float>, std::uint32_t, std::uint64_t>;
        if (text == ".inf" || text == "+.inf") value = std::numeric_limits<F>::infinity();
        else if (text == "-.inf") value = -std::numeric_limits<F>::infinity();
        else if (text == ".nan") value = std::numeric_limits<F>::quiet_NaN();
        else if (text.rfind(".nan(0x", 0) == 0 && text.back() == ')') {
            const std::string hex = text.substr(7, text.size() - 8);
            if (hex.empty() || hex.size() > sizeof(F) * 2 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return false;
            const Bits bits = static_cast<Bits>(std::strtoull(hex.c_str(), nullptr, 16));
            std::memcpy(&value, &bits, sizeof value);
            return std::isnan(value);
        } else {
            // strtod would take hexadecimal, "nan", "inf" and leading blanks as
            // well; a snapshot holds decimal numbers only.
            if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
            char* end = nullptr;
            errno = 0;
            value = ReadFloating<F>(text.c_str(), &end);
            if (end != text.c_str() + text.size()) return false;
            // Overflow is refused; an underflow to a subnormal or zero is the
            // nearest value and stays.
            if (errno == ERANGE && std::isinf(value)) return false;
        }
        return true;
    }

    const std::string m_file;
    int m_lastLine = 1;
};

}  // namespace

std::string QuotedText(const std::string& text) {
    if (!istd::IsUtf8(text)) return "!!binary \"" + Base64(text) + "\"";
    return DoubleQuoted(text);
}

std::string ValueText(const istd::Any& value) {
    return std::visit(
        [&](const auto& elements) -> std::string {
            using V = std::decay_t<decltype(elements)>;
            if constexpr (std::is_same_v<V, std::monostate>) {
                return "~";
            } else {
                if (!value.IsArray() && elements.size() == 1) return ElementText(elements[0]);
                std::string out = "[";
                for (std::size_t i = 0; i < elements.size(); ++i) {
                    if (i) out += ", ";
                    out += ElementText(static_cast<typename V::value_type>(elements[i]));
                }
                return out + "]";
            }
        },
        value.Elements());
}

bool SameValue(const istd::Any& a, const istd::Any& b) {
    if (a.IsArray() != b.IsArray() || a.Elements().index() != b.Elements().index()) return false;
    if (const auto* x = a.As<double>()) {
        const auto* y = b.As<double>();
        return x->size() == y->size() && std::memcmp(x->data(), y->data(), x->size() * sizeof(double)) == 0;
    }
    if (const auto* x = a.As<float>()) {
        const auto* y = b.As<float>();
        return x->size() == y->size() && std::memcmp(x->data(), y->data(), x->size() * sizeof(float)) == 0;
    }
    return a.Elements() == b.Elements();
}

std::string TypeText(NodeValType_e type, bool isArray, std::size_t size) {
    std::string text = istd::EnumMap<NodeValType_e>::items.NameOf(type);
    if (isArray) text += "[" + std::to_string(size) + "]";
    return text;
}

std::string SnapshotText(const Snapshot& snapshot) {
    const SnapshotHeader& h = snapshot.header;
    std::string out = "# velnor-rove snapshot\n";
    out += HeaderLine("host", QuotedText(h.host));
    out += HeaderLine("port", std::to_string(h.port));
    out += HeaderLine("root", h.root);
    if (h.version) out += HeaderLine("version", QuotedText(*h.version));
    out += HeaderLine("time", QuotedText(h.time));
    out += HeaderLine("tool", QuotedText(h.tool));
    out += HeaderLine("count", std::to_string(snapshot.entries.size()));
    out += snapshot.entries.empty() ? "nodes: []\n" : "nodes:\n";
    for (const auto& e : snapshot.entries) {
        out += "  - {path: " + QuotedText(e.path) + ", type: " + istd::EnumMap<NodeValType_e>::items.NameOf(e.type) +
               ", value: " + ValueText(e.value) + "}\n";
    }
    return out;
}

Snapshot ParseSnapshot(const std::string& text, const std::string& fileName) { return Reader(fileName).Read(text); }

Snapshot ReadSnapshotFile(const std::string& fileName) {
    std::string text;
    if (fileName == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) throw SnapshotFileError(fileName + ": cannot be read (" + std::strerror(errno) + ")");
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) throw SnapshotFileError(fileName + ": cannot be read (" + std::strerror(errno) + ")");
    }
    return ParseSnapshot(text, fileName);
}
