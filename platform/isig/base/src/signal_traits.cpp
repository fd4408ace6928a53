#include "isig/signal_traits.h"

namespace isig {

std::uint32_t ElementSize(std::int32_t atomType) {
    switch (atomType) {
        case eAtomDouble: return sizeof(double);
        case eAtomFloat: return sizeof(float);
        case eAtomUInt64: return sizeof(unsigned long long);
        case eAtomInt64: return sizeof(long long);
        case eAtomUInt32: return sizeof(unsigned int);
        case eAtomInt32: return sizeof(int);
        case eAtomUInt16: return sizeof(unsigned short);
        case eAtomInt16: return sizeof(short);
        case eAtomUInt8: return sizeof(unsigned char);
        case eAtomInt8: return sizeof(signed char);
        default: return 0;
    }
}

const char* AtomTypeName(std::int32_t atomType) {
    switch (atomType) {
        case eAtomDouble: return "double";
        case eAtomFloat: return "float";
        case eAtomUInt64: return "uint64";
        case eAtomInt64: return "int64";
        case eAtomUInt32: return "uint32";
        case eAtomInt32: return "int32";
        case eAtomUInt16: return "uint16";
        case eAtomInt16: return "int16";
        case eAtomUInt8: return "uint8";
        case eAtomInt8: return "int8";
        default: return "";
    }
}

}  // namespace isig
