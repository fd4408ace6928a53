#include "rove_case.h"

#include <gtest/gtest.h>

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

std::string CaseName(const std::string& name) {
    std::string out;
    for (char c : name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

}  // namespace rove_test
