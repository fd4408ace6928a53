// Start, refusal of broken tree files and shutdown of the real process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "raw_registry.h"
#include "support/case_name.h"
#include "support/registry_server.h"

namespace velnor::test {
namespace {

using namespace std::chrono_literals;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> ServerArgs(const std::string& tree, const std::string& port = "0") {
    return {BinPath("velnor-registryd"), "--tree", tree, "--port", port};
}

int PortOf(const std::string& readyLine) { return std::stoi(readyLine.substr(readyLine.rfind(':') + 1)); }

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, ReadyLineThenCleanExitRemovingTheSocket) {
    const std::string dir = TempDir();
    RunOptions options;
    options.env["VELNOR_RUNTIME_DIR"] = dir;
    Child server(ServerArgs(FixturePath("server-basic.yaml")), options);
    std::string line;
    ASSERT_TRUE(server.ReadLine(line, 10s)) << server.Err();
    const std::string prefix = "velnor-registryd listening on 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const std::string port = line.substr(prefix.size());
    EXPECT_TRUE(!port.empty() && port[0] != '0' && port.find_first_not_of("0123456789") == std::string::npos) << line;
    const std::string socket = SocketPathIn(dir, PortOf(line));
    EXPECT_TRUE(Exists(socket));

    server.Signal(GetParam());
    EXPECT_EQ(server.Wait(10s), 0);
    EXPECT_FALSE(Exists(socket));
    EXPECT_EQ(server.Out(), line + "\n");
    EXPECT_EQ(server.Err(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGTERM, SIGINT),
    SignalOfCase());

TEST(Startup, ServesOverTheUnixSocketPathDerivedFromThePort) {
    const std::string dir = TempDir();
    RunOptions options;
    options.env["VELNOR_RUNTIME_DIR"] = dir;
    Child server(ServerArgs(FixturePath("server-basic.yaml")), options);
    std::string line;
    ASSERT_TRUE(server.ReadLine(line, 10s));
    const std::string socket = SocketPathIn(dir, PortOf(line));
    RawRegistry tcp(PortOf(line));  // sets the process's client up
    CORBA::Object_var object = TestOrb()->string_to_object(("corbaloc:omniunix:" + socket + ":/registry-app").c_str());
    try {
        i_NET::Registry_var registry = i_NET::Registry::_narrow(object);
        ASSERT_FALSE(CORBA::is_nil(registry));
        i_NET::ServerIdentity_var identity = registry->identity();
        EXPECT_STREQ(identity->host.in(), "test-host");
    } catch (const CORBA::SystemException& e) {
        FAIL() << e._name() << " " << e.minor();
    }
}

TEST(Startup, ReplacesAStaleSocketFile) {
    const std::string dir = TempDir();
    // A socket file nobody listens on, as a killed server leaves it.
    const int port = [] {
        RegistryServer probe(FixturePath("server-basic.yaml"));
        const int p = probe.Port();
        probe.Stop();
        return p;
    }();
    const std::string path = SocketPathIn(dir, port);
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(Exists(path));
    RunOptions options;
    options.env["VELNOR_RUNTIME_DIR"] = dir;
    Child server(ServerArgs(FixturePath("server-basic.yaml"), std::to_string(port)), options);
    std::string line;
    ASSERT_TRUE(server.ReadLine(line, 10s)) << server.Err();
    EXPECT_EQ(line, "velnor-registryd listening on 127.0.0.1:" + std::to_string(port));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(10s), 0);
}

TEST(Startup, RefusesAPortAnotherServerHolds) {
    const std::string dir = TempDir();
    RunOptions options;
    options.env["VELNOR_RUNTIME_DIR"] = dir;
    Child first(ServerArgs(FixturePath("server-basic.yaml")), options);
    std::string line;
    ASSERT_TRUE(first.ReadLine(line, 10s));
    const std::string port = std::to_string(PortOf(line));
    const RunResult second = velnor::test::Run(ServerArgs(FixturePath("server-basic.yaml"), port), options);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err,
              "velnor-registryd: another server listens on " + SocketPathIn(dir, PortOf(line)) + "\n");
    EXPECT_TRUE(first.Running());
}

