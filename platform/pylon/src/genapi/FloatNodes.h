// Nodes offering IFloat: the value-based Float and the SwissKnife formula.
#pragma once

#include "genapi/FormulaVariables.h"
#include "genapi/Node.h"
#include "genapi/ValueSource.h"

namespace GenApi::detail {

// Display elements shared by float nodes.
struct FloatDisplay {
    std::string unit;
    ERepresentation representation = PureNumber;
    EDisplayNotation notation = fnAutomatic;
    int64_t precision = 6;
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx);
};

class FloatNode : public Node, public virtual IFloat {
public:
    FloatNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Float"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }

    void SetValue(double Value, bool Verify = true) override;
    double GetValue(bool Verify = false, bool IgnoreCache = false) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override { return inc_.IsSet(); }
    EIncMode GetIncMode() override { return inc_.IsSet() ? fixedIncrement : noIncrement; }
    double GetInc() override;
    ERepresentation GetRepresentation() override { return display_.representation; }
    gcstring GetUnit() const override { return display_.unit; }
    EDisplayNotation GetDisplayNotation() const override { return display_.notation; }
    int64_t GetDisplayPrecision() const override { return display_.precision; }

    bool IsNumeric() const noexcept override { return true; }
    bool IsIndexed() const noexcept override { return value_.IsIndexed(); }
    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override;
    double ReadFloat(std::optional<int64_t> at = std::nullopt) override { return value_.ReadFloat(at); }
    void WriteInt(int64_t value, std::optional<int64_t> at = std::nullopt) override {
        value_.WriteFloat(static_cast<double>(value), at);
    }
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override { value_.WriteFloat(value, at); }
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { value_.CollectValueReferences(out); }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    void ClientFromString(const std::string& text, bool verify) override;

private:
    void CheckValue(double value);

    mutable ValueSource value_{*this, Storage::Float};
    NumberRef min_, max_, inc_;
    FloatDisplay display_;
};

class SwissKnifeNode : public Node, public virtual IFloat {
public:
    SwissKnifeNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "SwissKnife"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }

    void SetValue(double Value, bool Verify = true) override;
    double GetValue(bool Verify = false, bool IgnoreCache = false) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override { return false; }
    EIncMode GetIncMode() override { return noIncrement; }
    double GetInc() override { return 0; }
    ERepresentation GetRepresentation() override { return display_.representation; }
    gcstring GetUnit() const override { return display_.unit; }
    EDisplayNotation GetDisplayNotation() const override { return display_.notation; }
    int64_t GetDisplayPrecision() const override { return display_.precision; }

    bool IsNumeric() const noexcept override { return true; }
    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override;
    double ReadFloat(std::optional<int64_t> at = std::nullopt) override;
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { formula_.CollectReferences(out); }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override { return formula_.Access(); }

private:
    FormulaVariables formula_{*this, {"Formula"}};
    FloatDisplay display_;
};

} // namespace GenApi::detail
