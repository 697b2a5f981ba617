#pragma once
// Start times of the pictures of a video file, read from its container without decoding, so that
// the cut window can step exactly one frame.
#include <QString>
#include <QVector>

class VideoFrameTimes {
public:
    // Reads `path`; false (logged) when the file has no readable video stream.
    bool load(const QString& path);
    bool isEmpty() const { return m_times.isEmpty(); }
    // Start (ms from the start of the file, as the player counts) of the frame `steps` frames away
    // from the frame shown at `ms`; clamped to the first and last frame. -1 without frames.
    qint64 step(qint64 ms, int steps) const;
    const QVector<qint64>& times() const { return m_times; }

private:
    QVector<qint64> m_times;  // ascending
};
