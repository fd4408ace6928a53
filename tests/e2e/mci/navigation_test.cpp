// Connecting, finding nodes and their names, paths and failures.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "registry_fixture.h"
#include "support/faults.h"
#include "support/process.h"

namespace mcitest {
namespace {

using NavigationTest = RegistryTest;

std::vector<std::string> Names(const std::vector<mci::Node>& nodes) {
    std::vector<std::string> names;
    for (const auto& n : nodes) names.push_back(n.GetName());
    return names;
}

// Connects with the local socket looked up in `dir` and reads a node: the
// registry must be reached whatever the socket there turns out to be.
void ExpectReadableWithRuntimeDir(const std::string& dir, int port) {
    mci::Node root;
    {
        // Only for this connection: later tests find their servers' sockets
        // in the runtime directory they started with.
        const velnor::test::ScopedEnvironment runtime("VELNOR_RUNTIME_DIR", dir);
        root = mci::Connect("", mci::eApplicationRoot, port, true);
    }
    ASSERT_TRUE(root.IsValid());
    int value = 0;
    root["limits"]["readonly"].Get(value, 0);
    EXPECT_EQ(value, 5);
}

TEST_F(NavigationTest, RootCarriesTheRegistryHostName) {
    const mci::Node root = Root();
    EXPECT_TRUE(root.IsRoot());
    EXPECT_EQ(root.GetName(), "mci-host");
    EXPECT_EQ(root.GetFullPath(false), mci::Path{"mci-host"});
    EXPECT_TRUE(root.GetRelPath().empty());
    EXPECT_FALSE(root.GetParent().IsValid());
    EXPECT_EQ(Names(root.GetNodes()), (std::vector<std::string>{"scalars", "arrays", "limits", "actions"}));
    EXPECT_EQ(root.GetNodeCount(), 4u);
}

TEST_F(NavigationTest, NodesKnowTheirPathsParentsAndChildren) {
    const mci::Node node = At("arrays.ints");
    EXPECT_EQ(node.GetName(), "ints");
    EXPECT_EQ(node.GetFullPath(false), (mci::Path{"mci-host", "arrays", "ints"}));
    EXPECT_EQ(node.GetFullPath(true), (mci::Path{"arrays", "ints"}));
    EXPECT_EQ(node.GetRelPath(), (mci::Path{"arrays", "ints"}));
    EXPECT_FALSE(node.IsRoot());
    EXPECT_TRUE(node.IsLeaf());
    EXPECT_EQ(node.GetParent().GetName(), "arrays");
    EXPECT_TRUE(node.GetParent().GetParent().IsRoot());

    const mci::Node arrays = Root()["arrays"];
    EXPECT_FALSE(arrays.IsLeaf());
    EXPECT_EQ(arrays.GetNodeCount(), 8u);
    EXPECT_EQ(arrays["texts"].GetFullPath(true), (mci::Path{"arrays", "texts"}));
    EXPECT_EQ(arrays.GetNode(mci::Path{"floats"}).GetValueType(), mci::enums::eFloat);
    EXPECT_EQ(arrays.GetNode(mci::Path{}).GetName(), "arrays");
}

TEST_F(NavigationTest, AbsentNodesThrowNamingThePath) {
    EXPECT_EQ(ErrorOf([] { At("scalars.nothing"); }), "Node not found: scalars.nothing");
    EXPECT_EQ(ErrorOf([] { Root()["limits"]["gone"]; }), "Node not found: limits.gone");
    EXPECT_EQ(ErrorOf([] { At("no.such.path"); }), "Node not found: no.such.path");
}

TEST_F(NavigationTest, HiddenNodesStayHiddenUnlessExposed) {
    EXPECT_EQ(ErrorOf([] { At("secret"); }), "Node not found: secret");
    const std::vector<std::string> names = Names(Root().GetNodes());
    EXPECT_EQ(std::count(names.begin(), names.end(), "secret"), 0);
    EXPECT_EQ(Root().DumpSubTree(-1, 0, 0).find("secret"), std::string::npos);
    // A node whose only child is hidden looks like a leaf.
    EXPECT_TRUE(At("limits.inner").IsLeaf());
    EXPECT_EQ(At("limits.inner").GetNodeCount(), 0u);
}

TEST_F(NavigationTest, InvalidHandlesThrowOnEveryQuery) {
    const mci::Node none;
    EXPECT_FALSE(none.IsValid());
    EXPECT_FALSE(ErrorOf([&] { none.GetName(); }).empty());
    EXPECT_FALSE(ErrorOf([&] { none.GetNodes(); }).empty());
    EXPECT_FALSE(ErrorOf([&] { none.GetNode(mci::Path{"a"}); }).empty());
}

TEST_F(NavigationTest, PlatformRegistryIsTheOtherRoot) {
    const mci::Node platform = Root(mci::ePlatformRoot);
    EXPECT_EQ(platform.GetName(), "mci-host");
    EXPECT_EQ(Names(platform.GetNodes()), std::vector<std::string>{"firmware"});
    std::string firmware;
    platform["firmware"].Get(firmware, 0);
    EXPECT_EQ(firmware, "4.2.0");
}

TEST_F(NavigationTest, DumpIsRenderedInOneCall) {
    const std::string all = At("scalars").DumpSubTree(-1, 0, 0);
    for (const char* name : {"scalars", "flag", "count", "label", "mode"})
        EXPECT_NE(all.find(name), std::string::npos) << name;
    const std::string alone = At("scalars").DumpSubTree(0, 0, 0);
    EXPECT_EQ(alone.find("ucount"), std::string::npos);
    EXPECT_LT(alone.size(), all.size());
}

TEST_F(NavigationTest, NothingListeningGivesAnInvalidHandle) {
    // A port that was free a moment ago.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    const int port = ntohs(address.sin_port);

    const auto start = std::chrono::steady_clock::now();
    const mci::Node root = mci::Connect("127.0.0.1", mci::eApplicationRoot, port, false);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(root.IsValid());
    // The stated behaviour of Connect, not a performance figure.
    EXPECT_LT(elapsed, std::chrono::seconds(3));
    EXPECT_EQ(mci::Ping(root), 1);
}

// A socket file nobody listens on: the connection falls back to TCP.
TEST_F(NavigationTest, StaleLocalSocketFallsBackToTcp) {
    const std::string dir = velnor::test::TempDir();
    const std::string path = velnor::test::SocketPathIn(dir, Port());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);  // the file stays, nothing listens