TEST(Startup, DemoTreeLoadsAndServesBothRegistries) {
    RegistryServer server(std::string(VELNOR_SOURCE_DIR) + "/examples/demo.yaml");
    RawRegistry app(server.Port());
    EXPECT_EQ(app.Read("app-name"), "s:Velnor demo");
    EXPECT_EQ(app.Read("tracing.level"), "i32:0");
    EXPECT_EQ(app.Lookup("tracing.level").flags, i_NET::FLAG_READABLE | i_NET::FLAG_WRITABLE);
    RawRegistry platform(server.Port(), 0);
    EXPECT_EQ(platform.Read("firmware.version"), "s:fw-3.4.1");
    EXPECT_EQ(server.Stop(), 0);
}

TEST(Startup, HelpAndUsageErrors) {
    const RunResult help = velnor::test::Run({BinPath("velnor-registryd"), "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: velnor-registryd --tree FILE [--port N] [--listen ADDR] [--state FILE]\n", 0), 0u);
    EXPECT_NE(help.out.find("(=17520)"), std::string::npos);

    const RunResult noTree = velnor::test::Run({BinPath("velnor-registryd"), "--port", "0"});
    EXPECT_EQ(noTree.status, 2);
    EXPECT_EQ(noTree.err,
              "velnor-registryd: --tree FILE is required\n"
              "Usage: velnor-registryd --tree FILE [--port N] [--listen ADDR] [--state FILE]\n");

    const RunResult badPort = velnor::test::Run(ServerArgs(FixturePath("server-basic.yaml"), "70000"));
    EXPECT_EQ(badPort.status, 2);
    EXPECT_EQ(badPort.err.rfind("velnor-registryd: the port must be at most 65535\n", 0), 0u);

    const RunResult missing = velnor::test::Run(ServerArgs("/nonexistent/tree.yaml"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "velnor-registryd: /nonexistent/tree.yaml: cannot read the tree file: No such file or directory\n");
}

struct BrokenTree {
    const char* file;
    int line;
    const char* message;
};

class Broken : public ::testing::TestWithParam<BrokenTree> {};

TEST_P(Broken, RefusedWithFileLineAndReason) {
    const std::string path = FixturePath(std::string("broken/") + GetParam().file);
    const RunResult result = velnor::test::Run(ServerArgs(path));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "velnor-registryd: " + path + ":" + std::to_string(GetParam().line) + ": " +
                              GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    TreeFiles, Broken,
    ::testing::Values(
        BrokenTree{"unknown-key.yaml", 6, "unknown key 'vlaue' (did you mean 'value'?)"},
        BrokenTree{"unknown-flag.yaml", 9, "unknown flag 'persistant' (did you mean 'persistent'?)"},
        BrokenTree{"unknown-type.yaml", 6,
                   "unknown type 'integer' (known: bool, int32, uint32, int64, uint64, double, float, string, enum)"},
        BrokenTree{"int32-range.yaml", 5, "value '2147483648' does not fit the type int32"},
        BrokenTree{"double-text.yaml", 4, "value 'abc' does not fit the type double"},
        BrokenTree{"int32-fraction.yaml", 8, "value '1.5' does not fit the type int32"},
        BrokenTree{"uint32-negative.yaml", 6, "value '-1' does not fit the type uint32"},
        BrokenTree{"enum-domain.yaml", 7, "value 'medium' is not in the domain (off,slow,fast)"},
        BrokenTree{"min-max.yaml", 7, "min 10 is greater than max 0"},
        BrokenTree{"value-range.yaml", 4, "value 12 is out of range [0, 10]"},
        BrokenTree{"sets-path.yaml", 10, "sets path 'gian' names no node"},
        BrokenTree{"signal-atom.yaml", 7,
                   "unknown atom 'int24' (known: double, float, uint64, int64, uint32, int32, uint16, int16, uint8, int8)"},
        BrokenTree{"signal-access.yaml", 4, "unknown access 'push' (known: stream, dod)"},
        BrokenTree{"generator.yaml", 7, "unknown generator 'sawtooth' (known: counter, ramp, random-walk, toggle)"},
        BrokenTree{"duplicate-name.yaml", 8, "duplicate node name 'gain'"},
        BrokenTree{"writable-constant.yaml", 4, "flags 'writable' and 'constant' exclude each other"},
        BrokenTree{"node-name.yaml", 6,
                   "invalid node name 'board.0': it must not be empty nor hold blanks or any of . [ ] { } ="},
        BrokenTree{"yaml-syntax.yaml", 5, "did not find expected key (while parsing a block mapping from line 3)"}),
    [](const ::testing::TestParamInfo<BrokenTree>& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    });

// Tree files made to exhaust the server: each is refused quickly, with the
// file, the line where a limit was passed and the reason, and status 2.
struct HostileTree {
    const char* name;
    // Writes the file into `dir` and gives its path.
    std::function<std::string(const std::string& dir)> make;
    // The message after "velnor-registryd: PATH" (":LINE: reason" or ": reason").
    const char* message;
};

std::string WriteTree(const std::string& path, const std::string& nodes) {
    std::ofstream(path) << "host: h\napplication:\n  nodes:\n" << nodes;
    return path;
}

// Node aI has two children that are aliases of node aI-1: a30 stands for
// 2^31 nodes, in 1.4 KB.
std::string NestedAliases(const std::string& dir) {
    std::string nodes = "    a0: &a0 {nodes: {x: {}, y: {}}}\n";
    for (int i = 1; i <= 30; ++i) {
        const std::string n = std::to_string(i), p = std::to_string(i - 1);
        nodes += "    a" + n + ": &a" + n + " {nodes: {x: *a" + p + ", y: *a" + p + "}}\n";
    }
    return WriteTree(dir + "/laughs.yaml", nodes);
}

// A value of `levels` maps inside each other below node n (the document's
// own maps are three levels).
std::string NestedMaps(const std::string& dir, int levels) {
    std::string value;
    for (int i = 0; i < levels; ++i) value += "{a: ";
    value += "1";
    value.append(static_cast<std::size_t>(levels), '}');
    return WriteTree(dir + "/nested.yaml", "    n: " + value + "\n");
}

std::string LargeFile(const std::string& dir) {
    const std::string path = dir + "/large.yaml";
    WriteTree(path, "    a: {type: int32}\n");
    // Sparse: 128 MiB and one byte without writing them.
    if (::truncate(path.c_str(), (128 << 20) + 1) != 0) throw std::runtime_error("truncate failed");
    return path;
}

class Hostile : public ::testing::TestWithParam<HostileTree> {};

TEST_P(Hostile, RefusedWithFileLineAndReason) {
    const std::string path = GetParam().make(TempDir());
    RunOptions options;
    options.timeout = 60s;  // a tree that expands is refused at once; this only bounds a failure
    const RunResult result = velnor::test::Run(ServerArgs(path), options);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "velnor-registryd: " + path + GetParam().message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    TreeFiles, Hostile,
    ::testing::Values(
        HostileTree{"nested_aliases", NestedAliases, ":20: aliases repeat more than 1000000 YAML nodes"},
        HostileTree{"alias_inside_its_node",
                    [](const std::string& dir) {
                        return WriteTree(dir + "/cycle.yaml", "    a: {type: int32, value: &a [1, *a]}\n");
                    },
                    ":4: an alias stands inside the node it repeats"},
        // At the limit the loader goes on (and finds the map no node).
        HostileTree{"nesting_at_the_limit", [](const std::string& dir) { return NestedMaps(dir, 125); },
                    ":4: unknown key 'a' (did you mean 'max'?)"},
        HostileTree{"nesting_past_the_limit", [](const std::string& dir) { return NestedMaps(dir, 126); },
                    ":4: nesting deeper than 128 levels"},
        HostileTree{"nesting_5000", [](const std::string& dir) { return NestedMaps(dir, 5000); },
                    ":4: nesting deeper than 128 levels"},
        HostileTree{"larger_than_128_mib", LargeFile, ": the tree file is larger than 128 MiB"},
        HostileTree{"endless_device", [](const std::string&) { return std::string("/dev/zero"); },
                    ": the tree file is larger than 128 MiB"},
        HostileTree{"directory", [](const std::string& dir) { return dir; },
                    ": cannot read the tree file: Is a directory"}),
    [](const ::testing::TestParamInfo<HostileTree>& info) { return std::string(info.param.name); });

// A start blocked in reading the tree (a pipe nobody writes yet) still ends
// on a stop signal.
class StopWhileLoading : public ::testing::TestWithParam<int> {};

TEST_P(StopWhileLoading, EndsTheServer) {
    const std::string fifo = TempDir() + "/tree.yaml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Child server(ServerArgs(fifo));
    // Opening the pipe for writing waits until the server opened it to read.
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    server.Signal(GetParam());
    EXPECT_EQ(server.Wait(10s), 0);
    ::close(writer);
    EXPECT_EQ(server.Out(), "");
    EXPECT_EQ(server.Err(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, StopWhileLoading, ::testing::Values(SIGTERM, SIGINT),
    SignalOfCase());

// A free TCP port on 127.0.0.1 (nothing listens on it when this returns).
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

void BindSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("bind");
    ::close(fd);
}

// Where the local socket may go. The default per-user directory (in the
// temporary directory, a name anyone can guess) must be the user's alone;
// a directory named by VELNOR_RUNTIME_DIR may be shared, and there the
// socket file itself must be free or a stale one of the user's.
struct RuntimePlace {
    const char* name;
    bool defaultDirectory;  // else VELNOR_RUNTIME_DIR names `base`
    // Prepares `base` (a fresh directory) for the server on `port`; gives
    // the message expected on standard error ("" when the server starts).
    std::function<std::string(const std::string& base, int port)> prepare;
    bool needsRoot = false;
};

std::string DefaultDir(const std::string& base) { return base + "/velnor-" + std::to_string(::geteuid()); }

class RuntimePlaces : public ::testing::TestWithParam<RuntimePlace> {};

TEST_P(RuntimePlaces, RefusedUnlessTheUsersOwn) {
    if (GetParam().needsRoot && ::geteuid() != 0) GTEST_SKIP() << "needs root to make files of another user";
    const std::string base = TempDir();
    const int port = FreePort();
    const std::string expected = GetParam().prepare(base, port);
    RunOptions options;
    options.unsetEnv = {"VELNOR_RUNTIME_DIR", "XDG_RUNTIME_DIR"};
    if (GetParam().defaultDirectory)
        options.env["TMPDIR"] = base;
    else
        options.env["VELNOR_RUNTIME_DIR"] = base;
    Child server(ServerArgs(FixturePath("server-basic.yaml"), std::to_string(port)), options);
    if (expected.empty()) {
        std::string line;
        ASSERT_TRUE(server.ReadLine(line, 10s)) << server.Err();
        const std::string dir = GetParam().defaultDirectory ? DefaultDir(base) : base;
        struct stat info {};
        ASSERT_EQ(::lstat(SocketPathIn(dir, port).c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        if (GetParam().defaultDirectory) {
            ASSERT_EQ(::lstat(dir.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        }
        server.Signal(SIGTERM);
        EXPECT_EQ(server.Wait(10s), 0);
        EXPECT_EQ(server.Err(), "");
        return;
    }
    EXPECT_EQ(server.Wait(10s), 1);
    EXPECT_EQ(server.Out(), "");
    EXPECT_EQ(server.Err(), "velnor-registryd: " + expected + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Directories, RuntimePlaces,
    ::testing::Values(
        RuntimePlace{"default_made_private", true,
                     [](const std::string&, int) { return std::string(); }},
        RuntimePlace{"default_open_to_others", true,
                     [](const std::string& base, int) {
                         ::mkdir(DefaultDir(base).c_str(), 0700);
                         ::chmod(DefaultDir(base).c_str(), 0755);
                         return "the runtime directory " + DefaultDir(base) +
                                " has mode 0755; only its user may have access (0700)";
                     }},
        RuntimePlace{"default_a_link", true,
                     [](const std::string& base, int) {
                         ::mkdir((base + "/elsewhere").c_str(), 0700);
                         ::symlink((base + "/elsewhere").c_str(), DefaultDir(base).c_str());
                         return "the runtime directory " + DefaultDir(base) + " is not a directory";
                     }},
        RuntimePlace{"default_of_another_user", true,
                     [](const std::string& base, int) {
                         ::mkdir(DefaultDir(base).c_str(), 0700);
                         if (::chown(DefaultDir(base).c_str(), 65534, 65534) != 0) throw std::runtime_error("chown");
                         return "the runtime directory " + DefaultDir(base) + " belongs to another user (uid 65534)";
                     },
                     true},
        // A shared directory is fine as such.
        RuntimePlace{"named_shared", false,
                     [](const std::string& base, int) {
                         ::chmod(base.c_str(), 01777);
                         return std::string();
                     }},
        RuntimePlace{"named_socket_path_a_file", false,
                     [](const std::string& base, int port) {
                         std::ofstream(SocketPathIn(base, port)) << "x";
                         return SocketPathIn(base, port) + " exists and is no socket; remove it or choose another port";
                     }},
        RuntimePlace{"named_socket_of_another_user", false,
                     [](const std::string& base, int port) {
                         ::chmod(base.c_str(), 01777);
                         BindSocket(SocketPathIn(base, port));
                         if (::chown(SocketPathIn(base, port).c_str(), 65534, 65534) != 0) throw std::runtime_error("chown");
                         return SocketPathIn(base, port) +
                                " is a socket of another user (uid 65534); remove it or choose another port";
                     },
                     true}),
    NameOfCase());

}  // namespace
}  // namespace velnor::test
