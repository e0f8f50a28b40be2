#include "genapi/RegisterValueNodes.h"

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <limits>

#include <GenICam/GCException.h>

#include "genapi/IntegerNodes.h"
#include "genapi/TextFormat.h"

namespace GenApi::detail {

namespace {
int64_t IntText(const std::string& text, const std::string& node) {
    int64_t value = 0;
    if (!ParseInt64(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not an integer", node.c_str(), text.c_str());
    return value;
}
double FloatText(const std::string& text, const std::string& node) {
    double value = 0;
    if (!ParseDouble(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a number", node.c_str(), text.c_str());
    return value;
}
uint64_t Mask(unsigned width) { return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1; }
} // namespace

// ---- IntReg ------------------------------------------------------------------------------

bool IntRegNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (RegisterBase::ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Unit")
        unit_ = ctx.Text(element);
    else if (tag == "Representation")
        representation_ = ReadRepresentation(element, ctx);
    else
        return false;
    return true;
}

void IntRegNode::Resolve(LoadContext& ctx) {
    RegisterBase::Resolve(ctx);
    if (length_ > 8)
        ctx.Fail(Line(), std::string(Tag()) + " '" + Name() + "': Length above 8");
}

int64_t IntRegNode::ReadInt(std::optional<int64_t>) {
    const unsigned width = width_ ? width_ : static_cast<unsigned>(length_ * 8);
    const uint64_t field = (ReadRaw() >> shift_) & Mask(width);
    if (is_signed_ && width < 64 && (field >> (width - 1)) & 1)
        return static_cast<int64_t>(field | ~Mask(width));
    return static_cast<int64_t>(field);
}

void IntRegNode::WriteInt(int64_t value, std::optional<int64_t>) {
    const unsigned width = width_ ? width_ : static_cast<unsigned>(length_ * 8);
    const uint64_t mask = Mask(width) << shift_;
    const uint64_t raw = width_ ? ReadRaw() : 0;
    WriteRaw((raw & ~mask) | ((static_cast<uint64_t>(value) << shift_) & mask));
}

void IntRegNode::WriteFloat(double value, std::optional<int64_t> at) {
    WriteInt(std::isfinite(value) && std::fabs(value) < 9.2e18 ? std::llround(value) : 0, at);
}

int64_t IntRegNode::GetMin() {
    const unsigned width = width_ ? width_ : static_cast<unsigned>(length_ * 8);
    if (!is_signed_)
        return 0;
    return width >= 64 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(uint64_t{1} << (width - 1));
}

int64_t IntRegNode::GetMax() {
    const unsigned width = width_ ? width_ : static_cast<unsigned>(length_ * 8);
    const unsigned bits = is_signed_ ? width - 1 : width;
    return bits >= 63 ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(Mask(bits));
}

void IntRegNode::SetValue(int64_t Value, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            const int64_t min = GetMin(), max = GetMax();
            if (Value < min || Value > max)
                throw OUT_OF_RANGE_EXCEPTION("Value %" PRId64 " of node '%s' is out of range: minimum %" PRId64
                                             ", maximum %" PRId64,
                                             Value, Name().c_str(), min, max);
        },
        [&] { WriteInt(Value); });
}

int64_t IntRegNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadInt();
}

std::string IntRegNode::ReadText(std::optional<int64_t>) {
    const int64_t value = ReadInt();
    if (representation_ == HexNumber) {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, static_cast<uint64_t>(value));
        return buffer;
    }
    return std::to_string(value);
}

void IntRegNode::WriteText(const std::string& text, std::optional<int64_t> at) { WriteInt(IntText(text, Name()), at); }

void IntRegNode::ClientFromString(const std::string& text, bool verify) { SetValue(IntText(text, Name()), verify); }

// ---- MaskedIntReg ------------------------------------------------------------------------

bool MaskedIntRegNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (IntRegNode::ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "LSB")
        lsb_ = ctx.Int(element);
    else if (tag == "MSB")
        msb_ = ctx.Int(element);
    else if (tag == "Bit")
        bit_ = ctx.Int(element);
    else
        return false;
    return true;
}

