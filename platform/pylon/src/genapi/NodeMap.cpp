// GenApi::NodeMap: the public face of a loaded node map, and its lock.
#include <GenApi/NodeMapFactory.h>

#include <GenICam/GCException.h>

#include "genapi/CommandNode.h"
#include "genapi/Node.h"
#include "genapi/NodeMapImpl.h"
#include "genapi/PortNode.h"

namespace GenApi {

using detail::Node;

// ---- NodeMapLock -------------------------------------------------------------------------

void NodeMapLock::lock() {
    mutex_.lock();
    ++depth_;
}

bool NodeMapLock::try_lock() {
    if (!mutex_.try_lock())
        return false;
    ++depth_;
    return true;
}

void NodeMapLock::unlock() noexcept {
    if (--depth_ > 0) {
        mutex_.unlock();
        return;
    }
    std::vector<std::function<void()>> events;
    try {
        events = impl_.TakeEvents();
    } catch (...) {
        // Out of memory while queueing: the events are lost, the map stays consistent.
    }
    mutex_.unlock();
    for (auto& event : events) {
        try {
            event();
        } catch (...) {
            // A callback's failure is its own; the write it reports has happened.
        }
    }
}

// ---- NodeMap -----------------------------------------------------------------------------

NodeMap::NodeMap(std::unique_ptr<detail::NodeMapImpl> impl) : impl_(std::move(impl)) { impl_->owner = this; }

NodeMap::~NodeMap() = default;

void NodeMap::GetNodes(NodeList_t& Nodes) const {
    Nodes.clear();
    for (const auto& node : impl_->Nodes())
        Nodes.push_back(node.get());
}

INode* NodeMap::GetNode(const gcstring& Name) const { return impl_->Find(Name); }

void NodeMap::InvalidateNodes() const { impl_->DropAllCaches(); }

void NodeMap::Poll(int64_t ElapsedTime) { impl_->Poll(ElapsedTime); }

gcstring NodeMap::GetDeviceName() { return impl_->device_name; }

const std::vector<std::string>& NodeMap::GetLoadWarnings() const { return impl_->load_warnings; }

gcstring NodeMap::GetSourceName() const { return impl_->source_name; }

NodeMapLock& NodeMap::GetLock() const noexcept { return impl_->Lock(); }

namespace {
void CheckIndex(const Node& node, const std::optional<int64_t>& index) {
    if (index && !node.IsIndexed())
        throw LOGICAL_ERROR_EXCEPTION("Node '%s' is not indexed (no <pIndex>)", node.Name().c_str());
}
} // namespace

int64_t NodeMap::GetIntegerUnchecked(const gcstring& name, std::optional<int64_t> index) const {
    Node& node = impl_->Require(name);
    CheckIndex(node, index);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    detail::NodeMapImpl::CacheBypass bypass(*impl_, true); // the camera side reads its registers
    return node.ReadInt(index);
}

void NodeMap::SetIntegerUnchecked(const gcstring& name, int64_t value, std::optional<int64_t> index) {
    Node& node = impl_->Require(name);
    CheckIndex(node, index);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    node.WriteInt(value, index);
}

double NodeMap::GetFloatUnchecked(const gcstring& name, std::optional<int64_t> index) const {
    Node& node = impl_->Require(name);
    CheckIndex(node, index);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    detail::NodeMapImpl::CacheBypass bypass(*impl_, true); // the camera side reads its registers
    return node.ReadFloat(index);
}

void NodeMap::SetFloatUnchecked(const gcstring& name, double value, std::optional<int64_t> index) {
    Node& node = impl_->Require(name);
    CheckIndex(node, index);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    node.WriteFloat(value, index);
}

gcstring NodeMap::GetStringUnchecked(const gcstring& name, std::optional<int64_t> index) const {
    Node& node = impl_->Require(name);
    CheckIndex(node, index);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    detail::NodeMapImpl::CacheBypass bypass(*impl_, true); // the camera side reads its registers
    return node.ReadText(index);
}

void NodeMap::SetStringUnchecked(const gcstring& name, const gcstring& value, std::optional<int64_t> index) {
    Node& node = impl_->Require(name);
    CheckIndex(node, index);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    node.WriteText(value, index);
}

void NodeMap::SetWriteHook(WriteHook hook) { impl_->SetWriteHook(std::move(hook)); }

void NodeMap::FailNextWrite(const gcstring& name, EWriteFault kind, const gcstring& description, int count) {
    impl_->AddFault(name, {kind, description, count});
}

void NodeMap::ClearWriteFaults() { impl_->ClearFaults(); }

namespace {
detail::CommandNode& RequireCommand(detail::NodeMapImpl& impl, const gcstring& name) {
    auto* command = dynamic_cast<detail::CommandNode*>(&impl.Require(name));
    if (!command)
        throw LOGICAL_ERROR_EXCEPTION("Node '%s' is not a command", name.c_str());
    return *command;
}
} // namespace

void NodeMap::SetCommandAutoComplete(const gcstring& name, bool auto_complete) {
    detail::CommandNode& command = RequireCommand(*impl_, name);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    command.SetAutoComplete(auto_complete);
}

void NodeMap::CompleteCommand(const gcstring& name) {
    detail::CommandNode& command = RequireCommand(*impl_, name);
    std::lock_guard<NodeMapLock> guard(impl_->Lock());
    command.Complete();
}

void NodeMap::ConnectPort(const gcstring& port, PortReader reader, PortWriter writer) {
    auto* node = dynamic_cast<detail::PortNode*>(impl_->Find(port));
    if (!node)
        throw LOGICAL_ERROR_EXCEPTION("Node '%s' is not a port of '%s'", port.c_str(), GetSourceName().c_str());
    std::lock_guard lock(GetLock());
    node->Connect(std::move(reader), std::move(writer));
}

} // namespace GenApi
