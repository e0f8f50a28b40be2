#include "EmulatedCamera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include <pthread.h>

#include <pylon/PixelTypeMapper.h>

#include "genapi/IntegerNodes.h"
#include "genapi/Node.h"

namespace Pylon::Emulator {

namespace {

constexpr size_t kMaxPendingTriggers = 64;
constexpr double kGainRawDb = 0.0359;            // dB per GainRaw step
constexpr int64_t kAllFlags = 0xffffffff;        // a 32-bit status register with every flag set

bool Has(const GenApi::NodeMap& map, const char* name) { return map.GetNode(name) != nullptr; }

int64_t Int(const GenApi::NodeMap& map, const char* name, int64_t fallback)
{
    if (!Has(map, name))
        return fallback;
    try {
        return map.GetIntegerUnchecked(name);
    } catch (const GenICam::GenericException&) {
        return fallback;
    }
}

double Float(const GenApi::NodeMap& map, const char* name, double fallback)
{
    if (!Has(map, name))
        return fallback;
    try {
        return map.GetFloatUnchecked(name);
    } catch (const GenICam::GenericException&) {
        return fallback;
    }
}

std::string Text(const GenApi::NodeMap& map, const char* name, const std::string& fallback = {})
{
    if (!Has(map, name))
        return fallback;
    try {
        return map.GetStringUnchecked(name);
    } catch (const GenICam::GenericException&) {
        return fallback;
    }
}

// True for a node that holds its own value (no formula or other node behind it), which the
// camera sets itself when the model leaves the computation to it.
bool IsPlain(const GenApi::NodeMap& map, const char* name)
{
    GenApi::INode* node = map.GetNode(name);
    if (!node)
        return false;
    GenApi::NodeList_t children;
    node->GetChildren(children);
    return children.empty();
}

// Writes a value the camera computes itself; models that derive it by formula keep theirs.
template <class Set>
void TrySet(Set&& set)
{
    try {
        set();
    } catch (const GenICam::GenericException&) {
    }
}

// Registers that read 0 behind a node (a count, a divisor), through its formulas and value
// nodes, become `value`: 1, the camera has at least one of each; or, behind implemented and
// available flags that formulas take bit by bit, all ones. Lock held.
void SeedRegistersBehind(GenApi::detail::Node* node, int depth, int64_t value = 1)
{
    if (!node || depth > 6)
        return;
    const std::string tag = node->Tag();
    if (tag == "IntReg" || tag == "MaskedIntReg") {
        try {
            if (node->ReadInt() == 0)
                node->WriteInt(value);
        } catch (const GenICam::GenericException&) {
            TrySet([&] { node->WriteInt(1); });  // narrower than the value
        }
        return;
    }
    std::vector<GenApi::detail::Node*> references;
    node->CollectReferences(references);
    for (GenApi::detail::Node* reference : references)
        SeedRegistersBehind(reference, depth + 1, value);
}

// The value of a feature for one TriggerSelector entry: through the selector index when the
// model indexes the feature, else the feature itself when that entry is selected now.
std::optional<std::string> SelectedText(GenApi::NodeMap& map, const char* feature, const char* selectorEntry)
{
    if (!Has(map, feature))
        return std::nullopt;
    auto* selector = dynamic_cast<GenApi::IEnumeration*>(map.GetNode("TriggerSelector"));
    if (!selector)
        return Text(map, feature);
    GenApi::IEnumEntry* entry = nullptr;
    try {
        entry = selector->GetEntryByName(selectorEntry);
    } catch (const GenICam::GenericException&) {
    }
    if (!entry)
        return std::nullopt;
    const int64_t index = entry->GetValue();
    try {
        return map.GetStringUnchecked(feature, index);
    } catch (const GenICam::GenericException&) {
    }
    // The feature may hold its value in an indexed value node (its pValue).
    GenApi::INode* node = map.GetNode(feature);
    GenApi::NodeList_t children;
    node->GetChildren(children);
    for (GenApi::INode* child : children) {
        try {
            if (auto* e = dynamic_cast<GenApi::IEnumeration*>(node)) {
                const int64_t value = map.GetIntegerUnchecked(child->GetName(), index);
                if (GenApi::IEnumEntry* current = e->GetEntry(value))
                    return current->GetSymbolic();
            } else {
                return std::to_string(map.GetFloatUnchecked(child->GetName(), index));
            }
        } catch (const GenICam::GenericException&) {
        }
    }
    if (Text(map, "TriggerSelector") == selectorEntry)
        return Text(map, feature);
    return std::nullopt;
}

bool EdgeMatches(const std::string& activation, bool rising)
{
    if (activation == "FallingEdge" || activation == "LevelLow")
        return !rising;
    if (activation == "AnyEdge")
        return true;
    return rising;
}

std::string DefaultMac(const std::string& serial)
{
    uint32_t h = 2166136261u;
    for (char c : serial)
        h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    char text[32];
    std::snprintf(text, sizeof text, "00:30:53:%02X:%02X:%02X", (h >> 16) & 0xFF, (h >> 8) & 0xFF, h & 0xFF);
    return text;
}

// The number of a dotted IPv4 address ("169.254.0.1"); nothing for another text.
std::optional<int64_t> Ipv4Number(const std::string& text)
{
    unsigned parts[4];
    char end = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) != 4)
        return std::nullopt;
    int64_t value = 0;
    for (unsigned part : parts) {
        if (part > 255)
            return std::nullopt;
        value = value * 256 + part;
    }
    return value;
}

