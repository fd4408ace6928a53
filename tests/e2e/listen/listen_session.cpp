#include "listen_session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace listen_test {

namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

bool AwaitSubscriptions(const std::string& trace, std::size_t nodes, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (Occurrences(FileText(trace), "void Listen(mci::Node&): < exit") < nodes) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

ListenSession::ListenSession(const velnor::test::RegistryServer& server, const std::vector<std::string>& args,
                             std::size_t announced, const velnor::test::RunOptions& options, bool announces) {
    const std::string trace = velnor::test::TempDir() + "/listen.trace";
    std::vector<std::string> argv = {velnor::test::BinPath("velnor-rove"), "listen"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--port", server.PortText(), "--debug", trace, "4"});
    m_child = std::make_unique<velnor::test::Child>(argv, options);
    std::string line;
    for (std::size_t i = 0; announces && i <= announced; ++i) {
        if (!m_child->ReadLine(line, c_patience))
            throw std::runtime_error("listener did not announce its nodes: " + m_child->Out() + m_child->Err());
    }
    if (!AwaitSubscriptions(trace, announced, c_patience))
        throw std::runtime_error("listener did not subscribe its nodes: " + FileText(trace));
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
