// Writing the records of a feature file into a node map: every record is checked against
// the node map before anything is written, then the records are written in an order that
// respects the dependencies between the features.
//
// Order: a record is written after the records of every feature its value, limits or
// access read (binning before the sizes whose maximum it sets, GammaEnable before the
// Gamma it makes available). Features that limit each other (Width and OffsetX) form a
// cycle; it is broken at the record that comes first in the file, and before that record
// is written the other features of the cycle are moved to their minimum if the record's
// value would otherwise be out of range (OffsetX := 0, then Width, then OffsetX).
// A record with a selector sets the selector to its entry, writes, and puts it back.
// A value the feature already has is not written.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <GenApi/Interfaces.h>

#include "persistence/FeatureFile.h"
#include "persistence/ValueText.h"

namespace Pylon::persistence {

class LoadPlan {
public:
    // Checks every record; raises InvalidArgumentException "<source>: line N: feature 'X': ..."
    // for an unknown feature, selector or entry, a command, or a value of the wrong form.
    LoadPlan(GenApi::INodeMap& map, std::vector<Record> records, std::string source);

    // The distinct features the records write, in record order.
    std::vector<GenApi::INode*> Features() const;

    struct Failure {
        const Record* record = nullptr;
        std::exception_ptr error; // the GenICam exception the write raised
        std::string description;  // its description
    };

    // Writes the records in dependency order. With `stop_at_failure` the first failed write
    // ends the pass and is returned; otherwise every record is tried and all failures are
    // returned.
    std::vector<Failure> Apply(bool stop_at_failure) const;

private:
    struct Step {
        Record record;
        GenApi::INode* node = nullptr;
        ValueKind kind = ValueKind::None;
        ParsedValue value;
        GenApi::IEnumeration* selector = nullptr;
        // Features moved to their minimum first when the value is out of range otherwise.
        std::vector<GenApi::INode*> pre_min;
    };

    void Order();

    std::string source_;
    std::vector<Step> steps_;
    std::vector<std::size_t> order_;
};

// A description of a failed load that names the source, line and feature.
std::string DescribeFailure(const std::string& source, const LoadPlan::Failure& failure);

// Raises an exception of the same kind as `error` (a GenICam exception) with `description`.
[[noreturn]] void RaiseLike(const std::exception_ptr& error, const std::string& description);

} // namespace Pylon::persistence