// The number of a MAC address of six hex bytes separated by ':' or '-'; nothing for another text.
std::optional<int64_t> MacNumber(const std::string& text)
{
    if (text.size() != 17)
        return std::nullopt;
    int64_t value = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != text[2] || (c != ':' && c != '-'))
                return std::nullopt;
            continue;
        }
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

CEmulatedCamera::CEmulatedCamera(const CameraConfig& config, const std::string& modelPath, unsigned plugIndex,
                                 std::function<void(const std::string&)> onReset)
    : config_(config), model_path_(modelPath), node_map_(GenApi::CNodeMapFactory::LoadFromFile(modelPath)),
      on_reset_(std::move(onReset))
{
    GenApi::NodeMap& map = *node_map_;
    // The camera's identity in its own features.
    for (const char* name : {"DeviceID", "DeviceSerialNumber"})
        if (Has(map, name))
            TrySet([&] { map.SetStringUnchecked(name, config.serialNumber); });
    if (!config.userName.empty() && Has(map, "DeviceUserID"))
        TrySet([&] { map.SetStringUnchecked("DeviceUserID", config.userName); });
    SeedRegisterDefaults();
    UpdateDerivedValues("Width");
    reference_exposure_us_ = ReadSettings().exposureUs;
    sensor_width_ = static_cast<double>(std::max<int64_t>(1, Int(map, "SensorWidth", Int(map, "WidthMax", 640))));
    sensor_height_ = static_cast<double>(std::max<int64_t>(1, Int(map, "SensorHeight", Int(map, "HeightMax", 480))));
    pattern_kind_ = config.pattern;
    SetBeam(config.beam);

    const std::string model_name = Text(map, "DeviceModelName", map.GetDeviceName());
    const std::string ip = config.ipAddress.empty() ? "127.0.1." + std::to_string(plugIndex % 254 + 1) : config.ipAddress;
    const std::string mac = config.macAddress.empty() ? DefaultMac(config.serialNumber) : config.macAddress;
    info_.SetSerialNumber(config.serialNumber);
    if (!config.userName.empty())
        info_.SetUserDefinedName(config.userName);
    info_.SetModelName(model_name)
        .SetVendorName(Text(map, "DeviceVendorName", "Emulated"))
        .SetDeviceVersion(Text(map, "DeviceVersion", "1.0"))
        .SetDeviceFactory("GigE/Emulator")
        .SetFriendlyName((config.userName.empty() ? model_name : config.userName) + " (" + config.serialNumber + ")")
        .SetFullName(model_name + "#" + mac + "#" + ip + ":3956")
        .SetDeviceClass("BaslerGigE")
        .SetIpAddress(ip)
        .SetSubnetMask("255.255.255.0")
        .SetDefaultGateway("0.0.0.0")
        .SetMacAddress(mac)
        .SetInterface("127.0.0.1");
    // The camera's network features tell what its device information tells. A text that is
    // no address, or a model that computes the feature from other nodes, keeps the model's value.
    auto show = [&](const char* feature, std::optional<int64_t> value) {
        if (value && Has(map, feature))
            TrySet([&] { map.SetIntegerUnchecked(feature, *value); });
    };
    show("GevCurrentIPAddress", Ipv4Number(ip));
    show("GevCurrentSubnetMask", Ipv4Number(info_.GetSubnetMask()));
    show("GevCurrentDefaultGateway", Ipv4Number(info_.GetDefaultGateway()));
    show("GevMACAddress", MacNumber(mac));

    InstallHooks();
}

