// Nodes offering IInteger: the value-based Integer and the IntSwissKnife formula.
#pragma once

#include "genapi/FormulaVariables.h"
#include "genapi/Node.h"
#include "genapi/ValueSource.h"

namespace GenApi::detail {

class IntegerNode : public Node, public virtual IInteger {
public:
    IntegerNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Integer"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }

    void SetValue(int64_t Value, bool Verify = true) override;
    int64_t GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    EIncMode GetIncMode() override;
    int64_t GetInc() override;
    ERepresentation GetRepresentation() override { return representation_; }
    gcstring GetUnit() const override { return unit_; }

    bool IsNumeric() const noexcept override { return true; }
    bool IsIndexed() const noexcept override { return value_.IsIndexed(); }
    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override { return value_.ReadInt(at); }
    double ReadFloat(std::optional<int64_t> at = std::nullopt) override { return static_cast<double>(value_.ReadInt(at)); }
    void WriteInt(int64_t value, std::optional<int64_t> at = std::nullopt) override { value_.WriteInt(value, at); }
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override;
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { value_.CollectValueReferences(out); }
    // The nodes behind pMax and pInc (null when the limit is a constant or absent).
    Node* MaxNode() const noexcept { return max_.ref.node; }
    Node* IncNode() const noexcept { return inc_.ref.node; }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    void ClientFromString(const std::string& text, bool verify) override;

private:
    void CheckValue(int64_t value); // range and increment; lock held

    mutable ValueSource value_{*this, Storage::Int};
    NumberRef min_, max_, inc_;
    std::string unit_;
    ERepresentation representation_ = PureNumber;
};

class IntSwissKnifeNode : public Node, public virtual IInteger {
public:
    IntSwissKnifeNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "IntSwissKnife"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }

    void SetValue(int64_t Value, bool Verify = true) override;
    int64_t GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    EIncMode GetIncMode() override { return fixedIncrement; }
    int64_t GetInc() override { return 1; }
    ERepresentation GetRepresentation() override { return representation_; }
    gcstring GetUnit() const override { return unit_; }

    bool IsNumeric() const noexcept override { return true; }
    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override;
    double ReadFloat(std::optional<int64_t> at = std::nullopt) override { return static_cast<double>(ReadInt(at)); }
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override { return std::to_string(ReadInt(at)); }

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { formula_.CollectReferences(out); }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override { return formula_.Access(); }

private:
    FormulaVariables formula_{*this, {"Formula"}};
    std::string unit_;
    ERepresentation representation_ = PureNumber;
};

// Shared by the numeric node kinds.
ERepresentation ReadRepresentation(const pugi::xml_node& element, LoadContext& ctx);

} // namespace GenApi::detail
