#include "script_case.h"

#include <gtest/gtest.h>

#include <sstream>

namespace script_test {

std::vector<Json> Records(const std::string& out) {
    std::vector<Json> records;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        try {
            records.push_back(Json::parse(line));
            EXPECT_TRUE(records.back().is_object()) << line;
        } catch (const nlohmann::json::exception& e) {
            ADD_FAILURE() << "not JSON: '" << line << "': " << e.what();
        }
    }
    return records;
}

std::vector<Json> Expected(const std::vector<std::string>& lines) {
    std::vector<Json> records;
    for (const auto& line : lines) records.push_back(Json::parse(line));
    return records;
}

}  // namespace script_test
