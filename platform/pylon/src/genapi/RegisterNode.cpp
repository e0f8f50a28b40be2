#include "genapi/RegisterNode.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include <GenICam/GCException.h>

#include "genapi/PortNode.h"
#include "genapi/TextFormat.h"

namespace GenApi::detail {

// ---- RegisterBase ------------------------------------------------------------------------

bool RegisterBase::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Address") {
        address_ += ctx.Int(element); // several addresses add up
    } else if (tag == "pAddress") {
        address_refs_.push_back(ctx.Ref(element));
    } else if (tag == "pIndex") {
        index_ = ctx.Ref(element);
        if (const auto offset = element.attribute("Offset")) {
            int64_t value = 0;
            if (!ParseInt64(offset.value(), value))
                ctx.Fail(element, "register '" + Name() + "': bad Offset '" + offset.value() + "'");
            index_offset_.has_constant = true;
            index_offset_.i = value;
        } else if (const auto p = element.attribute("pOffset")) {
            index_offset_.ref.name = p.value();
            index_offset_.ref.line = ctx.LineOf(element);
        } else {
            index_offset_.has_constant = true;
            index_offset_.i = 1;
        }
    } else if (tag == "Length") {
        const int64_t length = ctx.Int(element);
        if (length <= 0 || length > (1 << 20))
            ctx.Fail(element, "register '" + Name() + "': bad Length " + std::to_string(length));
        length_ = static_cast<std::size_t>(length);
    } else if (tag == "pLength") {
        length_ref_ = ctx.Ref(element);
    } else if (tag == "pPort") {
        port_ = ctx.Ref(element);
    } else if (tag == "AccessMode") {
        // Some cameras write "R" and "W" for RO and WO.
        access_ = ctx.Keyword<EAccessMode>(element, {{"RW", RW}, {"RO", RO}, {"WO", WO}, {"R", RO}, {"W", WO}});
    } else if (tag == "Endianess") {
        little_endian_ = ctx.Keyword<bool>(element, {{"LittleEndian", true}, {"BigEndian", false}});
    } else if (tag == "Sign") {
        is_signed_ = ctx.Keyword<bool>(element, {{"Signed", true}, {"Unsigned", false}});
    } else {
        return false;
    }
    return true;
}

void RegisterBase::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    for (auto& ref : address_refs_)
        ctx.Resolve(ref, *this, "pAddress", true);
    ctx.Resolve(index_, *this, "pIndex", true);
    ctx.Resolve(index_offset_, *this, "pIndex pOffset");
    ctx.Resolve(length_ref_, *this, "pLength", true);
    if (length_ref_.node && (std::string(Tag()) != "Register" && std::string(Tag()) != "StringReg"))
        ctx.Fail(length_ref_.line, std::string(Tag()) + " '" + Name() + "': <pLength> is taken by Register and StringReg only");
    if (length_ == 0 && !length_ref_.node)
        ctx.Fail(Line(), std::string(Tag()) + " '" + Name() + "' has no <Length>");
    if (port_.IsSet() && PortOptional() && !ctx.Map().Find(port_.name)) {
        // A plain register whose port the description does not define keeps its bytes itself.
        port_ = NodeRef{};
    }
    if (port_.IsSet()) {
        ctx.Resolve(port_, *this, "pPort", false);
        auto* port = dynamic_cast<PortNode*>(port_.node);
        if (!port)
            ctx.Fail(port_.line, "node '" + Name() + "': <pPort> refers to '" + port_.name + "', which is no Port");
        port->AddRegister(*this);
    } else if (!PortOptional()) {
        ctx.Fail(Line(), std::string(Tag()) + " '" + Name() + "' has no <pPort>");
    }
    local_.assign(length_, 0);
}

void RegisterBase::CollectValueReferences(std::vector<Node*>& out) const {
    for (const auto& ref : address_refs_)
        out.push_back(ref.node);
    if (index_.node)
        out.push_back(index_.node);
    if (index_offset_.ref.node)
        out.push_back(index_offset_.ref.node);
    if (length_ref_.node)
        out.push_back(length_ref_.node);
}

void RegisterBase::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    CollectValueReferences(out);
    if (port_.node)
        out.push_back(port_.node);
}

EAccessMode RegisterBase::NativeAccess() const { return port_.node ? CombineAccess(access_, port_.node->GetAccessMode()) : access_; }

int64_t RegisterBase::AddressNow() {
    int64_t address = address_;
    for (const auto& ref : address_refs_)
        address += ref.node->ReadInt();
    if (index_.node)
        address += index_.node->ReadInt() * index_offset_.Int();
    return address;
}

std::size_t RegisterBase::LengthNow() {
    if (length_ref_.node) {
        const int64_t length = length_ref_.node->ReadInt();
        if (length < 0 || length > (1 << 20))
            throw OUT_OF_RANGE_EXCEPTION("Node '%s': length %" PRId64 " from '%s' is outside 0 .. %d", Name().c_str(),
                                         length, length_ref_.name.c_str(), 1 << 20);
        length_ = static_cast<std::size_t>(length);
        if (local_.size() != length_)
            local_.resize(length_, 0);
    }
    return length_;
}

int64_t RegisterBase::GetLength() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return static_cast<int64_t>(LengthNow());
}

int64_t RegisterBase::GetAddress() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return AddressNow();
}

// ---- value cache ---------------------------------------------------------------------------

bool RegisterBase::CacheCurrent() const {
    if (!cache_.valid || cache_.epoch != map_.CacheEpoch())
        return false;
    return PollingTime() <= 0 || map_.CacheClockMs() - cache_.filled_ms < PollingTime();
}

