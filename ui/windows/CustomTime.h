#pragma once
// Hour/minute/second/millisecond split of a millisecond count, with the text form every time display
// of the program uses ("01:02:05.042").
#include <QString>
#include <QtGlobal>
#include <memory>

struct _CustomTime {
    qint32 hour = 0;  // not reduced modulo 24
    qint32 minute = 0;
    qint32 second = 0;
    qint32 millisecond = 0;

    _CustomTime() = default;
    explicit _CustomTime(qint64 ms);

    static std::shared_ptr<_CustomTime> fromMs(qint64 ms);
    QString toString() const;
    // Shortcut for the text form of a millisecond count.
    static QString text(qint64 ms);
};
