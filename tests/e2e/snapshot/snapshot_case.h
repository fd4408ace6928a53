#pragma once
// What the snapshot tests share: files, snapshot texts, and runs checked by
// their whole output, error text and exit status.
#include <string>
#include <vector>

#include "support/process.h"

namespace snapshot_test {

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// The snapshot without the lines that differ from run to run (time, port,
// tool).
std::string Stable(const std::string& text);

void Expect(const velnor::test::RunResult& r, const std::string& out, const std::string& err, int status);

// A snapshot of an application registry of host `host` holding `entries`
// (each a flow mapping, such as "{path: a, type: int32, value: 1}").
std::string SnapshotOf(const std::vector<std::string>& entries, const std::string& host = "snap-host");

// Writes DIR/tree.yaml, a tree of `count` writable int32 nodes n0, n1, ...
// holding 0, and DIR/s.yaml, a snapshot that sets them all to 1: an apply
// that runs for seconds.
void WriteManyNodes(const std::string& dir, int count);

}  // namespace snapshot_test
