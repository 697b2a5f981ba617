#define MEDIA_LOG_SOURCE "mediacore/MediaOutput"
#include "MediaOutput.h"

#include "IMediaCore.h"
#include "MediaLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

extern "C" {
#include <libavformat/avformat.h>
}

int Mp4Output::interrupt(void* opaque) {
    auto* self = static_cast<Mp4Output*>(opaque);
    return self->m_cancel && self->m_cancel->load() ? 1 : 0;
}

int Mp4Output::create(const std::string& path, const std::atomic<bool>& c) {
    m_cancel = &c;
    int err = avformat_alloc_output_context2(&m_oc, nullptr, "mp4", path.c_str());
    if (err < 0 || !m_oc) {
        MLOG(MEDIA_LOG_ERROR, "cannot set up the MP4 writer: %s", mediaErrorText(err).c_str());
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    m_oc->interrupt_callback.callback = &Mp4Output::interrupt;
    m_oc->interrupt_callback.opaque = this;
    return MEDIA_CODE_SUCCESS;
}

int Mp4Output::open(const std::string& path) {
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    std::string url = "file:" + path;
    int err = avio_open2(&m_oc->pb, url.c_str(), AVIO_FLAG_WRITE, &m_oc->interrupt_callback, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot create output file %s: %s", path.c_str(), mediaErrorText(err).c_str());
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    err = avformat_write_header(m_oc, nullptr);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot write the MP4 header of %s: %s", path.c_str(),
             mediaErrorText(err).c_str());
        return MEDIA_CODE_WRITE;
    }
    m_header_written = true;
    return MEDIA_CODE_SUCCESS;
}

int Mp4Output::write(AVPacket* pkt) {
    int err = av_interleaved_write_frame(m_oc, pkt);
    if (err < 0) {
        if (m_cancel->load()) {
            return MEDIA_CODE_CANCELLED;
        }
        MLOG(MEDIA_LOG_ERROR, "write error: %s", mediaErrorText(err).c_str());
        return MEDIA_CODE_WRITE;
    }
    return MEDIA_CODE_SUCCESS;
}

int Mp4Output::finish() {
    int err = av_write_trailer(m_oc);
    m_header_written = false;
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot finish the MP4 file: %s", mediaErrorText(err).c_str());
        return MEDIA_CODE_WRITE;
    }
    err = avio_closep(&m_oc->pb);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot close the MP4 file: %s", mediaErrorText(err).c_str());
        return MEDIA_CODE_WRITE;
    }
    return MEDIA_CODE_SUCCESS;
}

Mp4Output::~Mp4Output() {
    if (m_oc) {
        if (m_oc->pb) {
            avio_closep(&m_oc->pb);
        }
        avformat_free_context(m_oc);
    }
}

std::string mediaTemporaryPathFor(const std::string& final_path) {
    std::string dir = ".";
    std::string name = final_path;
    size_t slash = final_path.find_last_of('/');
    if (slash != std::string::npos) {
        dir = final_path.substr(0, slash);
        name = final_path.substr(slash + 1);
        if (dir.empty()) {
            dir = "/";
        }
    }
    // The process id follows the name: whoever started the job can claim the file by the prefix
    // ".<name>.<pid>." (the exporter journals it, so a killed run's file goes at the next start).
    std::random_device rd;
    char suffix[48];
    snprintf(suffix, sizeof(suffix), ".%ld.%08x.part", static_cast<long>(getpid()), unsigned(rd()));
    // A name may take 255 bytes: shorten the copied part (never the suffix) so the temporary fits too.
    const size_t room = 255 - 1 - strlen(suffix);
    if (name.size() > room) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;  // keep UTF-8 sequences whole
        }
        name.resize(cut);
    }
    return dir + "/." + name + suffix;
}

int mediaWriteAtomically(const std::string& final_path,
                         const std::function<int(const std::string& tmp)>& produce) {
    // The temporary name is made ours before anything is written (O_EXCL), so that another file that
    // happens to have it is never overwritten or removed; the usual mode (under the umask) carries over.
    std::string tmp;
    for (int attempt = 0; attempt < 100 && tmp.empty(); ++attempt) {
        const std::string candidate = mediaTemporaryPathFor(final_path);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            tmp = candidate;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (tmp.empty()) {
        MLOG(MEDIA_LOG_ERROR, "cannot create a file beside %s: %s", final_path.c_str(), strerror(errno));
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    int rc = produce(tmp);
    if (rc == MEDIA_CODE_SUCCESS) {
        if (::rename(tmp.c_str(), final_path.c_str()) != 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot move the finished file to %s: %s", final_path.c_str(),
                 strerror(errno));
            rc = MEDIA_CODE_WRITE;
        }
    }
    if (rc != MEDIA_CODE_SUCCESS) {
        ::unlink(tmp.c_str());
    }
    return rc;
}
