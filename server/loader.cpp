#include "loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <unordered_set>

#include "bounded_read.h"
#include "istd/strings.h"
#include "scalar_text.h"
#include "yaml_reader.h"

namespace velnor::server {

LoadError::LoadError(const std::string& file, int line, const std::string& message)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + message),
      m_line(line),
      m_message(message) {}

namespace {

const std::vector<std::string> c_topKeys = {"host", "application", "platform"};
const std::vector<std::string> c_nodeKeys = {"nodes", "type",      "value",    "flags",  "domain", "validator",
                                             "min",   "max",       "function", "update", "signal"};
const std::vector<std::string> c_functionKeys = {"result", "sets"};
const std::vector<std::string> c_updateKeys = {"period", "generator"};
const std::vector<std::string> c_signalKeys = {"access",  "atom",    "components", "generator", "rate",
                                               "block",   "history", "trigger",    "lmt_step"};
const std::vector<std::string> c_signalAtoms = {"double", "float",  "uint64", "int64", "uint32",
                                                "int32",  "uint16", "int16",  "uint8", "int8"};
const std::vector<std::string> c_signalGenerators = {"sine", "ramp", "counter", "noise"};
// Written in a flags list to take away the readable flag a value implies.
const char* const c_notReadable = "-readable";

constexpr double c_minPeriod = 0.01;

bool Contains(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string KnownList(const std::vector<std::string>& known) {
    return " (known: " + istd::StringVecIntoString(known, ", ") + ")";
}

// " (did you mean 'value'?)" for a near miss, else the list of known words.
std::string Suggestion(const std::string& word, const std::vector<std::string>& known) {
    const std::string* best = nullptr;
    std::size_t bestDistance = 3;  // more than two edits is no typo
    for (const auto& candidate : known) {
        const std::size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) {
            best = &candidate;
            bestDistance = distance;
        }
    }
    if (best) return " (did you mean '" + *best + "'?)";
    return KnownList(known);
}

bool IsQuoted(const Yaml& node) { return node.IsQuoted(); }

}  // namespace

namespace {

void Append(Elements& target, const Elements& one) {
    std::visit(
        [&one](auto& v) {
            using Vec = std::decay_t<decltype(v)>;
            if constexpr (!std::is_same_v<Vec, std::monostate>) {
                const Vec& from = std::get<Vec>(one);
                v.insert(v.end(), from.begin(), from.end());
            }
        },
        target);
}


// A function's `sets` entry, resolved once the whole tree is known.
struct PendingSet {
    NodeId function = 0;
    std::string path;
    Yaml value;
    int line = 0;
};

// Builds the tree as the events of the file come: only one node's own keys
// are held as a document at a time (its children load while they come), so
// the file's size in nodes costs the tree and nothing more.
class TreeLoader {
public:
    TreeLoader(YamlReader& reader, std::string file, std::string fallbackHost, std::uint64_t maxNodes)
        : m_reader(reader), m_file(std::move(file)), m_fallbackHost(std::move(fallbackHost)), m_maxNodes(maxNodes) {}

    Tree Load() {
        m_tree.file = m_file;
        m_tree.host = m_fallbackHost;
        m_tree.nodes.emplace_back();  // id 0 stays unused
        const YamlEvent& document = m_reader.Next();
        if (document.kind == YamlEvent::Kind::DocumentEnd || document.kind == YamlEvent::Kind::Null)
            Fail(1, "the tree file is empty");
        if (document.kind != YamlEvent::Kind::MapStart)
            Fail(document.line, "the tree file must be a mapping with host, application and platform");
        LoadTopKeys();
        if (!m_tree.applicationRoot) m_tree.applicationRoot = NewRoot(Root::Application, 0);
        if (!m_tree.platformRoot) m_tree.platformRoot = NewRoot(Root::Platform, 0);
        // The host key may come after the roots.
        for (NodeId root : {m_tree.applicationRoot, m_tree.platformRoot}) At(root).name = m_tree.host;
        ResolveSets();
        MarkHiddenPaths();
        return std::move(m_tree);
    }

