#pragma once
// The command handlers: the command frame calls one of them once per
// selected node, in command-line order. Each lives in the file named after
// its command (rove_info.cpp, rove_dump.cpp, rove_access.cpp, rove_listen.cpp,
// rove_signal.cpp, rove_bench.cpp); AutoComplete, which answers --complete
// instead of running a command, in rove_complete.cpp.
#include <exception>
#include <string>
#include <vector>

#include "mci/mci.h"

// A failure that ends the command after its message was written already:
// the command frame only ends the run with status 1.
struct FailureAlreadyReported : std::exception {
    const char* what() const noexcept override { return "failure already reported"; }
};

// info
void PrintNodeInfo(const mci::Node& node);
// Only forwards to PrintNodeInfo.
void GetInfo(const mci::Node& node);
// info --json: the report as one record.
void PrintNodeInfoJson(const mci::Node& node);

// dump
void Dump(const mci::Node& node);
// dump --json: one record per node, values uncut.
void DumpJson(const mci::Node& node);

// access (the default command)
void ValueAccess(const mci::Node& node, const std::string& path, const std::string& value, const std::string& index);
// Runs every check of the write `path=value` (writable, conversion, element
// ranges, message size) without writing; throws istd::Exception as the
// write would.
void CheckValueWrite(const mci::Node& node, const std::string& path, const std::string& value,
                     const std::string& index);
// access --json: one record for the read, write or function run. Throws as
// ValueAccess does; the frame turns a failure into an error record.
void ValueAccessJson(const mci::Node& node, const std::string& path, const std::string& value,
                     const std::string& index);

// listen: Listen subscribes each node; the listening phase follows the last
// of them and waits for notifications, pinging `root` when asked to.
void Listen(mci::Node& node);
void ListeningPhase(const mci::Node& root);

// signal
void Signal(const mci::Node& node);

// bench
void Benchmark(mci::Node& node);

// save, diff, apply: run once for the whole command line (the snapshot file
// and the subtrees come from g_params.paths) and give the exit status: 0, 1
// (differences, a failed check or write), c_statusBadSnapshot.
int SaveSnapshot(const mci::Node& root);
int DiffSnapshot(const mci::Node& root);
int ApplySnapshot(const mci::Node& root);
// The exit status of a snapshot file that cannot be read or is malformed.
constexpr int c_statusBadSnapshot = 2;

// --complete: prints the completion candidates for a partial node path.
void AutoComplete(const std::string& text, bool longFlag);
// --complete-value: the names an enumeration node takes, for completion
// after "path=" (nothing for any other node).
void CompleteEnumValue(const std::string& path);
