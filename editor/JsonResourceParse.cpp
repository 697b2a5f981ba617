#define FLOG_SOURCE "editor/JsonResourceParse"
#include "JsonResourceParse.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include "FLog.h"

namespace {

using L = QLatin1String;

// A JSON number that is a whole value representable in 32 bits; anything else is 0.
qint32 toInt32(const QJsonValue& v) {
    if (!v.isDouble()) {
        return 0;
    }
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d || d < double(std::numeric_limits<qint32>::min()) ||
        d > double(std::numeric_limits<qint32>::max())) {
        return 0;
    }
    return qint32(d);
}

// Keeps the low 16 bits of a 32-bit value (70000 -> 4464, 40000 -> -25536).
qint16 low16(qint32 v) {
    const quint16 bits = quint16(quint32(v) & 0xFFFFu);
    return bits >= 0x8000u ? qint16(int(bits) - 0x10000) : qint16(bits);
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

// Seconds in the file, milliseconds in memory. Seconds beyond the 32-bit millisecond range saturate
// rather than wrap, so that such an event stays after every real one instead of jumping before them.
qint32 toSec(const QJsonValue& v) {
    const qint64 ms = qint64(toInt32(v)) * 1000;
    return qint32(qBound<qint64>(std::numeric_limits<qint32>::min(), ms, std::numeric_limits<qint32>::max()));
}

// A decimal number held in a JSON string, in single precision. Non-finite values would poison the
// geometry of the views, so they count as not a number.
double toNumText(const QJsonValue& v) {
    if (!v.isString()) {
        return 0.0;
    }
    bool ok = false;
    const float f = v.toString().toFloat(&ok);
    if (!ok || !std::isfinite(f)) {
        return 0.0;
    }
    return double(f);
}

// The clock value goes through fixed-point text so that it is rounded to a whole number and values
// outside the 64-bit range give 0 instead of an undefined conversion.
qint64 toServerTime(const QJsonValue& v) {
    const double d = v.isDouble() ? v.toDouble() : 0.0;
    bool ok = false;
    const qint64 n = QString::number(d, 'f', 0).toLongLong(&ok, 10);
    return ok ? n : 0;
}

// Question and answer ids live as decimal text in memory and as numbers in the file.
QString idText(const QJsonValue& v) {
    return QString::number(toInt32(v));
}

qint32 idNumber(const QString& text) {
    bool ok = false;
    const qint32 n = text.toInt(&ok, 10);
    return ok ? n : 0;
}

// Draw types whose "page" is written as a string.
bool pageIsText(qint16 type) {
    return type == 2 || type == 3 || type == 4 || type == 5 || type == 9;
}

QJsonObject parseDocumentObject(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

QString compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

void readDrawData(const QJsonObject& o, _DrawData& data) {
    data.alpha = toInt16(o.value(L("alpha")));
    data.color = toInt32(o.value(L("color")));
    data.docid = toStr(o.value(L("docid")));

    const QJsonValue drawValue = o.value(L("draw"));
    const QJsonArray points = drawValue.toArray();
    data.points.reserve(points.size());
    for (const QJsonValue& p : points) {
        const QJsonObject po = p.toObject();
        data.points.append(QPointF(toNumText(po.value(L("x"))), toNumText(po.value(L("y")))));
    }

    data.drawid = toStr(o.value(L("drawid")));
    data.drawtime = toInt16(o.value(L("drawtime")));
    data.height = toInt16(o.value(L("height")));
    data.type = toInt16(o.value(L("type")));

    const QJsonValue page = o.value(L("page"));
    if (pageIsText(data.type)) {
        bool ok = false;
        const qint32 n = toStr(page).toInt(&ok, 10);
        data.page = ok ? low16(n) : 0;
    } else {
        data.page = toInt16(page);
    }

    data.thickness = toInt16(o.value(L("thickness")));
    data.width = toInt16(o.value(L("width")));

    if (data.type == 3 || data.type == 4 || data.type == 5) {
        const QJsonObject shape = drawValue.toObject();
        const double x = toNumText(shape.value(L("x")));
        const double y = toNumText(shape.value(L("y")));
        if (data.type == 4) {
            data.rect = QRectF(x, y, toNumText(shape.value(L("widthRadius"))),
                               toNumText(shape.value(L("heightRadius"))));
        } else {
            data.rect = QRectF(x, y, toNumText(shape.value(L("width"))), toNumText(shape.value(L("height"))));
        }
        if (data.type == 5) {
            data.label = toStr(shape.value(L("label")));
            data.size = toInt32(shape.value(L("size")));
        }
    }
}

QJsonObject writeDrawData(const _DrawData& data) {
    QJsonObject o;
    o.insert(L("alpha"), int(data.alpha));
    o.insert(L("color"), int(data.color));
    o.insert(L("docid"), data.docid);
    if (data.type != 0) {
        o.insert(L("drawid"), data.drawid);
        o.insert(L("drawtime"), int(data.drawtime));
        o.insert(L("height"), int(data.height));
        o.insert(L("width"), int(data.width));
    }
    if (pageIsText(data.type)) {
        o.insert(L("page"), QString::number(data.page));
    } else {
        o.insert(L("page"), int(data.page));
    }
    o.insert(L("thickness"), int(data.thickness));
    o.insert(L("type"), int(data.type));

    const QRectF& r = data.rect;
    if (data.type == 4) {
        QJsonObject shape;
        shape.insert(L("x"), fixed(r.x(), 6));
        shape.insert(L("y"), fixed(r.y(), 6));
        shape.insert(L("widthRadius"), fixed(r.width(), 6));
        shape.insert(L("heightRadius"), fixed(r.height(), 6));
        o.insert(L("draw"), shape);
    } else if (data.type == 3) {
        QJsonObject shape;
        shape.insert(L("x"), fixed(r.x(), 4));
        shape.insert(L("y"), fixed(r.y(), 4));
        shape.insert(L("width"), fixed(r.width(), 4));
        shape.insert(L("height"), fixed(r.height(), 4));
        o.insert(L("draw"), shape);
    } else if (data.type == 5) {
        QJsonObject shape;
        shape.insert(L("x"), fixed(r.x(), 6));
        shape.insert(L("y"), fixed(r.y(), 6));
        shape.insert(L("width"), fixed(r.width(), 6));
        shape.insert(L("height"), fixed(r.height(), 6));
        shape.insert(L("label"), data.label);
        shape.insert(L("size"), int(data.size));
        o.insert(L("draw"), shape);
    } else if (data.type == 0) {
        o.insert(L("draw"), QJsonObject());
    } else {
        QJsonArray points;
        for (const QPointF& p : data.points) {
            QJsonObject po;
            po.insert(L("x"), fixed(p.x(), 6));
            po.insert(L("y"), fixed(p.y(), 6));
            points.append(po);
        }
        o.insert(L("draw"), points);
    }
    return o;
}

void logPageChange(const _PageChangeItem& item) {
    log4cplus::Logger logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("JSonReourceParse"));
    LOG4CPLUS_INFO_FMT(logger, LOG4CPLUS_TEXT("%s time is %d  page num is %d."),
                       "JsonResourceParse::pageChangeItemToJson", int(item.time / 1000), int(item.pageNum));
}

// Reads one event array into its list; elements that give no record are skipped (their reader logs).
template <typename Item, typename Reader>
void readEvents(const QJsonObject& meta, const char* key, QList<std::shared_ptr<Item>>& list, Reader reader) {
    const QJsonArray array = meta.value(QLatin1String(key)).toArray();
    list.reserve(array.size());
    for (const QJsonValue& element : array) {
        std::shared_ptr<Item> item = reader(element.toObject());
        if (item) {
            list.append(std::move(item));
        }
    }
}

template <typename Item, typename Writer>
QJsonArray writeEvents(const QList<std::shared_ptr<Item>>& list, Writer writer) {
    QJsonArray array;
    for (const std::shared_ptr<Item>& item : list) {
        QJsonObject o;
        if (writer(item, o)) {
            array.append(o);
        }
    }
    return array;
}

// Serializes a whole tree straight into compact JSON text. It produces exactly the bytes that the
// per-record writers below would give through QJsonDocument (keys in the same ascending order, the
// same escaping and number forms), without building a QJsonObject per record, which dominated the
// time of writing a long class.
class DocumentWriter {
public:
    QByteArray m_out;
    std::unique_ptr<DocumentWriter> m_inner;  // reused buffer for the "data" texts

    void root(const _RootItem& root) {
        m_out += "{\"datas\":";
        datas(root.datas);
        m_out += ",\"msg\":";
        str(root.msg);
        m_out += ",\"success\":";
        boolean(root.success);
        m_out += '}';
    }

private:
    static char hex(uint v) { return char(v < 10 ? '0' + v : 'a' + v - 10); }

    // A JSON string as the toolkit writes it: UTF-8, with quote, backslash and control characters
    // escaped and lone surrogates as \u escapes. Written through a pointer into space reserved for
    // the worst case (6 bytes per UTF-16 unit), then trimmed.
    void str(const QString& s) {
        const int start = m_out.size();
        m_out.resize(start + 6 * s.size() + 2);
        char* w = m_out.data() + start;
        *w++ = '"';
        const ushort* p = s.utf16();
        const ushort* const end = p + s.size();
        auto unit = [&w](ushort u) {
            *w++ = '\\';
            *w++ = 'u';
            *w++ = hex((u >> 12) & 0xF);
            *w++ = hex((u >> 8) & 0xF);
            *w++ = hex((u >> 4) & 0xF);
            *w++ = hex(u & 0xF);
        };
        while (p != end) {
            const ushort u = *p++;
            if (u < 0x80) {
                if (u >= 0x20 && u != '"' && u != '\\') {
                    *w++ = char(u);
                    continue;
                }
                switch (u) {
                    case '"':
                        *w++ = '\\';
                        *w++ = '"';
                        break;
                    case '\\':
                        *w++ = '\\';
                        *w++ = '\\';
                        break;
                    case 0x8:
                        *w++ = '\\';
                        *w++ = 'b';
                        break;
                    case 0xC:
                        *w++ = '\\';
                        *w++ = 'f';
                        break;
                    case 0xA:
                        *w++ = '\\';
                        *w++ = 'n';
                        break;
                    case 0xD:
                        *w++ = '\\';
                        *w++ = 'r';
                        break;
                    case 0x9:
                        *w++ = '\\';
                        *w++ = 't';
                        break;
                    default:
                        unit(u);
                }
            } else if (u < 0x800) {
                *w++ = char(0xC0 | (u >> 6));
                *w++ = char(0x80 | (u & 0x3F));
            } else if (QChar::isHighSurrogate(u) && p != end && QChar::isLowSurrogate(*p)) {
                const uint c = QChar::surrogateToUcs4(u, *p++);
                *w++ = char(0xF0 | (c >> 18));
                *w++ = char(0x80 | ((c >> 12) & 0x3F));
                *w++ = char(0x80 | ((c >> 6) & 0x3F));
                *w++ = char(0x80 | (c & 0x3F));
            } else if (QChar::isSurrogate(u)) {
                unit(u);
            } else {
                *w++ = char(0xE0 | (u >> 12));
                *w++ = char(0x80 | ((u >> 6) & 0x3F));
                *w++ = char(0x80 | (u & 0x3F));
            }
        }
        *w++ = '"';
        m_out.resize(int(w - m_out.constData()));
    }

    // Compact JSON text as a string value: it holds no control characters (those are escaped
    // inside it), so only quotes and backslashes need escaping; UTF-8 passes through.
    void jsonTextAsString(const QByteArray& text) {
        m_out += '"';
        const char* run = text.constData();
        const char* const end = run + text.size();
        for (const char* p = run; p != end; ++p) {
            if (*p == '"' || *p == '\\') {
                m_out.append(run, int(p - run));
                m_out += '\\';
                run = p;
            }
        }
        m_out.append(run, int(end - run));
        m_out += '"';
    }

    // Text that needs no escaping (fixed-point numbers).
    void plainStr(const QString& s) {
        m_out += '"';
        m_out += s.toLatin1();
        m_out += '"';
    }

    void num(qint64 v) { m_out += QByteArray::number(v); }
    void boolean(bool v) { m_out += v ? "true" : "false"; }
    // The 64-bit clock goes m_out as a JSON double, as QJsonValue keeps it.
    void clock(qint64 v) {
        const double d = double(v);
        m_out += QByteArray::number(d, 'f', QLocale::FloatingPointShortest);
    }

    void datas(const std::shared_ptr<_DatasItem>& d) {
        if (!d) {
            FLOG(FLOG_ERROR, "datas item is empty.");
            m_out += "{}";
            return;
        }
        m_out += "{\"meta\":";
        meta(d->meta_item);
        m_out += ",\"room\":";
        room(d->room_item);
        m_out += ",\"template\":";
        templ(d->template_item);
        m_out += '}';
    }

    void templ(const std::shared_ptr<_TemplateItem>& t) {
        if (!t) {
            FLOG(FLOG_ERROR, "template item is empty.");
            m_out += "{}";
            return;
        }
        m_out += "{\"chatView\":";
        num(t->chatView);
        m_out += ",\"desc\":";
        str(t->desc);
        m_out += ",\"iconPath\":";
        str(t->iconPath);
        m_out += ",\"id\":";
        num(t->id);
        m_out += ",\"name\":";
        str(t->name);
        m_out += ",\"pdfView\":";
        num(t->pdfView);
        m_out += ",\"qaView\":";
        num(t->qaView);
        m_out += ",\"status\":";
        num(t->status);
        m_out += ",\"type\":";
        num(t->type);
        m_out += '}';
    }

    void room(const std::shared_ptr<_RoomItem>& r) {
        if (!r) {
            FLOG(FLOG_ERROR, "room item is empty.");
            m_out += "{}";
            return;
        }
        m_out += "{\"ableClose\":";
        boolean(r->ableClose);
        m_out += ",\"ableCode\":";
        boolean(r->ableCode);
        m_out += ",\"ableEdit\":";
        boolean(r->ableEdit);
        m_out += ",\"ableLogin\":";
        boolean(r->ableLogin);
        m_out += ",\"ableMonitor\":";
        boolean(r->ableMonitor);
        m_out += ",\"assistantPass\":";
        str(r->assistantPass);
        m_out += ",\"atlasRoomId\":";
        str(r->atlasRoomId);
        m_out += ",\"authType\":";
        num(r->authType);
        m_out += ",\"barrage\":";
        num(r->barrage);
        m_out += ",\"checkUrl\":";
        str(r->checkUrl);
        m_out += ",\"clientDocPermissions\":";
        num(r->clientDocPermissions);
        m_out += ",\"close\":";
        boolean(r->close);
        m_out += ",\"delayTime\":";
        num(r->delayTime);
        m_out += ",\"desc\":";
        str(r->desc);
        m_out += ",\"dvr\":";
        num(r->dvr);
        m_out += ",\"encryptId\":";
        str(r->encryptId);
        m_out += ",\"encryptUserId\":";
        str(r->encryptUserId);
        m_out += ",\"encryptWarmVideoId\":";
        str(r->encryptWarmVideoId);
        m_out += ",\"escapeHTMLDesc\":";
        str(r->escapeHTMLDesc);
        m_out += ",\"escapeHTMLName\":";
        str(r->escapeHTMLName);
        m_out += ",\"foreignPublish\":";
        num(r->foreignPublish);
        m_out += ",\"freeAuth\":";
        boolean(r->freeAuth);
        m_out += ",\"hasWarmVideoId\":";
        boolean(r->hasWarmVideoId);
        m_out += ",\"id\":";
        num(r->id);
        m_out += ",\"manuallyRecordMode\":";
        num(r->manuallyRecordMode);
        m_out += ",\"name\":";
        str(r->name);
        m_out += ",\"openHostMode\":";
        boolean(r->openHostMode);
        m_out += ",\"openLowDelayMode\":";
        boolean(r->openLowDelayMode);
        m_out += ",\"playPass\":";
        str(r->playPass);
        m_out += ",\"publisherPass\":";
        str(r->publisherPass);
        m_out += ",\"showUserCount\":";
        num(r->showUserCount);
        m_out += ",\"status\":";
        num(r->status);
        m_out += ",\"templateType\":";
        num(r->templateType);
        m_out += ",\"userId\":";
        num(r->userId);
        m_out += ",\"warmVideoId\":";
        num(r->warmVideoId);
        m_out += '}';
    }

    // Writes one array; records that are empty are logged and left m_out.
    template <typename Item, typename Fn>
    void array(const QList<std::shared_ptr<Item>>& list, const char* emptyLine, Fn fn) {
        m_out += '[';
        bool first = true;
        for (const std::shared_ptr<Item>& item : list) {
            if (!item) {
                flog_log(FLOG_ERROR, "[%s:%d]%s", FLOG_SOURCE, __LINE__, emptyLine);
                continue;
            }
            if (!first) {
                m_out += ',';
            }
            first = false;
            fn(*item);
        }
        m_out += ']';
    }

    void meta(const std::shared_ptr<_MetaItem>& m) {
        if (!m) {
            FLOG(FLOG_ERROR, "meta item is empty.");
            m_out += "{}";
            return;
        }
        // Built in the reader's order so that logs come in the same order as the record writers give;
        // the arrays are then joined in ascending key order.
        const int start = m_out.size();
        m_out += "{\"draw\":";
        array(m->draw, "draw item is empty.", [this](const _DrawItem& d) { draw(d); });
        const int drawEnd = m_out.size();
        m_out += ",\"pageChange\":";
        array(m->pageChange, "pageChange item is empty.",
              [this](const _PageChangeItem& p) { pageChange(p); });
        const int pageEnd = m_out.size();
        m_out += ",\"chatLog\":";
        array(m->chatLog, "chatLog item is empty.", [this](const _ChatLogItem& c) { chatLog(c); });
        const int chatEnd = m_out.size();
        m_out += ",\"question\":";
        array(m->question, "question item is empty.", [this](const _QuestionItem& q) { question(q); });
        const int questionEnd = m_out.size();
        m_out += ",\"answer\":";
        array(m->answer, "answer item is empty.", [this](const _AnswerItem& a) { answer(a); });
        const int answerEnd = m_out.size();
        m_out += ",\"animation\":";
        array(m->animation, "animation item is empty.", [this](const _AnimationItem& a) { animation(a); });
        const int animationEnd = m_out.size();

        // Pieces without their leading "{" or ",": "key":[...]
        auto piece = [&](int from, int to) {
            return QByteArray(m_out.constData() + from + 1, to - from - 1);
        };
        const QByteArray drawPart = piece(start, drawEnd);
        const QByteArray pagePart = piece(drawEnd, pageEnd);
        const QByteArray chatPart = piece(pageEnd, chatEnd);
        const QByteArray questionPart = piece(chatEnd, questionEnd);
        const QByteArray answerPart = piece(questionEnd, answerEnd);
        const QByteArray animationPart = piece(answerEnd, animationEnd);
        m_out.truncate(start);
        m_out += '{';
        m_out += animationPart;
        m_out += ',';
        m_out += answerPart;
        m_out += ',';
        m_out += chatPart;
        m_out += ',';
        m_out += drawPart;
        m_out += ',';
        m_out += pagePart;
        m_out += ',';
        m_out += questionPart;
        m_out += '}';
    }

    void draw(const _DrawItem& d) {
        m_out += "{\"data\":";
        // The "data" text is itself compact JSON, then escaped as a string.
        if (!m_inner) {
            m_inner.reset(new DocumentWriter);
        }
        m_inner->m_out.resize(0);
        m_inner->drawData(d.data);
        jsonTextAsString(m_inner->m_out);
        m_out += ",\"docName\":";
        str(d.docName);
        m_out += ",\"pageNum\":";
        num(d.pageNum);
        m_out += ",\"time\":";
        num(d.time / 1000);
        m_out += '}';
    }

    // Fixed-point text of a coordinate. The C library gives the same correctly rounded digits as the
    // toolkit for ordinary values at a fraction of the cost; zero and non-finite values keep the
    // toolkit's spelling.
    void fixedStr(double v, int decimals) {
        m_out += '"';
        if (v != 0.0 && std::isfinite(v)) {
            char buf[64];
            const int n = snprintf(buf, sizeof(buf), "%.*f", decimals, v);
            if (n > 0 && n < int(sizeof(buf))) {
                m_out.append(buf, n);
            } else {
                m_out += QByteArray::number(v, 'f', decimals);
            }
        } else {
            m_out += QByteArray::number(v, 'f', decimals);
        }
        m_out += '"';
    }

    void drawData(const _DrawData& d) {
        m_out += "{\"alpha\":";
        num(d.alpha);
        m_out += ",\"color\":";
        num(d.color);
        m_out += ",\"docid\":";
        str(d.docid);
        m_out += ",\"draw\":";
        const QRectF& r = d.rect;
        if (d.type == 4) {
            m_out += "{\"heightRadius\":";
            fixedStr(r.height(), 6);
            m_out += ",\"widthRadius\":";
            fixedStr(r.width(), 6);
            m_out += ",\"x\":";
            fixedStr(r.x(), 6);
            m_out += ",\"y\":";
            fixedStr(r.y(), 6);
            m_out += '}';
        } else if (d.type == 3) {
            m_out += "{\"height\":";
            fixedStr(r.height(), 4);
            m_out += ",\"width\":";
            fixedStr(r.width(), 4);
            m_out += ",\"x\":";
            fixedStr(r.x(), 4);
            m_out += ",\"y\":";
            fixedStr(r.y(), 4);
            m_out += '}';
        } else if (d.type == 5) {
            m_out += "{\"height\":";
            fixedStr(r.height(), 6);
            m_out += ",\"label\":";
            str(d.label);
            m_out += ",\"size\":";
            num(d.size);
            m_out += ",\"width\":";
            fixedStr(r.width(), 6);
            m_out += ",\"x\":";
            fixedStr(r.x(), 6);
            m_out += ",\"y\":";
            fixedStr(r.y(), 6);
            m_out += '}';
        } else if (d.type == 0) {
            m_out += "{}";
        } else {
            m_out += '[';
            for (int i = 0; i < d.points.size(); ++i) {
                m_out += i ? ",{\"x\":" : "{\"x\":";
                fixedStr(d.points[i].x(), 6);
                m_out += ",\"y\":";
                fixedStr(d.points[i].y(), 6);
                m_out += '}';
            }
            m_out += ']';
        }
        if (d.type != 0) {
            m_out += ",\"drawid\":";
            str(d.drawid);
            m_out += ",\"drawtime\":";
            num(d.drawtime);
            m_out += ",\"height\":";
            num(d.height);
        }
        m_out += ",\"page\":";
        if (pageIsText(d.type)) {
            plainStr(QString::number(d.page));
        } else {
            num(d.page);
        }
        m_out += ",\"thickness\":";
        num(d.thickness);
        m_out += ",\"type\":";
        num(d.type);
        if (d.type != 0) {
            m_out += ",\"width\":";
            num(d.width);
        }
        m_out += '}';
    }

    void pageChange(const _PageChangeItem& p) {
        m_out += "{\"docId\":";
        str(p.docId);
        m_out += ",\"docName\":";
        str(p.docName);
        m_out += ",\"docTotalPage\":";
        num(p.docTotalPage);
        m_out += ",\"encryptDocId\":";
        str(p.encryptDocId);
        m_out += ",\"height\":";
        num(p.height);
        m_out += ",\"mode\":";
        num(p.mode);
        m_out += ",\"pageNum\":";
        num(p.pageNum);
        m_out += ",\"pageTitle\":";
        str(p.pageTitle);
        m_out += ",\"serverTime\":";
        clock(p.serverTime);
        m_out += ",\"time\":";
        num(p.time / 1000);
        m_out += ",\"url\":";
        str(p.url);
        m_out += ",\"useSDK\":";
        boolean(p.useSDK);
        m_out += ",\"width\":";
        num(p.width);
        m_out += '}';
        logPageChange(p);
    }

    void chatLog(const _ChatLogItem& c) {
        m_out += "{\"content\":";
        str(c.content);
        m_out += ",\"time\":";
        num(c.time / 1000);
        m_out += ",\"userAvatar\":";
        str(c.userAvatar);
        m_out += ",\"userCustomMark\":";
        str(c.userCustomMark);
        m_out += ",\"userId\":";
        str(c.userId);
        m_out += ",\"userName\":";
        str(c.userName);
        m_out += ",\"userRole\":";
        str(c.userRole);
        m_out += '}';
    }

    void question(const _QuestionItem& q) {
        m_out += "{\"content\":";
        str(q.content);
        m_out += ",\"encryptId\":";
        str(q.encryptId);
        m_out += ",\"id\":";
        num(idNumber(q.id));
        m_out += ",\"isPublish\":";
        num(q.isPublish);
        m_out += ",\"questionUserAvatar\":";
        str(q.questionUserAvatar);
        m_out += ",\"questionUserId\":";
        str(q.questionUserId);
        m_out += ",\"questionUserName\":";
        str(q.questionUserName);
        m_out += ",\"time\":";
        num(q.time / 1000);
        m_out += ",\"triggerTime\":";
        str(q.triggerTime);
        m_out += '}';
    }

    void answer(const _AnswerItem& a) {
        m_out += "{\"answerUserAvatar\":";
        str(a.answerUserAvatar);
        m_out += ",\"answerUserId\":";
        str(a.answerUserId);
        m_out += ",\"answerUserName\":";
        str(a.answerUserName);
        m_out += ",\"answerUserRole\":";
        str(a.answerUserRole);
        m_out += ",\"content\":";
        str(a.content);
        m_out += ",\"encryptId\":";
        str(a.encryptId);
        m_out += ",\"id\":";
        num(idNumber(a.id));
        m_out += ",\"isPrivate\":";
        num(a.isPrivate);
        m_out += ",\"time\":";
        num(a.time / 1000);
        m_out += ",\"triggerTime\":";
        str(a.triggerTime);
        m_out += '}';
    }

    void animation(const _AnimationItem& a) {
        m_out += "{\"docId\":";
        str(a.docId);
        m_out += ",\"docTotalPage\":";
        num(a.docTotalPage);
        m_out += ",\"encryptDocId\":";
        str(a.encryptDocId);
        m_out += ",\"pageNum\":";
        num(a.pageNum);
        m_out += ",\"step\":";
        num(a.step);
        m_out += ",\"time\":";
        num(a.time / 1000);
        m_out += '}';
        qDebug().noquote() << "docId" << a.docId;
    }
};
}  // namespace

