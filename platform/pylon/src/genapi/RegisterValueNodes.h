// Register nodes that offer a typed value besides IRegister: IntReg and MaskedIntReg
// (IInteger; the mask from <LSB>/<MSB> or <Bit>), FloatReg (IFloat, 4 or 8 bytes) and
// StringReg (IString, NUL-padded).
#pragma once

#include "genapi/FloatNodes.h"
#include "genapi/RegisterNode.h"

namespace GenApi::detail {

class IntRegNode : public RegisterBase, public virtual IInteger {
public:
    using RegisterBase::RegisterBase;
    const char* Tag() const noexcept override { return "IntReg"; }
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
    int64_t ReadInt(std::optional<int64_t> = std::nullopt) override;
    double ReadFloat(std::optional<int64_t> = std::nullopt) override { return static_cast<double>(ReadInt()); }
    void WriteInt(int64_t value, std::optional<int64_t> = std::nullopt) override;
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override;
    std::string ReadText(std::optional<int64_t> = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    void ClientFromString(const std::string& text, bool verify) override;

    // The value's bit field in the register: lowest bit (0 = least significant) and width.
    unsigned shift_ = 0;
    unsigned width_ = 0; // 0: the whole register

private:
    std::string unit_;
    ERepresentation representation_ = PureNumber;
};

class MaskedIntRegNode : public IntRegNode {
public:
    using IntRegNode::IntRegNode;
    const char* Tag() const noexcept override { return "MaskedIntReg"; }
    void Resolve(LoadContext& ctx) override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;

private:
    int64_t lsb_ = -1, msb_ = -1, bit_ = -1;
};

class FloatRegNode : public RegisterBase, public virtual IFloat {
public:
    using RegisterBase::RegisterBase;
    const char* Tag() const noexcept override { return "FloatReg"; }
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
    int64_t ReadInt(std::optional<int64_t> = std::nullopt) override;
    double ReadFloat(std::optional<int64_t> = std::nullopt) override;
    void WriteInt(int64_t value, std::optional<int64_t> = std::nullopt) override { WriteFloat(static_cast<double>(value)); }
    void WriteFloat(double value, std::optional<int64_t> = std::nullopt) override;
    std::string ReadText(std::optional<int64_t> = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    void ClientFromString(const std::string& text, bool verify) override;

private:
    FloatDisplay display_;
};

class StringRegNode : public RegisterBase, public virtual IString {
public:
    using RegisterBase::RegisterBase;
    const char* Tag() const noexcept override { return "StringReg"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIString; }

    void SetValue(const gcstring& Value, bool Verify = true) override;
    gcstring GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMaxLength() override {
        std::lock_guard<NodeMapLock> guard(map_.Lock());
        return static_cast<int64_t>(LengthNow());
    }

    std::string ReadText(std::optional<int64_t> = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> = std::nullopt) override;

protected:
    void ClientFromString(const std::string& text, bool verify) override { SetValue(text, verify); }
};

} // namespace GenApi::detail
