#pragma once
// The signal readers report failures of the communication layer by kind,
// without seeing its types: this names the exception being handled.
#include <atomic>
#include <string>

namespace isig {

enum class FailureKind {
    eCorbaSystem,  // a CORBA system exception
    eCorba,        // any other CORBA exception
    eOrbFatal,     // the ORB's fatal exception
    eOther,        // anything else (also standard exceptions)
};

struct FailureReport {
    FailureKind kind;
    std::string text;  // for example "TRANSIENT (minor 0x41540002, completed: NO)"
};

// Call inside a catch block only: rethrows the exception being handled and
// tells what it is.
FailureReport DescribeCurrentFailure();

// Why a remote call failed, as far as its user can act on it.
enum class RemoteFailure_e {
    eNone,         // no remote call failed
    eNoAnswer,     // no answer within the call deadline
    eUnreachable,  // the connection could not be made or broke down
    eOther,        // anything else
};

// Call inside a catch block only.
RemoteFailure_e ClassifyCurrentFailure();

// The last failure of a remote call among several threads' calls (a
// stream's pullers): read by the reader that finds the stream ended.
class RemoteFailureNote {
public:
    void Note(RemoteFailure_e failure) { m_failure.store(failure); }
    RemoteFailure_e Last() const { return m_failure.load(); }

private:
    std::atomic<RemoteFailure_e> m_failure{RemoteFailure_e::eNone};
};

}  // namespace isig
