// Printable names of the access modes, as they appear in messages and tests.
#include <GenApi/Types.h>

namespace GenApi {

const char* AccessModeName(EAccessMode mode) noexcept {
    switch (mode) {
    case NI: return "NI";
    case NA: return "NA";
    case WO: return "WO";
    case RO: return "RO";
    case RW: return "RW";
    case _UndefinedAccesMode: return "Undefined";
    case _CycleDetectAccesMode: return "CycleDetect";
    }
    return "Unknown";
}

} // namespace GenApi
