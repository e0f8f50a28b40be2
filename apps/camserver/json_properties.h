// Properties of a location as JSON for the HTTP API: one object per property, and one
// object per camera feature folded from its main property and the sub-properties
// NAME.TYPE, .ACCESS, .EGU, .INC, .NUM, .SL, .DESC and .CATEG.
#pragma once

#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include <mirva/d_fct.h>
#include <mirva/eq_fct.h>

namespace mirva::camserver {

// Registration group of camera features (EqFct::add_property).
constexpr int feature_group = 2;

nlohmann::json value_json(const ClientValue& value);
nlohmann::json snapshot_json(const PropertySnapshot& snapshot);

// {"location", "properties": [...], "features": [...]}; names (when given) keeps only
// the properties and features of those names. A spectrum gives its point count ("points")
// and, only with with_spectra, its points ("value"; else null): a listing polled by
// viewers stays small.
nlohmann::json location_properties_json(const EqFct& location, const std::set<std::string>* names,
                                        bool with_spectra = false);

// The property's object (a feature's main property also carries the folded fields; a
// spectrum its points and their count);
// nothing when the location has no property of that name.
std::optional<nlohmann::json> property_json(const EqFct& location, const std::string& name);

// The value of a request body {"value": ...}; on failure *error names the reason.
std::optional<ClientValue> client_value_from_body(const std::string& body, std::string* error);

} // namespace mirva::camserver
