// The least a one-shot omniORB client can cost, linked like velnor-rove
// (static ORB and C++ runtime): the floor under the tool's one-shot figures.
//
//   bench_omniorb_floor                 starts and ends at once: what the
//                                       linked-in ORB and runtime cost
//   bench_omniorb_floor PORT SOCKET     one call to bench_echo_server over
//                                       its Unix socket, the answer on
//                                       standard output, and the end
//                                       without the ORB's tear-down
//
// It parses no options, looks up no node and checks no socket owner: all
// of that is the tool's own cost above this floor.
#include <unistd.h>

#include <string>

#include "echo.hh"

int main(int argc, char** argv) {
    if (argc == 1) _exit(0);
    if (argc != 3) return 2;
    const std::string uri = std::string("corbaloc:omniunix:") + argv[2] + ",iiop:1.2@127.0.0.1:" + argv[1] + "/echo";
    // As the registry library starts its client ORB: no scavenger thread.
    const char* options[][2] = {{"scanGranularity", "0"}, {nullptr, nullptr}};
    int orbArgc = 1;
    try {
        CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, argv, "omniORB4", options);
        CORBA::Object_var object = orb->string_to_object(uri.c_str());
        velnorbench::Echo_var echo = velnorbench::Echo::_unchecked_narrow(object);
        CORBA::String_var text = echo->getString();
        const std::string line = std::string(text.in()) + "\n";
        _exit(write(STDOUT_FILENO, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0 : 1);
    } catch (const CORBA::Exception&) {
        _exit(1);
    }
}
