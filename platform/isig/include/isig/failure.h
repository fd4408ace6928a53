#pragma once
// The signal readers report failures of the communication layer by kind,
// without seeing its types: this names the exception being handled.
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

}  // namespace isig