    [[noreturn]] void Fail(int line, const std::string& message) const { throw LoadError(m_file, line, message); }
    [[noreturn]] void Fail(const Yaml& at, const std::string& message) const { Fail(LineOf(at), message); }

private:
    static int LineOf(const Yaml& node) { return node.Line(); }

    // The key the reader gave last, held, checked against `known` and the
    // keys `seen` before it.
    std::string TopKey(const YamlEvent& event, std::set<std::string>& seen) {
        const Yaml key(m_reader.ReadNode(event));
        if (!key.IsScalar()) Fail(key, "a key must be a plain text");
        const std::string& name = key.Scalar();
        if (!Contains(c_topKeys, name)) Fail(key, "unknown key '" + name + "'" + Suggestion(name, c_topKeys));
        if (!seen.insert(name).second) Fail(key, "duplicate key '" + name + "'");
        return name;
    }

    void LoadTopKeys() {
        std::set<std::string> seen;
        for (;;) {
            const YamlEvent& event = m_reader.Next();
            if (event.kind == YamlEvent::Kind::End) return;
            const std::uint64_t held = m_reader.Held();
            const std::string key = TopKey(event, seen);
            const YamlEvent& value = m_reader.Next();
            if (key == "host") m_tree.host = NameFrom(Yaml(m_reader.ReadNode(value)), "host name");
            m_reader.Release(m_reader.Held() - held);
            if (key == "host") continue;
            const Root root = key == "application" ? Root::Application : Root::Platform;
            const NodeId id = NewRoot(root, value.line);
            (root == Root::Application ? m_tree.applicationRoot : m_tree.platformRoot) = id;
            if (value.kind != YamlEvent::Kind::Null) LoadNode(value, id);
        }
    }

    NodeId NewRoot(Root root, int line) {
        const NodeId id = NewNode(0, m_tree.host, root, line);
        At(id).parent = id;
        return id;
    }

    // Refuses unknown and repeated keys of a mapping.
    void CheckKeys(const Yaml& map, const std::vector<std::string>& known, const char* what) const {
        std::set<std::string> seen;
        for (const auto& entry : map) {
            if (!entry.first.IsScalar()) Fail(entry.first, std::string("a ") + what + " must be a plain text");
            const std::string key = entry.first.Scalar();
            if (!Contains(known, key)) Fail(entry.first, std::string("unknown ") + what + " '" + key + "'" + Suggestion(key, known));
            if (!seen.insert(key).second) Fail(entry.first, std::string("duplicate ") + what + " '" + key + "'");
        }
    }

    std::string ScalarText(const Yaml& node, const std::string& what) const {
        if (!node.IsScalar()) Fail(node, what + " must be a single text or number");
        return node.Scalar();
    }

    std::string NameFrom(const Yaml& node, const std::string& what) const {
        const std::string name = ScalarText(node, what);
        if (!IsValidNodeName(name))
            Fail(node, "invalid " + what + " '" + name + "': it must not be empty nor hold blanks or any of . [ ] { } =");
        return name;
    }

    double NumberFrom(const Yaml& node, const std::string& what) const {
        if (!node.IsScalar() || IsQuoted(node)) Fail(node, what + " must be a number");
        auto v = ParseFloatingText(node.Scalar());
        if (!v || !std::isfinite(*v)) Fail(node, what + " must be a finite number, not '" + node.Scalar() + "'");
        return static_cast<double>(*v);
    }

    std::uint64_t CountFrom(const Yaml& node, const std::string& what) const {
        if (!node.IsScalar() || IsQuoted(node)) Fail(node, what + " must be a whole number");
        auto v = ParseCountText(node.Scalar());
        if (!v || *v == 0) Fail(node, what + " must be a whole number of at least 1, not '" + node.Scalar() + "'");
        return *v;
    }

