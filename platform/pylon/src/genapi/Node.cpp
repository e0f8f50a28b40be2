#include "genapi/Node.h"

#include <algorithm>
#include <unordered_set>

#include <GenICam/GCException.h>

namespace GenApi::detail {

EAccessMode CombineAccess(EAccessMode a, EAccessMode b) noexcept {
    if (a == NI || b == NI)
        return NI;
    if (a == NA || b == NA)
        return NA;
    if (a == _CycleDetectAccesMode || b == _CycleDetectAccesMode)
        return _CycleDetectAccesMode;
    if (a == _UndefinedAccesMode || b == _UndefinedAccesMode)
        return _UndefinedAccesMode;
    const bool readable = IsReadable(a) && IsReadable(b);
    const bool writable = IsWritable(a) && IsWritable(b);
    return readable ? (writable ? RW : RO) : (writable ? WO : NA);
}

Node::Node(NodeMapImpl& map, std::string name, int line) : map_(map), name_(std::move(name)), line_(line) {}

Node::~Node() = default;

void Node::Load(const pugi::xml_node& element, LoadContext& ctx) {
    if (const auto ns = element.attribute("NameSpace")) {
        const std::string text = ns.value();
        if (text == "Standard")
            name_space_ = Standard;
        else if (text == "Custom")
            name_space_ = Custom;
        else
            ctx.Fail(element, "node '" + name_ + "': bad NameSpace '" + text + "'");
    }
    LoadShared(element, ctx, "");
}

void Node::LoadShared(const pugi::xml_node& container, LoadContext& ctx, const char* skip) {
    for (const auto& child : container.children()) {
        if (child.type() != pugi::node_element || std::string(child.name()) == skip)
            continue;
        if (!ReadElement(child, ctx) && !IsStandardElement(child.name()))
            ctx.Warn(std::string("element ") + child.name(), ctx.LineOf(child),
                     std::string("unknown element <") + child.name() + "> in " + Tag() + " '" + name_ +
                         "' skipped");
    }
}

bool Node::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    const std::string tag = element.name();
    if (tag == "ToolTip")
        tooltip_ = ctx.Text(element);
    else if (tag == "Description")
        description_ = ctx.Text(element);
    else if (tag == "DisplayName")
        display_name_ = ctx.Text(element);
    else if (tag == "Visibility")
        visibility_ = ctx.Keyword<EVisibility>(
            element, {{"Beginner", Beginner}, {"Expert", Expert}, {"Guru", Guru}, {"Invisible", Invisible}});
    else if (tag == "ImposedAccessMode")
        imposed_ = ctx.Keyword<EAccessMode>(element, {{"RW", RW}, {"RO", RO}, {"WO", WO}, {"NA", NA}, {"NI", NI}, {"R", RO}, {"W", WO}});
    else if (tag == "pIsImplemented")
        is_implemented_ = ctx.Ref(element);
    else if (tag == "pIsAvailable")
        is_available_ = ctx.Ref(element);
    else if (tag == "pIsLocked")
        is_locked_ = ctx.Ref(element);
    else if (tag == "pSelected")
        selected_.push_back(ctx.Ref(element));
    else if (tag == "Streamable")
        streamable_ = ctx.YesNo(element);
    else if (tag == "pInvalidator")
        invalidators_.push_back(ctx.Ref(element));
    else if (tag == "PollingTime") {
        polling_ms_ = ctx.Int(element);
        if (polling_ms_ < 0)
            ctx.Fail(element, "node '" + name_ + "': negative PollingTime " + std::to_string(polling_ms_));
    } else if (tag == "Cachable")
        caching_ = ctx.Keyword<ECachingMode>(
            element, {{"NoCache", NoCache}, {"WriteThrough", WriteThrough}, {"WriteAround", WriteAround}});
    else
        return false;
    return true;
}

void Node::Resolve(LoadContext& ctx) {
    ctx.Resolve(is_implemented_, *this, "pIsImplemented", true);
    ctx.Resolve(is_available_, *this, "pIsAvailable", true);
    ctx.Resolve(is_locked_, *this, "pIsLocked", true);
    for (auto& ref : selected_)
        ctx.Resolve(ref, *this, "pSelected", false);
    // An invalidator the description lacks only costs the cache its hint: the load goes on.
    for (auto& ref : invalidators_) {
        ref.node = ctx.Map().Find(ref.name);
        if (!ref.node)
            ctx.Warn("pInvalidator " + ref.name, ref.line,
                     "node '" + name_ + "': <pInvalidator> refers to unknown node '" + ref.name + "'; ignored");
    }
}

void Node::CollectReferences(std::vector<Node*>& out) const {
    for (const NodeRef* ref : {&is_implemented_, &is_available_, &is_locked_})
        if (ref->node)
            out.push_back(ref->node);
}

