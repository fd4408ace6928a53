#pragma once
// Reads a YAML document as a stream of events (libyaml), so that a large
// tree file is never held as a document: the loader builds its nodes as the
// events come and keeps small documents only for what it needs whole (a
// node's own keys, anchored nodes that aliases repeat).
//
// The work is bounded as the events come. Without aliases it follows the
// text's size; the nodes (maps, lists and scalars, keys included) that
// aliases repeat are counted each time, so that a kilobyte of nested aliases
// is refused before it is walked like billions of nodes. The nodes held
// whole at once are counted, and nesting is bounded.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velnor::server {

// One node of a document held whole. Nodes that aliases repeat are shared.
struct YamlValue {
    enum class Kind : std::uint8_t { Null, Scalar, Sequence, Map };
    Kind kind = Kind::Null;
    bool quoted = false;  // a scalar written quoted or as a block: always a text
    std::string tag;      // a scalar's tag: "!" quoted, "?" plain, or the tag written (expanded)
    int line = 0;         // 1 for the first line
    std::string text;     // a scalar's text
    // A list's items; a map's keys and values in turn.
    std::vector<std::shared_ptr<const YamlValue>> items;
    std::uint64_t extent = 1;  // nodes, aliases expanded
    int height = 0;            // 0 for a scalar, 1 + the highest item for maps and lists
};

// Read access to a held node, possibly empty (a key that is not there).
class Yaml {
public:
    Yaml() = default;
    explicit Yaml(std::shared_ptr<const YamlValue> value) : m_value(std::move(value)) {}

    explicit operator bool() const { return m_value != nullptr; }
    bool IsNull() const { return Is(YamlValue::Kind::Null); }
    bool IsScalar() const { return Is(YamlValue::Kind::Scalar); }
    bool IsSequence() const { return Is(YamlValue::Kind::Sequence); }
    bool IsMap() const { return Is(YamlValue::Kind::Map); }
    bool IsQuoted() const { return m_value && m_value->quoted; }
    // A scalar's tag as yaml-cpp gives it: "!" when quoted, "?" when plain
    // and untagged, otherwise the full tag ("tag:yaml.org,2002:binary").
    const std::string& Tag() const;
    // A scalar's text; "" for anything else.
    const std::string& Scalar() const;
    // 0 for an empty handle.
    int Line() const { return m_value ? m_value->line : 0; }
    std::uint64_t Extent() const { return m_value ? m_value->extent : 0; }
    // The value of the first entry of a map whose key is the text `key`.
    Yaml operator[](const char* key) const;
    // Items of a list, entries of a map, 0 otherwise.
    std::size_t size() const;
    // Over a list's items or a map's entries (see YamlEntry).
    class Iterator;
    Iterator begin() const;
    Iterator end() const;

private:
    bool Is(YamlValue::Kind kind) const { return m_value && m_value->kind == kind; }

    std::shared_ptr<const YamlValue> m_value;
};

// What iterating gives: a list's item is the entry itself; a map's entry
// has its key in `first` and its value in `second`.
struct YamlEntry : Yaml {
    YamlEntry(Yaml item, Yaml key, Yaml value) : Yaml(std::move(item)), first(std::move(key)), second(std::move(value)) {}
    Yaml first;
    Yaml second;
};

class Yaml::Iterator {
public:
    Iterator(const YamlValue* value, std::size_t index) : m_value(value), m_index(index) {}
    YamlEntry operator*() const;
    Iterator& operator++() {
        m_index += m_value && m_value->kind == YamlValue::Kind::Map ? 2 : 1;
        return *this;
    }
    bool operator!=(const Iterator& other) const { return m_index != other.m_index; }

private:
    const YamlValue* m_value;
    std::size_t m_index;
};

struct YamlEvent {
    enum class Kind { Scalar, Null, SequenceStart, MapStart, End, DocumentEnd };
    Kind kind = Kind::DocumentEnd;
    int line = 0;
    bool quoted = false;
    std::string tag;   // see YamlValue::tag
    std::string text;  // a scalar's text

    bool StartsNode() const { return kind != Kind::End && kind != Kind::DocumentEnd; }
};

struct YamlBounds {
    std::uint64_t aliasNodes = 0;  // nodes that aliases repeat, all together
    std::uint64_t heldNodes = 0;   // nodes held whole at once
    int depth = 0;                 // maps and lists inside each other; the top one is level 1
};

// The events of the first document of `text`, which must outlive the
// reader. Failures (syntax, bounds, aliases) throw LoadError with `file`
// and the line.
class YamlReader {
public:
    YamlReader(const std::string& text, std::string file, YamlBounds bounds);
    ~YamlReader();
    YamlReader(const YamlReader&) = delete;
    YamlReader& operator=(const YamlReader&) = delete;

    // The next event, aliases replaced by the events of what they repeat;
    // DocumentEnd after the document (also for a text without one). The
    // reference stays valid until the next call.
    const YamlEvent& Next();
    // The node whose first event `first` (the one Next gave last) is, read
    // to its end and held whole; its nodes count as held until Release.
    std::shared_ptr<const YamlValue> ReadNode(const YamlEvent& first);
    // Nodes ReadNode holds now.
    std::uint64_t Held() const { return m_held; }
    // `count` nodes of ReadNode's are no longer held.
    void Release(std::uint64_t count) { m_held -= count; }

    [[noreturn]] void Fail(int line, const std::string& message) const;

private:
    struct Parser;
    struct Recording;
    struct Replay;

    bool NextFromReplay();
    void NextFromParser();
    // One more node held, counted in `counter` (m_held or m_anchored).
    void Hold(int line, std::uint64_t& counter);
    void Reach(int line, int height);
    void Record(const std::string& anchor, bool opens);
    void CloseRecorded();
    void StartAlias(int line, const std::string& anchor);

    const std::string m_file;
    const YamlBounds m_bounds;
    std::unique_ptr<Parser> m_parser;
    YamlEvent m_event;
    std::uint64_t m_aliased = 0;
    std::uint64_t m_held = 0;      // by ReadNode, until Release
    std::uint64_t m_anchored = 0;  // anchored nodes, until the end
    bool m_documentEnded = false;
    // Per open list or map of the parse: whether it is being recorded.
    std::vector<bool> m_open;
    std::vector<Recording> m_recording;
    std::unordered_map<std::string, std::shared_ptr<const YamlValue>> m_anchors;  // by name, the latest
    std::vector<Replay> m_replay;
};

}  // namespace velnor::server
