#include "velnor/wire.h"

#include <unistd.h>

#include <cstdlib>

namespace velnor::wire {

namespace {

const char* NonEmptyEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// "/a/b//" -> "/a/b"; "/" stays "/".
std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

const char* RegistryKey(bool platform) { return platform ? c_platformKey : c_applicationKey; }

std::string SignalKey(bool platform, const std::string& dottedPath) {
    return (platform ? "signal-platform:" : "signal:") + dottedPath;
}

bool IsLoopbackHost(const std::string& host) {
    return host == "127.0.0.1" || host == "localhost" || host == "::1";
}

std::string RuntimeDirectory() {
    if (const char* dir = NonEmptyEnvironment("VELNOR_RUNTIME_DIR")) return WithoutTrailingSlashes(dir);
    if (const char* dir = NonEmptyEnvironment("XDG_RUNTIME_DIR")) return WithoutTrailingSlashes(dir);
    const char* tmp = NonEmptyEnvironment("TMPDIR");
    const std::string base = WithoutTrailingSlashes(tmp ? tmp : "/tmp");
    return (base == "/" ? "" : base) + "/velnor-" + std::to_string(::getuid());
}

bool RuntimeDirectoryIsDefault() {
    return !NonEmptyEnvironment("VELNOR_RUNTIME_DIR") && !NonEmptyEnvironment("XDG_RUNTIME_DIR");
}

std::string LocalSocketPath(std::uint16_t port) {
    const std::string dir = RuntimeDirectory();
    return (dir == "/" ? "" : dir) + "/velnor-registryd-" + std::to_string(port) + ".sock";
}

}  // namespace velnor::wire
