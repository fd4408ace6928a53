// The .npy preamble and the file that is fixed up at the end, also after a
// failed write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "istd/exception.h"
#include "signal_views/npy_file.h"
#include "signal_views/npy_format.h"
#include "signal_views/npy_view.h"
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

    // Blocks small and large, in every order, reach the file in order
    // (small ones are gathered, large ones written as they come).
    const std::vector<std::vector<std::size_t>> sequences = {
        {10, 70000, 10}, {200000, 100000, 1}, {300000}, {65535, 1, 65536, 262144, 262143, 5}, {1, 262144}};
    for (const auto& blocks : sequences) {
        std::string expected;
        NpyFile file(path, {"a"}, "|u1", 1, std::nullopt);
        for (const std::size_t bytes : blocks) {
            std::string block(bytes, '\0');
            for (char& c : block) c = static_cast<char>(expected.size() * 7 + (&c - block.data()) * 13);
            file.Append(block.data(), block.size());
            expected += block;
        }
        EXPECT_EQ(file.Close(), expected.size());
        EXPECT_EQ(ReadFile(path), NpyPreamble({"a"}, "|u1", expected.size()) + expected) << blocks.size();
    }

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

// Blocks of a stream whose positions leave a hole within an acquisition:
// the file holds what came, the metadata counts the hole, the run fails.
TEST(NpyView, AtomsMissingWithinAnAcquisitionAreCountedAndFail) {
    struct Block {
        std::int64_t position;  // -1: a block without metadata; -2: the end of an acquisition
        std::uint32_t atoms;
    };
    struct Case {
        const char* name;
        std::vector<Block> blocks;
        std::uint64_t lost;
    };
    const Case cases[] = {
        {"contiguous", {{0, 4}, {4, 4}, {8, 2}}, 0},
        {"hole", {{0, 4}, {10, 4}, {14, 4}, {30, 1}}, 18},
        {"between acquisitions", {{0, 4}, {-2, 0}, {100, 4}, {104, 4}}, 0},
        {"after an acquisition", {{0, 4}, {-2, 0}, {100, 4}, {110, 4}}, 6},
        {"no positions", {{-1, 4}, {-1, 4}}, 0},
    };
    const std::string dir = velnor::test::TempDir();
    for (const Case& c : cases) {
        signal_views::SignalShape shape;
        shape.path = "s";
        shape.atomType = 9;  // uint8
        shape.atomBytes = 1;
        shape.components = {"a"};
        shape.stream = true;
        signal_views::NpySettings settings;
        settings.path = dir + "/lost.npy";
        signal_views::NpyView view(shape, settings);
        std::uint64_t atoms = 0;
        for (const Block& block : c.blocks) {
            if (block.position == -2) {
                view.PassDone();
                continue;
            }
            isig::SignalMeta meta;
            if (block.position >= 0) meta[isig::eMetaPosition] = block.position;
            const std::string elements(block.atoms, 'x');
            view.Atoms(elements.data(), block.atoms, meta);
            atoms += block.atoms;
        }
        std::string error;
        try {
            view.End(true);
        } catch (const istd::Exception& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.lost == 0 ? std::string()
                                     : "signal: " + settings.path + " lacks " + std::to_string(c.lost) +
                                           " atoms that the stream dropped before they were read (see --queue-size)")
            << c.name;
        EXPECT_EQ(ReadFile(settings.path).size(), NpyPreamble({"a"}, "|u1", 0).size() + atoms) << c.name;
        const std::string meta = ReadFile(settings.path + ".json");
        EXPECT_NE(meta.find("\"atoms\":" + std::to_string(atoms) + ",\"lost\":" + std::to_string(c.lost) + ","),
                  std::string::npos)
            << c.name << ": " << meta;
    }
}

}  // namespace