void CEmulatedCamera::SeedRegisterDefaults()
{
    // A camera played from another camera's own description keeps its registers in memory,
    // all 0 at first: the geometry and pixel format it needs to stream start from the
    // file's limits (a 640x480 sensor where the file gives none).
    GenApi::NodeMap& map = *node_map_;
    SeedStatusRegisters();
    auto seed = [&](const char* name, int64_t fallback) {
        if (!Has(map, name) || Int(map, name, -1) != 0)
            return;
        int64_t value = fallback;
        TrySet([&] {
            auto* node = dynamic_cast<GenApi::IInteger*>(map.GetNode(name));
            if (node && node->GetMax() > 0)
                value = std::min(node->GetMax(), fallback);
        });
        TrySet([&] { map.SetIntegerUnchecked(name, value); });
    };
    seed("SensorWidth", 640);
    seed("SensorHeight", 480);
    seed("WidthMax", Int(map, "SensorWidth", 640));
    seed("HeightMax", Int(map, "SensorHeight", 480));
    seed("Width", Int(map, "WidthMax", 640));
    seed("Height", Int(map, "HeightMax", 480));
    // No binning, and the one stream channel of a GigE camera (its bootstrap register).
    seed("BinningHorizontal", 1);
    seed("BinningVertical", 1);
    seed("GevStreamChannelCount", 1);
    if (auto* format = dynamic_cast<GenApi::IEnumeration*>(map.GetNode("PixelFormat"))) {
        const std::string now = Text(map, "PixelFormat");
        if (CPixelTypeMapper::GetPylonPixelTypeByName(now.c_str()) == PixelType_Undefined) {
            GenApi::NodeList_t entries;
            format->GetEntries(entries);
            std::string first;
            for (GenApi::INode* node : entries) {
                auto* entry = dynamic_cast<GenApi::IEnumEntry*>(node);
                if (!entry || CPixelTypeMapper::GetPylonPixelTypeByName(entry->GetSymbolic()) == PixelType_Undefined)
                    continue;
                if (first.empty() || entry->GetSymbolic() == "Mono8")
                    first = entry->GetSymbolic();
            }
            if (!first.empty())
                TrySet([&] { map.SetStringUnchecked("PixelFormat", first); });
        }
    }
    SeedValuesIntoLimits();
}

void CEmulatedCamera::SeedValuesIntoLimits()
{
    // Registers left at 0 give values no real camera reports: a bandwidth below its own
    // minimum of 1 MB/s, a selector over a count of 0 channels (limits 0 ... -1), a rate
    // that divides by a period of 0, an enumeration on a value that is none of its entries.
    // The camera set-up writes every value back and the camera must take it: counts and
    // divisors behind such a feature become 1, and a value outside its limits the nearest
    // limit, until the description settles (a few passes).
    GenApi::NodeMap& map = *node_map_;
    auto seed_behind = [](GenApi::detail::Node* node, int depth) { SeedRegistersBehind(node, depth); };
    for (int pass = 0; pass < 4; ++pass) {
        bool changed = false;
        {
            std::lock_guard<GenApi::NodeMapLock> guard(map.GetLock());
            GenApi::NodeList_t nodes;
            map.GetNodes(nodes);
            for (GenApi::INode* n : nodes) {
                auto* node = dynamic_cast<GenApi::detail::Node*>(n);
                if (!node)
                    continue;
                try {
                    if (auto* integer = dynamic_cast<GenApi::detail::IntegerNode*>(node)) {
                        const int64_t min = integer->GetMin(), max = integer->GetMax();
                        if (max < min) {
                            seed_behind(integer->MaxNode() ? integer->MaxNode() : node, 0);
                            changed = true;
                        } else if (const int64_t value = integer->ReadInt(); value < min || value > max) {
                            integer->WriteInt(value < min ? min : max);
                            changed = true;
                        }
                    } else if (auto* number = dynamic_cast<GenApi::IFloat*>(node)) {
                        const double min = number->GetMin(), max = number->GetMax(), value = node->ReadFloat();
                        if (!std::isfinite(min) || !std::isfinite(max) || !std::isfinite(value)) {
                            seed_behind(node, 0);
                            changed = true;
                        } else if (value < min || value > max) {
                            node->WriteFloat(value < min ? min : max);
                            changed = true;
                        }
                    } else if (auto* enumeration = dynamic_cast<GenApi::IEnumeration*>(node)) {
                        if (enumeration->GetEntry(node->ReadInt()) == nullptr) {
                            // Its first entry; a camera streams continuously by default.
                            GenApi::NodeList_t entries;
                            enumeration->GetEntries(entries);
                            GenApi::IEnumEntry* chosen = nullptr;
                            for (GenApi::INode* e : entries) {
                                auto* entry = dynamic_cast<GenApi::IEnumEntry*>(e);
                                if (!entry || !GenApi::IsAvailable(e->GetAccessMode()))
                                    continue;
                                if (!chosen || entry->GetSymbolic() == "Continuous")
                                    chosen = entry;
                            }
                            if (chosen) {
                                node->WriteInt(chosen->GetValue());
                                changed = true;
                            }
                        }
                    }
                } catch (const GenICam::GenericException&) {
                }
            }
        }
        map.InvalidateNodes();
        if (!changed)
            break;
    }
}

