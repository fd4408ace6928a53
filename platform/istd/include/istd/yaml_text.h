#pragma once
// Value texts of the YAML files that keep registry values: the server's
// state file and the tool's snapshots. Both write and read every value
// through these functions, so that a value comes back bit for bit.
//
//   text      valid UTF-8: double quoted, with YAML escapes for quotes,
//             backslashes, control characters (C0, DEL and C1) and the
//             characters a YAML reader takes as line breaks or a byte
//             order mark (U+0085, U+2028, U+2029, U+FEFF); anything else:
//             !!binary "<base64 of the bytes>". Every byte sequence
//             without NUL reads back exactly.
//   floating  the shortest decimal that reads back to the same bits
//             (std::to_chars), .inf, -.inf, .nan for the default quiet NaN
//             and .nan(0x<bits>) for any other NaN (sign and payload kept).
#include <optional>
#include <string>

namespace istd {

// The scalar that holds `bytes` in a YAML file: "..." or !!binary "...".
std::string YamlText(const std::string& bytes);

// The tag a YAML reader reports for a !!binary scalar.
extern const char* const c_yamlBinaryTag;

// The bytes of a scalar as a YAML reader gives it, by its tag and text:
// the text itself, or for a !!binary scalar the bytes of its base64
// (blanks and line breaks between the digits are skipped); nullopt when
// that is not base64.
std::optional<std::string> YamlTextBytes(const std::string& tag, const std::string& scalar);

std::string YamlFloating(double value);
std::string YamlFloating(float value);

// How a floating text reads.
enum class FloatingText_e {
    eNumber,    // the value was set
    eNoNumber,  // not a floating text of the syntax below
    eTooLarge,  // a number beyond the type's largest finite value
    eTooSmall,  // a number other than 0 that would become 0 in the type
};

// Reads a floating text of a YAML file into `value`: the YAML 1.2 core
// spellings (.inf, .Inf, .INF with an optional sign; .nan, .NaN, .NAN),
// .nan(0x<bits>) with the bits of a NaN of the type, and decimal numbers
// ([-+] digits [. digits] [e [-+] digits]), rounded to the nearest value of
// the type. Locale independent.
FloatingText_e ReadYamlFloating(const std::string& text, double& value);
FloatingText_e ReadYamlFloating(const std::string& text, float& value);

}  // namespace istd
