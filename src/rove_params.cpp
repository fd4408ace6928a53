#include "rove_params.h"

Parameters g_params;
std::vector<std::string> g_debug;

std::string RegistryAddress() {
    const std::string host = g_params.host.empty() ? std::string(mci::DefaultHost()) : g_params.host;
    const std::int32_t port = g_params.port != 0 ? g_params.port : mci::DefaultPort();
    return host + ":" + std::to_string(port);
}