    ASSERT_NO_FATAL_FAILURE(ExpectReadableWithRuntimeDir(dir, Port()));
}

// An address that could re-target the reference, or a port no server can
// have, reaches nothing: an invalid handle, as for a server that is absent.
// A socket at the server's path that another user listens on (planted in a
// shared directory) is never used: the calls go over TCP, and the impostor
// receives nothing. Making a socket of another user needs root.
TEST_F(NavigationTest, ForeignLocalSocketIsNotUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    // Listens as nobody (65534) and counts the bytes clients send, until SIGTERM.
    const std::string impostor =
        "import os,select,signal,socket,sys\n"
        "os.setgid(65534)\nos.setuid(65534)\n"
        "s=socket.socket(socket.AF_UNIX)\ns.bind(sys.argv[1])\ns.listen(16)\n"
        "stop=[]\nsignal.signal(signal.SIGTERM,lambda *a:stop.append(1))\n"
        "print('ready',flush=True)\n"
        "conns=[]\ntotal=0\n"
        "while not stop:\n"
        " try: ready=select.select([s]+conns,[],[],0.1)[0]\n"
        " except InterruptedError: continue\n"
        " for f in ready:\n"
        "  if f is s: conns.append(s.accept()[0]); continue\n"
        "  data=f.recv(65536)\n"
        "  total+=len(data)\n"
        "  if not data: conns.remove(f); f.close()\n"
        "print(total,flush=True)\n";
    // The impostor binds in a directory of its own; the socket is then moved
    // to the server's path in a runtime directory of this user.
    const std::string own = velnor::test::TempDir();
    ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
    velnor::test::Child listener({"/usr/bin/python3", "-c", impostor, own + "/s.sock"});
    std::string line;
    ASSERT_TRUE(listener.ReadLine(line, std::chrono::seconds(10)) && line == "ready") << listener.Err();
    const std::string dir = velnor::test::TempDir();
    const std::string path = velnor::test::SocketPathIn(dir, Port());
    ASSERT_EQ(rename((own + "/s.sock").c_str(), path.c_str()), 0);

    ASSERT_NO_FATAL_FAILURE(ExpectReadableWithRuntimeDir(dir, Port()));

    listener.Signal(SIGTERM);
    ASSERT_TRUE(listener.ReadLine(line, std::chrono::seconds(10))) << listener.Err();
    EXPECT_EQ(line, "0");
}

TEST(ConnectTest, MalformedAddressesGiveAnInvalidHandle) {
    struct Case {
        const char* host;
        std::int32_t port;
    };
    const Case cases[] = {
        {"127.0.0.1/registry-platform", 1}, {"a,omniunix:/tmp/x", 1}, {"host name", 1},
        {"127.0.0.1", -1},                  {"127.0.0.1", 65536},     {"", 70000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + std::to_string(c.port));
        mci::Node root;
        EXPECT_NO_THROW(root = mci::Connect(c.host, mci::eApplicationRoot, c.port, false));
        EXPECT_FALSE(root.IsValid());
    }
}

TEST_F(NavigationTest, FreshConnectionsAreSeparate) {
    const mci::Node a = Root(mci::eApplicationRoot, true);
    const mci::Node b = Root(mci::eApplicationRoot, true);
    EXPECT_NE(a.Connection(), b.Connection());
    EXPECT_EQ(Root().Connection(), Root().Connection());
}

TEST(PathTest, TokenizeAndJoin) {
    EXPECT_EQ(mci::Tokenize("a.b.c"), (mci::Path{"a", "b", "c"}));
    EXPECT_EQ(mci::Tokenize(""), mci::Path{});
    EXPECT_EQ(mci::Tokenize(".a..b."), (mci::Path{"a", "b"}));
    EXPECT_EQ(mci::ToString(mci::Path{"a", "b"}), "a.b");
    EXPECT_EQ(mci::ToString(mci::Path{}), "");
    std::ostringstream os;
    os << mci::Path{"x", "y"} << ' ' << mci::eApplicationRoot << ' ' << mci::ePlatformRoot << ' '
       << static_cast<mci::Root>(7);
    EXPECT_EQ(os.str(), "x.y application platform 7");
}

TEST(PathTest, DefaultsAndValueTypeNames) {
    EXPECT_EQ(mci::DefaultPort(), 17520);
    EXPECT_STREQ(mci::DefaultHost(), "127.0.0.1");
    const auto& items = istd::EnumMap<mci::enums::NodeValType_e>::items;
    EXPECT_STREQ(items.NameOf(mci::enums::eNoValue), "none");
    EXPECT_STREQ(items.NameOf(mci::enums::eUInt64), "uint64");
    EXPECT_STREQ(items.NameOf(mci::enums::eEnum), "enum");
    EXPECT_EQ(items.Name(static_cast<mci::enums::NodeValType_e>(10)), nullptr);
    EXPECT_EQ(items.Description().size(), 10u);
}

TEST(InitTest, KeepsTheArgumentsUnchanged) {
    std::string a0 = "prog", a1 = "-ORBtraceLevel", a2 = "40", a3 = "path=1";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    mci::Init(4, argv);
    EXPECT_STREQ(argv[1], "-ORBtraceLevel");
    EXPECT_STREQ(argv[2], "40");
    EXPECT_STREQ(argv[3], "path=1");
    EXPECT_EQ(argv[4], nullptr);
}

}  // namespace
}  // namespace mcitest
