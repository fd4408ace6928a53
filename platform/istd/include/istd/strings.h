#pragma once
// Text helpers.
#include <cstdint>
#include <string>
#include <vector>

namespace istd {

// Splits at every occurrence of `delimiter`; empty pieces are dropped.
std::vector<std::string> TokenizeString(const std::string& text, const std::string& delimiter);
// Removes leading and trailing blanks (space, tab, CR, LF, VT, FF).
std::string TrimString(const std::string& text);
// Joins with `separator` between the pieces.
std::string StringVecIntoString(const std::vector<std::string>& pieces, const std::string& separator);
// Accepts true/false, yes/no, on/off (any case) and 1/0; throws istd::Exception
// "Bad cast from <text> to bool" for anything else.
bool ToBool(const std::string& text);

// The length of the well-formed UTF-8 sequence that starts at text[i] (1
// to 4; no overlong forms, surrogates or code points above U+10FFFF), with
// its code point in `code`; 0 when the bytes there are no such sequence.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i, std::uint32_t& code);
// True when the whole text is well-formed UTF-8.
bool IsUtf8(const std::string& text);

// The text made safe for one line of a listing on a terminal: a line feed
// becomes \n, a carriage return \r, and every other control character
// but the tab (C0, DEL and C1), as well as every byte that is not part of
// well-formed UTF-8, \xNN for each of its bytes. Nothing else changes (a
// backslash stays as it is).
std::string OneLineText(const std::string& text);

// C++ spelling of a type, for messages.
template <class T> const char* CppName();
template <> inline const char* CppName<bool>() { return "bool"; }
template <> inline const char* CppName<char>() { return "char"; }
template <> inline const char* CppName<signed char>() { return "signed char"; }
template <> inline const char* CppName<unsigned char>() { return "unsigned char"; }
template <> inline const char* CppName<short>() { return "short"; }
template <> inline const char* CppName<unsigned short>() { return "unsigned short"; }
template <> inline const char* CppName<int>() { return "int"; }
template <> inline const char* CppName<unsigned int>() { return "unsigned int"; }
template <> inline const char* CppName<long>() { return "long"; }
template <> inline const char* CppName<unsigned long>() { return "unsigned long"; }
template <> inline const char* CppName<long long>() { return "long long"; }
template <> inline const char* CppName<unsigned long long>() { return "unsigned long long"; }
template <> inline const char* CppName<float>() { return "float"; }
template <> inline const char* CppName<double>() { return "double"; }
template <> inline const char* CppName<std::string>() { return "std::string"; }

}  // namespace istd
