// Base of every node class: the elements all GenICam nodes share (names, texts, visibility,
// pIsImplemented/pIsAvailable/pIsLocked, ImposedAccessMode, pSelected), the access mode
// rules, callbacks, and the internal unchecked value access that one node uses to read
// another (pValue, pMin, formulas, ...).
//
// Every public (interface) operation takes the node map lock; the internal Read.../Write...
// operations expect it to be held.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <GenApi/Interfaces.h>
#include <GenApi/Pointer.h>

#include "genapi/LoadContext.h"
#include "genapi/NodeMapImpl.h"

namespace GenApi::detail {

// Combination of two access modes: the weaker wins (NI < NA < RO/WO < RW).
EAccessMode CombineAccess(EAccessMode a, EAccessMode b) noexcept;

class Node : public virtual INode, public virtual IValue {
public:
    Node(NodeMapImpl& map, std::string name, int line);
    ~Node() override;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // ---- loading ------------------------------------------------------------------------
    virtual const char* Tag() const noexcept = 0;
    // Reads attributes and child elements; unknown non-standard elements are refused.
    void Load(const pugi::xml_node& element, LoadContext& ctx);
    // Reads the child elements of a container shared by several nodes (a StructReg for its
    // StructEntry nodes), except the elements named `skip`.
    void LoadShared(const pugi::xml_node& container, LoadContext& ctx, const char* skip);
    // Links references by name; called once all nodes exist.
    virtual void Resolve(LoadContext& ctx);
    // Nodes this node reads (its children); used for dependencies and callbacks.
    virtual void CollectReferences(std::vector<Node*>& out) const;
    // Nodes whose value this node's value is made of (pValue, pVariable, ...), for cycle checks.
    virtual void CollectValueReferences(std::vector<Node*>& out) const { (void)out; }
    // Set up after resolving: children, parents, dependents and the feature mark.
    void SetRelations(std::vector<Node*> children, std::vector<Node*> parents, std::vector<Node*> dependents);
    void MarkFeature() noexcept { is_feature_ = true; }
    // Nodes to tell when this one changes: those that read it, those it selects, and those
    // that name it in <pInvalidator>.
    const std::vector<Node*>& Dependents() const noexcept { return dependents_; }
    // The nodes named in <pInvalidator> (resolved ones only).
    std::vector<Node*> InvalidatorNodes() const {
        std::vector<Node*> nodes;
        for (const auto& ref : invalidators_)
            if (ref.node)
                nodes.push_back(ref.node);
        return nodes;
    }
    // <PollingTime> in ms; 0 when absent.
    int64_t PollingTime() const noexcept { return polling_ms_; }
    virtual bool IsPort() const noexcept { return false; }
    int Line() const noexcept { return line_; }
    const std::string& Name() const noexcept { return name_; }
    NodeMapImpl& Map() const noexcept { return map_; }
    // The nodes behind pIsImplemented and pIsAvailable (null when absent).
    Node* ImplementedNode() const noexcept { return is_implemented_.node; }
    Node* AvailableNode() const noexcept { return is_available_.node; }
    // The nodes this node selects (pSelected; null entries for unresolved names).
    std::vector<Node*> SelectedNodes() const {
        std::vector<Node*> nodes;
        for (const auto& ref : selected_)
            nodes.push_back(ref.node);
        return nodes;
    }

    // ---- internal value access (lock held; no access checks) -----------------------------
    // `at` selects one value of an indexed node; nullopt: the value selected now.
    virtual bool IsNumeric() const noexcept { return false; }
    virtual bool IsIndexed() const noexcept { return false; }
    virtual int64_t ReadInt(std::optional<int64_t> at = std::nullopt);
    virtual double ReadFloat(std::optional<int64_t> at = std::nullopt);
    virtual void WriteInt(int64_t value, std::optional<int64_t> at = std::nullopt);
    virtual void WriteFloat(double value, std::optional<int64_t> at = std::nullopt);
    virtual std::string ReadText(std::optional<int64_t> at = std::nullopt);
    virtual void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt);

