// Converters: a value computed from another node's value by <FormulaFrom> (variable TO is
// that node's value) and written back through <FormulaTo> (variable FROM is the value
// written). Converter offers IFloat, IntConverter IInteger.
#pragma once

#include "genapi/FloatNodes.h"
#include "genapi/FormulaVariables.h"
#include "genapi/Node.h"

namespace GenApi::detail {

class ConverterBase : public Node {
public:
    ConverterBase(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}

    bool IsNumeric() const noexcept override { return true; }
    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override { return value_.node->GetAccessMode(); }

    // Lock held.
    FormulaValue Convert(bool float_mode);                // FormulaFrom(TO = target value)
    void ConvertBack(FormulaValue from, bool float_mode); // target := FormulaTo(FROM = from)
    std::pair<double, double> Limits(bool float_mode);   // the target's limits, converted

    FloatDisplay display_;

private:
    enum class Slope { Automatic, Increasing, Decreasing, Varying };
    FormulaValue FromTarget(FormulaValue to, bool float_mode);

    FormulaVariables formula_{*this, {"FormulaTo", "FormulaFrom"}, {"TO", "FROM"}};
    NodeRef value_;
    Slope slope_ = Slope::Automatic;
};

class ConverterNode : public ConverterBase, public virtual IFloat {
public:
    using ConverterBase::ConverterBase;
    const char* Tag() const noexcept override { return "Converter"; }
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

    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override;
    double ReadFloat(std::optional<int64_t> = std::nullopt) override { return Convert(true).AsFloat(); }
    void WriteInt(int64_t value, std::optional<int64_t> = std::nullopt) override {
        ConvertBack(FormulaValue::Float(static_cast<double>(value)), true);
    }
    void WriteFloat(double value, std::optional<int64_t> = std::nullopt) override {
        ConvertBack(FormulaValue::Float(value), true);
    }
    std::string ReadText(std::optional<int64_t> = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

protected:
    void ClientFromString(const std::string& text, bool verify) override;
};

class IntConverterNode : public ConverterBase, public virtual IInteger {
public:
    using ConverterBase::ConverterBase;
    const char* Tag() const noexcept override { return "IntConverter"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }

    void SetValue(int64_t Value, bool Verify = true) override;
    int64_t GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    EIncMode GetIncMode() override { return fixedIncrement; }
    int64_t GetInc() override { return 1; }
    ERepresentation GetRepresentation() override { return display_.representation; }
    gcstring GetUnit() const override { return display_.unit; }

    int64_t ReadInt(std::optional<int64_t> = std::nullopt) override { return Convert(false).AsInt(); }
    double ReadFloat(std::optional<int64_t> = std::nullopt) override { return static_cast<double>(ReadInt()); }
    void WriteInt(int64_t value, std::optional<int64_t> = std::nullopt) override {
        ConvertBack(FormulaValue::Int(value), false);
    }
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override;
    std::string ReadText(std::optional<int64_t> = std::nullopt) override { return std::to_string(ReadInt()); }
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

protected:
    void ClientFromString(const std::string& text, bool verify) override;
};

} // namespace GenApi::detail
