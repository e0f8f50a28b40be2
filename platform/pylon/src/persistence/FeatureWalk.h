// Reading the saveable features of a node map: the walk of the category tree, the
// selector a feature depends on, and the records of the current values.
#pragma once

#include <vector>

#include <GenApi/Interfaces.h>

#include "persistence/FeatureFile.h"

namespace Pylon::persistence {

// Every node below the "Root" category that has a value and is marked Streamable, in a
// depth-first walk (children in category order), each node once.
std::vector<GenApi::INode*> StreamableFeatures(GenApi::INodeMap& map);

// The selector whose entries switch the feature's value: the nearest enumeration named
// "...Selector" that the feature's value, limits or access read (e.g. through <pIndex>).
// Null when the value depends on no selector.
GenApi::IEnumeration* SelectorOf(GenApi::INode* feature);

// Records of the current values of `features`: one per feature, or, for a feature with a
// writable selector, one per available selector entry (the selector is switched and put
// back). Features that are not readable and writable at that moment are left out.
std::vector<Record> ReadRecords(const std::vector<GenApi::INode*>& features);

// Sets the selector to `entry` and puts the previous entry back when destroyed.
class SelectorSwitch {
public:
    SelectorSwitch(GenApi::IEnumeration& selector, const std::string& entry);
    ~SelectorSwitch();
    SelectorSwitch(const SelectorSwitch&) = delete;
    SelectorSwitch& operator=(const SelectorSwitch&) = delete;

private:
    GenApi::IEnumeration& selector_;
    std::string previous_;
};

} // namespace Pylon::persistence