    NodeId NewNode(NodeId parent, const std::string& name, Root root, int line) {
        if (m_tree.nodes.size() > m_maxNodes)
            Fail(line, "the tree has more than " + std::to_string(m_maxNodes) + " nodes");
        Node node;
        node.id = static_cast<NodeId>(m_tree.nodes.size());
        node.parent = parent;
        node.root = root;
        node.name = name;
        node.line = line;
        m_tree.nodes.push_back(std::move(node));
        return m_tree.nodes.back().id;
    }

    // A node is hidden to clients when it or a node above it is.
    void MarkHiddenPaths() {
        for (Node& node : m_tree.nodes)
            node.hiddenPath = node.Has(flags::Hidden) || (node.parent != node.id && m_tree.nodes[node.parent].hiddenPath);
    }

    // The node whose mapping the reader starts with `first`: its children
    // load as they come, its own keys once the mapping ends.
    void LoadNode(const YamlEvent& first, NodeId id) {
        if (first.kind != YamlEvent::Kind::MapStart)
            Fail(first.line, "node '" + At(id).name + "' must be a mapping of node keys");
        const std::uint64_t held = m_reader.Held();
        const std::uint64_t setsHeld = m_setsHeld;
        auto body = std::make_shared<YamlValue>();
        body->kind = YamlValue::Kind::Map;
        body->line = first.line;
        for (;;) {
            const YamlEvent& keyEvent = m_reader.Next();
            if (keyEvent.kind == YamlEvent::Kind::End) break;
            std::shared_ptr<const YamlValue> key = m_reader.ReadNode(keyEvent);
            const YamlEvent& value = m_reader.Next();
            body->items.push_back(key);
            if (key->kind == YamlValue::Kind::Scalar && key->text == "nodes") {
                // Its place, for the checks of the keys.
                auto placeholder = std::make_shared<YamlValue>();
                placeholder->line = value.line;
                body->items.push_back(std::move(placeholder));
                LoadChildren(value, id);
            } else {
                body->items.push_back(m_reader.ReadNode(value));
            }
        }
        LoadNodeBody(Yaml(std::move(body)), id);
        // Only function sets values (this node's and its children's) stay
        // held until the tree is complete.
        m_reader.Release(m_reader.Held() - held - (m_setsHeld - setsHeld));
    }

    // Nodes are addressed by id: m_tree.nodes grows while children load.
    Node& At(NodeId id) { return m_tree.nodes[id]; }

    void LoadNodeBody(const Yaml& yaml, NodeId id) {
        CheckKeys(yaml, c_nodeKeys, "key");
        LoadType(yaml, id);
        LoadDomain(yaml, id);
        LoadBounds(yaml, id);
        LoadValue(yaml, id);
        LoadFlags(yaml, id);
        if (yaml["validator"]) At(id).validator = ScalarText(yaml["validator"], "validator");
        if (yaml["function"]) LoadFunction(yaml["function"], id);
        if (yaml["update"]) LoadUpdate(yaml["update"], id);
        if (yaml["signal"]) LoadSignal(yaml, id);
    }

    void LoadType(const Yaml& yaml, NodeId id) {
        const Yaml type = yaml["type"];
        if (!type) {
            if (yaml["value"]) Fail(yaml["value"], "a value needs a 'type' (bool, int32, uint32, int64, uint64, double, float, string or enum)");
            return;
        }
        const std::string name = ScalarText(type, "type");
        auto parsed = ValueTypeFromName(name);
        if (!parsed) Fail(type, "unknown type '" + name + "' (known: bool, int32, uint32, int64, uint64, double, float, string, enum)");
        At(id).type = *parsed;
    }

    void LoadDomain(const Yaml& yaml, NodeId id) {
        const Yaml domain = yaml["domain"];
        if (!domain) {
            if (At(id).type == ValueType::Enum) Fail(yaml["type"], "an enum needs a 'domain' listing its values");
            return;
        }
        if (!domain.IsSequence()) Fail(domain, "domain must be a list of texts");
        std::vector<std::string> values;
        for (const auto& entry : domain) {
            const std::string text = ScalarText(entry, "a domain value");
            if (Contains(values, text)) Fail(entry, "domain value '" + text + "' appears twice");
            values.push_back(text);
        }
        if (At(id).type == ValueType::Enum && values.empty()) Fail(domain, "an enum needs at least one domain value");
        At(id).domain = std::move(values);
    }