// ---------------------------------------------------------------------------------------------
// Reading

std::shared_ptr<_RootItem> JsonResourceParse::parseFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        FLOG(FLOG_ERROR, "can't open file:%s", path.toUtf8().constData());
        return {};
    }
    // Mapping avoids holding a second full copy of a large document while it is parsed; devices that
    // cannot be mapped (empty files, pipes) are read instead.
    const qint64 size = file.size();
    if (size > 0 && size <= qint64(std::numeric_limits<int>::max())) {
        if (uchar* mapped = file.map(0, size)) {
            const QByteArray bytes =
                QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), int(size));
            std::shared_ptr<_RootItem> root = parseBytes(bytes);
            file.unmap(mapped);
            file.close();
            return root;
        }
    }
    const QByteArray bytes = file.readAll();
    file.close();
    return parseBytes(bytes);
}

std::shared_ptr<_RootItem> JsonResourceParse::parseBytes(const QByteArray& bytes) {
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (document.isNull()) {
        FLOG(FLOG_ERROR, "parse json file is fial.");
        return {};
    }
    // A top-level array reads as an empty object.
    const QJsonObject top = document.object();
    auto root = std::make_shared<_RootItem>();
    root->msg = toStr(top.value(L("msg")));
    root->success = toBool(top.value(L("success")));
    root->datas = parseDatasItem(top.value(L("datas")).toObject());
    return root;
}

