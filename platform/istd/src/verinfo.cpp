#include "istd/verinfo.h"

namespace istd {
namespace {
VersionRecord& Record() {
    static VersionRecord record;
    return record;
}
}  // namespace

void VerInfo::Init(int major, int minor, int build, int revision, const char* extra, const char* compiler,
                   const char* buildTime, const char* machine, const char* user) {
    VersionRecord& r = Record();
    r.major = major;
    r.minor = minor;
    r.build = build;
    r.revision = revision;
    r.extra = extra ? extra : "";
    r.compiler = compiler ? compiler : "";
    r.buildTime = buildTime ? buildTime : "";
    r.machine = machine ? machine : "";
    r.user = user ? user : "";
}

const VersionRecord& VerInfo::Get() { return Record(); }

std::string VerInfo::VersionText() {
    const VersionRecord& r = Record();
    return std::to_string(r.major) + "." + std::to_string(r.minor) + "-" + std::to_string(r.build) + "-" + r.extra +
           "-r" + std::to_string(r.revision);
}

}  // namespace istd