void MaskedIntRegNode::Resolve(LoadContext& ctx) {
    IntRegNode::Resolve(ctx);
    const int64_t bits = static_cast<int64_t>(length_ * 8);
    if (bit_ >= 0)
        lsb_ = msb_ = bit_;
    if (lsb_ < 0 || msb_ < 0 || lsb_ >= bits || msb_ >= bits)
        ctx.Fail(Line(), "MaskedIntReg '" + Name() + "': needs <LSB> and <MSB> (or <Bit>) inside the register");
    // Little endian numbers bits from the least significant one; big endian from the most.
    const int64_t low = little_endian_ ? std::min(lsb_, msb_) : bits - 1 - std::max(lsb_, msb_);
    shift_ = static_cast<unsigned>(low);
    width_ = static_cast<unsigned>(std::abs(msb_ - lsb_) + 1);
}

// ---- FloatReg ----------------------------------------------------------------------------

bool FloatRegNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    return RegisterBase::ReadElement(element, ctx) || display_.ReadElement(element, ctx);
}

void FloatRegNode::Resolve(LoadContext& ctx) {
    RegisterBase::Resolve(ctx);
    if (length_ != 4 && length_ != 8)
        ctx.Fail(Line(), "FloatReg '" + Name() + "': Length must be 4 or 8");
}

double FloatRegNode::ReadFloat(std::optional<int64_t>) {
    const uint64_t raw = ReadRaw();
    if (length_ == 4) {
        float f;
        const uint32_t bits = static_cast<uint32_t>(raw);
        std::memcpy(&f, &bits, 4);
        return f;
    }
    double d;
    std::memcpy(&d, &raw, 8);
    return d;
}

void FloatRegNode::WriteFloat(double value, std::optional<int64_t>) {
    uint64_t raw = 0;
    if (length_ == 4) {
        const float f = static_cast<float>(value);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        raw = bits;
    } else {
        std::memcpy(&raw, &value, 8);
    }
    WriteRaw(raw);
}

int64_t FloatRegNode::ReadInt(std::optional<int64_t>) {
    const double value = ReadFloat();
    return std::isfinite(value) && std::fabs(value) < 9.2e18 ? std::llround(value) : 0;
}

double FloatRegNode::GetMin() { return length_ == 4 ? -FLT_MAX : -DBL_MAX; }
double FloatRegNode::GetMax() { return length_ == 4 ? FLT_MAX : DBL_MAX; }

void FloatRegNode::SetValue(double Value, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            if (std::isnan(Value) || Value < GetMin() || Value > GetMax())
                throw OUT_OF_RANGE_EXCEPTION("Value %s of node '%s' is out of range", FormatDouble(Value).c_str(),
                                             Name().c_str());
        },
        [&] { WriteFloat(Value); });
}

double FloatRegNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadFloat();
}

std::string FloatRegNode::ReadText(std::optional<int64_t>) { return FormatDouble(ReadFloat()); }

void FloatRegNode::WriteText(const std::string& text, std::optional<int64_t>) { WriteFloat(FloatText(text, Name())); }

void FloatRegNode::ClientFromString(const std::string& text, bool verify) { SetValue(FloatText(text, Name()), verify); }

// ---- StringReg ---------------------------------------------------------------------------

std::string StringRegNode::ReadText(std::optional<int64_t>) {
    const auto bytes = ReadBytes();
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
}

void StringRegNode::WriteText(const std::string& text, std::optional<int64_t>) {
    const std::size_t length = LengthNow();
    std::vector<uint8_t> bytes(length, 0);
    std::copy_n(text.begin(), std::min(text.size(), length), bytes.begin());
    WriteBytes(bytes);
}

void StringRegNode::SetValue(const gcstring& Value, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            if (Value.size() > LengthNow())
                throw OUT_OF_RANGE_EXCEPTION("Value '%s' of node '%s' is longer than the maximum length %zu",
                                             Value.c_str(), Name().c_str(), LengthNow());
        },
        [&] { WriteText(Value); });
}

gcstring StringRegNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadText();
}

} // namespace GenApi::detail