std::shared_ptr<_DatasItem> JsonResourceParse::parseDatasItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to DatasItem is fail.");
        return {};
    }
    auto item = std::make_shared<_DatasItem>();
    item->template_item = parseTemplateItem(object.value(L("template")).toObject());
    item->meta_item = parseMetaItem(object.value(L("meta")).toObject());
    item->room_item = parseRoomItem(object.value(L("room")).toObject());
    if (item->meta_item) {
        // Equal times keep the file's order.
        auto& pages = item->meta_item->pageChange;
        std::stable_sort(pages.begin(), pages.end(),
                         [](const std::shared_ptr<_PageChangeItem>& a,
                            const std::shared_ptr<_PageChangeItem>& b) { return a->time < b->time; });
    }
    return item;
}

std::shared_ptr<_TemplateItem> JsonResourceParse::parseTemplateItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to TemplateItem is fail.");
        return {};
    }
    auto item = std::make_shared<_TemplateItem>();
    item->id = toInt16(object.value(L("id")));
    item->type = toInt16(object.value(L("type")));
    item->status = toInt16(object.value(L("status")));
    item->pdfView = toInt16(object.value(L("pdfView")));
    item->chatView = toInt16(object.value(L("chatView")));
    item->qaView = toInt16(object.value(L("qaView")));
    item->name = toStr(object.value(L("name")));
    item->desc = toStr(object.value(L("desc")));
    item->iconPath = toStr(object.value(L("iconPath")));
    return item;
}

