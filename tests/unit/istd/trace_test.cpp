#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "istd/trace.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(TraceFile, WritesOnlyActiveLevelsWithAllFields) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velnor-trace-test-" + std::to_string(getpid()) + ".log")).string();
    unlink(path.c_str());
    auto& trace = istd::TraceFile::GetInstance();
    EXPECT_FALSE(trace.IsActive());
    istd::TraceFile::Init(path, "");
    trace.Start(2);
    EXPECT_TRUE(trace.IsActive());
    int level = 0;
    trace.GetLevel(level);
    EXPECT_EQ(level, 2);
    for (int l = 1; l <= 4; ++l) trace.Trace(l, "void F()", "src/file", 10 + l, "message " + std::to_string(l));
    { istd::TraceFnc scope("void Scoped()", "src/file", 99); }  // level 4: not written at 2

    trace.Start(4);
    { istd::TraceFnc scope("void Scoped()", "src/file", 99); }
    trace.Start(0);
    EXPECT_FALSE(trace.IsActive());
    trace.Trace(1, "void F()", "src/file", 1, "after stop");

    const std::string text = ReadAll(path);
    EXPECT_NE(text.find(" L1 "), std::string::npos);
    EXPECT_NE(text.find("src/file:11 void F(): message 1\n"), std::string::npos);
    EXPECT_NE(text.find("src/file:12 void F(): message 2\n"), std::string::npos);
    EXPECT_EQ(text.find("message 3"), std::string::npos);
    EXPECT_EQ(text.find("message 4"), std::string::npos);
    EXPECT_EQ(text.find("after stop"), std::string::npos);
    EXPECT_NE(text.find("src/file:99 void Scoped(): > enter\n"), std::string::npos);
    EXPECT_NE(text.find("src/file:99 void Scoped(): < exit\n"), std::string::npos);
    EXPECT_EQ(text.find("> enter"), text.rfind("> enter"));  // only the level-4 run
    unlink(path.c_str());
}

}  // namespace
