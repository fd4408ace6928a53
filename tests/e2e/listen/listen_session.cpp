#include "listen_session.h"

#include <gtest/gtest.h>

namespace listen_test {

ListenSession::ListenSession(const velnor::test::RegistryServer& server, const std::vector<std::string>& args,
                             std::size_t announced) {
    std::vector<std::string> argv = {velnor::test::BinPath("velnor-rove"), "listen"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--port");
    argv.push_back(server.PortText());
    m_child = std::make_unique<velnor::test::Child>(argv);
    std::string line;
    for (std::size_t i = 0; i <= announced; ++i) {
        if (!m_child->ReadLine(line, c_patience))
            throw std::runtime_error("listener did not announce its nodes: " + m_child->Out() + m_child->Err());
    }
}

std::string ListenSession::NextLine() {
    std::string line;
    return m_child->ReadLine(line, c_patience) ? line : std::string();
}

std::vector<std::string> ListenSession::NextLines(std::size_t count) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        std::string line;
        if (!m_child->ReadLine(line, c_patience)) break;
        lines.push_back(line);
    }
    return lines;
}

int ListenSession::StopWith(int signal) {
    m_child->Signal(signal);
    return m_child->Wait(c_patience);
}

void Write(const velnor::test::RegistryServer& server, const std::vector<std::string>& args) {
    const velnor::test::RunResult r = velnor::test::Rove(server, args);
    EXPECT_EQ(r.err, "") << args.front();
    EXPECT_EQ(r.status, 0) << args.front();
}

std::string Announcement(const std::vector<std::string>& names) {
    std::string text = "Listen following nodes: \n";
    for (const auto& name : names) text += "\t" + name + "\n";
    return text;
}

}  // namespace listen_test