std::shared_ptr<_RoomItem> JsonResourceParse::parseRoomItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to RoomItem is fail.");
        return {};
    }
    auto item = std::make_shared<_RoomItem>();
    item->ableCode = toBool(object.value(L("ableCode")));
    item->ableEdit = toBool(object.value(L("ableEdit")));
    item->ableMonitor = toBool(object.value(L("ableMonitor")));
    item->ableClose = toBool(object.value(L("ableClose")));
    item->close = toBool(object.value(L("close")));
    item->ableLogin = toBool(object.value(L("ableLogin")));
    item->hasWarmVideoId = toBool(object.value(L("hasWarmVideoId")));
    item->openHostMode = toBool(object.value(L("openHostMode")));
    item->openLowDelayMode = toBool(object.value(L("openLowDelayMode")));
    item->freeAuth = toBool(object.value(L("freeAuth")));

    item->id = toInt16(object.value(L("id")));
    item->manuallyRecordMode = toInt16(object.value(L("manuallyRecordMode")));
    item->status = toInt16(object.value(L("status")));
    item->authType = toInt16(object.value(L("authType")));
    item->userId = toInt16(object.value(L("userId")));
    item->barrage = toInt16(object.value(L("barrage")));
    item->templateType = toInt16(object.value(L("templateType")));
    item->warmVideoId = toInt16(object.value(L("warmVideoId")));
    item->delayTime = toInt16(object.value(L("delayTime")));
    item->showUserCount = toInt16(object.value(L("showUserCount")));
    item->foreignPublish = toInt16(object.value(L("foreignPublish")));
    item->dvr = toInt16(object.value(L("dvr")));
    item->clientDocPermissions = toInt16(object.value(L("clientDocPermissions")));

    item->name = toStr(object.value(L("name")));
    item->desc = toStr(object.value(L("desc")));
    item->encryptId = toStr(object.value(L("encryptId")));
    item->encryptUserId = toStr(object.value(L("encryptUserId")));
    item->publisherPass = toStr(object.value(L("publisherPass")));
    item->playPass = toStr(object.value(L("playPass")));
    item->assistantPass = toStr(object.value(L("assistantPass")));
    item->checkUrl = toStr(object.value(L("checkUrl")));
    item->encryptWarmVideoId = toStr(object.value(L("encryptWarmVideoId")));
    item->escapeHTMLName = toStr(object.value(L("escapeHTMLName")));
    item->escapeHTMLDesc = toStr(object.value(L("escapeHTMLDesc")));
    item->atlasRoomId = toStr(object.value(L("atlasRoomId")));
    return item;
}

