#include "VideoFrameTimes.h"

#include <algorithm>
#include <vector>

#include "MediaInput.h"

namespace {
// The player shows the frame that starts at most this long after a seek target.
constexpr qint64 kSeekToleranceMs = 5;
}  // namespace

// Read through the engine's hardened open, like every other look into a package's video.
bool VideoFrameTimes::load(const QString& path) {
    m_times.clear();
    std::vector<int64_t> times;
    if (!mediaFrameTimes(path.toStdString(), &times)) {
        return false;
    }
    m_times.reserve(int(times.size()));
    for (int64_t t : times) {
        m_times.append(t);
    }
    return true;
}

qint64 VideoFrameTimes::step(qint64 ms, int steps) const {
    if (m_times.isEmpty()) {
        return -1;
    }
    // The frame shown at `ms` is the first that starts at or after ms less the tolerance.
    auto shown = std::lower_bound(m_times.begin(), m_times.end(), ms - kSeekToleranceMs);
    int index = int(shown - m_times.begin());
    index = std::min(index, int(m_times.size()) - 1);
    index = std::max(0, std::min(int(m_times.size()) - 1, index + steps));
    return m_times.at(index);
}
