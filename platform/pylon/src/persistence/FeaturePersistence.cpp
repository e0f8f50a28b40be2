#include <pylon/FeaturePersistence.h>

#include <mutex>
#include <optional>

#include <GenApi/NodeMapFactory.h>
#include <GenApi/Pointer.h>

#include "persistence/AtomicFile.h"
#include "persistence/FeatureFile.h"
#include "persistence/FeatureWalk.h"
#include "persistence/LoadPlan.h"

namespace Pylon {

using namespace persistence;

namespace {

GenApi::INodeMap& Require(GenApi::INodeMap* map, const char* operation) {
    if (!map)
        throw LOGICAL_ERROR_EXCEPTION("CFeaturePersistence::%s: no node map given", operation);
    return *map;
}

// The model name the description declares, else the device's own model name.
std::string DeviceName(GenApi::INodeMap& map) {
    std::string name = map.GetDeviceName();
    if (name.empty()) {
        GenApi::CStringPtr model = map.GetNode("DeviceModelName");
        if (model && GenApi::IsReadable(model))
            name = model->GetValue();
    }
    return name;
}

// Holds the node map's lock, when it has one, so that other threads (the camera thread's
// write pass, the emulator) never see a selector switched for a save or a load half applied.
// Write hooks and node callbacks queued meanwhile run when it is released.
class MapGuard {
public:
    explicit MapGuard(GenApi::INodeMap& map) {
        if (auto* node_map = dynamic_cast<GenApi::NodeMap*>(&map))
            lock_.emplace(node_map->GetLock());
    }

private:
    std::optional<std::unique_lock<GenApi::NodeMapLock>> lock_;
};

std::string SaveText(GenApi::INodeMap& map) {
    const MapGuard guard(map);
    return FormatFile(DeviceName(map), ReadRecords(StreamableFeatures(map)));
}

void LoadText(const std::string& text, GenApi::INodeMap& map, bool verify, const std::string& source) {
    const MapGuard guard(map);
    // Nothing is written before every line has been checked.
    std::vector<Record> records = ParseFile(text, source);
    // A load that would change nothing is a wrong file, not a success.
    if (records.empty())
        throw INVALID_ARGUMENT_EXCEPTION("%s: the file holds no feature to load", source.c_str());
    const LoadPlan plan(map, std::move(records), source);
    if (!verify) {
        plan.Apply(false); // best effort: what the camera refuses is left as it is
        return;
    }
    const LoadPlan undo(map, ReadRecords(plan.Features()), source + " (values before the load)");
    const auto failures = plan.Apply(true);
    if (failures.empty())
        return;
    std::string description = DescribeFailure(source, failures.front());
    const auto undo_failures = undo.Apply(false);
    if (undo_failures.empty()) {
        description += "; the values held before the load were written back";
    } else {
        description += "; the camera is left partly loaded: could not write back";
        for (const auto& f : undo_failures)
            description += " " + f.record->name + (f.record->selector.empty() ? "" : "{" + f.record->entry + "}");
    }
    RaiseLike(failures.front().error, description);
}

} // namespace

void CFeaturePersistence::Save(const GenICam::gcstring& FileName, GenApi::INodeMap* pFeatures) {
    GenApi::INodeMap& map = Require(pFeatures, "Save");
    // Read everything first: a failing read leaves the old file untouched.
    std::string text;
    try {
        text = SaveText(map);
    } catch (const GenICam::GenericException& e) {
        RaiseLike(std::current_exception(), "Feature file '" + FileName + "' not saved: " + e.GetDescription());
    }
    WriteFileAtomically(FileName, text);
}

void CFeaturePersistence::Load(const GenICam::gcstring& FileName, GenApi::INodeMap* pFeatures, bool verify) {
    GenApi::INodeMap& map = Require(pFeatures, "Load");
    LoadText(ReadWholeFile(FileName), map, verify, FileName);
}

void CFeaturePersistence::SaveToString(GenICam::gcstring& Features, GenApi::INodeMap* pFeatures) {
    Features = SaveText(Require(pFeatures, "SaveToString"));
}

void CFeaturePersistence::LoadFromString(const GenICam::gcstring& Features, GenApi::INodeMap* pFeatures,
                                         bool verify) {
    LoadText(Features, Require(pFeatures, "LoadFromString"), verify, "<string>");
}

} // namespace Pylon
