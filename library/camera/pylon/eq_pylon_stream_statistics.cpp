// The stream statistics of a location: the counts the stream grabber keeps (frames
// complete and failed, underruns, missing and resent packets), shown in read-only
// properties so that clients see a network camera's stream health.
#include <mirva/server.h>

#include "eq_pylon.h"

namespace {

// Counts are whole numbers everywhere they are shown (API, command-line client, viewer).
int64_t count_of(GenApi::INodeMap* map, const char* name)
{
    GenApi::CIntegerPtr node = map->GetNode(name);
    return node.IsValid() && GenApi::IsReadable(node) ? node->GetValue() : 0;
}

} // namespace

void EqFctPylon::camera_update_stream_statistics(bool now)
{
    if (!StreamGrabber)
        return;
    const auto t = std::chrono::steady_clock::now();
    if (!now && t - stream_statistics_shown < std::chrono::milliseconds(500))
        return;
    stream_statistics_shown = t;
    try {
        GenApi::INodeMap* map = StreamGrabber->GetNodeMap();
        const int64_t total = count_of(map, "Statistic_Total_Buffer_Count");
        const int64_t failed = count_of(map, "Statistic_Failed_Buffer_Count");
        stream_completed_.set_value(total - failed);
        stream_failed_.set_value(failed);
        stream_underruns_.set_value(count_of(map, "Statistic_Buffer_Underrun_Count"));
        stream_missing_packets_.set_value(count_of(map, "Statistic_Failed_Packet_Count"));
        stream_resent_packets_.set_value(count_of(map, "Statistic_Resend_Packet_Count"));
    } catch (const GenICam::GenericException& e) {
        // A removed camera: the last counts stay shown.
        if ((MIRVA_debug.load() & 0x10) != 0)
            printftostderr(name(), "stream statistics: %s", e.GetDescription());
    }
}
