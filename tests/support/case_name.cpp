#include "support/case_name.h"

#include <cctype>
#include <csignal>

namespace velnor::test {

std::string CaseName(const std::string& text) {
    std::string name;
    bool gap = false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            gap = !name.empty();
            continue;
        }
        if (gap) name += '_';
        gap = false;
        name += c;
    }
    return name.empty() ? "empty" : name;
}

std::string CaseName(const std::string& text, std::size_t index) {
    constexpr std::size_t c_longest = 40;  // the rest of a long text is left out
    std::string name = CaseName(text);
    if (name.size() > c_longest) name.resize(c_longest);
    if (name.back() == '_') name.pop_back();
    return name + "_" + std::to_string(index);
}

std::string SignalOfCase::operator()(const ::testing::TestParamInfo<int>& info) const {
    switch (info.param) {
        case SIGHUP: return "SIGHUP";
        case SIGINT: return "SIGINT";
        case SIGQUIT: return "SIGQUIT";
        case SIGTERM: return "SIGTERM";
        default: return "signal" + std::to_string(info.param);
    }
}

}  // namespace velnor::test
