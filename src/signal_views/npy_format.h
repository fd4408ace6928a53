#pragma once
// The NumPy .npy format, version 1.0: the magic "\x93NUMPY", the version
// bytes 1 and 0, the header length (16 bits, little-endian), then the
// header, a Python dict literal of 'descr', 'fortran_order' and 'shape',
// padded with spaces and ended by a line end so that the data starts at a
// multiple of 64 bytes; then the raw data.
//
// The signal views write a structured array: one field per component, of
// the atom type, shape (atoms,). The header has the same length whatever
// the atom count, so that the count can be fixed up once the data is
// written.
#include <cstdint>
#include <string>
#include <vector>

namespace signal_views {

// The NumPy type string of an atom type code (1 double ... 10 signed 8
// bits), in the host's byte order: "<f8", "<i2", "|u1", ...; empty for a
// code that is no atom type.
std::string NpyTypeString(std::int32_t atomType);

// A Python string literal of UTF-8 text: printable ASCII as it is, quotes
// and backslashes escaped, other code points as \x, \u or \U escapes, and
// bytes that are not UTF-8 as the surrogates \udc80..\udcff (what Python
// itself decodes them to), so that the name reads back exactly.
std::string PythonStringLiteral(const std::string& utf8);

// Field names for components: an empty name becomes "f<j>" (NumPy's own
// default) and a repeated name gets "_<k>" appended, since a structured
// array's fields need distinct names.
std::vector<std::string> NpyFieldNames(const std::vector<std::string>& components);

// The whole preamble (magic to the header's line end) for `atoms` atoms;
// its length depends on the fields only. Throws std::length_error when the
// header does not fit version 1.0 (65535 bytes).
std::string NpyPreamble(const std::vector<std::string>& fields, const std::string& typeString, std::uint64_t atoms);

}  // namespace signal_views
