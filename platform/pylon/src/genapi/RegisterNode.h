// Register nodes: a block of bytes at an address of a port (<pPort>). RegisterBase holds
// what all of them share (address with <Address>/<pAddress>/<pIndex Offset=..>, <Length>,
// <AccessMode>, <Endianess>, <Sign>); Register offers the bytes as they are (IRegister).
// A plain Register without <pPort> (or whose port is not defined) keeps its bytes itself.
#pragma once

#include <vector>

#include "genapi/Node.h"

namespace GenApi::detail {

class PortNode;

class RegisterBase : public Node, public virtual IRegister {
public:
    RegisterBase(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}

    void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) override;
    void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetLength() override;
    int64_t GetAddress() override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override;

    // ---- value cache -----------------------------------------------------------------------
    // A register over a port keeps the bytes it last read or (WriteThrough) wrote, with the
    // address they came from, and serves reads at that address from them; `Cachable` says
    // NoCache (always the device), WriteThrough (the default: reads and writes fill it) or
    // WriteAround (a write drops it). A write through any register of the port drops every
    // overlapping cached value (bit fields of one register), and a change of a node this one
    // depends on (address, index, length, pInvalidator) drops it too (NodeMapImpl).
    bool IsValueCacheValid() const override;
    void DropOwnCache() override { cache_.valid = false; }
    bool KeepsValues() const noexcept override { return port_.node != nullptr; }
    bool ExpireCache() override;
    // Lock held: drops the cached value when it overlaps [address, address + length).
    void DropCacheOverlapping(int64_t address, std::size_t length);

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    // Whether the node may keep its bytes itself when it has no port.
    virtual bool PortOptional() const { return false; }

    // Lock held.
    std::vector<uint8_t> ReadBytes();
    void WriteBytes(const std::vector<uint8_t>& bytes);
    // The register as an unsigned number (byte order applied), and back.
    uint64_t ReadRaw();
    void WriteRaw(uint64_t value);
    int64_t AddressNow();
    // The length now: <Length>, or the value of <pLength> (1 .. 1 MiB).
    std::size_t LengthNow();

    std::size_t length_ = 0;
    bool little_endian_ = true;
    bool is_signed_ = false;

private:
    int64_t address_ = 0;
    std::vector<NodeRef> address_refs_;
    NodeRef index_;
    NumberRef index_offset_;
    NodeRef port_;
    NodeRef length_ref_; // <pLength>: registers and strings whose length the camera tells
    EAccessMode access_ = RW;
    std::vector<uint8_t> local_; // without a port; guarded by the node map lock

    struct CachedBytes {
        bool valid = false;
        uint64_t epoch = 0;      // NodeMapImpl::CacheEpoch() before the transfer
        int64_t address = 0;
        int64_t filled_ms = 0;   // NodeMapImpl::CacheClockMs() when filled
        std::vector<uint8_t> bytes;
    };
    // Guarded by the node map lock; touched by every thread reading or writing the map.
    CachedBytes cache_;
    bool CacheCurrent() const; // valid, of this epoch and within its PollingTime; lock held
    void Remember(int64_t address, std::vector<uint8_t> bytes, uint64_t epoch);
};

class RegisterNode : public RegisterBase {
public:
    using RegisterBase::RegisterBase;
    const char* Tag() const noexcept override { return "Register"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIRegister; }

    // Text: "0x" and two hex digits per byte, in memory order.
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

protected:
    bool PortOptional() const override { return true; }
    void ClientFromString(const std::string& text, bool verify) override;

private:
    std::vector<uint8_t> ParseBytes(const std::string& text) const;
};

} // namespace GenApi::detail