void CEmulatedCamera::SeedStatusRegisters()
{
    // A real camera reports in its status registers which features it implements and
    // offers, and the limits of its geometry. Played from its description, the camera
    // implements and offers every feature the file describes, with increments of 1 and a
    // 640x480 sensor where those registers would read 0.
    GenApi::NodeMap& map = *node_map_;
    auto is_register = [](const GenApi::detail::Node* node) {
        const std::string tag = node->Tag();
        return tag == "IntReg" || tag == "MaskedIntReg";
    };
    auto seed = [&](GenApi::detail::Node* node, int64_t value) {
        if (!node || !is_register(node))
            return;
        try {
            if (node->ReadInt() == 0)
                node->WriteInt(value);
        } catch (const GenICam::GenericException&) {
        }
    };
    // A maximum register that reads 0 below the feature's minimum: the feature offers its
    // minimum only.
    auto SeedMaxUpToMin = [&](GenApi::detail::IntegerNode* integer) {
        try {
            const int64_t min = integer->GetMin();
            if (min > 0)
                seed(integer->MaxNode(), min);
        } catch (const GenICam::GenericException&) {
        }
    };
    {
        std::lock_guard<GenApi::NodeMapLock> guard(map.GetLock());
        GenApi::NodeList_t nodes;
        map.GetNodes(nodes);
        for (GenApi::INode* n : nodes) {
            auto* node = dynamic_cast<GenApi::detail::Node*>(n);
            if (!node)
                continue;
            seed(node->ImplementedNode(), 1);
            seed(node->AvailableNode(), 1);
            if (auto* integer = dynamic_cast<GenApi::detail::IntegerNode*>(node)) {
                seed(integer->IncNode(), 1);
                if (node->Name() == "Width")
                    seed(integer->MaxNode(), 640);
                else if (node->Name() == "Height")
                    seed(integer->MaxNode(), 480);
                else if (node->Name() == "BinningHorizontal" || node->Name() == "BinningVertical")
                    seed(integer->MaxNode(), 1);
                else
                    SeedMaxUpToMin(integer);
            }
        }
        // Features behind a selector keep their status registers at an address of each
        // selected entry (one per trigger kind, say): every entry's are filled.
        for (GenApi::INode* n : nodes) {
            auto* selector = dynamic_cast<GenApi::detail::Node*>(n);
            auto* enumeration = dynamic_cast<GenApi::IEnumeration*>(n);
            if (!selector || !enumeration || selector->SelectedNodes().empty())
                continue;
            try {
                const int64_t was = selector->ReadInt();
                GenApi::NodeList_t entries;
                enumeration->GetEntries(entries);
                for (GenApi::INode* e : entries) {
                    auto* entry = dynamic_cast<GenApi::IEnumEntry*>(e);
                    if (!entry)
                        continue;
                    selector->WriteInt(entry->GetValue());
                    map.InvalidateNodes();
                    for (GenApi::detail::Node* selected : selector->SelectedNodes()) {
                        if (!selected)
                            continue;
                        SeedRegistersBehind(selected->ImplementedNode(), 0, kAllFlags);
                        SeedRegistersBehind(selected->AvailableNode(), 0, kAllFlags);
                        if (auto* choices = dynamic_cast<GenApi::IEnumeration*>(selected)) {
                            GenApi::NodeList_t selectedEntries;
                            choices->GetEntries(selectedEntries);
                            for (GenApi::INode* c : selectedEntries) {
                                if (auto* choice = dynamic_cast<GenApi::detail::Node*>(c)) {
                                    SeedRegistersBehind(choice->ImplementedNode(), 0, kAllFlags);
                                    SeedRegistersBehind(choice->AvailableNode(), 0, kAllFlags);
                                }
                            }
                        }
                        selector->WriteInt(entry->GetValue());  // in case a register behind held it
                        map.InvalidateNodes();
                    }
                }
                selector->WriteInt(was);
            } catch (const GenICam::GenericException&) {
            }
        }
    }
    map.InvalidateNodes();
}

CEmulatedCamera::~CEmulatedCamera()
{
    StopThread();
    node_map_->SetWriteHook(nullptr);
}

void CEmulatedCamera::InstallHooks()
{
    node_map_->SetWriteHook([this](GenApi::INode& node, GenApi::EWritePhase phase) { OnClientWrite(node, phase); });
}

