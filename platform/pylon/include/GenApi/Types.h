// Enumerations shared by every GenApi node.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <GenICam/GCException.h>

namespace GenApi {

using GenICam::gcstring;
using gcstring_vector = std::vector<gcstring>;
using StringList_t = gcstring_vector;

// Access mode of a node; it may change at run time (for example while acquisition runs).
// The last two exist for completeness and for tests: a node never reports them in normal use.
enum EAccessMode {
    NI,                    // not implemented
    NA,                    // not available
    WO,                    // write only
    RO,                    // read only
    RW,                    // read and write
    _UndefinedAccesMode,   // access mode not yet determined
    _CycleDetectAccesMode  // internal: access mode being determined (cycle detection)
};

enum ENameSpace { Custom, Standard, _UndefinedNameSpace };

enum EVisibility { Beginner, Expert, Guru, Invisible, _UndefinedVisibility };

enum ECachingMode { NoCache, WriteThrough, WriteAround, _UndefinedCachingMode };

enum ERepresentation {
    Linear, Logarithmic, Boolean, PureNumber, HexNumber, IPV4Address, MACAddress, _UndefinedRepresentation
};

enum EIncMode { noIncrement, fixedIncrement, listIncrement };

enum EDisplayNotation { fnAutomatic, fnFixed, fnScientific, _UndefinedEDisplayNotation };

enum EInterfaceType {
    intfIValue, intfIBase, intfIInteger, intfIBoolean, intfICommand, intfIFloat, intfIString,
    intfIRegister, intfICategory, intfIEnumeration, intfIEnumEntry, intfIPort
};

const char* AccessModeName(EAccessMode mode) noexcept; // "NI", "NA", "WO", "RO", "RW", ...

} // namespace GenApi