    void LoadBounds(const Yaml& yaml, NodeId id) {
        for (const char* key : {"min", "max"}) {
            const Yaml bound = yaml[key];
            if (!bound) continue;
            if (!IsNumeric(At(id).type)) Fail(bound, std::string(key) + " needs a numeric type");
            if (!bound.IsScalar() || IsQuoted(bound)) Fail(bound, std::string(key) + " must be a number");
            auto v = ParseFloatingText(bound.Scalar());
            if (!v || std::isnan(*v)) Fail(bound, std::string(key) + " must be a number, not '" + bound.Scalar() + "'");
            (std::strcmp(key, "min") == 0 ? At(id).min : At(id).max) = *v;
        }
        const Node& node = At(id);
        if (node.min && node.max && *node.min > *node.max)
            Fail(yaml["max"], "min " + BoundText(*node.min) + " is greater than max " + BoundText(*node.max));
    }

    // One element of `node`'s type from a YAML scalar, checked against the
    // node's domain and bounds.
    Elements ElementFrom(const Yaml& scalar, const Node& node) const {
        if (!scalar.IsScalar()) Fail(scalar, "value elements must be single texts or numbers");
        const std::string text = scalar.Scalar();
        auto parsed = ParseYamlScalar(scalar.Tag(), text, node.type);
        if (!parsed) Fail(scalar, "value '" + text + "' does not fit the type " + ValueTypeName(node.type));
        if (node.type == ValueType::Enum && !Contains(*node.domain, std::get<std::vector<std::string>>(*parsed)[0]))
            Fail(scalar, "value '" + text + "' is not in the domain (" + istd::StringVecIntoString(*node.domain, ",") + ")");
        if (auto v = NumericElement(*parsed, 0)) {
            if (!InRange(*v, node.min, node.max))
                Fail(scalar, "value " + text + " is out of range " + RangeText(node.min, node.max));
        }
        return *parsed;
    }

    // A scalar or a list of the node's type; `isArray` tells which it was.
    Elements ElementsFrom(const Yaml& yaml, const Node& node, bool& isArray) const {
        Elements elements = MakeElements(node.type, 0);
        isArray = yaml.IsSequence();
        if (isArray) {
            for (const auto& entry : yaml) Append(elements, ElementFrom(entry, node));
        } else if (yaml.IsNull()) {
            Fail(yaml, "value is missing (write \"\" for an empty text)");
        } else {
            Append(elements, ElementFrom(yaml, node));
        }
        return elements;
    }

    void LoadValue(const Yaml& yaml, NodeId id) {
        Node& node = At(id);
        if (!node.HasValue()) return;
        const Yaml value = yaml["value"];
        if (value) {
            bool isArray = false;
            node.initial = ElementsFrom(value, node, isArray);
            if (isArray) node.flags |= flags::Array;
        } else {
            node.initial = DefaultValue(yaml, node);
        }
        node.size = static_cast<std::uint32_t>(ElementCount(node.initial));
        node.flags |= flags::Readable;
    }

    // Zero, false, "" or the first enumeration value, moved into the bounds.
    Elements DefaultValue(const Yaml& yaml, const Node& node) const {
        if (node.type == ValueType::Enum) return std::vector<std::string>{node.domain->front()};
        if (!IsNumeric(node.type)) return MakeElements(node.type, 1);
        long double v = 0;
        if (node.min && *node.min > v) v = IsIntegral(node.type) ? std::ceil(*node.min) : *node.min;
        if (node.max && *node.max < v) v = IsIntegral(node.type) ? std::floor(*node.max) : *node.max;
        auto value = ParseScalarText(BoundText(v), node.type, false);
        if (!value || (node.min && v < *node.min) || (node.max && v > *node.max))
            Fail(yaml["type"], "no value of this type lies between min and max; give a 'value'");
        return *value;
    }

