#pragma once
// What the signal command must print for the counting signals of the
// fixtures: element j of the atom at position p is p * components + j,
// wrapped to the atom type, computed from that definition (not from the
// server's generator) and written with printf (not with the tool's own
// formatting).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/registry_server.h"

namespace signal_test {

enum class Format { Text, Csv, Binary };

struct AtomType {
    std::string name;  // as in the tree file: "int16"
    // Atoms [first, first + count) of `components` components.
    std::function<std::string(Format format, std::uint64_t first, std::uint64_t count, std::uint32_t components)>
        render;
};

const std::vector<AtomType>& AtomTypes();
const AtomType& TypeNamed(const std::string& name);

// The header line of component names.
std::string Header(Format format, const std::vector<std::string>& names);

// Runs velnor-rove against the server.
velnor::test::RunResult RunRove(const velnor::test::RegistryServer& server, std::vector<std::string> args);

// Starts velnor-rove in the background against the server.
std::unique_ptr<velnor::test::Child> StartRove(const velnor::test::RegistryServer& server,
                                               std::vector<std::string> args,
                                               const velnor::test::RunOptions& options = {});

// The lines of `text` (without their line ends).
std::vector<std::string> Lines(const std::string& text);

// True when `text` has the shape of `pattern`: '9' stands for one or more
// digits, every other character for itself.
bool HasShape(const std::string& text, const std::string& pattern);

}  // namespace signal_test
