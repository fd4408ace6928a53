#pragma once
// Names of parameterised test cases. Every instantiation names its cases
// with a generator (the registered names carry no printed values, which
// could hold addresses and change from build to build).
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace velnor::test {

// The letters and digits of `text`, each run of other characters between
// them as one '_'; "empty" when there are none.
std::string CaseName(const std::string& text);
// The same, cut to 40 characters, followed by "_" and the case's place in
// its list: for tables whose texts repeat, differ only in punctuation or
// run long.
std::string CaseName(const std::string& text, std::size_t index);

// The name generator of cases that carry their name in a member `name`.
struct NameOfCase {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return CaseName(info.param.name);
    }
};

// The name generator of cases that are texts themselves, numbered.
struct TextOfCase {
    template <class Text>
    std::string operator()(const ::testing::TestParamInfo<Text>& info) const {
        return CaseName(info.param, info.index);
    }
};

// The name generator of cases that are signal numbers: "SIGTERM".
struct SignalOfCase {
    std::string operator()(const ::testing::TestParamInfo<int>& info) const;
};

}  // namespace velnor::test
