#include "yaml_reader.h"

#include <yaml.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "loader.h"

namespace velnor::server {

const std::string& Yaml::Scalar() const {
    static const std::string empty;
    return IsScalar() ? m_value->text : empty;
}

const std::string& Yaml::Tag() const {
    static const std::string empty;
    return IsScalar() ? m_value->tag : empty;
}

Yaml Yaml::operator[](const char* key) const {
    if (!IsMap()) return Yaml();
    const auto& items = m_value->items;
    for (std::size_t i = 0; i + 1 < items.size(); i += 2)
        if (items[i]->kind == YamlValue::Kind::Scalar && items[i]->text == key) return Yaml(items[i + 1]);
    return Yaml();
}

std::size_t Yaml::size() const {
    if (IsSequence()) return m_value->items.size();
    if (IsMap()) return m_value->items.size() / 2;
    return 0;
}

Yaml::Iterator Yaml::begin() const { return Iterator(m_value.get(), 0); }

Yaml::Iterator Yaml::end() const {
    const bool container = IsSequence() || IsMap();
    return Iterator(m_value.get(), container ? m_value->items.size() : 0);
}

YamlEntry Yaml::Iterator::operator*() const {
    const auto& items = m_value->items;
    if (m_value->kind == YamlValue::Kind::Map) return YamlEntry(Yaml(), Yaml(items[m_index]), Yaml(items[m_index + 1]));
    return YamlEntry(Yaml(items[m_index]), Yaml(), Yaml());
}

namespace {

// A plain scalar without tag that YAML reads as null.
bool IsNullText(const yaml_event_t& event) {
    if (event.data.scalar.style != YAML_PLAIN_SCALAR_STYLE || event.data.scalar.tag) return false;
    const std::string_view text(reinterpret_cast<const char*>(event.data.scalar.value), event.data.scalar.length);
    return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// Quoted and block scalars are texts whatever they hold; so is a scalar
// tagged with the non-specific tag "!".
bool IsQuotedScalar(const yaml_event_t& event) {
    const auto* tag = reinterpret_cast<const char*>(event.data.scalar.tag);
    if (tag) return std::strcmp(tag, "!") == 0;
    return event.data.scalar.style != YAML_PLAIN_SCALAR_STYLE;
}

std::string TagOf(const yaml_event_t& event, bool quoted) {
    if (event.data.scalar.tag) return reinterpret_cast<const char*>(event.data.scalar.tag);
    return quoted ? "!" : "?";
}

std::string AnchorOf(const yaml_char_t* anchor) { return anchor ? reinterpret_cast<const char*>(anchor) : ""; }

int LineOf(const yaml_mark_t& mark) { return static_cast<int>(mark.line) + 1; }

YamlEvent EndEvent(int line) {
    YamlEvent event;
    event.kind = YamlEvent::Kind::End;
    event.line = line;
    return event;
}

// Extent and height of a list or map from its items.
void Measure(YamlValue& value) {
    value.extent = 1;
    value.height = 1;
    for (const auto& item : value.items) {
        value.extent += item->extent;
        value.height = std::max(value.height, item->height + 1);
    }
}

// A held node for the node an event starts (a list or map without items).
std::shared_ptr<YamlValue> ValueOf(const YamlEvent& event) {
    auto value = std::make_shared<YamlValue>();
    value->line = event.line;
    value->quoted = event.quoted;
    value->tag = event.tag;
    value->text = event.text;
    switch (event.kind) {
        case YamlEvent::Kind::Scalar: value->kind = YamlValue::Kind::Scalar; break;
        case YamlEvent::Kind::SequenceStart: value->kind = YamlValue::Kind::Sequence; break;
        case YamlEvent::Kind::MapStart: value->kind = YamlValue::Kind::Map; break;
        default: value->kind = YamlValue::Kind::Null; break;
    }
    return value;
}

}  // namespace

// libyaml's parser over the text, and its current event.
struct YamlReader::Parser {
    yaml_parser_t parser{};
    yaml_event_t event{};
    bool holdsEvent = false;

