// Node offering IBoolean: a value (stored or pValue) compared with OnValue/OffValue.
#pragma once

#include "genapi/Node.h"
#include "genapi/ValueSource.h"

namespace GenApi::detail {

class BooleanNode : public Node, public virtual IBoolean {
public:
    BooleanNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Boolean"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIBoolean; }

    void SetValue(bool Value, bool Verify = true) override;
    bool GetValue(bool Verify = false, bool IgnoreCache = false) const override;

    // Internal numbers are the logical value 0/1; the raw value is On/OffValue.
    bool IsNumeric() const noexcept override { return true; }
    bool IsIndexed() const noexcept override { return value_.IsIndexed(); }
    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override { return value_.ReadInt(at) == on_ ? 1 : 0; }
    double ReadFloat(std::optional<int64_t> at = std::nullopt) override { return static_cast<double>(ReadInt(at)); }
    void WriteInt(int64_t value, std::optional<int64_t> at = std::nullopt) override {
        value_.WriteInt(value != 0 ? on_ : off_, at);
    }
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override { WriteInt(value != 0, at); }
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override { return ReadInt(at) ? "1" : "0"; }
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { value_.CollectValueReferences(out); }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    void ClientFromString(const std::string& text, bool verify) override;

private:
    mutable ValueSource value_{*this, Storage::Int};
    int64_t on_ = 1;
    int64_t off_ = 0;
};

} // namespace GenApi::detail
