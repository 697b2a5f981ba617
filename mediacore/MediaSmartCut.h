#pragma once
// Frame-exact cut of one stretch of an H.264 file at close to stream-copy speed: the pictures of
// [begin, end) exactly, whole groups copied, only the partial groups at the ends re-encoded.
#include "MediaEdit.h"

#include <atomic>
#include <string>

struct SmartCutStats {
    int64_t copied_frames = 0;
    int64_t reencoded_frames = 0;
};

// Writes the span to an MP4 at `out_path`. MEDIA_CODE_INCOMPATIBLE (logged) when the source cannot
// be spliced soundly (not H.264 4:2:0, open groups, ...): the caller then re-encodes the span.
int mediaSmartCut(const MediaSpan& span, const std::string& out_path, const std::atomic<bool>& cancel,
                  SmartCutStats* stats = nullptr);
