// What one peer can make the server hold: a client that pipelines requests
// on one connection and never reads the replies.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "raw_registry.h"
#include "support/registry_server.h"
#include "velnor/wire.h"

namespace velnor::test {
namespace {

using namespace std::chrono_literals;

// GIOP 1.2 in little-endian CDR, just enough to send requests.
class GiopMessage {
public:
    explicit GiopMessage(std::uint8_t type) {
        m_bytes = std::string("GIOP\x01\x02\x01", 7);
        m_bytes += static_cast<char>(type);
        ULong(0);  // size, set by Bytes()
    }
    void Align(std::size_t n) {
        while (m_bytes.size() % n != 0) m_bytes += '\0';
    }
    void Octet(std::uint8_t v) { m_bytes += static_cast<char>(v); }
    void Short(std::uint16_t v) {
        Align(2);
        m_bytes.append(reinterpret_cast<const char*>(&v), 2);
    }
    void ULong(std::uint32_t v) {
        Align(4);
        m_bytes.append(reinterpret_cast<const char*>(&v), 4);
    }
    void String(const std::string& s) {
        ULong(static_cast<std::uint32_t>(s.size() + 1));
        m_bytes += s;
        m_bytes += '\0';
    }
    void OctetSequence(const std::string& s) {
        ULong(static_cast<std::uint32_t>(s.size()));
        m_bytes += s;
    }
    std::string Bytes() const {
        std::string bytes = m_bytes;
        const auto size = static_cast<std::uint32_t>(bytes.size() - 12);
        std::memcpy(&bytes[8], &size, 4);
        return bytes;
    }

private:
    std::string m_bytes;
};

std::string DumpRequest(std::uint32_t requestId, std::uint32_t node) {
    GiopMessage m(0);  // Request
    m.ULong(requestId);
    m.Octet(3);  // response expected
    m.Octet(0);
    m.Octet(0);
    m.Octet(0);
    m.Short(0);  // target by object key
    m.OctetSequence(velnor::wire::c_applicationKey);
    m.String("dumpSubTree");
    m.ULong(0);  // no service contexts
    m.Align(8);
    m.ULong(node);
    m.ULong(static_cast<std::uint32_t>(-1));  // all levels
    m.ULong(0);                               // flags
    m.ULong(0);                               // no length limit
    m.Octet(0);                               // no hidden nodes
    return m.Bytes();
}

std::uint64_t ResidentBytes(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
    return 0;
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("connect");
    return fd;
}

// A tree whose dump is one 8 MB text.
std::string LargeTextTree() {
    const std::string path = TempDir() + "/large.yaml";
    std::ofstream(path) << "host: h\napplication:\n  nodes:\n    s: {type: string, value: \"" << std::string(8 << 20, 'x')
                        << "\"}\nplatform: {}\n";
    return path;
}

constexpr int c_requests = 24;
// One request at a time holds the dump, its copy for the reply and the
// reply's buffer, some 3 x 8 MB; all 24 at once would hold over 500 MB.
constexpr std::uint64_t c_bound = 150ull << 20;

TEST(Connection, PipelinedRequestsOfOnePeerHoldBoundedMemory) {
    RegistryServer server(LargeTextTree());
    RawRegistry app(server.Port());
    const i_NET::NodeId root = app.Lookup("", false).id;
    EXPECT_EQ(app.Read("s").size(), (8u << 20) + 2);  // warmed up: the value has been copied once
    const std::uint64_t before = ResidentBytes(server.Process().Pid());

    const int peer = Connect(server.Port());
    std::string requests;
    for (int i = 0; i < c_requests; ++i) requests += DumpRequest(static_cast<std::uint32_t>(i + 1), root);
    ASSERT_EQ(::send(peer, requests.data(), requests.size(), MSG_NOSIGNAL), static_cast<ssize_t>(requests.size()));

    // Others are still served while the peer's replies wait.
    RawRegistry other(server.Port());
    EXPECT_EQ(other.Read("s").size(), (8u << 20) + 2);
    // The growth, watched long enough for every request to be taken up on
    // a machine under load; it stops the watch as soon as it passes.
    std::uint64_t peak = before;
    for (int i = 0; i < 100 && peak - before <= c_bound; ++i) {
        std::this_thread::sleep_for(50ms);
        peak = std::max(peak, ResidentBytes(server.Process().Pid()));
    }
    RecordProperty("growth_mb", std::to_string((peak - before) >> 20));
    std::cout << "server growth with " << c_requests << " pipelined 8 MB dumps: " << ((peak - before) >> 20) << " MB\n";
    EXPECT_LE(peak - before, c_bound);
    ::close(peer);
    EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace velnor::test
