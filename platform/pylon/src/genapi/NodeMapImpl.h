// State of one node map behind GenApi::NodeMap: its nodes, the one lock, node callbacks,
// the emulator's write hook and injected faults, and the queue of events that run once the
// lock is released.
#pragma once

#include <atomic>
#include <chrono>
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
    // A change also drops at once the cached register values of every node depending on
    // the changed one (pValue, pAddress, pIndex, formula variables, pInvalidator, ...), so a
    // read later in the same locked step sees the device.
    void MarkChanged(Node& node);
    void MarkClientWrite(Node& node);

    // ---- register value cache (see RegisterBase) ------------------------------------------
    // Drops the cached values of `from` (with `include_self`) and of every node depending on
    // it. Lock held.
    void DropCachesFrom(Node& from, bool include_self);
    // Drops every cached value. Lock-free, so a device-removal notification may call it from
    // any thread without waiting for a transfer in progress.
    void DropAllCaches() noexcept { cache_epoch_.fetch_add(1, std::memory_order_acq_rel); }
    // Cached values are valid only while they carry the epoch of now.
    uint64_t CacheEpoch() const noexcept { return cache_epoch_.load(std::memory_order_acquire); }
    // Milliseconds that count towards the age of cached values with a PollingTime: the time
    // passed plus what the client reported through Poll. Lock held.
    int64_t CacheClockMs() const;
    // Adds a client's elapsed time (Poll) and expires what has outlived its PollingTime.
    void Poll(int64_t elapsed_ms);
    // While a bypass is active (lock held), register reads go to the device: reads that
    // ignore the cache, and the camera side's unchecked access.
    bool CacheBypassed() const noexcept { return bypass_depth_ > 0; }
    class CacheBypass {
    public:
        CacheBypass(NodeMapImpl& map, bool active) noexcept : map_(active ? &map : nullptr) {
            if (map_)
                ++map_->bypass_depth_;
        }
        ~CacheBypass() {
            if (map_)
                --map_->bypass_depth_;
        }
        CacheBypass(const CacheBypass&) = delete;
        CacheBypass& operator=(const CacheBypass&) = delete;

    private:
        NodeMapImpl* map_;
    };

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
    int bypass_depth_ = 0;   // reads that go past the cache now (the locking thread's)
    int64_t polled_ms_ = 0;  // sum of the Poll calls' elapsed times
    const std::chrono::steady_clock::time_point created_ = std::chrono::steady_clock::now(); // fixed

    // Lock-free (atomic): bumped by DropAllCaches from any thread, read under lock_.
    std::atomic<uint64_t> cache_epoch_{1};
};

} // namespace GenApi::detail
