// Basic types of the Pylon layer and the library's start-up and shut-down.
#pragma once

#include <vector>

#include <GenICam/GCException.h>

namespace Pylon {

using String_t = GenICam::gcstring;
using StringList_t = std::vector<String_t>;

// Prepares the library for use. Calls nest; each needs a matching PylonTerminate().
void PylonInitialize();
// Ends the library's use: the SDK callback thread is drained and joined when the last
// user terminates. Devices must have been destroyed before.
void PylonTerminate();

// Initialises the library for the lifetime of the object.
class PylonAutoInitTerm {
public:
    PylonAutoInitTerm() { PylonInitialize(); }
    ~PylonAutoInitTerm() { PylonTerminate(); }
    PylonAutoInitTerm(const PylonAutoInitTerm&) = delete;
    PylonAutoInitTerm& operator=(const PylonAutoInitTerm&) = delete;
};

} // namespace Pylon
