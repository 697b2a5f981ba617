#pragma once
#include <QString>
#include <QtGlobal>

// A kept stretch of a recording, in ms of the source recording.
struct _Segment {
    qint64 begin_time = 0;
    qint64 end_time = 0;             // exclusive for event mapping
    qint64 actual_duration = -1000;  // length of the produced video piece; -1000 until measured
    QString id;                      // QUuid text, key in the session's segment map
};
