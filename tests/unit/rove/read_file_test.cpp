// Values read from files: the whole content or a failure, never a part.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "istd/exception.h"
#include "rove_values.h"

namespace {

class ReadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "rove-read-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }

    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string Failure(const std::string& name) {
        try {
            ReadFile(name);
        } catch (const istd::Exception& e) {
            return e.what();
        }
        return "(read)";
    }
    std::string m_dir;
};

TEST_F(ReadFileTest, WholeContentByteForByte) {
    const std::string content("1,2\n\0,3\r\n", 9);
    EXPECT_EQ(ReadFile(Write("v", content)), content);
    EXPECT_EQ(ReadFile(Write("empty", "")), "");
    const std::string big(200000, 'x');
    EXPECT_EQ(ReadFile(Write("big", big)), big);
}

TEST_F(ReadFileTest, Failures) {
    EXPECT_EQ(Failure(""), "Missing file name after @.");
    EXPECT_EQ(Failure(m_dir + "/missing"), "Can't read value from file " + m_dir + "/missing");
    // A directory opens but cannot be read.
    EXPECT_EQ(Failure(m_dir), "Can't read value from file " + m_dir);
}

}  // namespace
