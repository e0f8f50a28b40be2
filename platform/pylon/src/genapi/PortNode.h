// A port: the address space register nodes read and write. This one keeps the bytes in
// memory (sparse; unwritten bytes read as 0); the camera side reaches them through the
// register nodes' unchecked access.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "genapi/Node.h"

namespace GenApi::detail {

class RegisterBase;

class PortNode : public Node {
public:
    PortNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Port"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIPort; }

    bool IsPort() const noexcept override { return true; }

    // Lock held. A write first drops the cached values of the port's registers that overlap
    // it, so a failed transfer leaves nothing stale either.
    void Read(int64_t address, uint8_t* buffer, std::size_t length) const;
    void Write(int64_t address, const uint8_t* buffer, std::size_t length);
    // While loading: a register over this port.
    void AddRegister(RegisterBase& reg) { registers_.push_back(&reg); }

    std::string ReadText(std::optional<int64_t> = std::nullopt) override { return {}; }
    // A chunk port (<ChunkID>/<pChunkID>) holds the data a frame carries; none is attached,
    // so the nodes bound to it are published as not available.
    bool IsChunkPort() const noexcept { return chunk_; }

    // Lock held. Sends the port's reads and writes to a device instead of the memory.
    void Connect(std::function<void(int64_t, uint8_t*, std::size_t)> reader,
                 std::function<void(int64_t, const uint8_t*, std::size_t)> writer) {
        reader_ = std::move(reader);
        writer_ = std::move(writer);
    }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override {
        if (Node::ReadElement(element, ctx))
            return true;
        const std::string tag = element.name();
        if (tag != "ChunkID" && tag != "pChunkID" && tag != "CacheChunkData" && tag != "SwapEndianess")
            return false;
        if (tag == "ChunkID" || tag == "pChunkID")
            chunk_ = true;
        return true;
    }
    EAccessMode NativeAccess() const override { return chunk_ ? NA : RW; }

private:
    bool chunk_ = false; // fixed after loading
    std::vector<RegisterBase*> registers_; // fixed after loading
    std::function<void(int64_t, uint8_t*, std::size_t)> reader_;       // guarded by the node map lock
    std::function<void(int64_t, const uint8_t*, std::size_t)> writer_;  // guarded by the node map lock
    std::map<int64_t, uint8_t> memory_; // guarded by the node map lock
};

} // namespace GenApi::detail