std::shared_ptr<_MetaItem> JsonResourceParse::parseMetaItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to MetaItem is fail.");
        return {};
    }
    auto item = std::make_shared<_MetaItem>();
    readEvents(object, "draw", item->draw, &JsonResourceParse::parseDrawItem);
    readEvents(object, "pageChange", item->pageChange, &JsonResourceParse::parsePageChangeItem);
    readEvents(object, "chatLog", item->chatLog, &JsonResourceParse::parseChatLogItem);
    readEvents(object, "question", item->question, &JsonResourceParse::parseQuestionItem);
    readEvents(object, "answer", item->answer, &JsonResourceParse::parseAnswerItem);
    readEvents(object, "animation", item->animation, &JsonResourceParse::parseAnimationItem);
    return item;
}

std::shared_ptr<_DrawItem> JsonResourceParse::parseDrawItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to DrawItem is fail.");
        return {};
    }
    auto item = std::make_shared<_DrawItem>();
    item->time = toSec(object.value(L("time")));
    item->docName = toStr(object.value(L("docName")));
    item->pageNum = toInt16(object.value(L("pageNum")));
    // "data" is a JSON text of its own; anything that is not an object keeps the defaults.
    const QJsonValue dataValue = object.value(L("data"));
    if (dataValue.isString()) {
        const QJsonObject data = parseDocumentObject(dataValue.toString().toUtf8());
        if (!data.isEmpty()) {
            readDrawData(data, item->data);
        }
    }
    return item;
}

