#pragma once
// Configuration snapshot files: what save writes and diff and apply read.
//
// A snapshot is one YAML document:
//
//   # velnor-rove snapshot
//   host: "demo-host"              the registry host name (its root's name)
//   port: 17520
//   root: application              or platform
//   version: "2.8.167"             the registry's version node, when it has one
//   time: "2026-12-09T02:40:00Z"   UTC
//   tool: "velnor-rove 1.0.0.0"
//   count: 2                       the number of entries: a file cut short is seen
//   nodes:
//     - {path: "boards.board0.gain", type: double, value: 1.5}
//     - {path: "boards.board0.coeffs", type: int32, value: [0, 1, 2, 3]}
//
// Values are written so that they read back exactly: integers in decimal,
// bools as true/false, floating values, texts and enumeration names as
// istd/yaml_text.h writes them (the shortest text that reads back to the
// same bits, .nan(0x<bits>) for a NaN other than the default one; double
// quoted with YAML escapes, or !!binary when a text is not UTF-8), the
// rule the registry server's state file follows too. An array is a flow
// sequence, [] when empty; a scalar is a plain value.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "istd/any.h"
#include "istd/yaml_text.h"
#include "mci/mci.h"

struct SnapshotEntry {
    std::string path;  // dotted, below the registry root, as access takes it
    mci::enums::NodeValType_e type = mci::enums::eNoValue;
    istd::Any value;   // enumerations hold their names
    int line = 0;      // where the entry is in the file (1-based)
};

struct SnapshotHeader {
    std::string host;
    std::int32_t port = 0;
    std::string root;  // "application" or "platform"
    std::optional<std::string> version;
    std::string time;
    std::string tool;
    int hostLine = 0;
    int rootLine = 0;
};

struct Snapshot {
    SnapshotHeader header;
    std::vector<SnapshotEntry> entries;
};

// A snapshot file that cannot be read or is malformed; what() is
// "FILE:LINE: reason" (or "FILE: reason" when no line is to blame).
class SnapshotFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The snapshot as YAML text.
std::string SnapshotText(const Snapshot& snapshot);
// Reads a snapshot from `text`, naming `fileName` in errors. Throws
// SnapshotFileError.
Snapshot ParseSnapshot(const std::string& text, const std::string& fileName);
// Reads the file ("-": standard input). Throws SnapshotFileError.
Snapshot ReadSnapshotFile(const std::string& fileName);

// A value as the file writes it ("1.5", "[1, 2]", "\"text\"").
std::string ValueText(const istd::Any& value);
// Equal element types, array forms and elements; doubles and floats are
// compared bit for bit (a NaN equals the same NaN, 0 differs from -0).
bool SameValue(const istd::Any& a, const istd::Any& b);
// "int32", "double[4]": the type name and, for arrays, the element count.
std::string TypeText(mci::enums::NodeValType_e type, bool isArray, std::size_t size);
