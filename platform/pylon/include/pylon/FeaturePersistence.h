// Saving and loading the features of a node map as text, in the GenApi persistence format
// that other GenICam tools read and write:
//
//   # {05D8C294-F295-4dfb-9D01-096BD04049F4}
//   # GenApi persistence file (version 3.0.0)
//   # Device = acA1300-30gm-emu
//   Width	1280
//   TriggerMode	{TriggerSelector=FrameStart}	On
//
// One line per feature, name and value separated by a tab. A feature whose value depends on
// a selector (TriggerMode per TriggerSelector entry) is written once per available entry of
// the selector, with the entry between braces. Only features that are readable, writable and
// marked Streamable are saved (never commands), in the order of the category tree from
// "Root".
//
// Loading checks the whole text first (every line parses, every feature and selector entry
// exists, every value has the feature's form) and writes nothing when a check fails. Then it
// writes in an order that respects the dependencies between features (selectors around the
// features they select, binning before sizes, sizes before offsets with the offsets moved
// out of the way first). If a write fails, the values held before the load are written back
// and the failure is raised. Every failure is a GenICam exception whose description names
// the file, the line and the feature.
//
// A node map of the SDK (GenApi::NodeMap) stays locked for the whole save or load, so other
// threads see neither a selector switched for reading nor a file half applied; write hooks and
// node callbacks queued meanwhile run once it is done. The file itself is written after the
// lock is released.
#pragma once

#include <GenApi/Interfaces.h>
#include <GenICam/GCException.h>

namespace Pylon {

class CFeaturePersistence {
public:
    // Writes the features to `FileName` atomically: a temporary file in the same directory
    // is written, flushed to disk and renamed over the target, so the target is either the
    // old file or the complete new one. RuntimeException naming the file on any I/O error.
    static void Save(const GenICam::gcstring& FileName, GenApi::INodeMap* pFeatures);

    // Reads `FileName` and applies it. A missing or unreadable file raises RuntimeException
    // naming the file. With `verify`, every write is verified (range, increment, entry) and
    // a rejected value raises; without it, features that cannot be written are skipped.
    // Text errors (garbled or truncated lines, unknown features or entries, values of the
    // wrong form) raise InvalidArgumentException either way, before anything is written.
    static void Load(const GenICam::gcstring& FileName, GenApi::INodeMap* pFeatures, bool verify = true);

    // The same on a string; descriptions name "<string>" instead of a file.
    static void SaveToString(GenICam::gcstring& Features, GenApi::INodeMap* pFeatures);
    static void LoadFromString(const GenICam::gcstring& Features, GenApi::INodeMap* pFeatures, bool verify = true);
};

} // namespace Pylon