void Node::SetRelations(std::vector<Node*> children, std::vector<Node*> parents, std::vector<Node*> dependents) {
    children_ = std::move(children);
    parents_ = std::move(parents);
    dependents_ = std::move(dependents);
    // Features a selector selects change with it.
    for (const auto& ref : selected_)
        if (ref.node && std::find(dependents_.begin(), dependents_.end(), ref.node) == dependents_.end())
            dependents_.push_back(ref.node);
}

// ---- internal value access ---------------------------------------------------------------

void Node::ThrowNotNumeric() const {
    throw LOGICAL_ERROR_EXCEPTION("Node '%s' (%s) has no numeric value", name_.c_str(), Tag());
}

int64_t Node::ReadInt(std::optional<int64_t>) { ThrowNotNumeric(); }
double Node::ReadFloat(std::optional<int64_t>) { ThrowNotNumeric(); }
void Node::WriteInt(int64_t, std::optional<int64_t>) { ThrowNotNumeric(); }
void Node::WriteFloat(double, std::optional<int64_t>) { ThrowNotNumeric(); }

std::string Node::ReadText(std::optional<int64_t>) {
    throw LOGICAL_ERROR_EXCEPTION("Node '%s' (%s) has no value", name_.c_str(), Tag());
}

void Node::WriteText(const std::string&, std::optional<int64_t>) {
    throw ACCESS_EXCEPTION("Node '%s' is not writable", name_.c_str());
}

// ---- access ------------------------------------------------------------------------------

EAccessMode Node::GetAccessMode() const {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    if (computing_access_)
        return _CycleDetectAccesMode;
    computing_access_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{computing_access_};

    if (is_implemented_.node && is_implemented_.node->ReadInt() == 0)
        return NI;
    if (is_available_.node && is_available_.node->ReadInt() == 0)
        return NA;
    EAccessMode mode = CombineAccess(NativeAccess(), imposed_);
    if (is_locked_.node && IsWritable(mode) && is_locked_.node->ReadInt() != 0)
        mode = mode == RW ? RO : NA;
    return mode;
}

void Node::CheckReadable() const {
    if (!IsReadable(GetAccessMode()))
        throw ACCESS_EXCEPTION("Node '%s' is not readable", name_.c_str());
}

void Node::CheckWritable() const {
    if (!IsWritable(GetAccessMode()))
        throw ACCESS_EXCEPTION("Node '%s' is not writable", name_.c_str());
}

// ---- INode -------------------------------------------------------------------------------

gcstring Node::GetName(bool FullQualified) const {
    if (!FullQualified)
        return name_;
    return (name_space_ == Standard ? "Std::" : "Cust::") + name_;
}

INodeMap* Node::GetNodeMap() const { return map_.owner; }

void Node::GetChildren(NodeList_t& Children) const { Children.assign(children_.begin(), children_.end()); }

void Node::GetParents(NodeList_t& Parents) const { Parents.assign(parents_.begin(), parents_.end()); }

CallbackHandleType Node::RegisterCallback(std::function<void(INode*)> callback) {
    return map_.AddCallback(*this, std::move(callback));
}

bool Node::DeregisterCallback(CallbackHandleType handle) { return map_.RemoveCallback(handle); }

void Node::InvalidateNode() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    map_.DropCachesFrom(*this, true);
    DropValueChainCaches();
    map_.MarkChanged(*this);
}

void Node::DropCache() {
    DropOwnCache();
    if (!invalidators_.empty() && !KeepsValues())
        DropValueChainCaches();
}

void Node::DropValueChainCaches() {
    std::unordered_set<Node*> seen{this};
    std::vector<Node*> pending;
    CollectValueReferences(pending);
    while (!pending.empty()) {
        Node* source = pending.back();
        pending.pop_back();
        if (!source || !seen.insert(source).second)
            continue;
        source->DropOwnCache();
        source->CollectValueReferences(pending);
    }
}

// ---- IValue ------------------------------------------------------------------------------

gcstring Node::ToString(bool /*Verify*/, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadText();
}

void Node::FromString(const gcstring& ValueStr, bool Verify) { ClientFromString(ValueStr, Verify); }

void Node::ClientFromString(const std::string&, bool) {
    throw ACCESS_EXCEPTION("Node '%s' is not writable", name_.c_str());
}

// ---- evaluation depth --------------------------------------------------------------------

namespace {
thread_local int evaluation_depth = 0; // per thread: chains are evaluated on one thread
}

EvaluationDepth::EvaluationDepth(const Node& node) {
    if (++evaluation_depth > 256) {
        --evaluation_depth;
        throw RUNTIME_EXCEPTION("Node '%s': references nested too deeply (circular dependency?)",
                                node.Name().c_str());
    }
}

EvaluationDepth::~EvaluationDepth() { --evaluation_depth; }

} // namespace GenApi::detail
