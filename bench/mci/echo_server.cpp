// Raw omniORB echo server for the baseline figures: serves "echo" under
// the INS POA at 127.0.0.1:PORT (0 picks a port), and on the Unix socket
// SOCKET when one is named, with the ORB's default thread model, and prints
// "echo listening on 127.0.0.1:PORT" when ready.
// Usage: bench_echo_server PORT [SOCKET]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "echo.hh"

namespace {

class EchoServant : public POA_velnorbench::Echo {
public:
    char* getString() override { return CORBA::string_dup("Velnor demo"); }
    void setLong(CORBA::Long v) override { m_last = v; }

private:
    CORBA::Long m_last = 0;
};

// The ORB needs the port before it starts: take a free one from the kernel.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
    int port = argc > 1 ? std::atoi(argv[1]) : 0;
    if (port == 0) port = FreePort();
    const std::string endpoint = "giop:tcp:127.0.0.1:" + std::to_string(port);
    const std::string unixEndpoint = argc > 2 ? std::string("giop:unix:") + argv[2] : "";
    const char* options[][2] = {{"endPoint", endpoint.c_str()},
                                {unixEndpoint.empty() ? nullptr : "endPoint", unixEndpoint.c_str()},
                                {nullptr, nullptr}};
    int orbArgc = 1;
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, argv, "omniORB4", options);
    CORBA::Object_var object = orb->resolve_initial_references("omniINSPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId("echo");
    EchoServant* servant = new EchoServant;
    poa->activate_object_with_id(id, servant);
    servant->_remove_ref();
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
    std::cout << "echo listening on 127.0.0.1:" << port << std::endl;
    orb->run();
    return 0;
}
