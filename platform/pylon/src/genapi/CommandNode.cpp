#include "genapi/CommandNode.h"

#include <GenICam/GCException.h>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

bool CommandNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || value_.ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "CommandValue") {
        command_value_ = ctx.Number(element, false);
    } else if (tag == "pCommandValue") {
        command_value_.ref = ctx.Ref(element);
    } else {
        return false;
    }
    return true;
}

void CommandNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    value_.Resolve(ctx);
    ctx.Resolve(command_value_, *this, "pCommandValue");
}

void CommandNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    value_.CollectReferences(out);
    if (command_value_.ref.node)
        out.push_back(command_value_.ref.node);
}

EAccessMode CommandNode::NativeAccess() const {
    Node* target = value_.TargetNow();
    return target ? target->GetAccessMode() : RW;
}

void CommandNode::Execute(bool Verify) {
    ClientWrite(Verify, [] {}, [&] {
        value_.WriteInt(command_value_.IsSet() ? command_value_.Int() : 1, std::nullopt);
        // The camera clears a command register by itself: what was written is not kept.
        std::vector<Node*> targets;
        value_.CollectValueReferences(targets);
        for (Node* target : targets) {
            target->DropCache();
            target->DropValueChainCaches();
        }
        running_ = !auto_complete_;
        map_.MarkChanged(*this);
    });
}

bool CommandNode::IsDone(bool) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return !running_;
}

void CommandNode::Complete() {
    if (running_) {
        running_ = false;
        map_.MarkChanged(*this);
    }
}

void CommandNode::WriteInt(int64_t value, std::optional<int64_t>) {
    if (value == 0) {
        Complete();
    } else if (!running_) {
        running_ = true;
        map_.MarkChanged(*this);
    }
}

void CommandNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    bool value = false;
    if (!ParseBool(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not 1, 0, true or false", Name().c_str(), text.c_str());
    WriteInt(value, at);
}

void CommandNode::ClientFromString(const std::string& text, bool verify) {
    bool value = false;
    if (!ParseBool(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not 1, 0, true or false", Name().c_str(), text.c_str());
    if (value)
        Execute(verify);
}

} // namespace GenApi::detail
