#include "CustomTime.h"

_CustomTime::_CustomTime(qint64 ms) {
    // A negative count (an engine that could not measure) reads as zero instead of "-1:-1:..".
    const qint64 t = ms < 0 ? 0 : ms;
    const qint64 s = t / 1000;
    hour = static_cast<qint32>(s / 3600);
    minute = static_cast<qint32>((s / 60) % 60);
    second = static_cast<qint32>(s % 60);
    millisecond = static_cast<qint32>(t % 1000);
}

std::shared_ptr<_CustomTime> _CustomTime::fromMs(qint64 ms) {
    return std::make_shared<_CustomTime>(ms);
}

QString _CustomTime::toString() const {
    return QStringLiteral("%1:%2:%3.%4")
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(minute, 2, 10, QLatin1Char('0'))
        .arg(second, 2, 10, QLatin1Char('0'))
        .arg(millisecond, 3, 10, QLatin1Char('0'));
}

QString _CustomTime::text(qint64 ms) {
    return _CustomTime(ms).toString();
}
