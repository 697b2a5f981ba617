#pragma once
// The editing jobs of the engine: stream-copy cutting and joining, and the decode / scale /
// re-encode path (H.264 + AAC in MP4) used for exact cuts, joins of unlike inputs and transcoding.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MediaOutput.h"

// A stretch of one input file, in microseconds from the start of that file. end_us < 0: to the end.
struct MediaSpan {
    std::string path;
    int64_t begin_us = 0;
    int64_t end_us = -1;
};

// Writes the spans one after another into an MP4 at `out_path` by copying the coded packets.
// Each span starts at the keyframe at or before its begin. Returns a MediaCoreCode.
int mediaRemux(const std::vector<MediaSpan>& spans, const std::string& out_path,
               const std::atomic<bool>& cancel);

// Decodes exactly the spans and encodes them as H.264 + AAC into an MP4 at `out_path`, with
// continuous timestamps. width/height 0: the first input's size (made even). Returns a MediaCoreCode.
int mediaEncode(const std::vector<MediaSpan>& spans, const std::string& out_path, int width, int height,
                const std::atomic<bool>& cancel);

// True when the files' streams agree closely enough to be joined by stream copy; *width and
// *height receive the first file's picture size.
bool mediaCanCopyTogether(const std::vector<std::string>& paths, int* width, int* height);
