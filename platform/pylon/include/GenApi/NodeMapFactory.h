// Loading node maps from GenICam camera description files, and the concrete node map
// with the extra operations the camera emulator needs to play the camera's part.
//
// Loading
//   auto map = GenApi::CNodeMapFactory::LoadFromFile("models/acA1300.xml");
//   auto map = GenApi::CNodeMapFactory::LoadFromString(xml_text, "inline model");
// A description with an error is refused with a GenICam::RuntimeException whose description
// reads "<source>:<line>: <problem>" (missing Name, duplicate name, dangling
// reference, bad number, formula syntax error, missing "Root" category, ...).
//
// What a description may contain (GenICam schema; <Group> elements only group)
//   Node tags: Category, Integer, IntSwissKnife, Float, SwissKnife, Enumeration (with EnumEntry
//   children), Boolean, String, Command, Register, Port, IntReg, MaskedIntReg, FloatReg,
//   StringReg, StructReg (each StructEntry becomes a masked register node), Converter,
//   IntConverter, in Group wrappers.
//   Every node: Name and NameSpace attributes; ToolTip, Description, DisplayName, Visibility,
//   ImposedAccessMode, pIsImplemented, pIsAvailable, pIsLocked, pSelected, Streamable, Cachable.
//   Values: Value or pValue, or pIndex with ValueIndexed/pValueIndexed Index="N" and
//   ValueDefault/pValueDefault (one value per value of the index node, e.g. TriggerMode per
//   TriggerSelector entry); Min/pMin, Max/pMax, Inc/pInc, Unit, Representation,
//   DisplayNotation, DisplayPrecision; Boolean OnValue/OffValue; String MaxLength; Command
//   CommandValue/pCommandValue; EnumEntry Value, NumericValue, Symbolic, IsSelfClearing
//   (the symbolic name is the entry's Name without "EnumEntry_<Enumeration>_").
//   Formulas: pVariable/Constant/Expression with Name, Formula (FormulaTo/FormulaFrom with TO
//   and FROM for converters); operators + - * / % ** & | ^ ~ << >> = <> < > <= >= && || ! ?:
//   and ABS SQRT TRUNC FLOOR CEIL ROUND NEG SGN SIN COS TAN ASIN ACOS ATAN EXP LN LG E PI.
//   Registers: Address/pAddress, Length/pLength, pPort, AccessMode, Endianess, Sign, LSB/MSB/Bit.
//   Other elements of the GenICam schema are accepted and not interpreted; an element or node
//   tag outside it is skipped with one warning per kind (GetLoadWarnings()). Enumeration
//   entries are EnumEntry_<Enumeration>_<Name> in the node map. Legacy kinds (ConfRom,
//   TextDesc, IntKey, ...) stand in as not implemented; Extension blocks are ignored; nodes on
//   a chunk port (<ChunkID>) are not available.
//
// Locking
//   Every node map has one recursive lock (GetLock()). Every node operation takes it, so
//   reads and writes from the camera thread, host threads and the emulator's threads are
//   race-free. Hold it yourself (std::lock_guard / std::unique_lock on GetLock()) to read or
//   write several values as one consistent step.
//   Node callbacks (INode::RegisterCallback) and the "after write" hook are never called
//   inside an operation: they are queued and run on the same thread once that thread has
//   released the lock completely. So a callback may take its own locks and call back into
//   the node map freely. Rule for the caller: if you hold GetLock() yourself, the queued
//   callbacks run when you release it, not before.
//   The "before write" hook runs at the start of the client's write, before the lock is
//   taken (unless the writing thread already holds it).
//
// Emulator hooks (the camera's side of the node map)
//   (a) Get/Set...Unchecked: read and write values without access, range or increment checks
//       and without write hooks or fault injection. Writes still fire node callbacks of the
//       node and of the nodes depending on it.
//   (b) SetWriteHook: be told about every client write (SetValue, FromString, Execute, ...).
//   (c) Access changes at run time go through the model itself: point pIsLocked /
//       pIsAvailable of a node at a value node (e.g. TLParamsLocked) and set that value
//       with SetIntegerUnchecked; dependent nodes report their new access at once and
//       their callbacks fire.
//   (d) FailNextWrite: make the next client write(s) of a node fail with a chosen exception.
//   (e) SetCommandAutoComplete(name, false) + CompleteCommand(name): keep ICommand::IsDone()
//       false after Execute until the emulator completes the command.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <GenApi/Interfaces.h>

namespace GenApi {

namespace detail {
class NodeMapImpl;
}

// When the write hook is called for a client write.
enum class EWritePhase {
    BeforeWrite, // before any check; the hook may throw a GenICam exception to refuse the write
    AfterWrite   // after the new value is stored (queued: runs once the lock is released)
};

// The exception kind a refused write raises (fault injection).
enum class EWriteFault { Runtime, Access, OutOfRange, InvalidArgument, Timeout, LogicalError };

// The node map lock: recursive, and the point where queued callbacks are run (on the final
// unlock of the owning thread). Meets the Lockable requirements.
class NodeMapLock {
public:
    explicit NodeMapLock(detail::NodeMapImpl& impl) noexcept : impl_(impl) {}
    NodeMapLock(const NodeMapLock&) = delete;
    NodeMapLock& operator=(const NodeMapLock&) = delete;
    void lock();
    bool try_lock();
    // Runs the queued callbacks and hooks when this was the thread's outermost lock.
    // Exceptions thrown by callbacks are swallowed (unlock must not throw).
    void unlock() noexcept;

private:
    detail::NodeMapImpl& impl_;
    std::recursive_mutex mutex_;
    int depth_ = 0; // guarded by mutex_ (touched only by the owning thread)
};

// A node map read from a camera description. Owns its nodes.
class NodeMap final : public INodeMap {
public:
    using WriteHook = std::function<void(INode& node, EWritePhase phase)>;