    void LoadFlags(const Yaml& yaml, NodeId id) {
        const Yaml list = yaml["flags"];
        if (!list) return;
        if (!list.IsSequence()) Fail(list, "flags must be a list, e.g. [writable, persistent]");
        for (const auto& entry : list) ApplyFlag(yaml, entry, id);
        CheckFlagCombination(list, id);
    }

    void ApplyFlag(const Yaml& yaml, const Yaml& entry, NodeId id) {
        Node& node = At(id);
        const std::string word = ScalarText(entry, "a flag");
        if (word == c_notReadable) {
            node.flags &= ~flags::Readable;
            return;
        }
        std::vector<std::string> known;
        for (const auto& flag : FlagNames()) {
            known.emplace_back(flag.name);
            if (word != flag.name) continue;
            CheckFlagSource(yaml, entry, node, flag.bit, word);
            node.flags |= flag.bit;
            return;
        }
        known.emplace_back(c_notReadable);
        Fail(entry, "unknown flag '" + word + "'" + Suggestion(word, known));
    }

    void CheckFlagSource(const Yaml& yaml, const Yaml& entry, const Node& node, std::uint32_t bit,
                         const std::string& word) const {
        const std::uint32_t needValue = flags::Readable | flags::Writable | flags::Constant | flags::Persistent | flags::Array;
        if ((bit & needValue) && !node.HasValue()) Fail(entry, "flag '" + word + "' needs a value ('type')");
        if (bit == flags::Executable && !yaml["function"]) Fail(entry, "flag 'executable' needs a 'function'");
        if (bit == flags::Signal && !yaml["signal"]) Fail(entry, "flag 'signal' needs a 'signal' description");
        if (bit == flags::Array && (!yaml["value"] || !yaml["value"].IsSequence()))
            Fail(entry, "flag 'array' needs a list as value");
    }

    void CheckFlagCombination(const Yaml& list, NodeId id) {
        Node& node = At(id);
        if (node.Has(flags::Writable) && node.Has(flags::Constant))
            Fail(list, "flags 'writable' and 'constant' exclude each other");
    }

    void LoadFunction(const Yaml& yaml, NodeId id) {
        if (!yaml.IsMap()) Fail(yaml, "function must be a mapping with 'result' and 'sets'");
        CheckKeys(yaml, c_functionKeys, "function key");
        FunctionInfo info;
        if (const Yaml result = yaml["result"]) {
            auto b = result.IsScalar() && !IsQuoted(result) ? ParseBoolText(result.Scalar()) : std::nullopt;
            if (!b) Fail(result, "result must be true or false");
            info.result = *b;
        }
        if (const Yaml sets = yaml["sets"]) {
            if (!sets.IsMap()) Fail(sets, "sets must be a mapping of relative path to value");
            std::set<std::string> seen;
            for (const auto& entry : sets) {
                const std::string path = ScalarText(entry.first, "a sets path");
                if (!seen.insert(path).second) Fail(entry.first, "duplicate sets path '" + path + "'");
                m_pendingSets.push_back({id, path, entry.second, LineOf(entry.first)});
                m_setsHeld += entry.second.Extent();
            }
        }
        At(id).function = std::move(info);
        At(id).flags |= flags::Executable;
    }

    void LoadUpdate(const Yaml& yaml, NodeId id) {
        if (!yaml.IsMap()) Fail(yaml, "update must be a mapping with 'period' and 'generator'");
        CheckKeys(yaml, c_updateKeys, "update key");
        const Node& node = At(id);
        if (!node.HasValue()) Fail(yaml, "update needs a node with a value ('type')");
        if (node.Has(flags::Constant)) Fail(yaml, "a constant node cannot change by itself");
        UpdateInfo info;
        if (!yaml["period"]) Fail(yaml, "update needs a 'period' in seconds");
        info.period = NumberFrom(yaml["period"], "period");
        if (info.period < c_minPeriod) Fail(yaml["period"], "period must be at least 0.01 seconds");
        if (!yaml["generator"]) Fail(yaml, "update needs a 'generator' (counter, ramp, random-walk, toggle)");
        info.generator = GeneratorFrom(yaml["generator"], node);
        At(id).update = info;
    }

