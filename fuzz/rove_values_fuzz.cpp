// Feeds arbitrary texts to the index-list parser, the item conversions and
// the argument splitter, and checks what they accept.
#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstdlib>
#include <string>
#include <type_traits>

#include <boost/lexical_cast.hpp>

#include "istd/exception.h"
#include "rove_values.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool AllHexDigits(const std::string& text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return from < text.size();
}

void FuzzIndexes(const std::string& text) {
    try {
        for (const idx_t& range : ParseIndexes("[" + text + "]")) {
            Check(range.count >= 1);
            // The last selected element is still a 32-bit index.
            Check(static_cast<std::uint64_t>(range.start) + range.count - 1 <= UINT32_MAX);
        }
        Check(text.find('-') == std::string::npos);
    } catch (const istd::Exception&) {
    } catch (const boost::bad_lexical_cast&) {
    }
}

template <class T>
void FuzzItem(const std::string& item) {
    try {
        ConvertItem<T>(item);
        // An accepted hexadecimal item is "0x" and digits only.
        if (istd::HasHexPrefix(item) && !std::is_floating_point<T>::value) Check(AllHexDigits(item, 2));
        if (std::is_unsigned<T>::value && !std::is_same<T, bool>::value) Check(item.empty() || item[0] != '-');
    } catch (const istd::Exception& e) {
        Check(std::string(e.what()).rfind("Bad ", 0) == 0);
    }
}

void FuzzItems(const std::string& text) {
    FuzzItem<bool>(text);
    FuzzItem<int>(text);
    FuzzItem<unsigned int>(text);
    FuzzItem<long long>(text);
    FuzzItem<unsigned long long>(text);
    FuzzItem<double>(text);
    FuzzItem<float>(text);
}

void FuzzArgument(const std::string& text) {
    AccessArgument a;
    if (SplitArgument(text, true, a) != ArgumentUse::eUse) return;
    // The path starts the argument, the value ends it, and an "=" is never
    // part of the path.
    Check(text.rfind(a.path, 0) == 0);
    Check(!a.hasValue || text.size() >= a.value.size() + 1 + a.path.size());
    Check(!a.hasValue || text.compare(text.size() - a.value.size(), a.value.size(), a.value) == 0);
    Check(a.path.find('=') == std::string::npos);
    Check(a.index.empty() || a.index[0] == '[' || a.index[0] == '{');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FuzzIndexes(text);
    FuzzItems(text);
    FuzzArgument(text);
    return 0;
}