std::shared_ptr<_PageChangeItem> JsonResourceParse::parsePageChangeItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to PageChangeItem is fail.");
        return {};
    }
    auto item = std::make_shared<_PageChangeItem>();
    item->time = toSec(object.value(L("time")));
    item->url = toStr(object.value(L("url")));
    item->docId = toStr(object.value(L("docId")));
    item->docName = toStr(object.value(L("docName")));
    item->docTotalPage = toInt16(object.value(L("docTotalPage")));
    item->pageNum = toInt16(object.value(L("pageNum")));
    item->encryptDocId = toStr(object.value(L("encryptDocId")));
    item->useSDK = toBool(object.value(L("useSDK")));
    item->width = toInt16(object.value(L("width")));
    item->height = toInt16(object.value(L("height")));
    item->mode = toInt32(object.value(L("mode")));
    item->pageTitle = toStr(object.value(L("pageTitle")));
    item->serverTime = toServerTime(object.value(L("serverTime")));
    return item;
}

std::shared_ptr<_ChatLogItem> JsonResourceParse::parseChatLogItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to ChatLogItem is fail.");
        return {};
    }
    auto item = std::make_shared<_ChatLogItem>();
    item->content = toStr(object.value(L("content")));
    item->userName = toStr(object.value(L("userName")));
    item->userId = toStr(object.value(L("userId")));
    item->userAvatar = toStr(object.value(L("userAvatar")));
    item->userRole = toStr(object.value(L("userRole")));
    item->userCustomMark = toStr(object.value(L("userCustomMark")));
    item->time = toSec(object.value(L("time")));
    return item;
}