    // Made by CNodeMapFactory.
    explicit NodeMap(std::unique_ptr<detail::NodeMapImpl> impl);
    ~NodeMap() override;
    NodeMap(const NodeMap&) = delete;
    NodeMap& operator=(const NodeMap&) = delete;

    // INodeMap
    void GetNodes(NodeList_t& Nodes) const override;
    INode* GetNode(const gcstring& Name) const override;
    void InvalidateNodes() const override;
    void Poll(int64_t ElapsedTime) override;
    // The ModelName attribute of the description (its file name when absent).
    gcstring GetDeviceName() override;

    // The file name (or source name) the map was loaded from.
    gcstring GetSourceName() const;
    // What the loader skipped, one "<source>:<line>: <problem>" per element or node kind.
    const std::vector<std::string>& GetLoadWarnings() const;
    // The one lock of this node map; see the notes at the top of this file.
    NodeMapLock& GetLock() const noexcept;

    // --- (a) unchecked access, for the camera's side -------------------------------------
    // The node is named; a missing node raises LogicalErrorException. `index` addresses one
    // value of an indexed node (<pIndex>, e.g. TriggerMode per TriggerSelector value) without
    // touching the selector; without it the value selected now is used. Giving an index for
    // a node that is not indexed raises LogicalErrorException.
    // Integer: integers, enumerations (entry value), booleans (0/1), formulas (read only),
    // commands (1 while running, 0 when done; writing 0 completes, non-zero marks running).
    int64_t GetIntegerUnchecked(const gcstring& name, std::optional<int64_t> index = std::nullopt) const;
    void SetIntegerUnchecked(const gcstring& name, int64_t value, std::optional<int64_t> index = std::nullopt);
    // Float: floats, and integers converted.
    double GetFloatUnchecked(const gcstring& name, std::optional<int64_t> index = std::nullopt) const;
    void SetFloatUnchecked(const gcstring& name, double value, std::optional<int64_t> index = std::nullopt);
    // Text as ToString gives it / as FromString takes it: integers decimal (or 0x hex when
    // the representation is HexNumber), floats the shortest text that reads back the same,
    // booleans "1"/"0", enumerations the symbolic name, registers "0x" + hex bytes.
    gcstring GetStringUnchecked(const gcstring& name, std::optional<int64_t> index = std::nullopt) const;
    void SetStringUnchecked(const gcstring& name, const gcstring& value, std::optional<int64_t> index = std::nullopt);

    // --- (b) notification of client writes -----------------------------------------------
    // One hook per map; an empty function removes it. Called for every client write of a
    // node through its interfaces (also for writes that are not verified), with the node the
    // client wrote (not the value node behind it).
    void SetWriteHook(WriteHook hook);

    // --- (d) fault injection -------------------------------------------------------------
    // The next `count` client writes of the node fail with an exception of `kind`, after the
    // access and range checks and before the value is stored. An empty description gives
    // "Node '<name>': the camera refused the write".
    void FailNextWrite(const gcstring& name, EWriteFault kind, const gcstring& description = {}, int count = 1);
    void ClearWriteFaults();

    // --- (e) commands --------------------------------------------------------------------
    // By default a command completes at once (IsDone() true right after Execute). With auto
    // completion off, IsDone() stays false after Execute until CompleteCommand(name).
    void SetCommandAutoComplete(const gcstring& name, bool auto_complete);
    void CompleteCommand(const gcstring& name);

    // --- (f) device ports -----------------------------------------------------------------
    // Sends the reads and writes of the port node `port` to a device (its register space)
    // instead of the map's memory. The functions run with the node map lock held and throw
    // GenICam exceptions on failure. A missing or non-port node raises LogicalErrorException.
    using PortReader = std::function<void(int64_t address, uint8_t* buffer, size_t length)>;
    using PortWriter = std::function<void(int64_t address, const uint8_t* buffer, size_t length)>;
    void ConnectPort(const gcstring& port, PortReader reader, PortWriter writer);

    // Internal.
    detail::NodeMapImpl& Impl() const noexcept { return *impl_; }

private:
    std::unique_ptr<detail::NodeMapImpl> impl_;
};

// Reads camera descriptions (GenICam XML) into node maps.
class CNodeMapFactory {
public:
    static std::unique_ptr<NodeMap> LoadFromFile(const gcstring& path);
    // `source_name` stands for the file name in error messages.
    static std::unique_ptr<NodeMap> LoadFromString(const gcstring& xml, const gcstring& source_name = "<string>");
};

} // namespace GenApi
