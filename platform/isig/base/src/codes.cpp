#include "isig/codes.h"

#include <sstream>

namespace isig {
namespace {

const char* Meaning(SuccessCode_e code) {
    switch (code) {
        case eSuccess: return "success";
        case eOtherMode: return "open in another mode";
        case eNoData: return "no data yet";
        case eClosed: return "closed or interrupted";
        case eQueueClosed: return "queue closed";
        case eRemoteFailed: return "remote access failed";
        case eFailure: return "general failure";
    }
    return "unknown code";
}

const char* Meaning(StreamState state) {
    switch (state) {
        case eIdle: return "idle";
        case eStarting: return "starting";
        case eDispatching: return "dispatching";
        case eStopping: return "stopping";
        case eShutdown: return "shut down";
    }
    return "unknown state";
}

}  // namespace

std::ostream& operator<<(std::ostream& os, SuccessCode_e code) {
    return os << static_cast<std::int32_t>(code) << " (" << Meaning(code) << ")";
}

std::ostream& operator<<(std::ostream& os, StreamState state) {
    return os << Meaning(state) << " (" << static_cast<std::int32_t>(state) << ")";
}

std::string ToString(SuccessCode_e code) {
    std::ostringstream text;
    text << code;
    return text.str();
}

std::string ToString(StreamState state) {
    std::ostringstream text;
    text << state;
    return text.str();
}

SuccessCode_e ToSuccessCode(std::int64_t value) {
    switch (value) {
        case eSuccess:
        case eOtherMode:
        case eNoData:
        case eClosed:
        case eQueueClosed:
        case eRemoteFailed:
        case eFailure:
            return static_cast<SuccessCode_e>(value);
        default:
            return eFailure;
    }
}

}  // namespace isig
