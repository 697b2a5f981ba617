#pragma once
// The rules that turn meta.json values into record members and back, shared by the fast and the
// toolkit paths so that both accept and reject exactly the same values.
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <cmath>
#include <limits>
#include <memory>

#include "ResourceItem.h"

namespace MetaJson {

// The first few are in line: the fast reader applies them to every number it reads.

// A JSON number that is a whole value representable in 32 bits; anything else is 0.
inline qint32 int32Of(double d) {
    if (!std::isfinite(d) || std::trunc(d) != d || d < double(std::numeric_limits<qint32>::min()) ||
        d > double(std::numeric_limits<qint32>::max())) {
        return 0;
    }
    return qint32(d);
}

// Keeps the low 16 bits of a 32-bit value (70000 -> 4464, 40000 -> -25536).
inline qint16 low16(qint32 v) {
    const quint16 bits = quint16(quint32(v) & 0xFFFFu);
    return bits >= 0x8000u ? qint16(int(bits) - 0x10000) : qint16(bits);
}

// Seconds in the file, milliseconds in memory. Beyond the 32-bit millisecond range they saturate
// rather than wrap, so that such an event stays after every real one instead of jumping before them.
inline qint32 secOf(qint32 seconds) {
    const qint64 ms = qint64(seconds) * 1000;
    return qint32(qBound<qint64>(std::numeric_limits<qint32>::min(), ms, std::numeric_limits<qint32>::max()));
}

// A decimal number held in a JSON string, in single precision; 0 when it is not a finite number.
double numTextOf(const QString& text);
// The 64-bit clock, rounded to a whole number; 0 outside the 64-bit range.
qint64 serverTimeOf(double d);
// Question and answer ids: decimal text in memory, numbers in the file.
qint32 idNumber(const QString& text);
// Draw types whose "page" is written as a string.
inline bool pageIsText(qint16 type) {
    return type == 2 || type == 3 || type == 4 || type == 5 || type == 9;
}

// The same rules applied to the toolkit's values.
qint32 toInt32(const QJsonValue& v);
qint16 toInt16(const QJsonValue& v);
QString toStr(const QJsonValue& v);
bool toBool(const QJsonValue& v);
qint32 toSec(const QJsonValue& v);
double toNumText(const QJsonValue& v);
qint64 toServerTime(const QJsonValue& v);
QString idText(const QJsonValue& v);
// "page" of a draw: a number, or for the text types a number held in a string.
qint16 toPage(const QJsonValue& v, qint16 type);

// Equal times keep the file's order.
void sortPageChanges(QList<std::shared_ptr<_PageChangeItem>>& pages);

// An object of its own parsed from JSON text; empty when the text holds none.
QJsonObject parseDocumentObject(const QByteArray& bytes);

// What writing a page change or an animation tells the logs.
void logPageChange(const _PageChangeItem& item);
void logAnimation(const _AnimationItem& item);
// What writing an event of the meta object tells the logs besides its failures.
inline void noteWritten(const _PageChangeItem& item) {
    logPageChange(item);
}
inline void noteWritten(const _AnimationItem& item) {
    logAnimation(item);
}
template <typename Item>
void noteWritten(const Item&) {}
// A failure line of this module with its text given at run time.
void logError(const char* text);

}  // namespace MetaJson
