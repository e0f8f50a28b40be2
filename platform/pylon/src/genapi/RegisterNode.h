// Node offering IRegister: a block of bytes at an address. Until ports exist the bytes are
// kept in the node itself (<pPort> is accepted and not interpreted).
#pragma once

#include <vector>

#include "genapi/Node.h"

namespace GenApi::detail {

class RegisterNode : public Node, public virtual IRegister {
public:
    RegisterNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Register"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIRegister; }

    void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) override;
    void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetLength() override { return static_cast<int64_t>(length_); }
    int64_t GetAddress() override { return address_; }

    // Text: "0x" and two hex digits per byte, in memory order.
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override { return access_; }
    void ClientFromString(const std::string& text, bool verify) override;

private:
    std::vector<uint8_t> ParseBytes(const std::string& text) const;

    int64_t address_ = 0;
    std::size_t length_ = 0;
    EAccessMode access_ = RW;
    std::vector<uint8_t> bytes_; // guarded by the node map lock
};

} // namespace GenApi::detail
