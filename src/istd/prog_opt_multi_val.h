#pragma once
// An option value that collects between `min` and `max` words of one
// occurrence into a list of strings. The list is filled while parsing, so the
// words are there even when a later option fails.
#include <exception>
#include <string>
#include <vector>

#include <boost/any.hpp>
#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>

namespace istd {

// The option was given twice; a second set of words would silently mix
// with the first.
class MultiValOccurrenceError : public boost::program_options::multiple_occurrences {
public:
    MultiValOccurrenceError() { m_error_template = "Non-composing value with multiple occurrences."; }
};

class MultiValValueError : public boost::program_options::invalid_option_value {
public:
    explicit MultiValValueError(const std::string& reason) : invalid_option_value(reason) {
        m_error_template = "Invalid option value: " + reason;
    }
};

class ProgOptMultiVal : public boost::program_options::value_semantic {
public:
    ProgOptMultiVal(std::vector<std::string>* target, std::uint32_t minTokens, std::uint32_t maxTokens)
        : m_target(target), m_minTokens(minTokens), m_maxTokens(maxTokens) {}

    std::string name() const override { return "arg"; }
    unsigned min_tokens() const override { return m_minTokens; }
    unsigned max_tokens() const override { return m_maxTokens; }
    bool is_composing() const override { return false; }
    bool is_required() const override { return false; }

    void parse(boost::any& valueStore, const std::vector<std::string>& tokens, bool /*utf8*/) const override {
        if (!valueStore.empty()) throw MultiValOccurrenceError();
        try {
            for (const auto& token : tokens) {
                m_target->push_back(token);
                valueStore = tokens;
            }
            // An occurrence without words still counts as given.
            if (tokens.empty()) valueStore = tokens;
        } catch (const std::exception& e) {
            throw MultiValValueError(e.what());
        }
    }

    bool apply_default(boost::any& /*valueStore*/) const override { return false; }
    void notify(const boost::any& /*valueStore*/) const override {}

private:
    std::vector<std::string>* m_target;
    std::uint32_t m_minTokens;
    std::uint32_t m_maxTokens;
};

}  // namespace istd
