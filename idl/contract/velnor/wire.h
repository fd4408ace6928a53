#pragma once
// The wire contract between velnor-registryd and the client library: every
// constant and rule both sides must agree on lives here and nowhere else.
// Plain C++: no ORB header, so either side may include it anywhere.
#include <chrono>
#include <cstdint>
#include <string>

namespace velnor::wire {

// The TCP port used when neither the command line nor the environment
// names one.
constexpr std::uint16_t c_defaultPort = 17520;
// The host a client reaches when none is given.
constexpr const char* c_defaultHost = "127.0.0.1";

// Object keys under the server's INS POA (corbaloc::HOST:PORT/KEY).
constexpr const char* c_applicationKey = "registry-app";
constexpr const char* c_platformKey = "registry-platform";
const char* RegistryKey(bool platform);
// A signal node's key: a prefix by registry and its dotted path below the root.
std::string SignalKey(bool platform, const std::string& dottedPath);

// The flag bits of a subtree rendering (Registry::dumpSubTree).
constexpr std::uint32_t c_dumpFullPath = 0x1;  // dotted paths from the host, no indentation
constexpr std::uint32_t c_dumpShowFlags = 0x2;  // the node flags in braces
constexpr std::uint32_t c_dumpCompact = 0x4;    // no types, no flags or lines of plain nodes

// The largest GIOP message either side sends or accepts.
constexpr std::uint32_t c_maxMessageBytes = 256u * 1024u * 1024u;

// Connecting gives up after this long.
constexpr std::chrono::milliseconds c_connectTimeout{2000};
// A registry or signal call gives up after this long.
constexpr std::chrono::milliseconds c_callDeadline{10000};
// Checks, clean-up and server pushes to a client give up after this long.
constexpr std::chrono::milliseconds c_quickDeadline{2000};

// True for the names of this machine's loopback interface.
bool IsLoopbackHost(const std::string& host);

// The directory that holds a local server's unix socket:
// $VELNOR_RUNTIME_DIR when set, else $XDG_RUNTIME_DIR, else
// velnor-<uid> in $TMPDIR (or /tmp). Trailing slashes are removed.
std::string RuntimeDirectory();
// True when RuntimeDirectory() is the velnor-<uid> default: a directory of
// this user alone (0700, its own), which the server creates and refuses
// otherwise. A directory named in the environment may be shared (/tmp).
bool RuntimeDirectoryIsDefault();
// RuntimeDirectory()/velnor-registryd-<port>.sock
std::string LocalSocketPath(std::uint16_t port);

}  // namespace velnor::wire
