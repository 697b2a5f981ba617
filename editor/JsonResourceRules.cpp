#define FLOG_SOURCE "editor/JsonResourceParse"
#include "JsonResourceRules.h"

#include <QDebug>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include "FLog.h"

namespace MetaJson {

// Non-finite values would poison the geometry of the views, so they count as not a number.
double numTextOf(const QString& text) {
    bool ok = false;
    const float f = text.toFloat(&ok);
    if (!ok || !std::isfinite(f)) {
        return 0.0;
    }
    return double(f);
}

// Through fixed-point text, so that values outside the 64-bit range give 0 instead of an undefined
// conversion.
qint64 serverTimeOf(double d) {
    bool ok = false;
    const qint64 n = QString::number(d, 'f', 0).toLongLong(&ok, 10);
    return ok ? n : 0;
}

qint32 idNumber(const QString& text) {
    bool ok = false;
    const qint32 n = text.toInt(&ok, 10);
    return ok ? n : 0;
}

qint32 toInt32(const QJsonValue& v) {
    return v.isDouble() ? int32Of(v.toDouble()) : 0;
}

qint16 toInt16(const QJsonValue& v) {
    return low16(toInt32(v));
}

QString toStr(const QJsonValue& v) {
    return v.isString() ? v.toString() : QString();
}

bool toBool(const QJsonValue& v) {
    return v.isBool() && v.toBool();
}

qint32 toSec(const QJsonValue& v) {
    return secOf(toInt32(v));
}

double toNumText(const QJsonValue& v) {
    return v.isString() ? numTextOf(v.toString()) : 0.0;
}

qint64 toServerTime(const QJsonValue& v) {
    return serverTimeOf(v.isDouble() ? v.toDouble() : 0.0);
}

QString idText(const QJsonValue& v) {
    return QString::number(toInt32(v));
}

qint16 toPage(const QJsonValue& v, qint16 type) {
    if (!pageIsText(type)) {
        return toInt16(v);
    }
    bool ok = false;
    const qint32 n = toStr(v).toInt(&ok, 10);
    return ok ? low16(n) : 0;
}

void sortPageChanges(QList<std::shared_ptr<_PageChangeItem>>& pages) {
    std::stable_sort(pages.begin(), pages.end(),
                     [](const std::shared_ptr<_PageChangeItem>& a,
                        const std::shared_ptr<_PageChangeItem>& b) { return a->time < b->time; });
}

QJsonObject parseDocumentObject(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

void logPageChange(const _PageChangeItem& item) {
    log4cplus::Logger logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("JSonReourceParse"));
    LOG4CPLUS_INFO_FMT(logger, LOG4CPLUS_TEXT("%s time is %d  page num is %d."),
                       "JsonResourceParse::pageChangeItemToJson", int(item.time / 1000), int(item.pageNum));
}

void logAnimation(const _AnimationItem& item) {
    qDebug().noquote() << "docId" << item.docId;
}

void logError(const char* text) {
    flog_log(FLOG_ERROR, "[%s:%d]%s", FLOG_SOURCE, __LINE__, text);
}

}  // namespace MetaJson