bool RegisterBase::IsValueCacheValid() const {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return port_.node && GetCachingMode() != NoCache && CacheCurrent();
}

bool RegisterBase::ExpireCache() {
    if (!cache_.valid || PollingTime() <= 0 || cache_.epoch != map_.CacheEpoch() || CacheCurrent())
        return false;
    cache_.valid = false;
    return true;
}

void RegisterBase::DropCacheOverlapping(int64_t address, std::size_t length) {
    if (!cache_.valid)
        return;
    const int64_t end = address + static_cast<int64_t>(length);
    const int64_t cached_end = cache_.address + static_cast<int64_t>(cache_.bytes.size());
    if (address < cached_end && cache_.address < end)
        cache_.valid = false;
}

void RegisterBase::Remember(int64_t address, std::vector<uint8_t> bytes, uint64_t epoch) {
    cache_.bytes = std::move(bytes);
    cache_.address = address;
    cache_.epoch = epoch;
    cache_.filled_ms = PollingTime() > 0 ? map_.CacheClockMs() : 0;
    cache_.valid = true;
}

std::vector<uint8_t> RegisterBase::ReadBytes() {
    LengthNow();
    if (!port_.node)
        return local_;
    const int64_t address = AddressNow();
    const bool cachable = GetCachingMode() != NoCache;
    if (cachable && !map_.CacheBypassed() && CacheCurrent() && cache_.address == address &&
        cache_.bytes.size() == length_)
        return cache_.bytes;
    // Taken before the transfer: a drop of all values while it runs (device removal) wins.
    const uint64_t epoch = map_.CacheEpoch();
    std::vector<uint8_t> bytes(length_);
    static_cast<PortNode*>(port_.node)->Read(address, bytes.data(), length_);
    if (cachable)
        Remember(address, bytes, epoch);
    return bytes;
}

void RegisterBase::WriteBytes(const std::vector<uint8_t>& bytes) {
    LengthNow();
    if (port_.node) {
        const int64_t address = AddressNow();
        const std::size_t count = std::min(bytes.size(), length_);
        const uint64_t epoch = map_.CacheEpoch();
        // Drops every cached value overlapping the bytes, this one's too, before it sends them.
        static_cast<PortNode*>(port_.node)->Write(address, bytes.data(), count);
        map_.MarkChanged(*this);
        if (GetCachingMode() == WriteThrough && count == length_)
            Remember(address, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count)), epoch);
        return;
    }
    std::copy_n(bytes.begin(), std::min(bytes.size(), length_), local_.begin());
    map_.MarkChanged(*this);
}

uint64_t RegisterBase::ReadRaw() {
    const auto bytes = ReadBytes();
    uint64_t value = 0;
    const std::size_t n = std::min<std::size_t>(bytes.size(), 8);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t byte = little_endian_ ? bytes[i] : bytes[bytes.size() - 1 - i];
        value |= static_cast<uint64_t>(byte) << (8 * i);
    }
    return value;
}

void RegisterBase::WriteRaw(uint64_t value) {
    std::vector<uint8_t> bytes(length_, 0);
    for (std::size_t i = 0; i < length_ && i < 8; ++i) {
        const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
        (little_endian_ ? bytes[i] : bytes[length_ - 1 - i]) = byte;
    }
    WriteBytes(bytes);
}

void RegisterBase::Set(const uint8_t* pBuffer, int64_t Length, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            if (Length < 0 || static_cast<std::size_t>(Length) > LengthNow())
                throw OUT_OF_RANGE_EXCEPTION("Length %" PRId64 " for register '%s' exceeds its length %zu", Length,
                                             Name().c_str(), length_);
        },
        [&] {
            std::vector<uint8_t> bytes = ReadBytes();
            const std::size_t n = std::min(length_, static_cast<std::size_t>(std::max<int64_t>(Length, 0)));
            std::copy_n(pBuffer, n, bytes.begin());
            WriteBytes(bytes);
        });
}

void RegisterBase::Get(uint8_t* pBuffer, int64_t Length, bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    if (Length < 0 || static_cast<std::size_t>(Length) > LengthNow())
        throw OUT_OF_RANGE_EXCEPTION("Length %" PRId64 " for register '%s' exceeds its length %zu", Length,
                                     Name().c_str(), length_);
    const auto bytes = ReadBytes();
    std::copy_n(bytes.begin(), static_cast<std::size_t>(Length), pBuffer);
}

// ---- Register ----------------------------------------------------------------------------

std::string RegisterNode::ReadText(std::optional<int64_t>) {
    std::string text = "0x";
    char digits[3];
    for (uint8_t b : ReadBytes()) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

std::vector<uint8_t> RegisterNode::ParseBytes(const std::string& input) const {
    std::string text(Trim(input));
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)
        text.erase(0, 2);
    if (text.size() % 2 != 0 || text.size() / 2 > const_cast<RegisterNode*>(this)->LengthNow())
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a hex text of at most %zu bytes", Name().c_str(),
                                         input.c_str(), length_);
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int64_t byte = 0;
        if (!ParseInt64("0x" + text.substr(i, 2), byte))
            throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a hex text", Name().c_str(), input.c_str());
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return bytes;
}

void RegisterNode::WriteText(const std::string& text, std::optional<int64_t>) {
    std::vector<uint8_t> bytes = ReadBytes();
    const auto given = ParseBytes(text);
    std::copy(given.begin(), given.end(), bytes.begin());
    WriteBytes(bytes);
}

void RegisterNode::ClientFromString(const std::string& text, bool verify) {
    const auto bytes = ParseBytes(text);
    Set(bytes.data(), static_cast<int64_t>(bytes.size()), verify);
}

} // namespace GenApi::detail
