// Feeds arbitrary texts to the state-file reader, once as they are (the
// end line must refuse nearly all of them) and once sealed with a valid end
// line (the first byte gives its entry count), so that the YAML behind it
// is reached. A text is refused as damaged, or gives values that fit their
// nodes exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "loader.h"
#include "state_file.h"

namespace {

using namespace velnor::server;

void Check(bool condition) {
    if (!condition) std::abort();
}

const Tree& FuzzTree() {
    static const Tree tree = LoadTreeText(
        "host: h\n"
        "application:\n"
        "  nodes:\n"
        "    gain: {type: double, value: 1.5, flags: [writable, persistent], min: 0, max: 10}\n"
        "    tiny: {type: float, value: 0.5, flags: [writable, persistent]}\n"
        "    mode: {type: enum, domain: [\"off\", \"on\"], value: \"off\", flags: [writable, persistent]}\n"
        "    table: {type: int32, value: [1, 2, 3], flags: [writable, persistent]}\n"
        "    bits: {type: bool, value: [true, false], flags: [writable, persistent]}\n"
        "    wide: {type: uint64, value: 7, flags: [writable, persistent]}\n"
        "    small: {type: int64, value: -7, flags: [writable, persistent], min: -10}\n"
        "    count: {type: uint32, value: 0, flags: [writable, persistent]}\n"
        "    plain: {type: int32, value: 1, flags: [writable]}\n"
        "    group:\n"
        "      nodes:\n"
        "        text: {type: string, value: \"x\", flags: [writable, persistent]}\n"
        "platform:\n"
        "  nodes:\n"
        "    word: {type: string, value: \"y\", flags: [writable, persistent]}\n",
        "fuzz-tree.yaml", "h");
    return tree;
}

void Read(const std::string& text) {
    const Tree& tree = FuzzTree();
    std::ostringstream warnings;
    std::vector<SavedValue> values;
    try {
        values = StateFile::Parse(text, "fuzz.state", tree, warnings);
    } catch (const DamagedStateError& e) {
        Check(std::string(e.what()).rfind("fuzz.state", 0) == 0);
        return;
    }
    for (const SavedValue& saved : values) {
        const Node* node = tree.Find(saved.id);
        Check(node && node->Has(flags::Persistent));
        Check(saved.value.index() == StorageIndex(node->type));
        Check(ElementCount(saved.value) == node->size);
        for (std::size_t i = 0; i < node->size; ++i)
            if (auto v = NumericElement(saved.value, i)) Check(InRange(*v, node->min, node->max));
        if (node->type == ValueType::Enum) {
            const std::string& name = std::get<std::vector<std::string>>(saved.value)[0];
            Check(name == "off" || name == "on");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Read(text);
    if (size > 0) {
        const std::string body = text.substr(1);
        Read(body + EndLine(data[0], body));
    }
    return 0;
}