    Generator GeneratorFrom(const Yaml& yaml, const Node& node) const {
        const std::string name = ScalarText(yaml, "generator");
        const std::vector<std::string> known = {"counter", "ramp", "random-walk", "toggle"};
        if (!Contains(known, name)) Fail(yaml, "unknown generator '" + name + "'" + Suggestion(name, known));
        if (name == "toggle") {
            if (node.type != ValueType::Bool) Fail(yaml, "generator 'toggle' needs a bool node");
            return Generator::Toggle;
        }
        if (!IsNumeric(node.type)) Fail(yaml, "generator '" + name + "' needs a numeric node");
        if (name == "counter") return Generator::Counter;
        if (name == "ramp") return Generator::Ramp;
        return Generator::RandomWalk;
    }

    void LoadSignal(const Yaml& node, NodeId id) {
        for (const char* excluded : {"type", "value", "function", "update"})
            if (node[excluded]) Fail(node[excluded], std::string("a signal node has no '") + excluded + "'");
        const Yaml yaml = node["signal"];
        if (!yaml.IsMap()) Fail(yaml, "signal must be a mapping (access, atom, components, ...)");
        CheckKeys(yaml, c_signalKeys, "signal key");
        SignalInfo info;
        info.access = AccessFrom(yaml);
        info.atom = ChoiceFrom(yaml, "atom", c_signalAtoms, "");
        info.components = ComponentsFrom(yaml);
        info.generator = ChoiceFrom(yaml, "generator", c_signalGenerators, "sine");
        if (yaml["rate"]) {
            info.rate = NumberFrom(yaml["rate"], "rate");
            if (info.rate < 0) Fail(yaml["rate"], "rate must not be negative");
        }
        LoadSignalSizes(yaml, info);
        At(id).signal = std::move(info);
        At(id).flags |= flags::Signal;
    }

    SignalInfo::Access AccessFrom(const Yaml& yaml) const {
        if (!yaml["access"]) Fail(yaml, "signal needs an 'access' (stream or dod)");
        const std::string access = ScalarText(yaml["access"], "access");
        if (access == "stream") return SignalInfo::Access::Stream;
        if (access == "dod") return SignalInfo::Access::Dod;
        Fail(yaml["access"], "unknown access '" + access + "' (known: stream, dod)");
    }

    std::string ChoiceFrom(const Yaml& yaml, const char* key, const std::vector<std::string>& known,
                           const std::string& fallback) const {
        if (!yaml[key]) {
            if (fallback.empty()) Fail(yaml, std::string("signal needs an '") + key + "'");
            return fallback;
        }
        const std::string word = ScalarText(yaml[key], key);
        if (!Contains(known, word)) Fail(yaml[key], std::string("unknown ") + key + " '" + word + "'" + KnownList(known));
        return word;
    }

    std::vector<std::string> ComponentsFrom(const Yaml& yaml) const {
        const Yaml list = yaml["components"];
        if (!list) Fail(yaml, "signal needs 'components' (a list of names)");
        if (!list.IsSequence() || list.size() == 0) Fail(list, "components must be a non-empty list of names");
        std::vector<std::string> names;
        for (const auto& entry : list) {
            std::string name = NameFrom(entry, "component name");
            if (Contains(names, name)) Fail(entry, "component '" + name + "' appears twice");
            names.push_back(std::move(name));
        }
        return names;
    }

