#include "genapi/StringNode.h"

#include <cinttypes>

#include <GenICam/GCException.h>

namespace GenApi::detail {

bool StringNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || value_.ReadElement(element, ctx))
        return true;
    if (std::string(element.name()) != "MaxLength")
        return false;
    max_length_ = ctx.Int(element);
    if (max_length_ < 0)
        ctx.Fail(element, "string '" + Name() + "': negative MaxLength");
    return true;
}

void StringNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    value_.Resolve(ctx);
}

void StringNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    value_.CollectReferences(out);
}

EAccessMode StringNode::NativeAccess() const {
    Node* target = value_.TargetNow();
    return target ? target->GetAccessMode() : RW;
}

void StringNode::SetValue(const gcstring& Value, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            if (static_cast<int64_t>(Value.size()) > max_length_)
                throw OUT_OF_RANGE_EXCEPTION("Value '%s' of node '%s' is longer than the maximum length %" PRId64,
                                             Value.c_str(), Name().c_str(), max_length_);
        },
        [&] { value_.WriteString(Value, std::nullopt); });
}

gcstring StringNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return value_.ReadString(std::nullopt);
}

} // namespace GenApi::detail
