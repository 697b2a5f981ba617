#pragma once
// The cut oracle: decodes a cut video and a source with the ffmpeg program and matches every output
// picture to the source picture it shows (testsrc2 pictures are unique per frame; the nearest
// picture by absolute difference wins, so re-encoded pictures are recognised too). Audio is checked
// by beeps: the sources carry a short 1 kHz beep every half second.
#include "TestSupport.h"

#include <QHash>
#include <QPair>
#include <QStringList>
#include <QVector>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace frameoracle {

constexpr int kW = 96;
constexpr int kH = 72;
constexpr double kBeepEvery = 0.5;
constexpr int kRate = 44100;

// The beeping audio source of the test clips (a lavfi input); `chirp` adds a quiet, never repeating
// rising tone under the beeps, so that a click or a jump anywhere shows in the samples.
inline QString beepSource(double seconds, bool chirp = false) {
    return QStringLiteral("aevalsrc='0.8*sin(2*PI*1000*t)*lt(mod(t,%1),0.03)%4':s=%2:d=%3")
        .arg(kBeepEvery)
        .arg(kRate)
        .arg(seconds)
        .arg(chirp ? QStringLiteral(
                         "+0.05*sin(2*PI*(300*t+20*t*t))+0.03*sin(2*PI*1193*t)+0.03*sin(2*PI*2687*t)")
                   : QString());
}

// Small grey pictures of every decoded frame, in display order, no frame dropped or repeated.
inline QVector<QByteArray> pictures(const QString& path) {
    QByteArray raw;
    int rc = testsupport::runProgram(
        QStringLiteral("ffmpeg"),
        {"-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
         QStringLiteral("scale=%1:%2:flags=area,format=gray").arg(kW).arg(kH), "-f", "rawvideo", "-"},
        &raw, 300000);
    QVector<QByteArray> r;
    const int n = kW * kH;
    if (rc != 0) {
        return r;
    }
    for (int i = 0; i + n <= raw.size(); i += n) {
        r.push_back(raw.mid(i, n));
    }
    return r;
}

// Sum of absolute differences, given up once it exceeds `limit`.
inline qint64 difference(const QByteArray& a, const QByteArray& b, qint64 limit) {
    qint64 d = 0;
    const auto* pa = reinterpret_cast<const uchar*>(a.constData());
    const auto* pb = reinterpret_cast<const uchar*>(b.constData());
    for (int i = 0; i < a.size() && d <= limit; ++i) {
        d += std::abs(int(pa[i]) - int(pb[i]));
    }
    return d;
}

// For each output picture the index of the source picture it shows: the identical one (copied
// pictures decode to the same pixels), else the nearest (re-encoded ones).
inline QVector<int> match(const QVector<QByteArray>& out, const QVector<QByteArray>& src) {
    QHash<QByteArray, int> exact;
    for (int i = src.size() - 1; i >= 0; --i) {
        exact.insert(src[i], i);
    }
    QVector<int> r;
    for (const QByteArray& o : out) {
        int best = exact.value(o, -1);
        if (best < 0) {
            qint64 bestD = std::numeric_limits<qint64>::max();
            for (int i = 0; i < src.size(); ++i) {
                const qint64 d = difference(o, src[i], bestD);
                if (d < bestD) {
                    best = i;
                    bestD = d;
                }
            }
        }
        r.push_back(best);
    }
    return r;
}

// Indexes of the source frames (constant rate, first at 0) shown in [begin, end) of each segment.
inline QVector<int> expected(const QVector<QPair<qint64, qint64>>& segsMs, int fps, int frames) {
    QVector<int> r;
    for (const auto& s : segsMs) {
        for (int i = 0; i < frames; ++i) {
            // Frame i shows at i / fps seconds: inside when begin <= i * 1000 / fps < end.
            if (qint64(i) * 1000 >= s.first * fps && qint64(i) * 1000 < s.second * fps) {
                r.push_back(i);
            }
        }
    }
    return r;
}

