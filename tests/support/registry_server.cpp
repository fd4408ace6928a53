#include "support/registry_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace velnor::test {
namespace {

// Binds a free TCP port of every address without listening: the kernel
// gives no one else that port (not to a bind to port 0, not to an outgoing
// connection), while a server that binds it with SO_REUSEADDR and listens
// still can. Gives the socket and sets `port`.
int HoldFreePort(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot hold a free port for velnor-registryd");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

RegistryServer::RegistryServer(const std::string& tree, std::vector<std::string> extraArgs, int port)
    : m_tree(tree), m_extraArgs(std::move(extraArgs)), m_port(port) {
    if (m_port == 0) m_heldPort = HoldFreePort(m_port);
    try {
        Start();
    } catch (...) {
        if (m_heldPort >= 0) ::close(m_heldPort);
        throw;
    }
}

RegistryServer::~RegistryServer() {
    if (m_child && m_child->Running()) Stop(15);
    if (m_heldPort >= 0) ::close(m_heldPort);
}

void RegistryServer::Start() {
    std::vector<std::string> argv = {BinPath("velnor-registryd"), "--tree", m_tree, "--port", std::to_string(m_port)};
    argv.insert(argv.end(), m_extraArgs.begin(), m_extraArgs.end());
    m_child = std::make_unique<Child>(argv);
    std::string line;
    const std::string prefix = "velnor-registryd listening on ";
    // Wide: a sanitized server loading a large tree on a busy machine is slow.
    if (!m_child->ReadLine(line, std::chrono::seconds(60)) || line.rfind(prefix, 0) != 0)
        throw std::runtime_error("velnor-registryd did not start: " + line + m_child->Err());
    m_port = std::stoi(line.substr(line.rfind(':') + 1));
}

int RegistryServer::Stop(int signal) {
    m_child->Signal(signal);
    return m_child->Wait(std::chrono::seconds(30));
}

void RegistryServer::Kill() {
    m_child->Signal(9);
    m_child->Wait(std::chrono::seconds(30));
}

void RegistryServer::Restart() {
    if (m_child->Running()) Stop(15);
    Start();
}

RunResult Rove(const RegistryServer& server, std::vector<std::string> args, const RunOptions& options) {
    args.insert(args.begin(), BinPath("velnor-rove"));
    args.push_back("--port");
    args.push_back(server.PortText());
    return Run(args, options);
}

std::string SocketPathIn(const std::string& dir, int port) {
    return dir + "/velnor-registryd-" + std::to_string(port) + ".sock";
}

}  // namespace velnor::test
