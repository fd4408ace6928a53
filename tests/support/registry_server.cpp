#include "support/registry_server.h"

#include <stdexcept>

namespace velnor::test {

RegistryServer::RegistryServer(const std::string& tree, std::vector<std::string> extraArgs, int port)
    : m_tree(tree), m_extraArgs(std::move(extraArgs)), m_port(port) {
    Start();
}

RegistryServer::~RegistryServer() {
    if (m_child && m_child->Running()) Stop(15);
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
