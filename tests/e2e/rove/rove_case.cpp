#include "rove_case.h"

#include <gtest/gtest.h>

#include <cctype>

namespace rove_test {

std::ostream& operator<<(std::ostream& os, const RoveCase& c) {
    os << c.name << ":";
    for (const auto& a : c.args) os << " '" << a << "'";
    return os;
}

void ExpectResult(const velnor::test::RunResult& r, const std::string& out, const std::string& err, int status) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

void ExpectRun(const velnor::test::RegistryServer& server, const RoveCase& c) {
    velnor::test::RunOptions options;
    options.input = c.input;
    SCOPED_TRACE(::testing::PrintToString(c));
    ExpectResult(velnor::test::Rove(server, c.args, options), c.out, c.err, c.status);
}

std::string Read(const velnor::test::RegistryServer& server, const std::string& path) {
    const velnor::test::RunResult r = velnor::test::Rove(server, {"access", path});
    EXPECT_EQ(r.err, "") << path;
    EXPECT_EQ(r.status, 0) << path;
    return r.out;
}

bool MatchesShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}

bool IsSixDecimals(const std::string& text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || text.size() != dot + 7) return false;
    return MatchesShape(text, std::string(dot, '9') + "." + std::string(6, '9'));
}

}  // namespace rove_test
