#include "snapshot/rove_snapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <type_traits>

#include <yaml-cpp/yaml.h>

#include "istd/strings.h"
#include "istd/unique_fd.h"

namespace {

using mci::enums::NodeValType_e;

// --- writing ---

std::string ElementText(bool v) { return v ? "true" : "false"; }
std::string ElementText(int v) { return std::to_string(v); }
std::string ElementText(unsigned int v) { return std::to_string(v); }
std::string ElementText(long long v) { return std::to_string(v); }
std::string ElementText(unsigned long long v) { return std::to_string(v); }
std::string ElementText(double v) { return istd::YamlFloating(v); }
std::string ElementText(float v) { return istd::YamlFloating(v); }
std::string ElementText(const std::string& v) { return istd::YamlText(v); }

std::string HeaderLine(const char* key, const std::string& value) { return std::string(key) + ": " + value + "\n"; }

// --- reading ---

int LineOf(const YAML::Node& node) { return node.Mark().line + 1; }

[[noreturn]] void Fail(const std::string& fileName, int line, const std::string& reason) {
    throw SnapshotFileError(fileName + ":" + std::to_string(line) + ": " + reason);
}

std::string HexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

// Text from the file as a message shows it on a terminal: control
// characters (C0, DEL, and C1 in UTF-8) and, in a text that is not UTF-8,
// every byte above 0x7F as \xHH.
std::string Shown(const std::string& text) {
    const bool utf8 = istd::IsUtf8(text);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = utf8 && byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) {
            out += HexByte(byte) + HexByte(static_cast<unsigned char>(text[++i]));
        } else if (byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80)) {
            out += HexByte(byte);
        } else {
            out += text[i];
        }
    }
    return out;
}

// "a bool", "an int32", "a uint32": the type names as the file spells them,
// with the article they are spoken with.
std::string WithArticle(const std::string& typeName) {
    const bool vowel = !typeName.empty() && std::string("aeio").find(typeName[0]) != std::string::npos;
    return (vowel ? "an " : "a ") + typeName;
}

// "'1.5' is not an int32", and why when there is more to say than that.
std::string NotA(const std::string& text, const std::string& typeName, const std::string& why = std::string()) {
    return "'" + Shown(text) + "' is not " + WithArticle(typeName) + (why.empty() ? "" : " (" + why + ")");
}

class Reader {
public:
    explicit Reader(std::string fileName) : m_file(std::move(fileName)) {}

    Snapshot Read(const std::string& text) {
        YAML::Node document;
        try {
            document = YAML::Load(text);
        } catch (const YAML::Exception& e) {
            Fail(m_file, e.mark.line + 1, Shown(e.msg));
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
            if (!known.count(key)) Fail(m_file, LineOf(it->first), "unknown key '" + Shown(key) + "'");
            if (keys.count(key)) Fail(m_file, LineOf(it->first), "duplicate key '" + Shown(key) + "'");
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
        std::optional<std::string> bytes = istd::YamlTextBytes(node.Tag(), node.Scalar());
        if (!bytes) Fail(m_file, LineOf(node), "bad base64 text");
        return std::move(*bytes);
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
                         "duplicate path '" + Shown(entry.path) + "' (first at line " + std::to_string(it->second) + ")");
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
            Fail(m_file, LineOf(type), "unknown type '" + Shown(typeName) + "'");
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
            if (node.Tag() != "?") Fail(m_file, LineOf(node), NotA(node.Scalar(), typeName, "a quoted value is a text"));
            T value{};
            std::string why;
            if (!Parse(node.Scalar(), value, why)) Fail(m_file, LineOf(node), NotA(node.Scalar(), typeName, why));
            return value;
        }
    }

    template <class T>
    T Number(const YAML::Node& node, const char* what) {
        T value{};
        std::string why;
        if (!node.IsScalar() || !Parse(node.Scalar(), value, why))
            Fail(m_file, LineOf(node), std::string(what) + " must be a whole number");
        return value;
    }

    static bool HasHexPrefix(const std::string& text) {
        const std::size_t digits = text.find_first_not_of("+-");
        return digits != std::string::npos && text.compare(digits, 2, "0x") == 0;
    }

    // Each Parse sets `value`, or gives false and, where there is more to
    // say than that the text is no such value, why in `why`.
    static bool Parse(const std::string& text, bool& value, std::string& why) {
        if (text == "true") value = true;
        else if (text == "false") value = false;
        else {
            why = "true or false";
            return false;
        }
        return true;
    }

    template <class T>
    static std::enable_if_t<std::is_integral_v<T>, bool> Parse(const std::string& text, T& value, std::string& why) {
        // Decimal digits and a leading minus: nothing else.
        const bool negative = !text.empty() && text[0] == '-';
        const std::size_t first = negative ? 1 : 0;
        if (text.size() == first || text.find_first_not_of("0123456789", first) != std::string::npos) {
            if (HasHexPrefix(text)) why = "integers are written in decimal";
            return false;
        }
        if (negative && !std::is_signed_v<T>) {
            why = "out of its range";
            return false;
        }
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error == std::errc::result_out_of_range) why = "out of its range";
        return error == std::errc() && end == text.data() + text.size();
    }

    template <class F>
    static std::enable_if_t<std::is_floating_point_v<F>, bool> Parse(const std::string& text, F& value,
                                                                     std::string& why) {
        switch (istd::ReadYamlFloating(text, value)) {
            case istd::FloatingText_e::eNumber: return true;
            case istd::FloatingText_e::eTooLarge: why = "out of its range"; return false;
            case istd::FloatingText_e::eTooSmall: why = "so close to 0 that it would become 0"; return false;
            case istd::FloatingText_e::eNoNumber: break;
        }
        if (HasHexPrefix(text)) why = "numbers are written in decimal";
        return false;
    }

    const std::string m_file;
    int m_lastLine = 1;
};

}  // namespace

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
    out += HeaderLine("host", istd::YamlText(h.host));
    out += HeaderLine("port", std::to_string(h.port));
    out += HeaderLine("root", h.root);
    if (h.version) out += HeaderLine("version", istd::YamlText(*h.version));
    out += HeaderLine("time", istd::YamlText(h.time));
    out += HeaderLine("tool", istd::YamlText(h.tool));
    out += HeaderLine("count", std::to_string(snapshot.entries.size()));
    out += snapshot.entries.empty() ? "nodes: []\n" : "nodes:\n";
    for (const auto& e : snapshot.entries) {
        out += "  - {path: " + istd::YamlText(e.path) + ", type: " + istd::EnumMap<NodeValType_e>::items.NameOf(e.type) +
               ", value: " + ValueText(e.value) + "}\n";
    }
    return out;
}

Snapshot ParseSnapshot(const std::string& text, const std::string& fileName) { return Reader(fileName).Read(text); }

namespace {

[[noreturn]] void CannotRead(const std::string& fileName, int error) {
    throw SnapshotFileError(fileName + ": cannot be read (" + std::strerror(error) + ")");
}

// Everything `fd` gives until its end.
std::string ReadAll(int fd, const std::string& fileName) {
    std::string text;
    if (!istd::ReadToEnd(fd, text)) CannotRead(fileName, errno);
    return text;
}

}  // namespace

Snapshot ReadSnapshotFile(const std::string& fileName) {
    if (fileName == "-") return ParseSnapshot(ReadAll(STDIN_FILENO, fileName), fileName);
    const istd::UniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid()) CannotRead(fileName, errno);
    return ParseSnapshot(ReadAll(fd.Get(), fileName), fileName);
}
