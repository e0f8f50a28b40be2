// The server's state file: the property values of every location, kept across restarts.
//
// At start-up a location's stored values are its configured initial values overlaid
// by the values in the state file, except where the configuration changed since the
// state was written (the file records the configured values it was based on), so an
// edit of the configuration takes effect and a client's setting survives a restart.
//
// The file is written atomically (temporary file, fsync, rename). A missing file
// starts from the configuration; a corrupt one is reported, moved aside under a new
// name and the server starts from the configuration.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace mirva::server {

using PropertyValues = std::map<std::string, std::string>;  // property name -> text

class StateStore {
public:
    using Report = std::function<void(const std::string& line)>;

    StateStore(std::filesystem::path file, Report report);

    // Reads the file; returns false (after reporting) when it was corrupt and moved aside.
    bool load();
    // The values a location starts with: configured values, overlaid by stored ones.
    PropertyValues initial_values(const std::string& location, const PropertyValues& configured) const;
    // Records a location's current values (merged over what is known of it).
    void record(const std::string& location, const PropertyValues& current, const PropertyValues& configured);
    // Writes every location's values; false (after reporting) when the file could not be written.
    bool save();

    const std::filesystem::path& file() const { return file_; }

private:
    struct LocationState {
        PropertyValues values;
        PropertyValues configured;  // configuration the values were based on
    };
    std::filesystem::path file_;
    Report report_;
    mutable std::mutex mx_;                          // guards locations_
    std::map<std::string, LocationState> locations_;
};

} // namespace mirva::server
