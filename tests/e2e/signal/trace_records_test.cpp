// The trace file of real signal reads: the readers' records carry their
// template argument, "remaining" belongs to the stream reader, the
// dispatcher's end is logged through istd::LogError, and no record names a
// source by the path it was built from.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "expected.h"
#include "support/registry_server.h"

namespace signal_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

// "<seconds> L<level> T<thread> <file>:<line> <function>: <message>"
struct Record {
    std::string level;
    std::string file;
    std::string function;
    std::string message;
};

std::vector<Record> ReadTrace(const std::string& path) {
    std::ifstream in(path);
    std::vector<Record> records;
    for (std::string line; std::getline(in, line);) {
        const std::size_t levelAt = line.find(" L") + 1;
        const std::size_t fileAt = line.find(' ', line.find(" T", levelAt) + 1) + 1;
        const std::size_t lineAt = line.find(':', fileAt);
        const std::size_t functionAt = line.find(' ', lineAt) + 1;
        const std::size_t messageAt = line.find(": ", functionAt);
        records.push_back(Record{line.substr(levelAt, line.find(' ', levelAt) - levelAt),
                                 line.substr(fileAt, lineAt - fileAt),
                                 line.substr(functionAt, messageAt - functionAt), line.substr(messageAt + 2)});
    }
    return records;
}

bool Has(const std::vector<Record>& records, const Record& wanted) {
    for (const Record& r : records)
        if (r.level == wanted.level && r.file == wanted.file && r.function == wanted.function &&
            r.message == wanted.message)
            return true;
    return false;
}

// Every source is one of the tool's files or a library header path.
void ExpectPortableSources(const std::vector<Record>& records) {
    for (const Record& r : records)
        EXPECT_TRUE(r.file == "velnor-rove" || r.file.rfind("core/shared/isig/", 0) == 0 ||
                    r.file == "core/shared/istd/log")
            << r.file << " " << r.function;
}

std::string Signature(const std::string& reader, const std::string& type) {
    return "void " + reader + "(isig::SignalSourceSharedPtr&) [with TRAITS = isig::SignalTraits<" + type +
           ", isig::RuntimeDefined, 1u>]";
}

TEST(TraceRecords, ReadersNameTheirTemplateArgument) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    const std::string dir = velnor::test::TempDir();
    ASSERT_EQ(RunRove(server, {"--csv", "--size", "3", "events", "--debug", dir + "/dod", "4"}).status, 0);
    ASSERT_EQ(RunRove(server, {"--csv", "--size", "15", "ticking", "--debug", dir + "/stream", "4"}).status, 0);
    const std::vector<Record> dod = ReadTrace(dir + "/dod");
    const std::vector<Record> stream = ReadTrace(dir + "/stream");

    const std::string dodReader = Signature("PrintRemoteDod", "int");
    EXPECT_TRUE(Has(dod, {"L4", "velnor-rove", dodReader, "> enter"}));
    EXPECT_TRUE(Has(dod, {"L3", "velnor-rove", dodReader, "Reading DOD: size 3 lmt: 0 offset: 0"}));
    const std::string streamReader = Signature("PrintRemoteStream", "short int");
    EXPECT_TRUE(Has(stream, {"L4", "velnor-rove", streamReader, "> enter"}));
    EXPECT_TRUE(Has(stream, {"L2", "velnor-rove", streamReader, "read size: 15, client queue capacity: 256"}));
    EXPECT_TRUE(Has(stream, {"L2", "velnor-rove", streamReader, "remaining: 15"}));
    for (const Record& r : stream) {
        if (r.message.rfind("remaining: ", 0) == 0) {
            EXPECT_EQ(r.function, streamReader);
        }
    }

    bool fromStreamHeader = false;
    for (const Record& r : stream) fromStreamHeader |= r.file == "core/shared/isig/stream";
    EXPECT_TRUE(fromStreamHeader);
    ExpectPortableSources(dod);
    ExpectPortableSources(stream);
}

TEST(TraceRecords, DispatcherEndIsLoggedAsError) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    const std::string trace = velnor::test::TempDir() + "/trace";
    auto rove = StartRove(server, {"--loop=-1", "ticking", "--debug", trace, "1"});
    std::string line;
    ASSERT_TRUE(rove->ReadLine(line, std::chrono::seconds(10)));  // the stream flows
    server.Kill();
    ASSERT_EQ(rove->Wait(std::chrono::seconds(60)), 1);
    EXPECT_EQ(rove->Err(), "Error: Interrupted read from ticking signal. Error: -6 (remote access failed): Registry at "
                           "127.0.0.1:" + server.PortText() + " is not reachable\n");
    const std::vector<Record> records = ReadTrace(trace);
    EXPECT_TRUE(Has(records, {"L1", "core/shared/istd/log", "void istd::LogError(const std::string&)",
                              "ticking: Terminating dispatch thread. Cause: -6 (remote access failed)"}));
    ExpectPortableSources(records);
}

}  // namespace
}  // namespace signal_test
