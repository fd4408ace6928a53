// signal --npy and --plot against a real server: every atom type with 1, 2
// and 5 components loaded by NumPy and compared with --csv of the same
// acquisition, whole runs and interrupted ones, standard output, charts in
// a pipe, and the options that do not go together.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "expected.h"
#include "support/faults.h"
#include "support/process.h"
#include "support/server_per_suite.h"

namespace signal_test {
namespace {

using velnor::test::c_faultBound;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;
using velnor::test::RunOptions;
using velnor::test::TempDir;

const char* const c_python = "/usr/bin/python3";

// numpy.load of a file (or of `input` for "-"): field names and types, shape, atoms as --csv prints them.
velnor::test::RunResult LoadNpy(const std::string& path, const std::string& input = {}) {
    RunOptions options;
    options.input = input;
    options.timeout = std::chrono::milliseconds(60000);
    return velnor::test::Run({c_python, VELNOR_SOURCE_DIR "/tests/e2e/signal/npy_dump.py", path}, options);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::int64_t FileSize(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

std::string Descr(const std::vector<std::string>& names, const std::string& type) {
    std::string text = "[";
    for (std::size_t j = 0; j < names.size(); ++j) text += (j > 0 ? ", ('" : "('") + names[j] + "', '" + type + "')";
    return text + "]";
}

std::string NpyType(const std::string& type) {
    static const std::map<std::string, std::string> c_types = {
        {"double", "<f8"}, {"float", "<f4"}, {"uint64", "<u8"}, {"int64", "<i8"}, {"uint32", "<u4"},
        {"int32", "<i4"},  {"uint16", "<u2"}, {"int16", "<i2"}, {"uint8", "|u1"}, {"int8", "|i1"}};
    return c_types.at(type);
}

struct NpyCase {
    std::string type;
    std::uint32_t components;
};

class NpyTypeTest : public velnor::test::ServerPerSuite<NpyTypeTest, testing::TestWithParam<NpyCase>> {
public:
    static constexpr const char* c_tree = "signal-views.yaml";
};

// The newest five atoms of a history of 200, as --npy and as --csv.
TEST_P(NpyTypeTest, NumpyLoadsWhatCsvPrints) {
    const NpyCase& c = GetParam();
    const std::string node = "dod.c" + std::to_string(c.components) + "." + c.type;
    const std::string file = TempDir() + "/atoms.npy";
    const auto written = RunRove(*s_server, {"--npy", file, "--size", "5", node});
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(written.err, "");
    const auto csv = RunRove(*s_server, {"--csv", "--size", "5", node});
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out, TypeNamed(c.type).render(Format::Csv, 195, 5, c.components));
    const std::vector<std::string> all{"a", "b", "c", "d", "e"};
    const std::vector<std::string> names(all.begin(), all.begin() + c.components);
    const auto loaded = LoadNpy(file);
    EXPECT_EQ(loaded.err, "");
    EXPECT_EQ(loaded.out, Descr(names, NpyType(c.type)) + "\n(5,)\n" + csv.out);
}

std::vector<NpyCase> NpyCases() {
    std::vector<NpyCase> cases;
    for (const AtomType& type : AtomTypes())
        for (std::uint32_t components : {1u, 2u, 5u}) cases.push_back({type.name, components});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllTypes, NpyTypeTest, testing::ValuesIn(NpyCases()),
                         [](const testing::TestParamInfo<NpyCase>& info) {
                             return info.param.type + "_" + std::to_string(info.param.components);
                         });

// Names that are not Python identifiers read back as they are.
TEST_F(NpyTypeTest, ComponentNamesAreTheFieldNames) {
    const std::string file = TempDir() + "/odd.npy";
    ASSERT_EQ(RunRove(*s_server, {"--npy", file, "--size", "1", "odd-names"}).status, 0);
    EXPECT_EQ(LoadNpy(file).out, "[('\xC2\xB5V', '|u1'), (\"it's\", '|u1'), ('f0', '|u1')]\n(1,)\n85,86,87\n");
}

// Standard output into a pipe: the count is known before the first atom.
TEST_F(NpyTypeTest, StandardOutputInAPipe) {
    const auto r = RunRove(*s_server, {"--npy", "-", "--size", "3", "--loop", "2", "dod.c2.int16"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string block = TypeNamed("int16").render(Format::Csv, 197, 3, 2);
    EXPECT_EQ(LoadNpy("-", r.out).out, "[('a', '<i2'), ('b', '<i2')]\n(6,)\n" + block + block);
    const auto endless = RunRove(*s_server, {"--npy", "-", "--loop=-1", "dod.c2.int16"});
    EXPECT_EQ(endless.out, "");
    EXPECT_EQ(endless.err,
              "signal: standard output cannot be rewritten at the end, so the atom count must be known first: give "
              "--loop N\n");
    EXPECT_EQ(endless.status, 1);
}

class ViewModeTest : public velnor::test::ServerPerSuite<ViewModeTest> {
public:
    static constexpr const char* c_tree = "signal-modes.yaml";
};

// Every data-on-demand mode through both views: the .npy holds each pass's
// atoms (a counter: consecutive; at a given LMT or position: what --csv
// prints), its metadata names the mode; the chart is one per pass. The
// positions read lie inside the history however many atoms the event
// reads before them have added.
TEST_F(ViewModeTest, EveryDataOnDemandMode) {
    struct Case {
        std::vector<std::string> args;
        std::string mode;
        int passes;
        std::string values;  // of the first pass; a 9 is any number
    };
    const Case cases[] = {
        {{"--mode", "Lmt", "--lmt", "300"}, "Lmt", 1, "[30, 31, 32]"},
        {{"--mode", "Position", "--offset", "40"}, "Position", 1, "[40, 41, 42]"},
        {{"--mode", "SingleEvent"}, "SingleEvent", 1, "[9, 9, 9]"},
        {{"--mode", "Event", "--loop", "2"}, "Event", 2, "[9, 9, 9]"},
        {{"--loop", "2"}, "Now", 2, "[9, 9, 9]"},
    };
    const std::string file = TempDir() + "/mode.npy";
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--size", "3", "events"});
        std::vector<std::string> npy{"--npy", file};
        npy.insert(npy.end(), args.begin(), args.end());
        const auto written = RunRove(*s_server, npy);
        ASSERT_EQ(written.status, 0) << c.mode << ": " << written.err;
        EXPECT_EQ(written.out + written.err, "") << c.mode;
        const auto check = velnor::test::Run(
            {c_python, "-c",
             "import numpy, sys; a = numpy.load(sys.argv[1])['v']; p = a.reshape(-1, 3); "
             "print(a.shape[0], bool((numpy.diff(p, axis=1) == 1).all()), p[0].tolist())",
             file});
        EXPECT_TRUE(HasShape(check.out, std::to_string(3 * c.passes) + " True " + c.values + "\n"))
            << c.mode << ": " << check.out << check.err;
        EXPECT_NE(ReadFile(file + ".json").find("\"mode\":\"" + c.mode + "\",\"atoms\":" + std::to_string(3 * c.passes) +
                                                ",\"lost\":0,\"acquisitions\":" + std::to_string(c.passes) + ","),
                  std::string::npos)
            << c.mode << ": " << ReadFile(file + ".json");
        if (c.values.find('9') == std::string::npos) {
            std::vector<std::string> csv{"--csv"};
            csv.insert(csv.end(), args.begin(), args.end());
            std::string values = "[" + RunRove(*s_server, csv).out + "]";
            for (std::size_t at = values.find('\n'); at != std::string::npos; at = values.find('\n', at))
                values.replace(at, 1, at + 2 < values.size() ? ", " : "");
            EXPECT_EQ(values, c.values) << c.mode;
        }
        std::vector<std::string> plot{"--plot=ascii", "--plot-size", "40x5"};
        plot.insert(plot.end(), args.begin(), args.end());
        const auto chart = RunRove(*s_server, plot);
        EXPECT_EQ(chart.status, 0) << c.mode << ": " << chart.err;
        EXPECT_EQ(Lines(chart.out).size(), 5u * c.passes) << c.mode << ":\n" << chart.out;
    }
}

// A fresh server: the stream starts at atom 0.
TEST(NpyStream, LoopsAppendOrGoToOneFileEach) {
    RegistryServer server(FixturePath("signal-views.yaml"));
    const std::string dir = TempDir();
    ASSERT_EQ(RunRove(server, {"--npy", dir + "/all.npy", "--size", "8", "--loop", "3", "counting"}).status, 0);
    const std::string header = "[('a', '<i4'), ('b', '<i4')]\n";
    EXPECT_EQ(LoadNpy(dir + "/all.npy").out, header + "(24,)\n" + TypeNamed("int32").render(Format::Csv, 0, 24, 2));
    // The directory is taken out: a temporary name may hold the digit 9.
    std::string meta = ReadFile(dir + "/all.npy.json");
    if (meta.find(dir) != std::string::npos) meta.replace(meta.find(dir), dir.size(), "DIR");
    EXPECT_TRUE(HasShape(meta, "{\"path\":\"counting\",\"file\":\"DIR"
                                   "/all.npy\",\"atom_type\":\"int32\",\"dtype\":\"<i4\",\"components\":[\"a\",\"b\"],"
                                   "\"fields\":[\"a\",\"b\"],\"access\":\"stream\",\"atoms\":24,\"lost\":0,\"acquisitions\":3,"
                                   "\"lmt\":0,\"position\":0,\"event\":null,\"sample_rate\":null,\"started\":\"9-9-9T9:9:9.9Z\","
                                   "\"seconds\":9.9,\"complete\":true}\n"))
        << meta;

    const auto each = RunRove(server, {"--npy", dir + "/each.npy", "--npy-each", "--size", "4", "--loop", "2", "counting"});
    ASSERT_EQ(each.status, 0) << each.err;
    const std::string first = LoadNpy(dir + "/each.0.npy").out;
    const std::string second = LoadNpy(dir + "/each.1.npy").out;
    ASSERT_EQ(first.substr(0, header.size() + 5), header + "(4,)\n");
    ASSERT_EQ(second.substr(0, header.size() + 5), header + "(4,)\n");
    // The second file goes on where the first ended.
    const std::string firstAtoms = first.substr(header.size() + 5);
    const std::string secondAtoms = second.substr(header.size() + 5);
    const std::uint64_t start = std::stoull(firstAtoms) / 2;
    EXPECT_EQ(firstAtoms + secondAtoms, TypeNamed("int32").render(Format::Csv, start, 8, 2));
    EXPECT_NE(ReadFile(dir + "/each.1.npy.json").find("\"atoms\":4,\"lost\":0,\"acquisitions\":1,"), std::string::npos);
    EXPECT_EQ(FileSize(dir + "/each.2.npy"), -1);
}

// An acquisition ended half-way leaves a valid file of every atom that came,
// says so, and fails: interrupted, the registry gone, or the file full (a
// file size limit of 2 MiB, its signal ignored, so that writes past it fail).
enum class Stop { eInterrupt, eServerKilled, eFileFull };

class NpyStopTest : public testing::TestWithParam<Stop> {};

TEST_P(NpyStopTest, LeavesAValidFileOfWhatWasAcquired) {
    RegistryServer server(FixturePath("signal-views.yaml"));
    const std::string file = TempDir() + "/cut.npy";
    std::unique_ptr<velnor::test::Child> rove;
    if (GetParam() == Stop::eFileFull) {
        rove = std::make_unique<velnor::test::Child>(std::vector<std::string>{
            "/bin/bash", "-c", "trap '' XFSZ; ulimit -f 2048; exec \"$0\" \"$@\"", velnor::test::BinPath("velnor-rove"),
            "signal", "--port", server.PortText(), "--npy", file, "--size", "100000000", "--loop=-1", "fast"});
    } else {
        rove = StartRove(server, {"--npy", file, "--size", "100000000", "--loop=-1", "fast"});
        // Atoms are on disk: more than the header and a block.
        const auto deadline = std::chrono::steady_clock::now() + c_faultBound;
        while (FileSize(file) < 1 << 20 && std::chrono::steady_clock::now() < deadline && rove->Running())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(FileSize(file), 1 << 20) << rove->Err();
        if (GetParam() == Stop::eInterrupt)
            rove->Signal(SIGINT);
        else
            server.Kill();
    }
    EXPECT_EQ(rove->Wait(c_faultBound), 1);
    const std::vector<std::string> errors = Lines(rove->Err());
    ASSERT_EQ(errors.size(), 2u) << rove->Err();
    // The path is compared apart: a temporary name may hold the digit 9.
    const std::string said = "signal: " + file + " holds the ";
    ASSERT_EQ(errors[0].substr(0, said.size()), said) << errors[0];
    EXPECT_TRUE(HasShape(errors[0].substr(said.size()), "9 atoms acquired before the acquisition stopped")) << errors[0];
    const std::string cause = GetParam() == Stop::eFileFull ? "signal: Can't write to " + file + ": File too large"
                                                            : "";
    if (GetParam() == Stop::eFileFull) {
        EXPECT_EQ(errors[1], "Error: " + cause);
    } else {
        EXPECT_EQ(errors[1].rfind("Error: Interrupted read from fast signal. Error: ", 0), 0u) << errors[1];
    }
    const std::uint64_t count = std::stoull(errors[0].substr(said.size()));
    // Every atom counted is in the file, in order and without a hole; a
    // full file holds every whole atom that fitted.
    EXPECT_EQ(static_cast<std::uint64_t>(FileSize(file)), 128 + 4 * count);
    if (GetParam() == Stop::eFileFull) {
        EXPECT_EQ(count, (2048u * 1024 - 128) / 4);
    }
    const auto check = velnor::test::Run(
        {c_python, "-c",
         "import numpy, sys; a = numpy.load(sys.argv[1])['n']; "
         "print(a.shape[0], bool((a - a[0] == numpy.arange(a.shape[0], dtype=numpy.uint32)).all()))",
         file});
    EXPECT_EQ(check.out, std::to_string(count) + " True\n") << check.err;
    const std::string meta = ReadFile(file + ".json");
    EXPECT_NE(meta.find("\"complete\":false,\"error\":\"" + (cause.empty() ? "the acquisition failed" : cause) + "\"}"),
              std::string::npos)
        << meta;
}

std::string StopName(const testing::TestParamInfo<Stop>& info) {
    switch (info.param) {
        case Stop::eInterrupt: return "Interrupt";
        case Stop::eServerKilled: return "ServerKilled";
        case Stop::eFileFull: return "FileFull";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(Stops, NpyStopTest, testing::Values(Stop::eInterrupt, Stop::eServerKilled, Stop::eFileFull),
                         StopName);

class PlotTest : public velnor::test::ServerPerSuite<PlotTest> {
public:
    static constexpr const char* c_tree = "signal-views.yaml";
};

// Into a pipe: one chart per acquisition, in ASCII where the locale is not
// UTF-8, and never an escape sequence.
TEST_F(PlotTest, ChartsIntoAPipe) {
    RunOptions ascii;
    ascii.env = {{"LC_ALL", "C"}};
    ascii.unsetEnv = {"NO_COLOR"};
    const auto r = velnor::test::Rove(
        *s_server, {"signal", "--plot", "--plot-size", "40x6", "--size", "20", "--loop", "2", "dod.c1.int16"}, ascii);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string chart =
        "      199|                      .....'''\n"
        "         |               ....'''\n"
        "         |       ...'''''\n"
        "      180|...''''\n"
        "         +180                  199 atoms\n"
        "# a  min 180 max 199 mean 189.5\n";
    EXPECT_EQ(r.out, chart + chart);

    RunOptions utf8;
    utf8.env = {{"LC_ALL", "C.UTF-8"}};
    const auto braille =
        velnor::test::Rove(*s_server, {"signal", "--plot", "--plot-size", "40x6", "--size", "20", "dod.c1.int16"}, utf8);
    ASSERT_EQ(braille.status, 0) << braille.err;
    EXPECT_EQ(Lines(braille.out).size(), 6u);
    EXPECT_NE(braille.out.find("\xE2\xA3\xBF a  min 180"), std::string::npos) << braille.out;
    EXPECT_EQ(braille.out.find('\x1b'), std::string::npos);
}

// On a terminal: the chart takes the terminal's width and is redrawn in
// place (one chart on the screen after three acquisitions: the last, as a
// pipe gets it), in colours unless NO_COLOR is set, in ASCII where the
// locale is not UTF-8, and shorter than 16 rows on a shorter terminal.
TEST_F(PlotTest, RedrawnInPlaceOnATerminal) {
    struct Case {
        const char* name;
        int cols;
        int rows;
        std::map<std::string, std::string> env;
        int chartRows;
        std::string colours;  // of the characters on the screen
        bool nonAscii;
    };
    const Case cases[] = {
        {"colours", 60, 24, {{"LC_ALL", "C.UTF-8"}}, 16, "brown,default,green", true},
        {"NO_COLOR", 60, 24, {{"LC_ALL", "C.UTF-8"}, {"NO_COLOR", "1"}}, 16, "default", true},
        {"ascii", 60, 24, {{"LC_ALL", "C"}}, 16, "brown,default,green", false},
        {"short terminal", 50, 10, {{"LC_ALL", "C.UTF-8"}, {"NO_COLOR", "1"}}, 9, "default", true},
    };
    const std::vector<std::string> acquire{"--size", "20", "dod.c2.int16"};
    for (const Case& c : cases) {
        RunOptions options;
        options.env = c.env;
        if (!c.env.count("NO_COLOR")) options.unsetEnv = {"NO_COLOR"};
        options.timeout = std::chrono::milliseconds(60000);
        std::vector<std::string> args{c_python,
                                      VELNOR_SOURCE_DIR "/tests/e2e/signal/pty_screen.py",
                                      std::to_string(c.cols),
                                      std::to_string(c.rows),
                                      velnor::test::BinPath("velnor-rove"),
                                      "signal",
                                      "--plot",
                                      "--loop",
                                      "3",
                                      "--port",
                                      s_server->PortText()};
        args.insert(args.end(), acquire.begin(), acquire.end());
        const auto screen = velnor::test::Run(args, options);
        std::vector<std::string> size{"signal", "--plot", "--plot-size",
                                      std::to_string(c.cols) + "x" + std::to_string(c.chartRows)};
        size.insert(size.end(), acquire.begin(), acquire.end());
        const auto piped = velnor::test::Rove(*s_server, size, options);
        ASSERT_EQ(piped.status, 0) << c.name << ": " << piped.err;
        std::vector<std::string> expected = Lines(piped.out);
        for (std::string& line : expected) line.erase(line.find_last_not_of(' ') + 1);
        std::vector<std::string> lines = Lines(screen.out);
        ASSERT_EQ(lines.size(), 4 + expected.size()) << c.name << ": " << screen.out << screen.err;
        EXPECT_EQ(lines[0], "status 0") << c.name;
        EXPECT_TRUE(HasShape(lines[1], "redraws 9") && lines[1] != "redraws 0") << c.name << ": " << lines[1];
        EXPECT_EQ(lines[2], "colours " + c.colours) << c.name;
        EXPECT_EQ(lines[3], std::string("non-ascii ") + (c.nonAscii ? "True" : "False")) << c.name;
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()), expected) << c.name << ":\n" << screen.out;
    }
}

// Options that do not go together fail before anything is read.
TEST_F(PlotTest, OptionsThatDoNotGoTogether) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"--plot", "--csv"}, "signal: --plot cannot be combined with --csv\n"},
        {{"--npy", "x.npy", "--binary"}, "signal: --npy cannot be combined with --binary\n"},
        {{"--plot", "--npy", "-"}, "signal: --plot and --npy - would both write to standard output\n"},
        {{"--plot=fancy"}, "signal: --plot=fancy: expected auto, braille, block or ascii\n"},
        {{"--plot", "--plot-size", "80"}, "signal: --plot-size 80: expected COLSxROWS, such as 80x16\n"},
        {{"--plot", "--ymin", "2", "--ymax", "1"}, "signal: --ymin must be below --ymax\n"},
        {{"--plot", "--ymax", "nan"}, "signal: --ymax must be a finite number\n"},
        {{"--ymin", "1"}, "signal: --plot-size, --ymin and --ymax need --plot\n"},
        {{"--npy-each"}, "signal: --npy-each and --npy-meta need --npy\n"},
        {{"--npy", "-", "--npy-each"}, "signal: --npy-each needs a file name, not -\n"},
        {{"--npy", "x.npy", "dod.c1.int8"}, "signal: --npy writes one signal: give one node path\n"},
        {{"--plot", "--plot-size", "19x6"},
         "signal: --plot of dod.c1.int16: a chart needs at least 20 columns (see --plot-size)\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("dod.c1.int16");
        const auto r = RunRove(*s_server, args);
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_EQ(r.err, c.err) << args[0];
        EXPECT_EQ(r.status, 1) << args[0];
    }
}

}  // namespace
}  // namespace signal_test
