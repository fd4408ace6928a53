// Calls per second for one kind of call, for a fixed time:
//   call_rate mci-read PORT PATH SECONDS     string reads through the library
//   call_rate mci-write PORT PATH SECONDS    int writes through the library
//   call_rate raw-read PORT SECONDS          raw getString on the echo server
//   call_rate raw-write PORT SECONDS         raw setLong on the echo server
//   call_rate raw-read-unix SOCKET SECONDS   raw getString over the echo
//   call_rate raw-write-unix SOCKET SECONDS  server's Unix socket
//   call_rate raw-read-untimed PORT SECONDS  raw getString without a timeout
// Prints the rate as a plain number. The raw client sets the library's call
// deadline on its reference, as the library does, so that both pay for the
// ORB's timeout alike; the -untimed mode shows what that costs.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>

#include "echo.hh"
#include "mci/mci.h"
#include "velnor/wire.h"

namespace {

using Clock = std::chrono::steady_clock;

double Rate(double seconds, const std::function<void(long)>& call) {
    for (long i = 0; i < 200; ++i) call(i);  // connection made, caches warm
    long count = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    Clock::time_point now;
    do {
        for (int i = 0; i < 100; ++i) call(count++);
        now = Clock::now();
    } while (now < end);
    return count / std::chrono::duration<double>(now - start).count();
}

double MciRate(const std::string& mode, int port, const std::string& path, double seconds) {
    const mci::Node root = mci::Connect("", mci::eApplicationRoot, port, false);
    if (!root.IsValid()) throw istd::Exception("no registry on port " + std::to_string(port), true);
    const mci::Node node = root.GetNode(mci::Tokenize(path));
    if (mode == "mci-read") {
        std::string text;
        return Rate(seconds, [&](long) { node.Get(text, 0); });
    }
    return Rate(seconds, [&](long i) { node.Set(std::vector<int>{static_cast<int>(i & 0xffff)}, 0); });
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// `where` is a TCP port on 127.0.0.1, or a socket path for the -unix modes.
double RawRate(CORBA::ORB_ptr orb, const std::string& mode, const std::string& where, double seconds) {
    const std::string uri =
        EndsWith(mode, "-unix") ? "corbaloc:omniunix:" + where + ":/echo" : "corbaloc::127.0.0.1:" + where + "/echo";
    CORBA::Object_var object = orb->string_to_object(uri.c_str());
    velnorbench::Echo_var echo = velnorbench::Echo::_unchecked_narrow(object);
    if (!Contains(mode, "-untimed"))
        omniORB::setClientCallTimeout(echo, static_cast<CORBA::ULong>(velnor::wire::c_callDeadline.count()));
    if (mode.rfind("raw-read", 0) == 0) return Rate(seconds, [&](long) { CORBA::String_var s = echo->getString(); });
    return Rate(seconds, [&](long i) { echo->setLong(static_cast<CORBA::Long>(i)); });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: call_rate MODE PORT|SOCKET [PATH] SECONDS\n";
        return 2;
    }
    const std::string mode = argv[1];
    try {
        if (mode.rfind("mci-", 0) == 0) {
            if (argc < 5) return 2;
            mci::Init(argc, argv);
            std::cout << static_cast<long>(MciRate(mode, std::atoi(argv[2]), argv[3], std::atof(argv[4]))) << '\n';
            mci::Shutdown();
        } else {
            int orbArgc = 1;
            CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, argv);
            std::cout << static_cast<long>(RawRate(orb, mode, argv[2], std::atof(argv[3]))) << '\n';
            orb->destroy();
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    } catch (const CORBA::Exception& e) {
        std::cerr << e._name() << '\n';
        return 1;
    }
    return 0;
}
