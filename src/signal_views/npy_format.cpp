#include "signal_views/npy_format.h"

#include <cstdio>
#include <limits>
#include <set>
#include <stdexcept>

namespace signal_views {
namespace {

constexpr bool c_littleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Decodes one UTF-8 sequence at text[pos]; false (and pos unchanged) when
// the bytes there are not one well-formed sequence.
bool DecodeUtf8(const std::string& text, std::size_t& pos, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        cp = lead, length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
        cp = lead & 0x1F, length = 2, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F, length = 3, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        cp = lead & 0x07, length = 4, least = 0x10000;
    } else {
        return false;
    }
    if (pos + length > text.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (length > 1 && (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
    pos += length;
    return true;
}

void AppendEscape(std::string& out, char32_t cp) {
    char text[16];
    if (cp < 0x100)
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(cp));
    else if (cp < 0x10000)
        std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(cp));
    else
        std::snprintf(text, sizeof text, "\\U%08x", static_cast<unsigned>(cp));
    out += text;
}

std::string HeaderDict(const std::vector<std::string>& fields, const std::string& typeString, std::uint64_t atoms) {
    std::string dict = "{'descr': [";
    for (std::size_t j = 0; j < fields.size(); ++j) {
        if (j > 0) dict += ", ";
        dict += "(" + PythonStringLiteral(fields[j]) + ", '" + typeString + "')";
    }
    dict += "], 'fortran_order': False, 'shape': (" + std::to_string(atoms) + ",), }";
    return dict;
}

}  // namespace

std::string NpyTypeString(std::int32_t atomType) {
    const char order = c_littleEndianHost ? '<' : '>';
    switch (atomType) {
        case 1: return std::string(1, order) + "f8";
        case 2: return std::string(1, order) + "f4";
        case 3: return std::string(1, order) + "u8";
        case 4: return std::string(1, order) + "i8";
        case 5: return std::string(1, order) + "u4";
        case 6: return std::string(1, order) + "i4";
        case 7: return std::string(1, order) + "u2";
        case 8: return std::string(1, order) + "i2";
        case 9: return "|u1";
        case 10: return "|i1";
        default: return {};
    }
}

std::string PythonStringLiteral(const std::string& utf8) {
    std::string out = "'";
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        if (!DecodeUtf8(utf8, pos, cp)) {
            AppendEscape(out, 0xDC00 + static_cast<unsigned char>(utf8[pos++]));
            continue;
        }
        if (cp == '\'' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp >= 0x20 && cp < 0x7F) {
            out += static_cast<char>(cp);
        } else {
            AppendEscape(out, cp);
        }
    }
    return out + "'";
}

std::vector<std::string> NpyFieldNames(const std::vector<std::string>& components) {
    std::vector<std::string> fields;
    std::set<std::string> taken;
    for (std::size_t j = 0; j < components.size(); ++j) {
        const std::string base = components[j].empty() ? "f" + std::to_string(j) : components[j];
        std::string name = base;
        for (int k = 1; taken.count(name) != 0; ++k) name = base + "_" + std::to_string(k);
        taken.insert(name);
        fields.push_back(name);
    }
    return fields;
}

std::string NpyPreamble(const std::vector<std::string>& fields, const std::string& typeString, std::uint64_t atoms) {
    constexpr std::size_t c_magicAndLength = 10;
    constexpr std::size_t c_alignment = 64;
    // Room for the longest count, so that every count gives the same length.
    const std::size_t longest =
        HeaderDict(fields, typeString, std::numeric_limits<std::uint64_t>::max()).size() + 1;  // + line end
    const std::size_t headerLength =
        (c_magicAndLength + longest + c_alignment - 1) / c_alignment * c_alignment - c_magicAndLength;
    if (headerLength > 0xFFFF) throw std::length_error("the .npy header of these components is above 65535 bytes");
    std::string header = HeaderDict(fields, typeString, atoms);
    header.resize(headerLength - 1, ' ');
    header += '\n';
    std::string preamble = "\x93NUMPY";
    preamble += '\x01';
    preamble += '\x00';
    preamble += static_cast<char>(headerLength & 0xFF);
    preamble += static_cast<char>(headerLength >> 8);
    return preamble + header;
}

}  // namespace signal_views