// Starts of the beeps in the file's first audio stream, in seconds from the file start, played as a
// player does: by the timestamps (gaps filled with silence).
inline QVector<double> beeps(const QString& path) {
    QByteArray raw;
    testsupport::runProgram(QStringLiteral("ffmpeg"),
                            {"-v", "error", "-i", path, "-map", "0:a:0", "-af",
                             "aresample=async=1:min_hard_comp=0.001:first_pts=0", "-ac", "1", "-ar",
                             QString::number(kRate), "-f", "s16le", "-"},
                            &raw, 300000);
    QVector<double> r;
    const auto* s = reinterpret_cast<const qint16*>(raw.constData());
    const int n = raw.size() / 2;
    int quiet = kRate;  // samples since the last loud one
    for (int i = 0; i < n; ++i) {
        if (std::abs(int(s[i])) > 6000) {
            if (quiet > kRate / 66) {  // 15 ms of quiet before a beep
                r.push_back(double(i) / kRate);
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return r;
}

// Beeps of the source heard in the joined output, at their place there: those starting inside a
// segment, and those cut through at either end (the audio frame straddling a cut carries up to one
// frame of sound from beyond it). `whole` tells those kept completely (10 ms clear of either end).
struct Beep {
    double at;
    bool whole;
};
inline QVector<Beep> expectedBeeps(const QVector<QPair<qint64, qint64>>& segsMs, double audioFrame) {
    QVector<Beep> r;
    double acc = 0;
    for (const auto& s : segsMs) {
        const double b = s.first / 1000.0;
        const double e = s.second / 1000.0;
        for (double t = std::floor(b / kBeepEvery) * kBeepEvery; t < e + audioFrame; t += kBeepEvery) {
            if (t + 0.03 + audioFrame > b) {
                r.push_back({acc + std::min(e - b, std::max(0.0, t - b)), t >= b + 0.01 && t + 0.04 <= e});
            }
        }
        acc += e - b;
    }
    return r;
}

// Mono samples of the file's first audio stream as the ffmpeg program decodes it (its edit list
// applied: sample 0 is time 0).
inline QVector<float> sound(const QString& path) {
    QByteArray raw;
    testsupport::runProgram(QStringLiteral("ffmpeg"),
                            {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-ar",
                             QString::number(kRate), "-f", "f32le", "-"},
                            &raw, 300000);
    QVector<float> r(raw.size() / 4);
    memcpy(r.data(), raw.constData(), size_t(r.size()) * 4);
    return r;
}

// How far the sound around a join at output sample `j` is from a clean splice of the source: its
// end at source sample `a` (the stretch before) followed by its begin at `b`. Each side is fitted at
// its best shift within `reach` samples on 50 ms clear of the join; then the best switch point in
// the 90 ms around the join is taken and the largest deviation from that splice returned. A click,
// a gap or a decoder overlap from unrelated sound deviates by the size of the sound itself.
inline double joinError(const QVector<float>& out, const QVector<float>& src, int j, int a, int b,
                        int reach) {
    auto at = [](const QVector<float>& v, qint64 i) { return i >= 0 && i < v.size() ? v[int(i)] : 0.0f; };
    const int fit = 2205;                 // 50 ms
    const int guard = reach + reach / 2;  // where the other side may still sound
    auto bestShift = [&](int from, int to, int srcAt) {
        int best = 0;
        double bestCost = std::numeric_limits<double>::max();
        for (int d = -reach; d <= reach; ++d) {
            double cost = 0;
            for (int i = from; i < to && cost < bestCost; ++i) {
                const double e = at(out, i) - at(src, qint64(i) - j + srcAt + d);
                cost += e * e;
            }
            if (cost < bestCost) {
                bestCost = cost;
                best = d;
            }
        }
        return best;
    };
    const int da = bestShift(j - guard - fit, j - guard, a);
    const int db = bestShift(j + guard, j + guard + fit, b);
    const int from = j - 2 * reach;
    const int to = j + 2 * reach;
    QVector<double> ea, eb;
    for (int i = from; i < to; ++i) {
        ea << std::fabs(at(out, i) - at(src, qint64(i) - j + a + da));
        eb << std::fabs(at(out, i) - at(src, qint64(i) - j + b + db));
    }
    QVector<double> tailB(eb.size() + 1, 0.0);  // largest deviation from b's side from i on
    for (int i = eb.size() - 1; i >= 0; --i) {
        tailB[i] = std::max(tailB[i + 1], eb[i]);
    }
    double best = tailB[0];
    double headA = 0;
    for (int w = 1; w <= ea.size(); ++w) {
        headA = std::max(headA, ea[w - 1]);
        best = std::min(best, std::max(headA, tailB[w]));
    }
    return best;
}

}  // namespace frameoracle
