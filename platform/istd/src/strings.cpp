#include "istd/strings.h"

#include <algorithm>
#include <cctype>

#include "istd/exception.h"

namespace istd {

std::vector<std::string> TokenizeString(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        if (!text.empty()) pieces.push_back(text);
        return pieces;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(delimiter, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + delimiter.size();
    }
    return pieces;
}

std::string TrimString(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string StringVecIntoString(const std::vector<std::string>& pieces, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i) out += separator;
        out += pieces[i];
    }
    return out;
}

bool ToBool(const std::string& text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == "true" || lower == "yes" || lower == "on" || lower == "1") return true;
    if (lower == "false" || lower == "no" || lower == "off" || lower == "0") return false;
    throw Exception("Bad cast from " + text + " to bool", true);
}

std::size_t Utf8SequenceLength(const std::string& text, std::size_t i, std::uint32_t& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    std::uint32_t least;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsUtf8(const std::string& text) {
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i, code);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

namespace {

bool IsControl(std::uint32_t code) { return (code < 0x20 && code != '\t') || (code >= 0x7F && code <= 0x9F); }

void AppendHexBytes(std::string& out, const std::string& text, std::size_t first, std::size_t count) {
    static const char c_digits[] = "0123456789abcdef";
    for (std::size_t k = first; k < first + count; ++k) {
        const auto byte = static_cast<unsigned char>(text[k]);
        out += "\\x";
        out += c_digits[byte >> 4];
        out += c_digits[byte & 0x0F];
    }
}

}  // namespace

std::string OneLineText(const std::string& text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 0x20 && byte < 0x7F) || byte == '\t';
    });
    if (plain) return text;
    std::string out;
    out.reserve(text.size());
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i, code);
        if (n == 0) {
            AppendHexBytes(out, text, i, 1);
            ++i;
            continue;
        }
        if (code == '\n')
            out += "\\n";
        else if (code == '\r')
            out += "\\r";
        else if (IsControl(code))
            AppendHexBytes(out, text, i, n);
        else
            out.append(text, i, n);
        i += n;
    }
    return out;
}

}  // namespace istd