std::shared_ptr<_QuestionItem> JsonResourceParse::parseQuestionItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to QuestionItem is fail.");
        return {};
    }
    auto item = std::make_shared<_QuestionItem>();
    item->id = idText(object.value(L("id")));
    item->content = toStr(object.value(L("content")));
    item->encryptId = toStr(object.value(L("encryptId")));
    item->triggerTime = toStr(object.value(L("triggerTime")));
    item->questionUserId = toStr(object.value(L("questionUserId")));
    item->questionUserName = toStr(object.value(L("questionUserName")));
    item->questionUserAvatar = toStr(object.value(L("questionUserAvatar")));
    item->time = toSec(object.value(L("time")));
    item->isPublish = toInt16(object.value(L("isPublish")));
    return item;
}

std::shared_ptr<_AnswerItem> JsonResourceParse::parseAnswerItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to AnswerItem is fail.");
        return {};
    }
    auto item = std::make_shared<_AnswerItem>();
    item->id = idText(object.value(L("id")));
    item->content = toStr(object.value(L("content")));
    item->encryptId = toStr(object.value(L("encryptId")));
    item->triggerTime = toStr(object.value(L("triggerTime")));
    item->answerUserId = toStr(object.value(L("answerUserId")));
    item->answerUserName = toStr(object.value(L("answerUserName")));
    item->answerUserAvatar = toStr(object.value(L("answerUserAvatar")));
    item->answerUserRole = toStr(object.value(L("answerUserRole")));
    item->time = toSec(object.value(L("time")));
    item->isPrivate = toInt16(object.value(L("isPrivate")));
    return item;
}

std::shared_ptr<_AnimationItem> JsonResourceParse::parseAnimationItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to AnimationItem is fail.");
        return {};
    }
    auto item = std::make_shared<_AnimationItem>();
    item->docId = toStr(object.value(L("docId")));
    item->encryptDocId = toStr(object.value(L("encryptDocId")));
    item->docTotalPage = toInt16(object.value(L("docTotalPage")));
    item->pageNum = toInt16(object.value(L("pageNum")));
    item->step = toInt16(object.value(L("step")));
    item->time = toSec(object.value(L("time")));
    return item;
}

// ---------------------------------------------------------------------------------------------
// Writing

bool JsonResourceParse::saveFile(std::shared_ptr<_RootItem> root, const QString& path) {
    if (!root) {
        FLOG(FLOG_ERROR, "root item is empty.");
        return false;
    }
    FLOG(FLOG_ERROR, "dir=%s \nfile_name=%s\n", QDir::currentPath().toUtf8().constData(),
         path.toUtf8().constData());

    // The document is written beside its final name and moved there only once it is complete, so a
    // failed or interrupted write never leaves a truncated meta.json to be packed. Unbuffered, because
    // a buffered device hides a short write (full disk) and would report success.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        FLOG(FLOG_ERROR, "can't open file:%s", path.toUtf8().constData());
        return false;
    }

    DocumentWriter writer;
    writer.root(*root);
    const QByteArray& bytes = writer.m_out;

    if (file.write(bytes) != bytes.size() || !file.commit()) {
        FLOG(FLOG_ERROR, "can't write file:%s", path.toUtf8().constData());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool JsonResourceParse::datasItemToJson(std::shared_ptr<_DatasItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "datas item is empty.");
        return false;
    }
    QJsonObject templateObject;
    templateItemToJson(item->template_item, templateObject);
    object.insert(L("template"), templateObject);

    QJsonObject metaObject;
    metaItemToJson(item->meta_item, metaObject);
    object.insert(L("meta"), metaObject);

    QJsonObject roomObject;
    roomItemToJson(item->room_item, roomObject);
    object.insert(L("room"), roomObject);
    return true;
}

bool JsonResourceParse::templateItemToJson(std::shared_ptr<_TemplateItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "template item is empty.");
        return false;
    }
    object.insert(L("name"), item->name);
    object.insert(L("desc"), item->desc);
    object.insert(L("iconPath"), item->iconPath);
    object.insert(L("id"), int(item->id));
    object.insert(L("type"), int(item->type));
    object.insert(L("status"), int(item->status));
    object.insert(L("pdfView"), int(item->pdfView));
    object.insert(L("chatView"), int(item->chatView));
    object.insert(L("qaView"), int(item->qaView));
    return true;
}

