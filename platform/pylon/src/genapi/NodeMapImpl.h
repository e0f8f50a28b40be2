// State of one node map behind GenApi::NodeMap: its nodes, the one lock, node callbacks,
// the emulator's write hook and injected faults, and the queue of events that run once the
// lock is released.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <GenApi/NodeMapFactory.h>

namespace GenApi::detail {

class Node;

class NodeMapImpl {
public:
    NodeMapImpl();
    ~NodeMapImpl();

    NodeMapLock& Lock() noexcept { return lock_; }

    // Loading (single-threaded, before the map is handed out).
    void AddNode(std::unique_ptr<Node> node);
    NodeMap* owner = nullptr;      // set when the NodeMap is made; never changes after
    std::string source_name;       // set while loading; read-only after
    std::string device_name;       // set while loading; read-only after
    std::vector<std::string> load_warnings; // set while loading; read-only after

    // Lookup; node list and names are fixed after loading, so no lock is needed.
    Node* Find(const std::string& name) const;
    Node& Require(const std::string& name) const; // LogicalErrorException when absent
    const std::vector<std::unique_ptr<Node>>& Nodes() const noexcept { return nodes_; }

    // Change tracking (lock held): a node's own stored value changed / a client wrote a node.
    void MarkChanged(Node& node);
    void MarkClientWrite(Node& node);

    // Node callbacks (lock held inside).
    CallbackHandleType AddCallback(Node& node, std::function<void(INode*)> callback);
    bool RemoveCallback(CallbackHandleType handle);

    // Emulator hooks.
    void SetWriteHook(NodeMap::WriteHook hook);
    void RunBeforeHook(Node& node); // takes the lock only to copy the hook
    struct Fault {
        EWriteFault kind;
        std::string description;
        int count;
    };
    void AddFault(const std::string& name, Fault fault);
    void ClearFaults();
    void ConsumeFault(const Node& node); // lock held; throws when a fault is armed

    // Called by NodeMapLock on the final unlock of a thread, with the mutex still held:
    // hands out the queued events, to be run after the mutex is released.
    std::vector<std::function<void()>> TakeEvents();

private:
    NodeMapLock lock_{*this};
    std::vector<std::unique_ptr<Node>> nodes_;          // fixed after loading
    std::unordered_map<std::string, Node*> by_name_;   // fixed after loading

    // All below: guarded by lock_, touched by any thread that holds it.
    std::vector<Node*> changed_;
    std::vector<Node*> client_writes_;
    struct Callback {
        Node* node;
        std::shared_ptr<std::function<void(INode*)>> function;
    };
    std::map<CallbackHandleType, Callback> callbacks_;
    CallbackHandleType next_handle_ = 1;
    std::shared_ptr<const NodeMap::WriteHook> hook_;
    std::unordered_map<std::string, Fault> faults_;
};

} // namespace GenApi::detail