    explicit Parser(const std::string& text) {
        yaml_parser_initialize(&parser);
        yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    ~Parser() {
        Release();
        yaml_parser_delete(&parser);
    }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    void Release() {
        if (holdsEvent) yaml_event_delete(&event);
        holdsEvent = false;
    }
    // False when the text does not parse.
    bool Advance() {
        Release();
        if (!yaml_parser_parse(&parser, &event)) return false;
        holdsEvent = true;
        return true;
    }
    int ProblemLine() const { return LineOf(parser.problem_mark); }
    std::string Problem() const {
        std::string problem = parser.problem ? parser.problem : "the text is not YAML";
        if (parser.context)
            problem += " (" + std::string(parser.context) + " from line " + std::to_string(LineOf(parser.context_mark)) + ")";
        return problem;
    }
};

// A list or map of the parse being held whole, because it or a node around
// it is anchored.
struct YamlReader::Recording {
    std::shared_ptr<YamlValue> value;
    std::string anchor;  // "" when only a node around it is anchored
};

// A held node being given out as events.
struct YamlReader::Replay {
    const YamlValue* value;
    std::size_t next = 0;  // the item to give out next
    bool started = false;
};

YamlReader::YamlReader(const std::string& text, std::string file, YamlBounds bounds)
    : m_file(std::move(file)), m_bounds(bounds), m_parser(std::make_unique<Parser>(text)) {}

YamlReader::~YamlReader() = default;

void YamlReader::Fail(int line, const std::string& message) const { throw LoadError(m_file, line, message); }

const YamlEvent& YamlReader::Next() {
    if (!NextFromReplay()) NextFromParser();
    return m_event;
}

bool YamlReader::NextFromReplay() {
    while (!m_replay.empty()) {
        Replay& top = m_replay.back();
        const YamlValue& value = *top.value;
        if (!top.started) {
            top.started = true;
            m_event.line = value.line;
            m_event.quoted = value.quoted;
            m_event.tag = value.tag;
            m_event.text = value.text;
            switch (value.kind) {
                case YamlValue::Kind::Null: m_event.kind = YamlEvent::Kind::Null; break;
                case YamlValue::Kind::Scalar: m_event.kind = YamlEvent::Kind::Scalar; break;
                case YamlValue::Kind::Sequence: m_event.kind = YamlEvent::Kind::SequenceStart; break;
                case YamlValue::Kind::Map: m_event.kind = YamlEvent::Kind::MapStart; break;
            }
            if (value.kind == YamlValue::Kind::Null || value.kind == YamlValue::Kind::Scalar) m_replay.pop_back();
            return true;
        }
        if (top.next < value.items.size()) {
            m_replay.push_back(Replay{value.items[top.next++].get()});
            continue;
        }
        m_event = EndEvent(value.line);
        m_replay.pop_back();
        return true;
    }
    return false;
}

void YamlReader::NextFromParser() {
    for (;;) {
        if (m_documentEnded) {
            m_event = YamlEvent{};
            return;
        }
        if (!m_parser->Advance()) Fail(m_parser->ProblemLine(), m_parser->Problem());
        const yaml_event_t& event = m_parser->event;
        const int line = LineOf(event.start_mark);
        m_event = EndEvent(line);
        switch (event.type) {
            case YAML_STREAM_END_EVENT:
            case YAML_DOCUMENT_END_EVENT:
                m_documentEnded = true;
                m_event = YamlEvent{};
                return;
            case YAML_ALIAS_EVENT:
                StartAlias(line, AnchorOf(event.data.alias.anchor));
                if (NextFromReplay()) return;
                continue;
            case YAML_SCALAR_EVENT:
                m_event.kind = IsNullText(event) ? YamlEvent::Kind::Null : YamlEvent::Kind::Scalar;
                m_event.quoted = IsQuotedScalar(event);
                m_event.tag = TagOf(event, m_event.quoted);
                m_event.text.assign(reinterpret_cast<const char*>(event.data.scalar.value), event.data.scalar.length);
                Record(AnchorOf(event.data.scalar.anchor), false);
                return;
            case YAML_SEQUENCE_START_EVENT:
            case YAML_MAPPING_START_EVENT: {
                Reach(line, 1);
                const bool map = event.type == YAML_MAPPING_START_EVENT;
                m_event.kind = map ? YamlEvent::Kind::MapStart : YamlEvent::Kind::SequenceStart;
                Record(AnchorOf(map ? event.data.mapping_start.anchor : event.data.sequence_start.anchor), true);
                return;
            }
            case YAML_SEQUENCE_END_EVENT:
            case YAML_MAPPING_END_EVENT: {
                const bool recorded = m_open.back();
                m_open.pop_back();
                if (recorded) CloseRecorded();
                return;
            }
            default:
                continue;  // stream and document starts
        }
    }
}

void YamlReader::Hold(int line, std::uint64_t& counter) {
    if (m_held + m_anchored >= m_bounds.heldNodes)
        Fail(line, "more than " + std::to_string(m_bounds.heldNodes) +
                       " YAML nodes to hold at once (a node's keys and values, anchored nodes)");
    ++counter;
}

void YamlReader::Reach(int line, int height) {
    if (static_cast<std::int64_t>(m_open.size()) + height > m_bounds.depth)
        Fail(line, "nesting deeper than " + std::to_string(m_bounds.depth) + " levels");
}

// Holds the node the current event starts when it, or a node around it, is
// anchored; a list or map is filled as its events come.
void YamlReader::Record(const std::string& anchor, bool opens) {
    const bool inside = !m_recording.empty();
    if (!inside && anchor.empty()) {
        if (opens) m_open.push_back(false);
        return;
    }
    Hold(m_event.line, m_anchored);
    std::shared_ptr<YamlValue> value = ValueOf(m_event);
    if (inside) m_recording.back().value->items.push_back(value);
    if (opens) {
        m_open.push_back(true);
        m_recording.push_back(Recording{value, anchor});
    } else {
        m_anchors[anchor] = value;
    }
}

void YamlReader::CloseRecorded() {
    Recording done = std::move(m_recording.back());
    m_recording.pop_back();
    Measure(*done.value);
    if (!done.anchor.empty()) m_anchors[done.anchor] = done.value;
}

void YamlReader::StartAlias(int line, const std::string& anchor) {
    const auto named = m_anchors.find(anchor);
    if (named == m_anchors.end()) {
        const bool open = std::any_of(m_recording.begin(), m_recording.end(),
                                      [&anchor](const Recording& r) { return r.anchor == anchor; });
        // An alias inside the node it names would make the document a cycle.
        Fail(line, open ? "an alias stands inside the node it repeats" : "the alias *" + anchor + " names no anchor before it");
    }
    const std::shared_ptr<const YamlValue> value = named->second;
    if (value->extent > m_bounds.aliasNodes - m_aliased)
        Fail(line, "aliases repeat more than " + std::to_string(m_bounds.aliasNodes) + " YAML nodes");
    m_aliased += value->extent;
    Reach(line, value->height);
    if (!m_recording.empty()) m_recording.back().value->items.push_back(value);
    m_replay.push_back(Replay{value.get()});
}

std::shared_ptr<const YamlValue> YamlReader::ReadNode(const YamlEvent& first) {
    auto FromEvent = [this](const YamlEvent& event) {
        Hold(event.line, m_held);
        return ValueOf(event);
    };
    std::shared_ptr<YamlValue> root = FromEvent(first);
    if (first.kind != YamlEvent::Kind::SequenceStart && first.kind != YamlEvent::Kind::MapStart) return root;
    std::vector<YamlValue*> open{root.get()};
    while (!open.empty()) {
        const YamlEvent& event = Next();
        if (event.kind == YamlEvent::Kind::End) {
            Measure(*open.back());
            open.pop_back();
            continue;
        }
        if (event.kind == YamlEvent::Kind::DocumentEnd) Fail(first.line, "the document ends inside a node");
        std::shared_ptr<YamlValue> value = FromEvent(event);
        open.back()->items.push_back(value);
        if (event.kind == YamlEvent::Kind::SequenceStart || event.kind == YamlEvent::Kind::MapStart)
            open.push_back(value.get());
    }
    return root;
}

}  // namespace velnor::server