bool JsonResourceParse::roomItemToJson(std::shared_ptr<_RoomItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "room item is empty.");
        return false;
    }
    object.insert(L("ableCode"), item->ableCode);
    object.insert(L("ableEdit"), item->ableEdit);
    object.insert(L("ableMonitor"), item->ableMonitor);
    object.insert(L("ableClose"), item->ableClose);
    object.insert(L("close"), item->close);
    object.insert(L("ableLogin"), item->ableLogin);
    object.insert(L("hasWarmVideoId"), item->hasWarmVideoId);
    object.insert(L("openHostMode"), item->openHostMode);
    object.insert(L("openLowDelayMode"), item->openLowDelayMode);
    object.insert(L("freeAuth"), item->freeAuth);

    object.insert(L("id"), int(item->id));
    object.insert(L("manuallyRecordMode"), int(item->manuallyRecordMode));
    object.insert(L("status"), int(item->status));
    object.insert(L("authType"), int(item->authType));
    object.insert(L("userId"), int(item->userId));
    object.insert(L("barrage"), int(item->barrage));
    object.insert(L("templateType"), int(item->templateType));
    object.insert(L("warmVideoId"), int(item->warmVideoId));
    object.insert(L("delayTime"), int(item->delayTime));
    object.insert(L("showUserCount"), int(item->showUserCount));
    object.insert(L("foreignPublish"), int(item->foreignPublish));
    object.insert(L("dvr"), int(item->dvr));
    object.insert(L("clientDocPermissions"), int(item->clientDocPermissions));

    object.insert(L("name"), item->name);
    object.insert(L("desc"), item->desc);
    object.insert(L("encryptId"), item->encryptId);
    object.insert(L("encryptUserId"), item->encryptUserId);
    object.insert(L("publisherPass"), item->publisherPass);
    object.insert(L("playPass"), item->playPass);
    object.insert(L("assistantPass"), item->assistantPass);
    object.insert(L("checkUrl"), item->checkUrl);
    object.insert(L("encryptWarmVideoId"), item->encryptWarmVideoId);
    object.insert(L("escapeHTMLName"), item->escapeHTMLName);
    object.insert(L("escapeHTMLDesc"), item->escapeHTMLDesc);
    object.insert(L("atlasRoomId"), item->atlasRoomId);
    return true;
}

bool JsonResourceParse::metaItemToJson(std::shared_ptr<_MetaItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "meta item is empty.");
        return false;
    }
    object.insert(L("draw"), writeEvents(item->draw, &JsonResourceParse::drawItemToJson));
    object.insert(L("pageChange"), writeEvents(item->pageChange, &JsonResourceParse::pageChangeItemToJson));
    object.insert(L("chatLog"), writeEvents(item->chatLog, &JsonResourceParse::chatLogItemToJson));
    object.insert(L("question"), writeEvents(item->question, &JsonResourceParse::questionItemToJson));
    object.insert(L("answer"), writeEvents(item->answer, &JsonResourceParse::answerItemToJson));
    object.insert(L("animation"),
                  writeEvents(item->animation, [](const std::shared_ptr<_AnimationItem>& a, QJsonObject& o) {
                      if (!animationItemToJson(a, o)) {
                          return false;
                      }
                      qDebug().noquote() << "docId" << a->docId;
                      return true;
                  }));
    return true;
}

bool JsonResourceParse::drawItemToJson(std::shared_ptr<_DrawItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "draw item is empty.");
        return false;
    }
    object.insert(L("time"), item->time / 1000);
    object.insert(L("docName"), item->docName);
    object.insert(L("pageNum"), int(item->pageNum));
    object.insert(L("data"), compact(writeDrawData(item->data)));
    return true;
}

bool JsonResourceParse::pageChangeItemToJson(std::shared_ptr<_PageChangeItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "pageChange item is empty.");
        return false;
    }
    object.insert(L("time"), item->time / 1000);
    object.insert(L("docTotalPage"), int(item->docTotalPage));
    object.insert(L("pageNum"), int(item->pageNum));
    object.insert(L("width"), int(item->width));
    object.insert(L("height"), int(item->height));
    object.insert(L("mode"), int(item->mode));
    object.insert(L("url"), item->url);
    object.insert(L("docId"), item->docId);
    object.insert(L("docName"), item->docName);
    object.insert(L("encryptDocId"), item->encryptDocId);
    object.insert(L("pageTitle"), item->pageTitle);
    object.insert(L("useSDK"), item->useSDK);
    object.insert(L("serverTime"), QJsonValue(item->serverTime));

    logPageChange(*item);
    return true;
}

bool JsonResourceParse::chatLogItemToJson(std::shared_ptr<_ChatLogItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "chatLog item is empty.");
        return false;
    }
    object.insert(L("time"), item->time / 1000);
    object.insert(L("content"), item->content);
    object.insert(L("userName"), item->userName);
    object.insert(L("userId"), item->userId);
    object.insert(L("userAvatar"), item->userAvatar);
    object.insert(L("userRole"), item->userRole);
    object.insert(L("userCustomMark"), item->userCustomMark);
    return true;
}

bool JsonResourceParse::questionItemToJson(std::shared_ptr<_QuestionItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "question item is empty.");
        return false;
    }
    object.insert(L("id"), idNumber(item->id));
    object.insert(L("time"), item->time / 1000);
    object.insert(L("isPublish"), int(item->isPublish));
    object.insert(L("content"), item->content);
    object.insert(L("encryptId"), item->encryptId);
    object.insert(L("triggerTime"), item->triggerTime);
    object.insert(L("questionUserId"), item->questionUserId);
    object.insert(L("questionUserName"), item->questionUserName);
    object.insert(L("questionUserAvatar"), item->questionUserAvatar);
    return true;
}

bool JsonResourceParse::answerItemToJson(std::shared_ptr<_AnswerItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "answer item is empty.");
        return false;
    }
    object.insert(L("id"), idNumber(item->id));
    object.insert(L("time"), item->time / 1000);
    object.insert(L("isPrivate"), int(item->isPrivate));
    object.insert(L("content"), item->content);
    object.insert(L("encryptId"), item->encryptId);
    object.insert(L("triggerTime"), item->triggerTime);
    object.insert(L("answerUserId"), item->answerUserId);
    object.insert(L("answerUserName"), item->answerUserName);
    object.insert(L("answerUserAvatar"), item->answerUserAvatar);
    object.insert(L("answerUserRole"), item->answerUserRole);
    return true;
}

bool JsonResourceParse::animationItemToJson(std::shared_ptr<_AnimationItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "animation item is empty.");
        return false;
    }
    object.insert(L("time"), item->time / 1000);
    object.insert(L("docTotalPage"), int(item->docTotalPage));
    object.insert(L("pageNum"), int(item->pageNum));
    object.insert(L("step"), int(item->step));
    object.insert(L("docId"), item->docId);
    object.insert(L("encryptDocId"), item->encryptDocId);
    return true;
}
