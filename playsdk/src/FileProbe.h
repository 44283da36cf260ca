// What a file is (by its content, not its name) and its time range.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MediaSource.h"

namespace kx::play {

enum class FileKind { Missing, Avi, Qf };

FileKind probeFile(const std::string& path);

// A reader for the file, indexed and ready; null when it cannot be played.
std::unique_ptr<MediaSource> openQf(const std::string& path);
std::unique_ptr<MediaSource> openAvi(const std::string& path);

// Start and end in seconds. False when the file cannot be read.
bool qfFileTime(const std::string& path, int64_t& start, int64_t& end);
bool aviFileTime(const std::string& path, int64_t& start, int64_t& end);

}  // namespace kx::play
