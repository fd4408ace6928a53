#pragma once
// An option value of an unsigned type that refuses a leading "-": the plain
// conversion would turn "-1" into the type's largest value without a word.
#include <string>
#include <type_traits>
#include <vector>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>

namespace istd {

template <class T>
class UnsignedValue : public boost::program_options::typed_value<T> {
    static_assert(std::is_unsigned<T>::value, "UnsignedValue holds unsigned types");

public:
    explicit UnsignedValue(T* target) : boost::program_options::typed_value<T>(target) {}

    void xparse(boost::any& valueStore, const std::vector<std::string>& tokens) const override {
        for (const auto& token : tokens)
            if (token.find('-') != std::string::npos) throw boost::program_options::invalid_option_value(token);
        boost::program_options::typed_value<T>::xparse(valueStore, tokens);
    }
};

template <class T>
UnsignedValue<T>* UnsignedOption(T* target) {
    return new UnsignedValue<T>(target);
}

}  // namespace istd
