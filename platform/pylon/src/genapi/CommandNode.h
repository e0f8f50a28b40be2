// Node offering ICommand. Execute writes the command value to the value node (when there is
// one) and marks the command running; it completes at once unless the camera side turned
// auto completion off (then NodeMap::CompleteCommand ends it).
#pragma once

#include "genapi/Node.h"
#include "genapi/ValueSource.h"

namespace GenApi::detail {

class CommandNode : public Node, public virtual ICommand {
public:
    CommandNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Command"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfICommand; }

    void Execute(bool Verify = true) override;
    bool IsDone(bool Verify = true) override;

    // Lock held.
    void SetAutoComplete(bool auto_complete) noexcept { auto_complete_ = auto_complete; }
    void Complete();

    // Internal numbers: 1 while running, 0 when done; writing 0 completes, non-zero marks running.
    bool IsNumeric() const noexcept override { return true; }
    int64_t ReadInt(std::optional<int64_t> = std::nullopt) override { return running_ ? 1 : 0; }
    double ReadFloat(std::optional<int64_t> = std::nullopt) override { return running_ ? 1 : 0; }
    void WriteInt(int64_t value, std::optional<int64_t> = std::nullopt) override;
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override { WriteInt(value != 0, at); }
    std::string ReadText(std::optional<int64_t> = std::nullopt) override { return running_ ? "1" : "0"; }
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    void ClientFromString(const std::string& text, bool verify) override;

private:
    mutable ValueSource value_{*this, Storage::Int};
    NumberRef command_value_;
    // Guarded by the node map lock.
    bool auto_complete_ = true;
    bool running_ = false;
};

} // namespace GenApi::detail
