#include "genapi/NodeMapImpl.h"

#include <algorithm>
#include <deque>
#include <unordered_set>

#include <GenICam/GCException.h>

#include "genapi/Node.h"

namespace GenApi::detail {

NodeMapImpl::NodeMapImpl() = default;
NodeMapImpl::~NodeMapImpl() = default;

void NodeMapImpl::AddNode(std::unique_ptr<Node> node) {
    by_name_.emplace(node->Name(), node.get());
    nodes_.push_back(std::move(node));
}

Node* NodeMapImpl::Find(const std::string& name) const {
    const auto it = by_name_.find(name);
    return it == by_name_.end() ? nullptr : it->second;
}

Node& NodeMapImpl::Require(const std::string& name) const {
    Node* node = Find(name);
    if (!node)
        throw LOGICAL_ERROR_EXCEPTION("Node '%s' does not exist in the node map of '%s'", name.c_str(),
                                      source_name.c_str());
    return *node;
}

void NodeMapImpl::MarkChanged(Node& node) {
    changed_.push_back(&node);
    // A port changes with every register write; the register written drops what overlaps
    // it on the port itself (PortNode::Write), so the port's dependents (all its registers)
    // keep their values.
    if (!node.IsPort())
        DropCachesFrom(node, false);
}

void NodeMapImpl::DropCachesFrom(Node& from, bool include_self) {
    if (include_self)
        from.DropCache();
    if (from.Dependents().empty())
        return;
    std::unordered_set<Node*> seen{&from};
    std::vector<Node*> pending(from.Dependents().begin(), from.Dependents().end());
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (!seen.insert(node).second)
            continue;
        node->DropCache();
        pending.insert(pending.end(), node->Dependents().begin(), node->Dependents().end());
    }
}

int64_t NodeMapImpl::CacheClockMs() const {
    const auto passed = std::chrono::steady_clock::now() - created_;
    return std::chrono::duration_cast<std::chrono::milliseconds>(passed).count() + polled_ms_;
}

void NodeMapImpl::Poll(int64_t elapsed_ms) {
    std::lock_guard<NodeMapLock> guard(lock_);
    if (elapsed_ms > 0)
        polled_ms_ += elapsed_ms;
    // Values that have outlived their PollingTime are dropped, and their listeners told, so
    // they read the device again.
    for (const auto& node : nodes_)
        if (node->ExpireCache())
            MarkChanged(*node);
}

void NodeMapImpl::MarkClientWrite(Node& node) { client_writes_.push_back(&node); }

CallbackHandleType NodeMapImpl::AddCallback(Node& node, std::function<void(INode*)> callback) {
    std::lock_guard<NodeMapLock> guard(lock_);
    const CallbackHandleType handle = next_handle_++;
    callbacks_.emplace(handle, Callback{&node, std::make_shared<std::function<void(INode*)>>(std::move(callback))});
    return handle;
}

bool NodeMapImpl::RemoveCallback(CallbackHandleType handle) {
    std::lock_guard<NodeMapLock> guard(lock_);
    return callbacks_.erase(handle) != 0;
}

void NodeMapImpl::SetWriteHook(NodeMap::WriteHook hook) {
    std::lock_guard<NodeMapLock> guard(lock_);
    if (hook)
        hook_ = std::make_shared<const NodeMap::WriteHook>(std::move(hook));
    else
        hook_.reset();
}

void NodeMapImpl::RunBeforeHook(Node& node) {
    std::shared_ptr<const NodeMap::WriteHook> hook;
    {
        std::lock_guard<NodeMapLock> guard(lock_);
        hook = hook_;
    }
    if (hook)
        (*hook)(node, EWritePhase::BeforeWrite);
}

void NodeMapImpl::AddFault(const std::string& name, Fault fault) {
    Require(name);
    std::lock_guard<NodeMapLock> guard(lock_);
    faults_[name] = std::move(fault);
}

void NodeMapImpl::ClearFaults() {
    std::lock_guard<NodeMapLock> guard(lock_);
    faults_.clear();
}

void NodeMapImpl::ConsumeFault(const Node& node) {
    const auto it = faults_.find(node.Name());
    if (it == faults_.end())
        return;
    const Fault fault = it->second;
    if (--it->second.count <= 0)
        faults_.erase(it);
    const std::string text =
        fault.description.empty() ? "Node '" + node.Name() + "': the camera refused the write" : fault.description;
    switch (fault.kind) {
    case EWriteFault::Runtime: throw GenICam::RuntimeException(text, __FILE__, __LINE__);
    case EWriteFault::Access: throw GenICam::AccessException(text, __FILE__, __LINE__);
    case EWriteFault::OutOfRange: throw GenICam::OutOfRangeException(text, __FILE__, __LINE__);
    case EWriteFault::InvalidArgument: throw GenICam::InvalidArgumentException(text, __FILE__, __LINE__);
    case EWriteFault::Timeout: throw GenICam::TimeoutException(text, __FILE__, __LINE__);
    case EWriteFault::LogicalError: throw GenICam::LogicalErrorException(text, __FILE__, __LINE__);
    }
    throw GenICam::RuntimeException(text, __FILE__, __LINE__);
}

std::vector<std::function<void()>> NodeMapImpl::TakeEvents() {
    std::vector<std::function<void()>> events;
    if (changed_.empty() && client_writes_.empty())
        return events;

    // After-write hooks first, in the order of the writes.
    if (hook_) {
        for (Node* node : client_writes_) {
            std::shared_ptr<const NodeMap::WriteHook> hook = hook_;
            events.emplace_back([hook, node] { (*hook)(*node, EWritePhase::AfterWrite); });
        }
    }
    client_writes_.clear();

    // Then the callbacks of every changed node and of all nodes depending on it, each once.
    std::vector<Node*> affected;
    std::unordered_set<Node*> seen;
    std::deque<Node*> queue(changed_.begin(), changed_.end());
    changed_.clear();
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        if (!seen.insert(node).second)
            continue;
        affected.push_back(node);
        for (Node* dependent : node->Dependents())
            queue.push_back(dependent);
    }
    if (callbacks_.empty())
        return events;
    for (Node* node : affected) {
        for (const auto& [handle, callback] : callbacks_) {
            if (callback.node != node)
                continue;
            auto function = callback.function;
            events.emplace_back([function, node] { (*function)(node); });
        }
    }
    return events;
}

} // namespace GenApi::detail
