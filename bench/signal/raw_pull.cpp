// Baseline: pulls octet sequences of one size from a server process as fast
// as it can, over TCP on 127.0.0.1, and prints the bytes per second.
//   raw_pull BLOCK_BYTES TOTAL_BYTES [SERVER_CPU]
// With SERVER_CPU the serving child runs on that processor only (the
// caller places this process itself, for example with taskset).
#include <omniORB4/CORBA.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pull.hh"
#include "velnor/wire.h"

namespace {

class RawSource : public POA_velnorbench::RawSource {
public:
    // Real bytes, written once and sent from that buffer without a copy,
    // as the registry server sends its generator tables. A fresh sequence
    // whose pages were never written would be read through the kernel's
    // shared zero page: a copy from cache that no server sending data gets.
    velnorbench::Octets* pull(CORBA::ULong bytes) override {
        auto* octets = new velnorbench::Octets;
        if (m_data.size() < bytes) {
            m_data.resize(bytes);
            for (std::size_t i = 0; i < m_data.size(); ++i) m_data[i] = static_cast<CORBA::Octet>(i * 7 + 3);
        }
        octets->replace(bytes, bytes, m_data.data(), false);
        return octets;
    }

private:
    std::vector<CORBA::Octet> m_data;
};

void PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) std::perror("raw_pull: sched_setaffinity");
}

// The same message limit as the registry's ORBs.
const std::string c_maxMessage = std::to_string(velnor::wire::c_maxMessageBytes);
const char* c_options[][2] = {{"giopMaxMsgSize", c_maxMessage.c_str()}, {nullptr, nullptr}};

[[noreturn]] void Serve(int fd) {
    int argc = 1;
    char name[] = "raw_pull";
    char* argv[] = {name, nullptr};
    const char* options[][2] = {{"endPoint", "giop:tcp:127.0.0.1:"}, {"giopMaxMsgSize", c_maxMessage.c_str()},
                                {nullptr, nullptr}};
    CORBA::ORB_var orb = CORBA::ORB_init(argc, argv, "omniORB4", options);
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    PortableServer::ObjectId_var id = poa->activate_object(new RawSource);
    CORBA::Object_var reference = poa->id_to_reference(id);
    CORBA::String_var ior = orb->object_to_string(reference);
    poa->the_POAManager()->activate();
    const std::string line = std::string(ior.in()) + "\n";
    if (write(fd, line.data(), line.size()) < 0) std::_Exit(1);
    close(fd);
    orb->run();
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: raw_pull BLOCK_BYTES TOTAL_BYTES [SERVER_CPU]\n");
        return 2;
    }
    const unsigned long block = std::strtoul(argv[1], nullptr, 10);
    const unsigned long long total = std::strtoull(argv[2], nullptr, 10);
    int fds[2];
    if (pipe(fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (argc == 4) PinTo(std::atoi(argv[3]));
        Serve(fds[1]);
    }
    close(fds[1]);
    std::string ior;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') ior += c;
    int orbArgc = 1;
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, argv, "omniORB4", c_options);
    CORBA::Object_var object = orb->string_to_object(ior.c_str());
    velnorbench::RawSource_var source = velnorbench::RawSource::_narrow(object);
    delete source->pull(block);  // connection made
    const auto start = std::chrono::steady_clock::now();
    unsigned long long pulled = 0;
    while (pulled < total) {
        velnorbench::Octets_var octets = source->pull(block);
        pulled += octets->length();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.0f\n", static_cast<double>(pulled) / seconds);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    orb->destroy();
    return 0;
}
