#include "genapi/RegisterNode.h"

#include <cinttypes>
#include <cstring>

#include <GenICam/GCException.h>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

bool RegisterNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Address") {
        address_ = ctx.Int(element);
    } else if (tag == "Length") {
        const int64_t length = ctx.Int(element);
        if (length <= 0 || length > (1 << 20))
            ctx.Fail(element, "register '" + Name() + "': bad Length " + std::to_string(length));
        length_ = static_cast<std::size_t>(length);
    } else if (tag == "AccessMode") {
        access_ = ctx.Keyword<EAccessMode>(element, {{"RW", RW}, {"RO", RO}, {"WO", WO}});
    } else {
        return false;
    }
    return true;
}

void RegisterNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    if (length_ == 0)
        ctx.Fail(Line(), "register '" + Name() + "' has no <Length>");
    bytes_.assign(length_, 0);
}

void RegisterNode::Set(const uint8_t* pBuffer, int64_t Length, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            if (Length < 0 || static_cast<std::size_t>(Length) > length_)
                throw OUT_OF_RANGE_EXCEPTION("Length %" PRId64 " for register '%s' exceeds its length %zu", Length,
                                             Name().c_str(), length_);
        },
        [&] {
            const std::size_t n = std::min(length_, static_cast<std::size_t>(std::max<int64_t>(Length, 0)));
            if (n)
                std::memcpy(bytes_.data(), pBuffer, n);
            map_.MarkChanged(*this);
        });
}

void RegisterNode::Get(uint8_t* pBuffer, int64_t Length, bool, bool) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    CheckReadable();
    if (Length < 0 || static_cast<std::size_t>(Length) > length_)
        throw OUT_OF_RANGE_EXCEPTION("Length %" PRId64 " for register '%s' exceeds its length %zu", Length,
                                     Name().c_str(), length_);
    if (Length)
        std::memcpy(pBuffer, bytes_.data(), static_cast<std::size_t>(Length));
}

std::string RegisterNode::ReadText(std::optional<int64_t>) {
    std::string text = "0x";
    char digits[3];
    for (uint8_t b : bytes_) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

std::vector<uint8_t> RegisterNode::ParseBytes(const std::string& input) const {
    std::string text(Trim(input));
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)
        text.erase(0, 2);
    std::vector<uint8_t> bytes;
    if (text.size() % 2 != 0 || text.size() / 2 > length_)
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a hex text of at most %zu bytes", Name().c_str(),
                                         input.c_str(), length_);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int64_t byte = 0;
        if (!ParseInt64("0x" + text.substr(i, 2), byte))
            throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a hex text", Name().c_str(), input.c_str());
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return bytes;
}

void RegisterNode::WriteText(const std::string& text, std::optional<int64_t>) {
    const auto bytes = ParseBytes(text);
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
    map_.MarkChanged(*this);
}

void RegisterNode::ClientFromString(const std::string& text, bool verify) {
    const auto bytes = ParseBytes(text);
    Set(bytes.data(), static_cast<int64_t>(bytes.size()), verify);
}

} // namespace GenApi::detail
