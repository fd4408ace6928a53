// Counting the server's connections from the kernel's socket tables.
#include "connection_limits.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/case_name.h"

namespace velnor::server {
namespace {

const char* const c_header =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

// One line of /proc/net/tcp: local and remote "HEXADDR:HEXPORT", state, uid, inode.
std::string Line(const char* local, const char* remote, const char* state, int uid, int inode) {
    return std::string("   0: ") + local + " " + remote + " " + state + " 00000000:00000000 00:00000000 00000000 " +
           std::to_string(uid) + " 0 " + std::to_string(inode) + " 1 0000000000000000 20 4 30 10 -1\n";
}

struct CountCase {
    const char* name;
    std::string table;
    TcpConnections expected;
};

// The server listens on port 0x4470 (17520).
const CountCase c_countCases[] = {
    {"ListenerAndClientSideAreNoConnections",
     Line("0100007F:4470", "00000000:0000", "0A", 0, 11) + Line("0100007F:9C40", "0100007F:4470", "01", 1000, 12),
     {}},
    {"LoopbackPeersAreTheirUsers",
     Line("0100007F:4470", "0100007F:9C40", "01", 0, 21) + Line("0100007F:9C40", "0100007F:4470", "01", 1000, 22) +
         Line("0100007F:4470", "0100007F:9C41", "01", 0, 23) + Line("0100007F:9C41", "0100007F:4470", "01", 1001, 24),
     {{{"127.0.0.1 uid 1000", 1}, {"127.0.0.1 uid 1001", 1}}, 2}},
    {"RemotePeersAreTheirAddresses",
     Line("0100007F:4470", "0201A8C0:9C40", "01", 0, 31) + Line("0100007F:4470", "0201A8C0:9C41", "08", 0, 32) +
         Line("0100007F:4470", "0301A8C0:9C42", "03", 0, 33),
     {{{"192.168.1.2", 2}, {"192.168.1.3", 1}}, 3}},
    {"NotYetAcceptedAndClosedOnesDoNotCount",
     Line("0100007F:4470", "0201A8C0:9C40", "01", 0, 0) + Line("0100007F:4470", "0201A8C0:9C41", "06", 0, 41) +
         Line("0100007F:4470", "0201A8C0:9C42", "01", 0, 42),
     {{{"192.168.1.2", 1}}, 1}},
    {"IPv6AndMappedIPv4",
     Line("00000000000000000000000001000000:4470", "00000000000000000000000001000000:9C40", "01", 0, 51) +
         Line("00000000000000000000000001000000:9C40", "00000000000000000000000001000000:4470", "01", 7, 52) +
         Line("0000000000000000FFFF00000201A8C0:4470", "0000000000000000FFFF00000201A8C0:9C41", "01", 0, 53),
     {{{"::1 uid 7", 1}, {"192.168.1.2", 1}}, 2}},
    {"LinesThatDoNotParseAreSkipped",
     std::string("garbage\n   1: 0100007F:XYZ 0100007F:4470 01\n") + Line("0100007F:4470", "0201A8C0:9C40", "01", 0, 61),
     {{{"192.168.1.2", 1}}, 1}},
};

class Counting : public ::testing::TestWithParam<CountCase> {};

TEST_P(Counting, ByPeer) {
    std::istringstream table(c_header + GetParam().table);
    TcpConnections counts;
    CountTcpConnections(table, 0x4470, counts);
    EXPECT_EQ(counts.byPeer, GetParam().expected.byPeer);
    EXPECT_EQ(counts.total, GetParam().expected.total);
}

INSTANTIATE_TEST_SUITE_P(Tables, Counting, ::testing::ValuesIn(c_countCases),
                         velnor::test::NameOfCase());

TEST(UnixConnections, CountsConnectedSocketsOfThePath) {
    std::istringstream table(
        "Num       RefCount Protocol Flags    Type St Inode Path\n"
        "0000000000000000: 00000002 00000000 00010000 0001 01 100 /run/r/velnor-registryd-17520.sock\n"
        "0000000000000000: 00000003 00000000 00000000 0001 03 101 /run/r/velnor-registryd-17520.sock\n"
        "0000000000000000: 00000003 00000000 00000000 0001 03 102 /run/r/velnor-registryd-17520.sock\n"
        "0000000000000000: 00000003 00000000 00000000 0001 03 103 /run/r/velnor-registryd-17521.sock\n"
        "0000000000000000: 00000003 00000000 00000000 0001 03 104\n");
    EXPECT_EQ(CountUnixConnections(table, "/run/r/velnor-registryd-17520.sock"), 2u);
}

TEST(DescriptorRoom, TotalLeavesHalfTheLimitAndAReserve) {
    EXPECT_EQ(TotalWithinDescriptors(4096, 65536), 4096u);
    EXPECT_EQ(TotalWithinDescriptors(4096, 1024), 448u);
    EXPECT_EQ(TotalWithinDescriptors(4096, 256), 64u);
    EXPECT_EQ(TotalWithinDescriptors(4096, 100), 1u);
}

}  // namespace
}  // namespace velnor::server
