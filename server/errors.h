#pragma once
// Failures of registry operations, translated to the protocol's exceptions
// by the servant.
#include <stdexcept>
#include <string>

namespace velnor::server {

// A request that cannot be served as asked; the text is shown to the user.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A path or node id that does not name a (visible) node of the registry.
class NotFoundError : public std::runtime_error {
public:
    explicit NotFoundError(const std::string& path) : std::runtime_error("Node " + path + " not found"), m_path(path) {}
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace velnor::server