void CEmulatedCamera::OnClientWrite(GenApi::INode& node, GenApi::EWritePhase phase)
{
    const std::string name = node.GetName();
    if (phase == GenApi::EWritePhase::BeforeWrite) {
        if (removed_)
            throw RUNTIME_EXCEPTION("Device '%s' has been removed (write of '%s')", config_.serialNumber.c_str(), name.c_str());
        return;
    }
    if (removed_)
        return;
    if (name == "AcquisitionStart")
        StartAcquisition();
    else if (name == "AcquisitionStop" || name == "AcquisitionAbort")
        StopAcquisition();
    else if (name == "TriggerSoftware")
        SoftwareTrigger();
    else if (name == "DeviceReset") {
        if (on_reset_)
            on_reset_(config_.serialNumber);
    } else {
        UpdateDerivedValues(name);
        std::lock_guard lock(mutex_);
        settings_dirty_ = true;
        wake_.notify_all();
    }
}

void CEmulatedCamera::UpdateDerivedValues(const std::string& written)
{
    GenApi::NodeMap& map = *node_map_;
    std::lock_guard lock(map.GetLock()); // one consistent step; callbacks run after it
    if (written == "BinningHorizontal" || written == "BinningVertical") {
        // The image shrinks with binning; keep the region inside it.
        const char* axis[2][5] = {{"BinningHorizontal", "SensorWidth", "WidthMax", "Width", "OffsetX"},
                                  {"BinningVertical", "SensorHeight", "HeightMax", "Height", "OffsetY"}};
        for (auto& a : axis) {
            const int64_t binning = std::max<int64_t>(1, Int(map, a[0], 1));
            const int64_t sensor = Int(map, a[1], 0);
            if (sensor <= 0 || !Has(map, a[2]))
                continue;
            const int64_t max = sensor / binning;
            if (IsPlain(map, a[2]))
                TrySet([&] { map.SetIntegerUnchecked(a[2], max); });
            const int64_t offset = std::min(Int(map, a[4], 0), max - 1);
            TrySet([&] { map.SetIntegerUnchecked(a[4], std::max<int64_t>(0, offset)); });
            const int64_t size = Int(map, a[3], max);
            if (size + offset > max)
                TrySet([&] { map.SetIntegerUnchecked(a[3], std::max<int64_t>(1, max - offset)); });
        }
    }
    if (written == "ExposureTimeRaw" && IsPlain(map, "ExposureTimeAbs")) {
        const double base = Float(map, "ExposureTimeBaseAbs", 1.0);
        TrySet([&] { map.SetFloatUnchecked("ExposureTimeAbs", static_cast<double>(Int(map, "ExposureTimeRaw", 0)) * base); });
    } else if (written == "ExposureTimeAbs" && IsPlain(map, "ExposureTimeRaw")) {
        const double base = std::max(1e-9, Float(map, "ExposureTimeBaseAbs", 1.0));
        TrySet([&] {
            map.SetIntegerUnchecked("ExposureTimeRaw", std::llround(Float(map, "ExposureTimeAbs", 0) / base));
        });
    }
    // A foreign description keeps PayloadSize in a register: the camera fills it as well.
    if (IsPlain(map, "PayloadSize") || Int(map, "PayloadSize", -1) == 0) {
        const EPixelType type = CPixelTypeMapper::GetPylonPixelTypeByName(Text(map, "PixelFormat", "Mono8"));
        const int64_t width = Int(map, "Width", 0), height = Int(map, "Height", 0);
        if (type != PixelType_Undefined && width > 0 && height > 0)
            TrySet([&] {
                map.SetIntegerUnchecked(
                    "PayloadSize", static_cast<int64_t>(ComputeBufferSize(type, static_cast<uint32_t>(width),
                                                                          static_cast<uint32_t>(height))));
            });
    }
}

