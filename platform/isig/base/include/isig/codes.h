#pragma once
// Result codes of the signal library and the states of a stream dispatcher,
// with their texts.
#include <cstdint>
#include <ostream>
#include <string>

namespace isig {

enum SuccessCode_e : std::int32_t {
    eSuccess = 0,
    eOtherMode = -1,       // open in another mode
    eNoData = -2,          // no data yet
    eClosed = -4,          // closed or interrupted
    eQueueClosed = -5,     // queue closed or stream shut down
    eRemoteFailed = -6,    // remote access failed or refused
    eFailure = -99,        // general failure
};

// Dispatcher states of a stream.
enum StreamState : std::int32_t {
    eIdle = 0,
    eStarting = 1,
    eDispatching = 2,
    eStopping = 3,
    eShutdown = 4,
};

// The number followed by its meaning, for example "-4 (closed or interrupted)".
std::ostream& operator<<(std::ostream& os, SuccessCode_e code);
std::ostream& operator<<(std::ostream& os, StreamState state);
std::string ToString(SuccessCode_e code);
std::string ToString(StreamState state);

// Maps a code received from elsewhere (a remote call) onto the known codes;
// unknown values become eFailure.
SuccessCode_e ToSuccessCode(std::int64_t value);

}  // namespace isig
