// Paths, roots, defaults and the process-wide tables that mci owns.
#include "istd/strings.h"
#include "mci/mci.h"
#include "velnor/wire.h"

namespace mci {

std::ostream& operator<<(std::ostream& os, Root root) {
    switch (root) {
        case eApplicationRoot: return os << "application";
        case ePlatformRoot: return os << "platform";
    }
    return os << static_cast<std::int32_t>(root);
}

std::int32_t DefaultPort() { return velnor::wire::c_defaultPort; }
const char* DefaultHost() { return velnor::wire::c_defaultHost; }

Path Tokenize(const std::string& path) { return Path(istd::TokenizeString(path, ".")); }

std::string ToString(const Path& path) { return istd::StringVecIntoString(path, "."); }

std::ostream& operator<<(std::ostream& os, const Path& path) { return os << ToString(path); }

}  // namespace mci

namespace istd {

template <>
const BiMap<mci::enums::NodeValType_e> EnumMap<mci::enums::NodeValType_e>::items = {
    {mci::enums::eNoValue, "none"},   {mci::enums::eBool, "bool"},     {mci::enums::eInt32, "int32"},
    {mci::enums::eUInt32, "uint32"},  {mci::enums::eInt64, "int64"},   {mci::enums::eUInt64, "uint64"},
    {mci::enums::eDouble, "double"},  {mci::enums::eFloat, "float"},   {mci::enums::eString, "string"},
    {mci::enums::eEnum, "enum"},
};

template <>
unsigned long long IdCounter<mci::IdRoveCallback, unsigned long long>::s_value = 0;
template <>
std::mutex IdCounter<mci::IdRoveCallback, unsigned long long>::s_mutex{};

}  // namespace istd