CEmulatedCamera::Settings CEmulatedCamera::ReadSettings()
{
    GenApi::NodeMap& map = *node_map_;
    std::lock_guard lock(map.GetLock());
    Settings s;
    PatternKey& k = s.pattern;
    k.type = CPixelTypeMapper::GetPylonPixelTypeByName(Text(map, "PixelFormat", "Mono8"));
    k.width = static_cast<uint32_t>(std::max<int64_t>(0, Int(map, "Width", 0)));
    k.height = static_cast<uint32_t>(std::max<int64_t>(0, Int(map, "Height", 1)));
    k.offsetX = static_cast<uint32_t>(std::max<int64_t>(0, Int(map, "OffsetX", 0)));
    k.offsetY = static_cast<uint32_t>(std::max<int64_t>(0, Int(map, "OffsetY", 0)));
    k.binningH = static_cast<uint32_t>(std::max<int64_t>(1, Int(map, "BinningHorizontal", 1)));
    k.binningV = static_cast<uint32_t>(std::max<int64_t>(1, Int(map, "BinningVertical", 1)));
    if (Has(map, "ExposureTimeAbs"))
        s.exposureUs = Float(map, "ExposureTimeAbs", 10000);
    else if (Has(map, "ExposureTimeRaw"))
        s.exposureUs = static_cast<double>(Int(map, "ExposureTimeRaw", 10000)) * Float(map, "ExposureTimeBaseAbs", 1.0);
    s.exposureUs = std::max(1.0, s.exposureUs);
    double gain_db = 0;
    if (Has(map, "Gain")) {
        gain_db = Float(map, "Gain", 0);
    } else if (auto* raw = dynamic_cast<GenApi::IInteger*>(map.GetNode("GainRaw"))) {
        // Raw gain counts from the sensor's minimum, which is unity gain.
        int64_t min = 0;
        TrySet([&] { min = raw->GetMin(); });
        gain_db = static_cast<double>(Int(map, "GainRaw", min) - min) * kGainRawDb;
    }
    // The model's default exposure gives the pattern its nominal brightness.
    const double factor = s.exposureUs / reference_exposure_us_ * std::pow(10.0, gain_db / 20.0);
    k.brightness = static_cast<uint32_t>(std::clamp(factor * 1000.0, 0.0, 1e6));
    try {
        if (k.type != PixelType_Undefined && k.width > 0 && k.height > 0)
            s.payload = ComputeBufferSize(k.type, k.width, k.height);
    } catch (const GenICam::GenericException&) {
        s.payload = 0;
    }
    // The model's own resulting frame rate wins, so the feature shows what the stream does.
    if (Has(map, "ResultingFrameRateAbs"))
        s.frameRate = std::max(0.0, Float(map, "ResultingFrameRateAbs", 0));
    else if (Int(map, "AcquisitionFrameRateEnable", 0) != 0)
        s.frameRate = std::max(0.0, Float(map, "AcquisitionFrameRateAbs", 0));
    const std::string mode = Text(map, "AcquisitionMode", "Continuous");
    s.acquisitionMode = mode == "SingleFrame" ? 0 : mode == "MultiFrame" ? 1 : 2;
    s.frameCount = std::max<int64_t>(1, Int(map, "AcquisitionFrameCount", 1));
    s.acqTriggerOn = SelectedText(map, "TriggerMode", "AcquisitionStart").value_or("Off") == "On";
    s.acqTriggerSource = SelectedText(map, "TriggerSource", "AcquisitionStart").value_or("Software");
    s.acqTriggerActivation = SelectedText(map, "TriggerActivation", "AcquisitionStart").value_or("RisingEdge");
    s.frameTriggerOn = SelectedText(map, "TriggerMode", "FrameStart").value_or("Off") == "On";
    s.frameTriggerSource = SelectedText(map, "TriggerSource", "FrameStart").value_or("Software");
    s.frameTriggerActivation = SelectedText(map, "TriggerActivation", "FrameStart").value_or("RisingEdge");
    if (auto delay = SelectedText(map, "TriggerDelayAbs", "FrameStart"))
        s.triggerDelayUs = std::max(0.0, std::atof(delay->c_str()));
    return s;
}

CEmulatedCamera::Clock::duration CEmulatedCamera::FramePeriod() const
{
    double period_us = settings_.exposureUs;
    if (settings_.frameRate > 0)
        period_us = std::max(period_us, 1e6 / settings_.frameRate);
    period_us = std::max(period_us, 50.0);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::micro>(period_us));
}

void CEmulatedCamera::SetLocked(bool locked)
{
    if (Has(*node_map_, "TLParamsLocked"))
        TrySet([&] { node_map_->SetIntegerUnchecked("TLParamsLocked", locked ? 1 : 0); });
}

void CEmulatedCamera::StartAcquisition()
{
    Settings s = ReadSettings();
    {
        std::lock_guard lock(mutex_);
        if (acquiring_)
            return;
        settings_ = s;
        acquiring_ = true;
        block_id_ = 0;
        frames_left_ = s.acquisitionMode == 0 ? 1 : s.acquisitionMode == 1 ? s.frameCount : -1;
        waiting_for_start_trigger_ = s.acqTriggerOn;
        frame_triggers_.clear();
        next_frame_ = Clock::now() + FramePeriod();
        wake_.notify_all();
    }
    SetLocked(true);
}

void CEmulatedCamera::StopAcquisition()
{
    {
        std::lock_guard lock(mutex_);
        if (!acquiring_)
            return;
        acquiring_ = false;
        frame_triggers_.clear();
        wake_.notify_all();
    }
    SetLocked(false);
}

void CEmulatedCamera::SoftwareTrigger()
{
    Settings s = ReadSettings();
    std::lock_guard lock(mutex_);
    settings_ = s;
    Trigger("Software", true, Clock::now());
}

void CEmulatedCamera::PulseLine(int line)
{
    if (removed_)
        return;
    Settings s = ReadSettings();
    const std::string source = "Line" + std::to_string(line);
    std::lock_guard lock(mutex_);
    settings_ = s;
    const auto now = Clock::now();
    Trigger(source, true, now);
    Trigger(source, false, now);
}