    // ---- value cache (lock held) -----------------------------------------------------------
    // Only register nodes keep values read from a device. Dropping a node that names
    // invalidators but keeps nothing itself (an Integer over a register, say) drops the
    // registers its value is read from, so the invalidation reaches the device.
    void DropCache();
    virtual void DropOwnCache() {}
    virtual bool KeepsValues() const noexcept { return false; }
    // Drops a value that has outlived its PollingTime; true when one was dropped.
    virtual bool ExpireCache() { return false; }

    // ---- IBase / INode ------------------------------------------------------------------
    EAccessMode GetAccessMode() const final;
    gcstring GetName(bool FullQualified = false) const override;
    ENameSpace GetNameSpace() const override { return name_space_; }
    EVisibility GetVisibility() const override { return visibility_; }
    gcstring GetDescription() const override { return description_; }
    gcstring GetDisplayName() const override { return display_name_.empty() ? name_ : display_name_; }
    gcstring GetToolTip() const override { return tooltip_.empty() ? description_ : tooltip_; }
    bool IsFeature() const override { return is_feature_; }
    ECachingMode GetCachingMode() const override { return caching_; }
    bool IsStreamable() const override { return streamable_; }
    INodeMap* GetNodeMap() const override;
    void GetChildren(NodeList_t& Children) const override;
    void GetParents(NodeList_t& Parents) const override;
    CallbackHandleType RegisterCallback(std::function<void(INode*)> callback) override;
    bool DeregisterCallback(CallbackHandleType handle) override;
    void InvalidateNode() override;

    // ---- IValue -------------------------------------------------------------------------
    INode* GetNode() override { return this; }
    gcstring ToString(bool Verify = false, bool IgnoreCache = false) override;
    void FromString(const gcstring& ValueStr, bool Verify = true) override;
    bool IsValueCacheValid() const override { return false; }
    // Lock held: the registers this node's value is read from (through pValue, formula
    // variables, ...) drop their cached values.
    void DropValueChainCaches();

    // ---- checks (lock held) -------------------------------------------------------------
    void CheckReadable() const;
    void CheckWritable() const;

protected:
    // Reads one child element; false when the element is not this node kind's.
    virtual bool ReadElement(const pugi::xml_node& element, LoadContext& ctx);
    // The node's own access mode before pIsImplemented/pIsAvailable/pIsLocked and
    // ImposedAccessMode are applied (value nodes: that of their value node).
    virtual EAccessMode NativeAccess() const { return RW; }
    // The typed client write behind FromString (text already known to be for this node).
    virtual void ClientFromString(const std::string& text, bool verify);

    // A client write: the before-write hook, then under the lock the access check (when
    // verifying), `check` (when verifying), the injected fault, `store`, and the queued
    // after-write hook.
    template <class Check, class Store>
    void ClientWrite(bool verify, Check&& check, Store&& store) {
        map_.RunBeforeHook(*this);
        std::lock_guard<NodeMapLock> guard(map_.Lock());
        if (verify) {
            CheckWritable();
            check();
        }
        map_.ConsumeFault(*this);
        store();
        map_.MarkClientWrite(*this);
    }

    [[noreturn]] void ThrowNotNumeric() const;

    NodeMapImpl& map_;

private:
    std::string name_;
    int line_ = 0;
    // Fixed after loading:
    ENameSpace name_space_ = Custom;
    EVisibility visibility_ = Beginner;
    ECachingMode caching_ = WriteThrough;
    std::string description_, tooltip_, display_name_;
    EAccessMode imposed_ = RW;
    NodeRef is_implemented_, is_available_, is_locked_;
    std::vector<NodeRef> selected_;
    std::vector<NodeRef> invalidators_; // <pInvalidator>; unresolved names stay null
    int64_t polling_ms_ = 0;
    bool streamable_ = false;
    bool is_feature_ = false;
    std::vector<Node*> children_, parents_, dependents_;
    // Guarded by the node map lock: set while this node's access mode is being computed.
    mutable bool computing_access_ = false;
};

// Guards evaluation chains (formulas reading formulas) against runaway recursion.
class EvaluationDepth {
public:
    explicit EvaluationDepth(const Node& node);
    ~EvaluationDepth();
    EvaluationDepth(const EvaluationDepth&) = delete;
    EvaluationDepth& operator=(const EvaluationDepth&) = delete;
};

} // namespace GenApi::detail
