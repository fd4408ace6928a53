#include "rove_values.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/lexical_cast.hpp>

#include "istd/exception.h"
#include "istd/strings.h"
#include "istd/trace_statement.h"
#include "istd/unique_fd.h"
#include "rove_params.h"

const std::string c_arrayIdxDelimiter = ",";
const std::string c_arrayIdxPartDelimiter = ":";

bool IsArray(const std::string& index) { return !index.empty() && index[0] == '['; }
bool IsExec(const std::string& index) { return !index.empty() && index[0] == '{'; }

namespace {

[[noreturn]] void ThrowIndexFormat() { throw istd::Exception("Wrong format of array index", true); }

// A part beginning with "-" would be read as a huge unsigned number.
std::uint32_t IndexNumber(const std::string& part) {
    if (part[0] == '-') ThrowIndexFormat();
    return boost::lexical_cast<std::uint32_t>(part);
}

idx_t ParseIndexItem(const std::string& item) {
    const std::vector<std::string> parts = istd::TokenizeString(item, c_arrayIdxPartDelimiter);
    if (parts.empty() || parts.size() > 2) ThrowIndexFormat();
    if (parts.size() == 1 && item.find(c_arrayIdxPartDelimiter) != std::string::npos) ThrowIndexFormat();
    const std::uint32_t first = IndexNumber(parts[0]);
    if (parts.size() == 1) return idx_t{first, 1};
    const std::uint32_t last = IndexNumber(parts[1]);
    // [0:4294967295] would need a count of 2^32.
    if (first >= last || last - first == UINT32_MAX) ThrowIndexFormat();
    return idx_t{first, last - first + 1};
}

}  // namespace

std::vector<idx_t> ParseIndexes(const std::string& indexes) {
    std::vector<idx_t> ranges;
    if (!IsArray(indexes) || indexes.size() <= 2) return ranges;
    const std::string inner = indexes.substr(1, indexes.size() - 2);
    for (const auto& item : istd::TokenizeString(inner, c_arrayIdxDelimiter)) ranges.push_back(ParseIndexItem(item));
    return ranges;
}

namespace {

// Cuts a trailing "<open>...<close>" from `path` into `suffix`.
bool CutSuffix(std::string& path, char open, char close, std::string& suffix) {
    const std::size_t closePos = path.rfind(close);
    const std::size_t openPos = path.rfind(open);
    if (closePos == std::string::npos || openPos == std::string::npos) return false;
    if (openPos >= closePos || closePos != path.size() - 1) return false;
    suffix = path.substr(openPos);
    path.erase(openPos);
    return true;
}

}  // namespace

ArgumentUse SplitArgument(const std::string& argument, bool setsValues, AccessArgument& result) {
    result = AccessArgument{};
    const std::size_t eq = argument.find('=');
    result.hasValue = eq != std::string::npos;
    result.path = argument.substr(0, eq);
    if (result.hasValue) result.value = argument.substr(eq + 1);
    if (!setsValues && result.hasValue) return ArgumentUse::eValueNotAllowed;

    std::string suffix;
    if (CutSuffix(result.path, '{', '}', suffix)) {
        if (result.hasValue) return ArgumentUse::eFunctionWithValue;
        result.index = suffix;
    }
    if (CutSuffix(result.path, '[', ']', suffix)) result.index = suffix;
    return ArgumentUse::eUse;
}

namespace {

[[noreturn]] void ThrowUnreadable(const std::string& name) {
    throw istd::Exception("Can't read value from file " + name, true);
}

}  // namespace

std::string ReadFile(const std::string& name) {
    ISTD_TRACE_FNC("std::string ReadFile(const std::string&)", c_traceFile);
    if (name.empty()) throw istd::Exception("Missing file name after @.", true);
    std::string content;
    if (name == "-") {
        if (!istd::ReadToEnd(STDIN_FILENO, content)) ThrowUnreadable(name);
        return content;
    }
    const istd::UniqueFd file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsValid()) ThrowUnreadable(name);
    // A large value is read into its final place, not grown into it.
    struct stat info {};
    if (::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        content.reserve(static_cast<std::size_t>(info.st_size));
    if (!istd::ReadToEnd(file.Get(), content)) ThrowUnreadable(name);
    return content;
}
