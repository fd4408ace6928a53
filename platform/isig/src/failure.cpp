#include "isig/failure.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/minorCode.h>

#include <exception>
#include <sstream>

namespace isig {
namespace {

const char* CompletionText(CORBA::CompletionStatus status) {
    switch (status) {
        case CORBA::COMPLETED_YES: return "YES";
        case CORBA::COMPLETED_NO: return "NO";
        case CORBA::COMPLETED_MAYBE: return "MAYBE";
    }
    return "?";
}

std::string SystemText(const CORBA::SystemException& e) {
    std::ostringstream text;
    text << e._name() << " (minor ";
    if (const char* minor = e.NP_minorString())
        text << minor;
    else
        text << "0x" << std::hex << e.minor() << std::dec;
    text << ", completed: " << CompletionText(e.completed()) << ")";
    return text.str();
}

}  // namespace

FailureReport DescribeCurrentFailure() {
    try {
        throw;
    } catch (const CORBA::SystemException& e) {
        return {FailureKind::eCorbaSystem, SystemText(e)};
    } catch (const CORBA::Exception& e) {
        return {FailureKind::eCorba, e._name()};
    } catch (const omniORB::fatalException& e) {
        std::ostringstream text;
        text << e.errmsg() << " (" << e.file() << ":" << e.line() << ")";
        return {FailureKind::eOrbFatal, text.str()};
    } catch (const std::exception& e) {
        return {FailureKind::eOther, e.what()};
    } catch (...) {
        return {FailureKind::eOther, "unknown exception"};
    }
}

RemoteFailure_e ClassifyCurrentFailure() {
    try {
        throw;
    } catch (const CORBA::TIMEOUT&) {
        return RemoteFailure_e::eNoAnswer;
    } catch (const CORBA::TRANSIENT& e) {
        return e.minor() == omni::TRANSIENT_CallTimedout ? RemoteFailure_e::eNoAnswer : RemoteFailure_e::eUnreachable;
    } catch (const CORBA::COMM_FAILURE&) {
        return RemoteFailure_e::eUnreachable;
    } catch (...) {
        return RemoteFailure_e::eOther;
    }
}

}  // namespace isig
