// The checks a client write passes before it reaches a property, independent of the
// HTTP layer: a refusal carries the status to answer and a message naming the value and
// the limit; an accepted write may carry a note (a number out of a feature's limits is
// clamped by the camera's write pass, and the client is told to what).
#pragma once

#include <optional>
#include <string>

#include <mirva/d_fct.h>
#include <mirva/eq_fct.h>

namespace mirva::camserver {

struct WriteVerdict {
    int status = 200;      // 200: the write may go ahead; else the status to answer
    std::string message;   // the refusal, or for an accepted write a note ("" for none)
    bool ok() const { return status == 200; }
};

// A property name that no property can have (a NUL in it): 400.
std::optional<WriteVerdict> check_property_name(const std::string& name);

// The verdict on writing value into the location's property name. A property the
// location does not have passes (the caller answers 404 or absent_feature()).
WriteVerdict check_write(const EqFct& location, const std::string& name, const ClientValue& value);

// For a name the location has no property of: 503 when it is a camera feature of the
// location's last camera set-up (the camera is away and its features return with it),
// nothing when the name is unknown.
std::optional<WriteVerdict> absent_feature(const EqFct& location, const std::string& name);

} // namespace mirva::camserver
