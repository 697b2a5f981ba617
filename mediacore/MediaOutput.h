#pragma once
// The one MP4 writer of the engine's jobs, and the one way a finished file reaches its final name:
// written under a hidden temporary name beside it, renamed only when complete, removed on failure.
#include <atomic>
#include <functional>
#include <string>

struct AVFormatContext;
struct AVPacket;

class Mp4Output {
public:
    Mp4Output() = default;
    ~Mp4Output();
    Mp4Output(const Mp4Output&) = delete;
    Mp4Output& operator=(const Mp4Output&) = delete;

    // Sets up the muxer for `path`; streams are added to ctx() before open(). Returns a MediaCoreCode.
    int create(const std::string& path, const std::atomic<bool>& cancel);
    // Creates the file and writes the header.
    int open(const std::string& path);
    int write(AVPacket* pkt);
    // Writes the trailer and closes the file.
    int finish();

    AVFormatContext* ctx() const { return m_oc; }

private:
    static int interrupt(void* opaque);

    AVFormatContext* m_oc = nullptr;
    bool m_header_written = false;
    const std::atomic<bool>* m_cancel = nullptr;
};

// Runs `produce` on a temporary file beside `final_path` (created empty and exclusively first) and renames it
// to `final_path` only when `produce` returned success; on failure nothing is left at either name. Returns
// produce's code (or MEDIA_CODE_WRITE when the rename failed).
int mediaWriteAtomically(const std::string& final_path,
                         const std::function<int(const std::string& tmp)>& produce);

// A hidden name beside `final_path` for writing it ("<dir>/.<name>.<pid>.<random>.part"), kept short enough
// for the file system whenever the final name is.
std::string mediaTemporaryPathFor(const std::string& final_path);
