#pragma once
// Joins the AAC sound of several stretches into one track without a click: whole frames are copied,
// and only the few frames around each join are re-encoded from decoded sound, so that the overlap
// of every frame (MDCT) holds the sound that really comes before it.
#include "FfmpegPtr.h"
#include "MediaOutput.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

struct CodecParFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
using CodecParPtr = std::unique_ptr<AVCodecParameters, CodecParFree>;

class AudioSplicer {
public:
    // `oast` is the output stream; its parameters are those of every input stream.
    AudioSplicer(Mp4Output& out, AVStream* oast) : m_out(out), m_oast(oast) {}

    // A new stretch of `iast`: its sound from input time `begin` (input time base) goes to output
    // time `out_begin` (the stretch's first picture), within half a frame (frames stay whole).
    int beginSpan(AVStream* iast, int64_t begin, int64_t out_begin);
    // The stretch's packets in order; those long before `begin` are left out.
    int add(const AVPacket* pkt);
    // The stretch's sound ends at input time `end`; the last stretch's track ends there too.
    int endSpan(int64_t end, bool last);

private:
    struct Tail {
        std::deque<PacketPtr> packets;  // the last frames of the stretch, input time
        int64_t delta = 0;              // output time = input time + delta
        int64_t end = 0;                // where its sound ends, input time
        CodecParPtr par;
    };

    bool bridgeable(const AVStream* iast);
    int push(PacketPtr p);
    int write(AVPacket* p, int64_t delta, int64_t duration = 0);
    int bridge(bool final_try);
    using Samples = std::vector<std::vector<float>>;
    int writeBridge(int64_t* from);
    int bridgeFrom(size_t start, const std::vector<const AVPacket*>& pa,
                   const std::vector<const AVPacket*>& pc, const Samples& sa, const Samples& sc,
                   int64_t* from);
    int copyHead(int64_t from);

    Mp4Output& m_out;
    AVStream* m_oast;
    CodecParPtr m_par;  // the current stretch's sound coding (its input is closed before the join)
    AVRational m_tb{0, 1};
    int m_span = -1;
    int64_t m_frame = 1024;
    int64_t m_begin = 0;
    int64_t m_out_begin = 0;
    int64_t m_delta = 0;
    bool m_delta_known = false;
    int64_t m_grid = 0;                 // output time of a frame start of the track written so far
    int64_t m_written_end = INT64_MIN;  // end of the frames written, output time
    bool m_bridging = false;            // frames around the joins re-encoded
    bool m_warned = false;
    std::deque<PacketPtr> m_ring;   // the current stretch's last frames, not yet written
    std::vector<PacketPtr> m_head;  // the current stretch's first frames, before its join is made
    Tail m_prev;                    // the previous stretch's last frames, before the join
    bool m_join_pending = false;
    int64_t m_switch = 0;  // output time where the next stretch's sound takes over at the join
};
