#pragma once
// Runs of velnor-rove whose standard output is NDJSON: every line is parsed
// with nlohmann-json, so the tests compare values, not spellings.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/registry_server.h"

namespace script_test {

using Json = nlohmann::ordered_json;

// Each line of `out` parsed; a line that is no JSON object fails the test.
std::vector<Json> Records(const std::string& out);
// Records given as JSON texts.
std::vector<Json> Expected(const std::vector<std::string>& lines);


}  // namespace script_test