void CEmulatedCamera::Trigger(const std::string& source, bool rising, Clock::time_point when)
{
    if (!acquiring_)
        return;
    const bool software = source == "Software";
    if (waiting_for_start_trigger_) {
        if (settings_.acqTriggerSource == source && (software || EdgeMatches(settings_.acqTriggerActivation, rising))) {
            waiting_for_start_trigger_ = false;
            next_frame_ = when + FramePeriod();
            wake_.notify_all();
        }
        return;
    }
    if (settings_.frameTriggerOn && settings_.frameTriggerSource == source &&
        (software || EdgeMatches(settings_.frameTriggerActivation, rising)) && frame_triggers_.size() < kMaxPendingTriggers) {
        const auto delay = std::chrono::duration<double, std::micro>(settings_.triggerDelayUs + settings_.exposureUs);
        frame_triggers_.push_back(when + std::chrono::duration_cast<Clock::duration>(delay));
        wake_.notify_all();
    }
}

void CEmulatedCamera::Stall(bool stalled)
{
    std::lock_guard lock(mutex_);
    stalled_ = stalled;
    wake_.notify_all();
}

void CEmulatedCamera::FailNextGrab(uint32_t errorCode, const std::string& text)
{
    std::lock_guard lock(mutex_);
    fail_next_.emplace(errorCode, text);
}

void CEmulatedCamera::RefuseNextWrite(const std::string& feature)
{
    if (!Has(*node_map_, feature.c_str()))
        throw LOGICAL_ERROR_EXCEPTION("Camera '%s' has no feature '%s'", config_.serialNumber.c_str(), feature.c_str());
    node_map_->FailNextWrite(feature, GenApi::EWriteFault::Access,
                             "Node '" + feature + "': the camera refused the write");
}

void CEmulatedCamera::SetPattern(EPattern pattern)
{
    std::lock_guard lock(mutex_);
    pattern_kind_ = pattern;
}

BeamSettings CEmulatedCamera::SetBeam(const BeamSettings& requested)
{
    BeamSettings beam = requested;
    if (beam.x < 0)
        beam.x = (sensor_width_ - 1) / 2;
    if (beam.y < 0)
        beam.y = (sensor_height_ - 1) / 2;
    if (beam.sigmaX < 0)
        beam.sigmaX = std::max(kMinBeamSigma, sensor_width_ / 16);
    if (beam.sigmaY < 0)
        beam.sigmaY = std::max(kMinBeamSigma, sensor_width_ / 16 * 0.75);
    auto refuse = [&](const char* what, double value, const char* limit) {
        throw INVALID_ARGUMENT_EXCEPTION("Camera '%s': beam %s %g refused: %s", config_.serialNumber.c_str(), what, value,
                                         limit);
    };
    const std::string x_limit = "0 to " + std::to_string(static_cast<int64_t>(sensor_width_) - 1) + " (the sensor)";
    const std::string y_limit = "0 to " + std::to_string(static_cast<int64_t>(sensor_height_) - 1) + " (the sensor)";
    if (!(beam.x <= sensor_width_ - 1))
        refuse("x", beam.x, x_limit.c_str());
    if (!(beam.y <= sensor_height_ - 1))
        refuse("y", beam.y, y_limit.c_str());
    const char* sigma_limit = "0.3 to 100000 pixels";
    static_assert(kMinBeamSigma == 0.3 && kMaxBeamSigma == 100000, "the message names the limits");
    if (!(beam.sigmaX >= kMinBeamSigma && beam.sigmaX <= kMaxBeamSigma))
        refuse("sigma_x", beam.sigmaX, sigma_limit);
    if (!(beam.sigmaY >= kMinBeamSigma && beam.sigmaY <= kMaxBeamSigma))
        refuse("sigma_y", beam.sigmaY, sigma_limit);
    if (!(beam.intensity >= 0 && beam.intensity <= kMaxBeamIntensity))
        refuse("intensity", beam.intensity, "0 to 1000 (1: full scale)");
    if (!(beam.background >= 0 && beam.background <= 1))
        refuse("background", beam.background, "0 to 1 (1: full scale)");
    std::lock_guard lock(mutex_);
    beam_ = beam;
    return beam;
}

