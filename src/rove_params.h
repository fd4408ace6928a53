#pragma once
// The commands of velnor-rove and the one record all options are parsed into.
#include <cstdint>
#include <string>
#include <vector>

#include "isig/access_mode.h"
#include "istd/enum_map.h"
#include "mci/mci.h"

enum Command_e : std::int32_t {
    eInfo = 0,
    eDump = 1,
    eAccess = 2,
    eListen = 3,
    eSignal = 4,
    eBench = 5,
    eSave = 6,
    eDiff = 7,
    eApply = 8,
    eBrowse = 9,
};

namespace istd {
template <>
const BiMap<Command_e> EnumMap<Command_e>::items;
// A number selects only the first six commands, as it did before the
// snapshot commands came: "velnor-rove 7" stays an access of node 7.
template <>
struct EnumNumbered<Command_e> {
    static bool Selects(Command_e command) { return command <= eBench; }
};
}

// The values of Parameters::format: how the signal command writes atoms.
enum SignalFormat_e : std::int32_t {
    eFormatText = 0,
    eFormatCsv = 1,
    eFormatBinary = 2,
    eFormatStat = 3,  // statistics only
};

// The bits of Parameters::dumpFlags, as the registry library's DumpSubTree
// takes them.
enum DumpFlag_e : std::int32_t {
    eDumpFullPath = 1,
    eDumpShowFlags = 2,
    eDumpCompact = 4,
};

struct Parameters {
    Command_e command = eAccess;
    std::string host;
    mci::Root root = mci::eApplicationRoot;
    std::int32_t port = 0;
    std::int32_t level = -1;
    std::int32_t dumpFlags = 0;  // DumpFlag_e bits
    std::vector<std::string> paths;
    std::int32_t waitTime = -1;
    std::int32_t pingPeriod = 0;
    std::int32_t format = eFormatText;  // a SignalFormat_e
    std::int64_t offset = 0;
    std::uint64_t size = 1;
    std::uint32_t queueSize = 0;
    std::int32_t loop = 1;
    std::int64_t timeout = 0;
    std::uint64_t lmt = 0;
    std::string mode;
    isig::AccessMode_e accessMode = isig::eNow;
    bool header = false;
    bool verbose = false;
    bool quiet = false;
    std::uint32_t maxLength = 80;
    std::string outputFile;  // save: --output (empty: standard output)
    bool dryRun = false;     // apply: --dry-run
    bool force = false;      // apply: --force
    bool readOnly = false;   // browse: --read-only
    bool mouse = false;      // browse: --mouse
    // Scripting options; all off by default.
    bool json = false;             // --json: one JSON record per line
    bool glob = false;             // --glob: path words may hold patterns
    bool all = false;              // --all: a pattern may select writes
    bool listenTime = false;       // listen --time
    bool initial = false;          // listen --initial
    std::uint64_t count = 0;       // listen --count (0: no limit)
    bool hasUntil = false;         // listen --until given
    std::string until;             // listen --until
    // signal views (src/signal_views); all off by default.
    std::string plot;              // --plot: "braille", "block" or "ascii"; empty: no chart
    std::string plotSize;          // --plot-size COLSxROWS
    double ymin = 0;               // --ymin
    double ymax = 0;               // --ymax
    bool hasYmin = false;
    bool hasYmax = false;
    std::string npyFile;           // --npy FILE ("-": standard output); empty: none
    std::string npyMeta;           // --npy-meta FILE or "none"
    bool npyEach = false;          // --npy-each
    bool sizeGiven = false;        // signal --size given
    bool loopGiven = false;        // signal --loop given
};

extern Parameters g_params;
extern std::vector<std::string> g_debug;

// "HOST:PORT" of the registry the run talks to, the defaults filled in.
std::string RegistryAddress();

// Source file name given to the trace facility by the command code.
constexpr const char* c_traceFile = "velnor-rove";
