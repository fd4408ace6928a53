#include "snapshot_case.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace snapshot_test {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Stable(const std::string& text) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line))
        if (line.rfind("time: ", 0) != 0 && line.rfind("port: ", 0) != 0 && line.rfind("tool: ", 0) != 0)
            out += line + "\n";
    return out;
}

void Expect(const velnor::test::RunResult& r, const std::string& out, const std::string& err, int status) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

std::string SnapshotOf(const std::vector<std::string>& entries, const std::string& host) {
    std::string text = "host: \"" + host + "\"\nroot: application\ncount: " + std::to_string(entries.size()) + "\nnodes:\n";
    for (const auto& e : entries) text += "  - " + e + "\n";
    return text;
}

void WriteManyNodes(const std::string& dir, int count) {
    std::string tree = "host: snap-host\napplication:\n  nodes:\n";
    std::vector<std::string> entries;
    for (int i = 0; i < count; ++i) {
        tree += "    n" + std::to_string(i) + ": {type: int32, value: 0, flags: [writable]}\n";
        entries.push_back("{path: n" + std::to_string(i) + ", type: int32, value: 1}");
    }
    WriteFile(dir + "/tree.yaml", tree);
    WriteFile(dir + "/s.yaml", SnapshotOf(entries));
}

}  // namespace snapshot_test