void CEmulatedCamera::Connect()
{
    std::lock_guard lock(mutex_);
    if (removed_)
        throw RUNTIME_EXCEPTION("Device '%s' has been removed", config_.serialNumber.c_str());
    if (connected_)
        throw ACCESS_EXCEPTION("Device '%s' is opened by another connection", config_.serialNumber.c_str());
    connected_ = true;
    stop_thread_ = false;
    settings_dirty_ = true;
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void CEmulatedCamera::Disconnect() noexcept
{
    StopAcquisition();
    {
        std::lock_guard lock(mutex_);
        connected_ = false;
    }
    StopThread();
}

bool CEmulatedCamera::IsConnected() const
{
    std::lock_guard lock(mutex_);
    return connected_;
}

void CEmulatedCamera::StopThread() noexcept
{
    std::thread joining;
    {
        std::lock_guard lock(mutex_);
        stop_thread_ = true;
        wake_.notify_all();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            joining = std::move(thread_);
    }
    if (joining.joinable())
        joining.join();
}

void CEmulatedCamera::Remove()
{
    if (removed_.exchange(true))
        return;
    {
        std::lock_guard lock(mutex_);
        acquiring_ = false;
        frame_triggers_.clear();
    }
    StopThread();
    std::lock_guard lock(listener_mutex_);
    if (listener_ && !notified_) {
        notified_ = true;
        listener_();
    }
}

void CEmulatedCamera::SetRemovalListener(std::function<void()> listener)
{
    std::lock_guard lock(listener_mutex_);
    listener_ = std::move(listener);
    notified_ = false;
}

void CEmulatedCamera::SetSink(Transport::IStreamSink* sink)
{
    std::lock_guard lock(sink_mutex_);
    sink_ = sink;
}

size_t CEmulatedCamera::PayloadSize() { return ReadSettings().payload; }

CameraState CEmulatedCamera::State() const
{
    CameraState s;
    s.config = config_;
    s.modelName = info_.GetModelName();
    s.config.ipAddress = info_.GetIpAddress();    // the defaults filled in, as the camera reports them
    s.config.macAddress = info_.GetMacAddress();
    s.plugged = !removed_;
    std::lock_guard lock(mutex_);
    s.open = connected_;
    s.acquiring = acquiring_;
    s.stalled = stalled_;
    s.framesSent = frames_sent_;
    s.config.pattern = pattern_kind_;
    s.config.beam = beam_;
    return s;
}

void CEmulatedCamera::Run()
{
    pthread_setname_np(pthread_self(), "emu_camera");
    std::unique_lock lock(mutex_);
    while (!stop_thread_) {
        if (settings_dirty_) {
            // A client changed something: exposure, gain and rate act on the next frame.
            settings_dirty_ = false;
            lock.unlock();
            Settings s = ReadSettings();
            lock.lock();
            settings_ = s;
            continue;
        }
        Clock::time_point due = Clock::time_point::max();
        bool triggered = false;
        if (acquiring_ && !waiting_for_start_trigger_) {
            if (settings_.frameTriggerOn) {
                if (!frame_triggers_.empty()) {
                    due = frame_triggers_.front();
                    triggered = true;
                }
            } else {
                due = next_frame_;
            }
        }
        if (due == Clock::time_point::max()) {
            wake_.wait_for(lock, std::chrono::seconds(1));
            continue;
        }
        const auto now = Clock::now();
        if (now < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        if (triggered) {
            frame_triggers_.pop_front();
        } else {
            next_frame_ = due + FramePeriod();
            if (next_frame_ < now)
                next_frame_ = now; // late: no burst to catch up
        }
        if (stalled_)
            continue; // the frame is lost inside the camera

        const uint64_t block = ++block_id_;
        ++frames_sent_;
        const bool last = frames_left_ > 0 && --frames_left_ == 0;
        auto fail = std::exchange(fail_next_, std::nullopt);
        const PatternKey key = settings_.pattern;
        const EPattern kind = pattern_kind_;
        const BeamSettings beam = beam_;
        Transport::FrameHeader header;
        header.pixelType = key.type;
        header.sizeX = key.width;
        header.sizeY = key.height;
        header.offsetX = key.offsetX;
        header.offsetY = key.offsetY;
        header.blockId = block;
        header.timeStamp = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - plugged_at_).count());
        lock.unlock();

        if (last)
            StopAcquisition(); // single and multi frame end after the last readout, before it arrives
        std::string problem;
        if (!fail) {
            try {
                if (kind == EPattern::Counter)
                    pattern_.Prepare(key);
                else
                    beam_pattern_.Prepare(key, beam);
            } catch (const GenICam::GenericException& e) {
                problem = e.GetDescription();
            }
        }
        {
            std::lock_guard sink_lock(sink_mutex_);
            if (sink_) {
                if (fail)
                    sink_->DeliverFailure(header, fail->first, fail->second);
                else if (!problem.empty())
                    sink_->DeliverFailure(header, 0xE1000001u, problem);
                else
                    sink_->DeliverFrame(header, [&](uint8_t* destination, size_t capacity) {
                        return kind == EPattern::Counter ? pattern_.Write(block, destination, capacity)
                                                         : beam_pattern_.Write(block, destination, capacity);
                    });
            }
        }
        lock.lock();
    }
}

} // namespace Pylon::Emulator
