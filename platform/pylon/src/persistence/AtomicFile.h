// Whole-file reads and atomic whole-file writes for feature files.
#pragma once

#include <string>

namespace Pylon::persistence {

// Replaces `path` with `content`: writes a temporary file in the same directory, flushes it
// to disk and renames it over `path`, so readers see the old file or the complete new one.
// RuntimeException naming the file on failure; the temporary file is removed then.
void WriteFileAtomically(const std::string& path, const std::string& content);

// The content of `path`. RuntimeException naming the file when it is missing, not a regular
// file, unreadable or larger than a feature file can sensibly be (16 MiB).
std::string ReadWholeFile(const std::string& path);

} // namespace Pylon::persistence
