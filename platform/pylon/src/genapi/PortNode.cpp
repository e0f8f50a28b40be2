#include "genapi/PortNode.h"

#include "genapi/RegisterNode.h"

namespace GenApi::detail {

void PortNode::Read(int64_t address, uint8_t* buffer, std::size_t length) const {
    if (reader_) {
        reader_(address, buffer, length);
        return;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const auto it = memory_.find(address + static_cast<int64_t>(i));
        buffer[i] = it == memory_.end() ? 0 : it->second;
    }
}

void PortNode::Write(int64_t address, const uint8_t* buffer, std::size_t length) {
    for (RegisterBase* reg : registers_)
        reg->DropCacheOverlapping(address, length);
    if (writer_) {
        writer_(address, buffer, length);
        map_.MarkChanged(*this);
        return;
    }
    for (std::size_t i = 0; i < length; ++i)
        memory_[address + static_cast<int64_t>(i)] = buffer[i];
    map_.MarkChanged(*this);
}

} // namespace GenApi::detail
