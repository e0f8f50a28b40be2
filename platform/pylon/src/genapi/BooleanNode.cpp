#include "genapi/BooleanNode.h"

#include <GenICam/GCException.h>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

bool BooleanNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || value_.ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "OnValue")
        on_ = ctx.Int(element);
    else if (tag == "OffValue")
        off_ = ctx.Int(element);
    else
        return false;
    return true;
}

void BooleanNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    value_.Resolve(ctx);
    if (on_ == off_)
        ctx.Fail(Line(), "boolean '" + Name() + "': OnValue equals OffValue");
}

void BooleanNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    value_.CollectReferences(out);
}

EAccessMode BooleanNode::NativeAccess() const {
    Node* target = value_.TargetNow();
    return target ? target->GetAccessMode() : RW;
}

void BooleanNode::SetValue(bool Value, bool Verify) {
    ClientWrite(Verify, [] {}, [&] { value_.WriteInt(Value ? on_ : off_, std::nullopt); });
}

bool BooleanNode::GetValue(bool, bool IgnoreCache) const {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return value_.ReadInt(std::nullopt) == on_;
}

namespace {
bool ParseBoolText(const std::string& text, const std::string& node) {
    bool value = false;
    if (!ParseBool(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a boolean (1, 0, true, false)", node.c_str(),
                                         text.c_str());
    return value;
}
} // namespace

void BooleanNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    WriteInt(ParseBoolText(text, Name()), at);
}

void BooleanNode::ClientFromString(const std::string& text, bool verify) { SetValue(ParseBoolText(text, Name()), verify); }

} // namespace GenApi::detail
