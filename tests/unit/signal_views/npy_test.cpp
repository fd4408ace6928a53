// The .npy preamble and the file that is fixed up at the end, also after a
// failed write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "istd/exception.h"
#include "signal_views/npy_file.h"
#include "signal_views/npy_format.h"
#include "support/process.h"

namespace {

using signal_views::NpyFile;
using signal_views::NpyPreamble;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(NpyFormat, NamesReadBackAsPythonLiterals) {
    struct Case {
        std::string name;
        std::string literal;
    };
    const Case cases[] = {
        {"a", "'a'"},
        {"it's", "'it\\'s'"},
        {"back\\slash", "'back\\\\slash'"},
        {"\xC2\xB5V", "'\\xb5V'"},
        {"\xE2\x82\xAC", "'\\u20ac'"},
        {"\xF0\x9F\x98\x80", "'\\U0001f600'"},
        {"tab\tnew\nline", "'tab\\x09new\\x0aline'"},
        {"bad\xFF", "'bad\\udcff'"},           // as Python's surrogateescape decodes it
        {"\xC0\xAF", "'\\udcc0\\udcaf'"},      // overlong: not UTF-8
        {"\xED\xA0\x80", "'\\udced\\udca0\\udc80'"},  // a surrogate: not UTF-8
    };
    for (const Case& c : cases) EXPECT_EQ(signal_views::PythonStringLiteral(c.name), c.literal) << c.name;
    EXPECT_EQ(signal_views::NpyFieldNames({"a", "", "a", "a_1", "b"}),
              (std::vector<std::string>{"a", "f1", "a_1", "a_1_1", "b"}));
}

TEST(NpyFormat, ThePreambleIsAlignedAndItsLengthDoesNotDependOnTheCount) {
    const std::vector<std::string> fields{"a", "b"};
    const std::string empty = NpyPreamble(fields, "<i2", 0);
    const std::string full = NpyPreamble(fields, "<i2", 18446744073709551615ull);
    EXPECT_EQ(empty.size(), full.size());
    EXPECT_EQ(empty.size() % 64, 0u);
    EXPECT_EQ(empty.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    EXPECT_EQ(static_cast<unsigned char>(empty[8]) + 256u * static_cast<unsigned char>(empty[9]), empty.size() - 10);
    EXPECT_EQ(empty.back(), '\n');
    EXPECT_EQ(empty.substr(10, empty.find('}') - 9),
              "{'descr': [('a', '<i2'), ('b', '<i2')], 'fortran_order': False, 'shape': (0,), }");
    EXPECT_THROW(NpyPreamble(std::vector<std::string>(3000, std::string(20, 'x')), "<f8", 0), std::length_error);
}

TEST(NpyFile, TheCountIsFixedUpAtTheEndAndFailuresAreReported) {
    const std::string path = velnor::test::TempDir() + "/x.npy";
    const std::int16_t atoms[3][2] = {{1, 2}, {3, 4}, {5, 6}};
    {
        NpyFile file(path, {"a", "b"}, "<i2", 4, std::nullopt);
        file.Append(atoms, 2);
        file.Append(atoms[2], 1);
        EXPECT_EQ(file.Close(), 3u);
    }
    const std::string preamble = NpyPreamble({"a", "b"}, "<i2", 3);
    EXPECT_EQ(ReadFile(path), preamble + std::string(reinterpret_cast<const char*>(atoms), sizeof atoms));

    // Files that cannot be opened or written fail with the reason.
    struct Case {
        std::string path;
        std::optional<std::uint64_t> announced;
        std::string error;
    };
    const Case cases[] = {
        {"/nonexistent/dir/x.npy", std::nullopt, "signal: Can't open /nonexistent/dir/x.npy: No such file or directory"},
        {"/dev/full", 3, "signal: Can't write to /dev/full: No space left on device"},
        {"/dev/null", std::nullopt, "signal: /dev/null cannot be rewritten at the end, so the atom count must be known first: give --loop N"},
    };
    for (const Case& c : cases) {
        try {
            NpyFile file(c.path, {"a"}, "<i2", 2, c.announced);
            ADD_FAILURE() << c.path;
        } catch (const istd::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
    // A stream that cannot be rewritten must get the count it announced.
    NpyFile short_("/dev/null", {"a"}, "<i2", 2, std::uint64_t{3});
    short_.Append(atoms, 2);
    try {
        short_.Close();
        ADD_FAILURE();
    } catch (const istd::Exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "signal: 2 of the 3 atoms announced in /dev/null were written: the .npy is incomplete");
    }
}

}  // namespace
