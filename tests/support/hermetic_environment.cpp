// Every test program starts from an environment of its own, before main:
// nothing it inherits chooses a registry, a runtime directory or a call
// deadline for it. VELNOR_APP_PORT, VELNOR_RUNTIME_DIR, XDG_RUNTIME_DIR and
// VELNOR_CALL_DEADLINE_MS are removed, and VELNOR_RUNTIME_DIR names a fresh
// directory under $TMPDIR, removed at exit: the servers a test starts put
// their local sockets there, and the tools it runs look for them there,
// never where a registry of the machine (the demo one) has its socket.
// Linked into every test program by velnor_add_test_suite.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

std::string& OwnRuntimeDirectory() {
    static std::string dir;
    return dir;
}

std::string PrefixOf(pid_t pid) {
    return (std::filesystem::temp_directory_path() / ("velnor-test-run-" + std::to_string(pid) + "-")).string();
}

struct HermeticEnvironment {
    HermeticEnvironment() {
        // A death test's child is this program again, started by it: it keeps
        // its parent's directory.
        const char* inherited = std::getenv("VELNOR_RUNTIME_DIR");
        const bool fromParent = inherited && std::string(inherited).rfind(PrefixOf(getppid()), 0) == 0;
        const std::string parentDir = fromParent ? inherited : "";
        for (const char* name : {"VELNOR_APP_PORT", "VELNOR_RUNTIME_DIR", "XDG_RUNTIME_DIR", "VELNOR_CALL_DEADLINE_MS"})
            ::unsetenv(name);
        if (fromParent) {
            ::setenv("VELNOR_RUNTIME_DIR", parentDir.c_str(), 1);
            return;
        }
        std::string pattern = PrefixOf(getpid()) + "XXXXXX";
        std::vector<char> path(pattern.begin(), pattern.end());
        path.push_back('\0');
        if (!::mkdtemp(path.data())) return;  // the tests that need it fail on their own
        OwnRuntimeDirectory() = path.data();
        ::setenv("VELNOR_RUNTIME_DIR", path.data(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(OwnRuntimeDirectory(), ignored);
        });
    }
};

const HermeticEnvironment c_environment;

}  // namespace