    void LoadSignalSizes(const Yaml& yaml, SignalInfo& info) const {
        const bool stream = info.access == SignalInfo::Access::Stream;
        for (const char* key : stream ? std::vector<const char*>{"history", "trigger"} : std::vector<const char*>{"block"})
            if (yaml[key]) Fail(yaml[key], std::string("'") + key + "' does not apply to " + (stream ? "stream" : "dod") + " signals");
        if (stream) {
            info.block = 1024;
            if (yaml["block"]) {
                const std::uint64_t block = CountFrom(yaml["block"], "block");
                if (block > (1u << 24)) Fail(yaml["block"], "block must be at most 16777216 atoms");
                info.block = static_cast<std::uint32_t>(block);
            }
        } else {
            info.history = yaml["history"] ? CountFrom(yaml["history"], "history") : 100000;
            if (info.history > (1ull << 28)) Fail(yaml["history"], "history must be at most 268435456 atoms");
            info.trigger = 1.0;
            if (yaml["trigger"]) {
                info.trigger = NumberFrom(yaml["trigger"], "trigger");
                if (info.trigger <= 0) Fail(yaml["trigger"], "trigger must be a positive number of seconds");
            }
        }
        if (yaml["lmt_step"]) info.lmtStep = CountFrom(yaml["lmt_step"], "lmt_step");
    }

    void LoadChildren(const YamlEvent& first, NodeId id) {
        if (first.kind == YamlEvent::Kind::Null) return;
        if (first.kind != YamlEvent::Kind::MapStart) Fail(first.line, "nodes must be a mapping of name to node");
        std::unordered_set<std::string> names;
        for (;;) {
            const YamlEvent& keyEvent = m_reader.Next();
            if (keyEvent.kind == YamlEvent::Kind::End) return;
            const std::uint64_t held = m_reader.Held();
            const Yaml key(m_reader.ReadNode(keyEvent));
            const std::string name = NameFrom(key, "node name");
            m_reader.Release(m_reader.Held() - held);
            if (!names.insert(name).second) Fail(key, "duplicate node name '" + name + "'");
            const NodeId child = NewNode(id, name, At(id).root, LineOf(key));
            At(id).children.push_back(child);
            const YamlEvent& value = m_reader.Next();
            if (value.kind != YamlEvent::Kind::Null) LoadNode(value, child);
        }
    }

    void ResolveSets() {
        for (const auto& pending : m_pendingSets) {
            const Node& function = At(pending.function);
            const NodeId base = function.parent == function.id ? function.id : function.parent;
            const NodeId target = m_tree.Resolve(base, istd::TokenizeString(pending.path, "."));
            if (target == 0) Fail(pending.line, "sets path '" + pending.path + "' names no node");
            const Node& node = At(target);
            if (!node.HasValue()) Fail(pending.line, "sets path '" + pending.path + "' names a node without value");
            if (node.Has(flags::Constant)) Fail(pending.line, "sets path '" + pending.path + "' names a constant node");
            bool isArray = false;
            Elements value = ElementsFrom(pending.value, node, isArray);
            if (isArray != node.IsArray() || ElementCount(value) != node.size)
                Fail(pending.value, "sets value for '" + pending.path + "' must have the node's shape (" +
                                        (node.IsArray() ? "a list of " + std::to_string(node.size) + " elements" : "a single value") + ")");
            At(pending.function).function->sets.push_back({target, std::move(value)});
        }
    }

    YamlReader& m_reader;
    std::string m_file;
    std::string m_fallbackHost;
    const std::uint64_t m_maxNodes;
    Tree m_tree;
    std::vector<PendingSet> m_pendingSets;
    std::uint64_t m_setsHeld = 0;  // YAML nodes of the pending sets' values
};

}  // namespace

Tree LoadTreeFile(const std::string& path, const std::string& fallbackHost, const TreeLimits& limits) {
    std::string text;
    try {
        text = ReadBoundedFile(path, limits.fileBytes, "the tree file");
    } catch (const BoundedReadError& e) {
        throw LoadError(path, 0, e.what());
    }
    return LoadTreeText(text, path, fallbackHost, limits);
}

Tree LoadTreeText(const std::string& text, const std::string& fileName, const std::string& fallbackHost,
                  const TreeLimits& limits) {
    YamlReader reader(text, fileName, YamlBounds{limits.aliasYamlNodes, limits.heldYamlNodes, limits.depth});
    return TreeLoader(reader, fileName, fallbackHost, limits.nodes).Load();
}

}  // namespace velnor::server
