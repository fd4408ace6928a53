#pragma once
// Process-wide version store.
#include <string>

namespace istd {

struct VersionRecord {
    int major = 0;
    int minor = 0;
    int build = 0;
    int revision = 0;
    std::string extra;
    std::string compiler;
    std::string buildTime;
    std::string machine;
    std::string user;
};

class VerInfo {
public:
    static void Init(int major, int minor, int build, int revision, const char* extra, const char* compiler,
                     const char* buildTime, const char* machine, const char* user);
    // The registered record; all zero before Init.
    static const VersionRecord& Get();
    // "major.minor-build-extra-rrevision"
    static std::string VersionText();
};

}  // namespace istd
