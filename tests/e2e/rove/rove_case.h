#pragma once
// One run of velnor-rove against a real registry server, with its expected
// standard output, standard error and exit status.
#include <ostream>
#include <string>
#include <vector>

#include "support/registry_server.h"

namespace rove_test {

struct RoveCase {
    RoveCase(std::string name_, std::vector<std::string> args_, std::string out_, std::string err_ = "",
             int status_ = 0, std::string input_ = "")
        : name(std::move(name_)), args(std::move(args_)), out(std::move(out_)), err(std::move(err_)),
          status(status_), input(std::move(input_)) {}

    std::string name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status = 0;
    std::string input;  // standard input
};

std::ostream& operator<<(std::ostream& os, const RoveCase& c);

// Runs the case against the server and checks all three results exactly.
void ExpectRun(const velnor::test::RegistryServer& server, const RoveCase& c);
// Checks one finished run.
void ExpectResult(const velnor::test::RunResult& r, const std::string& out, const std::string& err, int status);

// The access read line of one node, as "path: value".
std::string Read(const velnor::test::RegistryServer& server, const std::string& path);

// True when `text` has the shape of `pattern`, where '9' stands for any
// digit and every other character for itself.
bool MatchesShape(const std::string& text, const std::string& pattern);
// A fixed-point number with six decimals, as "123.456789".
bool IsSixDecimals(const std::string& text);

}  // namespace rove_test
