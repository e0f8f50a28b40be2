// The one place that maps description tags to node classes; new node kinds are added here.
#pragma once

#include <memory>
#include <string>

namespace GenApi::detail {

class Node;
class NodeMapImpl;

// Null when the tag names no node kind we know.
std::unique_ptr<Node> CreateNode(const std::string& tag, NodeMapImpl& map, std::string name, int line);
// True for node kinds of the GenICam schema that are not supported yet.
bool IsUnsupportedStandardNode(const std::string& tag);
// A stand-in for such a node: not implemented, reads as 0 and "".
std::unique_ptr<Node> CreateLegacyNode(const std::string& tag, NodeMapImpl& map, std::string name, int line);

} // namespace GenApi::detail
