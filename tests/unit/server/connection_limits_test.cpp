// Judging connections against the bounds, and counting them from the kernel's tables.
#include "connection_limits.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/case_name.h"

namespace velnor::server {
namespace {

using namespace std::chrono_literals;

// A book judging connections against a table of open ones that the test
// controls, on a clock the test moves.
class Book {
public:
    explicit Book(ConnectionLimits limits) : m_limits(limits) {}

    // Opens (accepts) connections without judging them, as a burst does.
    void Open(const std::string& peer, std::uint16_t first, std::uint16_t last) {
        for (std::uint16_t port = first; port <= last; ++port) m_open.insert({peer, port});
    }
    void Close(const std::string& peer, std::uint16_t port) { m_open.erase({peer, port}); }
    void Unreadable() { m_readable = false; }
    void Pass(std::chrono::milliseconds time) { m_now += time; }

    bool Admit(const std::string& peer, std::uint16_t port, std::size_t unixOpen = 0) {
        m_open.insert({peer, port});
        return m_book.Admit(TcpKey{peer, port}, peer, unixOpen, m_limits, Check(), m_now);
    }
    bool AdmitUnix(std::size_t unixOpen) { return m_book.Admit(std::nullopt, "", unixOpen, m_limits, Check(), m_now); }
    int Looks() const { return m_looks; }

private:
    AdmissionBook::OpenCheck Check() {
        return [this]() -> std::optional<std::set<TcpKey>> {
            ++m_looks;
            if (!m_readable) return std::nullopt;
            return m_open;
        };
    }

    const ConnectionLimits m_limits;
    AdmissionBook m_book;
    std::set<TcpKey> m_open;
    AdmissionBook::Clock::time_point m_now{};
    int m_looks = 0;
    bool m_readable = true;
};

TEST(AdmissionBook, APeerKeepsItsBoundWhateverTheBurstAndOthersAreServed) {
    Book book({3, 100});
    book.Open("10.0.0.1", 1, 50);  // accepted before any was judged
    for (std::uint16_t port = 1; port <= 3; ++port) EXPECT_TRUE(book.Admit("10.0.0.1", port)) << port;
    for (std::uint16_t port = 4; port <= 50; ++port) EXPECT_FALSE(book.Admit("10.0.0.1", port)) << port;
    // One look at the kernel for the whole flood (no time passed).
    EXPECT_EQ(book.Looks(), 1);
    EXPECT_TRUE(book.Admit("10.0.0.2", 1));
    EXPECT_TRUE(book.Admit("10.0.0.1 uid 1001", 1));
}

TEST(AdmissionBook, AClosedConnectionMakesRoomAtTheNextLook) {
    Book book({2, 100});
    EXPECT_TRUE(book.Admit("p", 1));
    EXPECT_TRUE(book.Admit("p", 2));
    book.Close("p", 1);
    EXPECT_TRUE(book.Admit("p", 3));  // the first look finds 1 closed
    book.Close("p", 2);
    book.Pass(500ms);
    EXPECT_FALSE(book.Admit("p", 4));  // within the period: judged from the book
    EXPECT_EQ(book.Looks(), 1);
    book.Pass(500ms);
    EXPECT_TRUE(book.Admit("p", 5));
    EXPECT_EQ(book.Looks(), 2);
}

TEST(AdmissionBook, TheTotalCountsUnixSocketConnections) {
    Book book({10, 3});
    EXPECT_TRUE(book.Admit("p", 1, 2));
    EXPECT_FALSE(book.Admit("q", 1, 2));
    EXPECT_TRUE(book.AdmitUnix(2));   // the candidate is one of the 2
    book.Pass(1s);
    EXPECT_FALSE(book.AdmitUnix(3));  // with p's, 4
}

TEST(AdmissionBook, RefusesAtTheBoundWhenTheKernelCannotBeAsked) {
    Book book({1, 100});
    EXPECT_TRUE(book.Admit("p", 1));
    book.Unreadable();
    EXPECT_FALSE(book.Admit("p", 2));
    EXPECT_TRUE(book.Admit("q", 1));  // below its bound, nothing to ask
}

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
