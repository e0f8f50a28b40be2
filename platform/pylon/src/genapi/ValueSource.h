// Where a value node keeps its value: a stored value (<Value>), another node (<pValue>), or
// one of several values chosen by an index node (<pIndex> with <ValueIndexed Index="N">,
// <pValueIndexed Index="N">, <ValueDefault>, <pValueDefault>). Register-backed nodes plug in
// here later as one more kind of target node.
//
// All operations expect the node map lock to be held.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "genapi/LoadContext.h"

namespace GenApi::detail {

class Node;

enum class Storage { Int, Float, String };

class ValueSource {
public:
    ValueSource(Node& owner, Storage storage) : owner_(owner), storage_(storage) {}

    // Loading: true when the element is one of the value elements above.
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx);
    void Resolve(LoadContext& ctx);
    void CollectReferences(std::vector<Node*>& out) const;      // targets and the index node
    void CollectValueReferences(std::vector<Node*>& out) const; // the same (all are read for the value)
    bool HasValueElement() const noexcept { return has_value_; }
    bool IsIndexed() const noexcept { return index_.IsSet(); }

    // The node the value selected now lives in, or null when it is stored here.
    Node* TargetNow();

    int64_t ReadInt(std::optional<int64_t> at);
    double ReadFloat(std::optional<int64_t> at);
    std::string ReadString(std::optional<int64_t> at);
    void WriteInt(int64_t value, std::optional<int64_t> at);
    void WriteFloat(double value, std::optional<int64_t> at);
    void WriteString(const std::string& value, std::optional<int64_t> at);

    // Initial stored value when the description gives none.
    void SetInitialInt(int64_t value) { direct_.i = value; direct_.f = static_cast<double>(value); }

private:
    struct Slot {
        NodeRef target;
        int64_t i = 0;
        double f = 0;
        std::string s;
    };
    void ReadConstant(Slot& slot, const pugi::xml_node& element, LoadContext& ctx) const;
    Slot& Select(std::optional<int64_t> at, bool for_write);
    void Stored(Slot& slot);

    Node& owner_;
    Storage storage_;
    bool has_value_ = false;
    Slot direct_;
    NodeRef index_;
    std::map<int64_t, Slot> indexed_;
    Slot fallback_;
};

} // namespace GenApi::detail
