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
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <limits>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include "FLog.h"

namespace {

using L = QLatin1String;

// A JSON number that is a whole value representable in 32 bits; anything else is 0.
qint32 int32Of(double d) {
    if (!std::isfinite(d) || std::trunc(d) != d || d < double(std::numeric_limits<qint32>::min()) ||
        d > double(std::numeric_limits<qint32>::max())) {
        return 0;
    }
    return qint32(d);
}

qint32 toInt32(const QJsonValue& v) {
    return v.isDouble() ? int32Of(v.toDouble()) : 0;
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
qint32 secOf(qint32 seconds) {
    const qint64 ms = qint64(seconds) * 1000;
    return qint32(qBound<qint64>(std::numeric_limits<qint32>::min(), ms, std::numeric_limits<qint32>::max()));
}

qint32 toSec(const QJsonValue& v) {
    return secOf(toInt32(v));
}

// A decimal number held in a JSON string, in single precision. Non-finite values would poison the
// geometry of the views, so they count as not a number.
double numTextOf(const QString& text) {
    bool ok = false;
    const float f = text.toFloat(&ok);
    if (!ok || !std::isfinite(f)) {
        return 0.0;
    }
    return double(f);
}

double toNumText(const QJsonValue& v) {
    return v.isString() ? numTextOf(v.toString()) : 0.0;
}

// The clock value goes through fixed-point text so that it is rounded to a whole number and values
// outside the 64-bit range give 0 instead of an undefined conversion.
qint64 serverTimeOf(double d) {
    bool ok = false;
    const qint64 n = QString::number(d, 'f', 0).toLongLong(&ok, 10);
    return ok ? n : 0;
}

qint64 toServerTime(const QJsonValue& v) {
    return serverTimeOf(v.isDouble() ? v.toDouble() : 0.0);
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

// Equal times keep the file's order.
void sortPageChanges(QList<std::shared_ptr<_PageChangeItem>>& pages) {
    std::stable_sort(pages.begin(), pages.end(),
                     [](const std::shared_ptr<_PageChangeItem>& a,
                        const std::shared_ptr<_PageChangeItem>& b) { return a->time < b->time; });
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

// Growing byte buffer for the writer. QByteArray's append goes through an out-of-line call with
// its sharing checks for every small piece, which was a large share of the time of a long class.
class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() { std::free(m_data); }

    int size() const { return int(m_size); }
    const char* constData() const { return m_data; }
    void truncate(int n) { m_size = size_t(n); }

    // Space for at least n more bytes; write through the pointer, then call commit.
    char* tail(size_t n) {
        if (m_size + n > m_capacity) {
            grow(m_size + n);
        }
        return m_data + m_size;
    }
    void commit(const char* end) { m_size = size_t(end - m_data); }

    void append(const char* s, int n) {
        std::memcpy(tail(size_t(n)), s, size_t(n));
        m_size += size_t(n);
    }
    // String literals only: their length is known at compile time.
    template <size_t N>
    TextBuffer& operator+=(const char (&s)[N]) {
        append(s, int(N - 1));
        return *this;
    }
    TextBuffer& operator+=(char c) {
        *tail(1) = c;
        ++m_size;
        return *this;
    }
    TextBuffer& operator+=(const QByteArray& b) {
        append(b.constData(), b.size());
        return *this;
    }

private:
    void grow(size_t need) {
        size_t capacity = m_capacity < 4096 ? 4096 : m_capacity * 2;
        while (capacity < need) {
            capacity *= 2;
        }
        char* data = static_cast<char*>(std::realloc(m_data, capacity));
        Q_CHECK_PTR(data);
        m_data = data;
        m_capacity = capacity;
    }

    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// Decimal text of an integer into out (at least 20 bytes); returns the end.
char* writeInteger(char* out, qint64 v) {
    char digits[20];
    int n = 0;
    quint64 u = v < 0 ? quint64(0) - quint64(v) : quint64(v);
    do {
        digits[n++] = char('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) {
        *out++ = '-';
    }
    while (n > 0) {
        *out++ = digits[--n];
    }
    return out;
}

// Fixed-point text of v with 1 to 6 decimals, correctly rounded from the exact binary value, as the
// toolkit writes it. Returns the end, or nullptr when the toolkit's own formatting must decide:
// zero (its sign), non-finite and very large or tiny values, results that round to zero (sign of
// "-0.000000") and exact ties (the toolkit rounds them away from zero, the C library to even).
char* writeFixed(char* out, double v, int decimals) {
    const double a = std::fabs(v);
    if (!(a >= 1e-7 && a < 1e9) || decimals < 1 || decimals > 6) {
        return nullptr;
    }
    static const quint64 kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    int exponent = 0;
    const double fraction = std::frexp(a, &exponent);  // a = fraction * 2^exponent, fraction in [0.5, 1)
    const quint64 mantissa = quint64(std::ldexp(fraction, 53));
    const int shift = 53 - exponent;  // a = mantissa * 2^-shift; 23 <= shift <= 77 in this range
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * kPow10[decimals];
    unsigned __int128 q = scaled >> shift;
    const unsigned __int128 rest = scaled - (q << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rest == half) {
        return nullptr;
    }
    if (rest > half) {
        ++q;
    }
    if (q == 0) {
        return nullptr;
    }
    const quint64 units = quint64(q);
    if (v < 0) {
        *out++ = '-';
    }
    out = writeInteger(out, qint64(units / kPow10[decimals]));
    *out++ = '.';
    quint64 frac = units % kPow10[decimals];
    for (int i = decimals - 1; i >= 0; --i) {
        out[i] = char('0' + frac % 10);
        frac /= 10;
    }
    return out + decimals;
}

// Serializes a whole tree straight into compact JSON text. It produces exactly the bytes that the
// per-record writers below would give through QJsonDocument (keys in the same ascending order, the
// same escaping and number forms), without building a QJsonObject per record, which dominated the
// time of writing a long class.
class DocumentWriter {
public:
    TextBuffer m_out;
    std::unique_ptr<DocumentWriter> m_inner;  // reused buffer for the "data" texts

    // When set, the text goes out to `device` piece by piece between records instead of being
    // held whole (a long class's document is hundreds of megabytes); the first failed write
    // stops the output and is reported by finish().
    void streamTo(QIODevice* device) { m_device = device; }
    static constexpr int kSpillBytes = 4 << 20;
    bool finish() {
        spill(0);
        return !m_failed;
    }

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
    QIODevice* m_device = nullptr;
    bool m_failed = false;

    void spill(int atLeast) {
        if (!m_device || m_out.size() < atLeast) {
            return;
        }
        if (!m_failed && m_device->write(m_out.constData(), m_out.size()) != m_out.size()) {
            m_failed = true;
        }
        m_out.truncate(0);
    }

    static char hex(uint v) { return char(v < 10 ? '0' + v : 'a' + v - 10); }

    // A JSON string as the toolkit writes it: UTF-8, with quote, backslash and control characters
    // escaped and lone surrogates as \u escapes. Written through a pointer into space reserved for
    // the worst case (6 bytes per UTF-16 unit), then trimmed.
    void str(const QString& s) {
        char* w = m_out.tail(size_t(6) * size_t(s.size()) + 2);
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
        m_out.commit(w);
    }

    // Compact JSON text as a string value: it holds no control characters (those are escaped
    // inside it), so only quotes and backslashes need escaping; UTF-8 passes through.
    void jsonTextAsString(const TextBuffer& text) {
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

    // A number as a JSON string ("page" of the shape types).
    void numStr(qint64 v) {
        char* w = m_out.tail(24);
        *w++ = '"';
        w = writeInteger(w, v);
        *w++ = '"';
        m_out.commit(w);
    }

    void num(qint64 v) { m_out.commit(writeInteger(m_out.tail(20), v)); }
    void boolean(bool v) {
        if (v) {
            m_out += "true";
        } else {
            m_out += "false";
        }
    }
    // The 64-bit clock goes out as a JSON double, as QJsonValue keeps it.
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

    // Writes one array; empty records are left out (logMeta reports them).
    template <typename Item, typename Fn>
    void array(const QList<std::shared_ptr<Item>>& list, Fn fn) {
        m_out += '[';
        bool first = true;
        for (const std::shared_ptr<Item>& item : list) {
            if (!item) {
                continue;
            }
            if (!first) {
                m_out += ',';
            }
            first = false;
            fn(*item);
            spill(kSpillBytes);
        }
        m_out += ']';
    }

    template <typename Item, typename Fn>
    static void logArray(const QList<std::shared_ptr<Item>>& list, const char* emptyLine, Fn onItem) {
        for (const std::shared_ptr<Item>& item : list) {
            if (!item) {
                flog_log(FLOG_ERROR, "[%s:%d]%s", FLOG_SOURCE, __LINE__, emptyLine);
            } else {
                onItem(*item);
            }
        }
    }

    // What the record writers log, in their order (draw, pageChange, chatLog, question, answer,
    // animation), so that the text itself can go straight out in ascending key order.
    static void logMeta(const _MetaItem& m) {
        auto nothing = [](const auto&) {};
        logArray(m.draw, "draw item is empty.", nothing);
        logArray(m.pageChange, "pageChange item is empty.",
                 [](const _PageChangeItem& p) { logPageChange(p); });
        logArray(m.chatLog, "chatLog item is empty.", nothing);
        logArray(m.question, "question item is empty.", nothing);
        logArray(m.answer, "answer item is empty.", nothing);
        logArray(m.animation, "animation item is empty.",
                 [](const _AnimationItem& a) { qDebug().noquote() << "docId" << a.docId; });
    }

    void meta(const std::shared_ptr<_MetaItem>& m) {
        if (!m) {
            FLOG(FLOG_ERROR, "meta item is empty.");
            m_out += "{}";
            return;
        }
        logMeta(*m);
        m_out += "{\"animation\":";
        array(m->animation, [this](const _AnimationItem& a) { animation(a); });
        m_out += ",\"answer\":";
        array(m->answer, [this](const _AnswerItem& a) { answer(a); });
        m_out += ",\"chatLog\":";
        array(m->chatLog, [this](const _ChatLogItem& c) { chatLog(c); });
        m_out += ",\"draw\":";
        array(m->draw, [this](const _DrawItem& d) { draw(d); });
        m_out += ",\"pageChange\":";
        array(m->pageChange, [this](const _PageChangeItem& p) { pageChange(p); });
        m_out += ",\"question\":";
        array(m->question, [this](const _QuestionItem& q) { question(q); });
        m_out += '}';
    }

    void draw(const _DrawItem& d) {
        m_out += "{\"data\":";
        // The "data" text is itself compact JSON, then escaped as a string.
        if (!m_inner) {
            m_inner.reset(new DocumentWriter);
        }
        m_inner->m_out.truncate(0);
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

    // Fixed-point text of a coordinate: computed directly for ordinary values, by the toolkit for
    // the cases where its spelling must decide (see writeFixed).
    void fixedStr(double v, int decimals) {
        char* w = m_out.tail(40);
        *w++ = '"';
        if (char* end = writeFixed(w, v, decimals)) {
            *end++ = '"';
            m_out.commit(end);
            return;
        }
        m_out.commit(w);
        m_out += QByteArray::number(v, 'f', decimals);
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
                if (i) {
                    m_out += ',';
                }
                m_out += "{\"x\":";
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
            numStr(d.page);
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
    }
};
// ---------------------------------------------------------------------------------------------
// Fast reading path. A strict single-pass reader that fills the records straight from the text,
// without building the toolkit's document first (which dominated the time of reading a long class
// and parsed every draw "data" text a second time). It accepts only input whose meaning under the
// toolkit's parser is certain: standard JSON, well-formed UTF-8, the standard escapes, moderate
// nesting. Anything else (a byte-order mark, lenient escapes, raw control characters, odd number
// forms, deep nesting, a top-level array, trailing text) makes it give up, and the caller reads the
// same bytes through the toolkit instead, so results and log lines never depend on the path taken.
// Keys are applied in document order, so a repeated key ends with its last value, as in the
// toolkit's objects. Failure lines are collected and logged at the end, in the reference order, by
// the reference readers themselves.

// Texts that repeat across events (document ids and names, user names, avatars, roles, URLs, shape
// ids) share one storage: a text seen recently is handed out again instead of a new copy, which in a
// long class saves most of the per-event string allocations. Direct-mapped with a fixed number of
// slots, so its own size does not grow with the document; texts that never repeat only pass through.
class SharedTexts {
public:
    QString get(const char* s, size_t n) {
        if (n == 0 || n > kMaxLength) {
            return QString::fromUtf8(s, int(n));
        }
        // FNV-1a over the bytes.
        quint32 h = 2166136261u;
        for (size_t i = 0; i < n; ++i) {
            h = (h ^ quint8(s[i])) * 16777619u;
        }
        Slot& slot = m_slots[(h ^ (h >> 15)) & (kSlots - 1)];
        if (slot.bytes.size() != n || std::memcmp(slot.bytes.data(), s, n) != 0) {
            slot.bytes.assign(s, n);
            slot.text = QString::fromUtf8(s, int(n));
        }
        return slot.text;
    }

private:
    static constexpr size_t kSlots = 8192;  // a power of two
    static constexpr size_t kMaxLength = 200;
    struct Slot {
        std::string bytes;
        QString text;
    };
    std::vector<Slot> m_slots = std::vector<Slot>(kSlots);
};

// What the readers of one document share: the repeated texts and scratch space.
struct ReadScratch {
    SharedTexts texts;
    std::vector<QPointF> points;  // the points of one draw event
};

class FastReader {
public:
    enum Kind { Null, False, True, Number, String, Object, Array };

    // One value as found in the text. Strings point into the text; objects and arrays are skipped
    // (and validated) and keep their extent so they can be read again later.
    struct Value {
        Kind kind = Null;
        double number = 0.0;
        const char* begin = nullptr;  // string content, or the whole object/array
        const char* end = nullptr;
        bool escaped = false;
    };

    // Thrown nowhere: every step returns false when the input leaves the accepted subset.
    FastReader(const char* begin, const char* end, ReadScratch* scratch)
        : m_p(begin), m_end(end), m_scratch(scratch) {}

    // For text mapped from a file: the pages already read are handed back to the system while the
    // reading goes on (they are read from the file again should they be needed), so that a long
    // class is not held twice, as text and as records. `begin` must be page-aligned.
    void releaseBehind(const char* begin) { m_released = begin; }

    std::shared_ptr<_RootItem> root(bool* handled);

private:
    static constexpr int kMaxDepth = 200;

    const char* m_p;
    const char* m_end;
    ReadScratch* m_scratch;
    const char* m_released = nullptr;  // start of the mapped text not yet handed back; null: keep all
    int m_depth = 0;
    std::string m_unescaped;  // scratch for strings with escapes
    std::string m_key;        // scratch for keys with escapes
    std::string m_dataText;   // the decoded "data" text of the draw event being read

    struct Key {
        const char* s;
        size_t n;
        bool is(const char* lit, size_t len) const { return n == len && memcmp(s, lit, len) == 0; }
    };
#define KEY(k, lit) (k).is(lit, sizeof(lit) - 1)

    void ws() {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t')) {
            ++m_p;
        }
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool hex4(const char* p, uint* out) const {
        if (m_end - p < 4)
            return false;
        uint v = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hexDigit(p[i]);
            if (d < 0)
                return false;
            v = (v << 4) | uint(d);
        }
        *out = v;
        return true;
    }

    // Length of a well-formed UTF-8 sequence at p (lead byte >= 0x80), 0 when it is not one or when
    // it encodes a character whose handling by the toolkit is not worth relying on (byte-order mark,
    // non-characters).
    size_t utf8Length(const unsigned char* p, const unsigned char* end) const {
        const unsigned c = p[0];
        auto cont = [&](int i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
        if (c >= 0xC2 && c <= 0xDF) {
            return cont(1) ? 2 : 0;
        }
        if (c >= 0xE0 && c <= 0xEF) {
            if (!cont(1) || !cont(2))
                return 0;
            const unsigned u = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            if (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF) || u == 0xFEFF || (u >= 0xFDD0 && u <= 0xFDEF) ||
                (u & 0xFFFE) == 0xFFFE) {
                return 0;
            }
            return 3;
        }
        if (c >= 0xF0 && c <= 0xF4) {
            if (!cont(1) || !cont(2) || !cont(3))
                return 0;
            const unsigned u =
                ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            if (u < 0x10000 || u > 0x10FFFF || (u & 0xFFFE) == 0xFFFE)
                return 0;
            return 4;
        }
        return 0;
    }

    // At the opening quote. Validates and finds the end; content is [*begin, *end).
    bool string(const char** begin, const char** end, bool* escaped) {
        ++m_p;
        *begin = m_p;
        *escaped = false;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_p);
        const unsigned char* const e = reinterpret_cast<const unsigned char*>(m_end);
        while (true) {
#ifdef __SSE2__
            // Sixteen bytes at a time while none is a quote, a backslash, a control or non-ASCII byte
            // (the last two are exactly the bytes below 0x20 as signed values).
            const __m128i quote = _mm_set1_epi8('"');
            const __m128i backslash = _mm_set1_epi8('\\');
            const __m128i space = _mm_set1_epi8(0x20);
            while (e - p >= 16) {
                const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i special =
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)),
                                 _mm_cmplt_epi8(x, space));
                const int mask = _mm_movemask_epi8(special);
                if (mask != 0) {
                    p += __builtin_ctz(unsigned(mask));
                    break;
                }
                p += 16;
            }
#endif
            while (p != e && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') {
                ++p;
            }
            if (p == e)
                return false;
            const unsigned c = *p;
            if (c == '"')
                break;
            if (c < 0x20)
                return false;
            if (c == '\\') {
                *escaped = true;
                if (e - p < 2)
                    return false;
                const char x = char(p[1]);
                if (x == 'u') {
                    uint u = 0;
                    if (!hex4(reinterpret_cast<const char*>(p + 2), &u) || u == 0)
                        return false;
                    p += 6;
                    if (u >= 0xDC00 && u <= 0xDFFF)
                        return false;
                    if (u >= 0xD800 && u <= 0xDBFF) {
                        uint low = 0;
                        if (e - p < 6 || p[0] != '\\' || p[1] != 'u' ||
                            !hex4(reinterpret_cast<const char*>(p + 2), &low) || low < 0xDC00 ||
                            low > 0xDFFF) {
                            return false;
                        }
                        p += 6;
                    }
                } else if (x == '"' || x == '\\' || x == '/' || x == 'b' || x == 'f' || x == 'n' ||
                           x == 'r' || x == 't') {
                    p += 2;
                } else {
                    return false;
                }
                continue;
            }
            const size_t n = utf8Length(p, e);
            if (n == 0)
                return false;
            p += n;
        }
        *end = reinterpret_cast<const char*>(p);
        m_p = *end + 1;
        return true;
    }

    static char* writeUtf8(char* w, uint u) {
        if (u < 0x80) {
            *w++ = char(u);
        } else if (u < 0x800) {
            *w++ = char(0xC0 | (u >> 6));
            *w++ = char(0x80 | (u & 0x3F));
        } else if (u < 0x10000) {
            *w++ = char(0xE0 | (u >> 12));
            *w++ = char(0x80 | ((u >> 6) & 0x3F));
            *w++ = char(0x80 | (u & 0x3F));
        } else {
            *w++ = char(0xF0 | (u >> 18));
            *w++ = char(0x80 | ((u >> 12) & 0x3F));
            *w++ = char(0x80 | ((u >> 6) & 0x3F));
            *w++ = char(0x80 | (u & 0x3F));
        }
        return w;
    }

    // Decodes the escapes of an already validated string into UTF-8.
    static void unescape(const char* p, const char* end, std::string& out) {
        // The decoded text is never longer than its escaped form.
        out.resize(size_t(end - p));
        char* w = &out[0];
        while (p != end) {
            if (*p != '\\') {
                *w++ = *p++;
                continue;
            }
            const char x = p[1];
            p += 2;
            switch (x) {
                case 'b':
                    *w++ = '\b';
                    break;
                case 'f':
                    *w++ = '\f';
                    break;
                case 'n':
                    *w++ = '\n';
                    break;
                case 'r':
                    *w++ = '\r';
                    break;
                case 't':
                    *w++ = '\t';
                    break;
                case 'u': {
                    uint u = 0;
                    for (int i = 0; i < 4; ++i) {
                        u = (u << 4) | uint(hexDigit(p[i]));
                    }
                    p += 4;
                    if (u >= 0xD800 && u <= 0xDBFF) {
                        uint low = 0;
                        for (int i = 0; i < 4; ++i) {
                            low = (low << 4) | uint(hexDigit(p[2 + i]));
                        }
                        p += 6;
                        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    }
                    w = writeUtf8(w, u);
                    break;
                }
                default:  // quote, backslash, slash
                    *w++ = x;
                    break;
            }
        }
        out.resize(size_t(w - out.data()));
    }

    // Strict JSON number; the value is the correctly rounded double, as the toolkit computes it.
    // Values the toolkit refuses (overflow, underflow to zero) end the fast path.
    bool number(double* out) {
        const char* const start = m_p;
        const char* p = m_p;
        bool negative = false;
        if (p != m_end && *p == '-') {
            negative = true;
            ++p;
        }
        if (p == m_end)
            return false;
        const char* const digits = p;
        if (*p == '0') {
            ++p;
        } else if (*p >= '1' && *p <= '9') {
            while (p != m_end && *p >= '0' && *p <= '9')
                ++p;
        } else {
            return false;
        }
        const char* const intEnd = p;
        bool plain = true;
        if (p != m_end && *p == '.') {
            plain = false;
            ++p;
            const char* f = p;
            while (p != m_end && *p >= '0' && *p <= '9')
                ++p;
            if (p == f)
                return false;
        }
        if (p != m_end && (*p == 'e' || *p == 'E')) {
            plain = false;
            ++p;
            if (p != m_end && (*p == '+' || *p == '-'))
                ++p;
            const char* x = p;
            while (p != m_end && *p >= '0' && *p <= '9')
                ++p;
            if (p == x)
                return false;
        }
        if (p == m_end)
            return false;
        m_p = p;
        if (plain && intEnd - digits <= 15) {
            qint64 v = 0;
            for (const char* d = digits; d != intEnd; ++d)
                v = v * 10 + (*d - '0');
            *out = negative ? -double(v) : double(v);
            return true;
        }
        double d = 0.0;
        const auto r = std::from_chars(start, p, d);
        if (r.ec != std::errc() || r.ptr != p || !std::isfinite(d))
            return false;
        if (d == 0.0) {
            for (const char* c = digits; c != p && *c != 'e' && *c != 'E'; ++c) {
                if (*c >= '1' && *c <= '9')
                    return false;
            }
        }
        *out = d;
        return true;
    }

    bool literal(const char* text, size_t n) {
        if (size_t(m_end - m_p) < n || memcmp(m_p, text, n) != 0)
            return false;
        m_p += n;
        return true;
    }

    // Reads any value at the current position (after white space).
    bool value(Value* v) {
        if (m_p == m_end)
            return false;
        switch (*m_p) {
            case '"':
                v->kind = String;
                return string(&v->begin, &v->end, &v->escaped);
            case '{':
                v->kind = Object;
                v->begin = m_p;
                if (!object([this](const Key&) { return skip(); }, nullptr))
                    return false;
                v->end = m_p;
                return true;
            case '[':
                v->kind = Array;
                v->begin = m_p;
                if (!array([this]() { return skip(); }))
                    return false;
                v->end = m_p;
                return true;
            case 't':
                v->kind = True;
                return literal("true", 4);
            case 'f':
                v->kind = False;
                return literal("false", 5);
            case 'n':
                v->kind = Null;
                return literal("null", 4);
            default:
                v->kind = Number;
                return number(&v->number);
        }
    }

    bool skip() {
        Value v;
        return value(&v);
    }

    // At '{'. Calls onMember(key) with the position at the member's value, which it must consume.
    template <typename F>
    bool object(F&& onMember, int* members) {
        if (++m_depth > kMaxDepth)
            return false;
        ++m_p;
        ws();
        int count = 0;
        if (m_p != m_end && *m_p == '}') {
            ++m_p;
        } else {
            while (true) {
                if (m_p == m_end || *m_p != '"')
                    return false;
                const char* kb = nullptr;
                const char* ke = nullptr;
                bool escaped = false;
                if (!string(&kb, &ke, &escaped))
                    return false;
                Key key{kb, size_t(ke - kb)};
                if (escaped) {
                    unescape(kb, ke, m_key);
                    key = Key{m_key.data(), m_key.size()};
                }
                ws();
                if (m_p == m_end || *m_p != ':')
                    return false;
                ++m_p;
                ws();
                if (!onMember(key))
                    return false;
                ++count;
                ws();
                if (m_p == m_end)
                    return false;
                if (*m_p == ',') {
                    ++m_p;
                    ws();
                    continue;
                }
                if (*m_p != '}')
                    return false;
                ++m_p;
                break;
            }
        }
        --m_depth;
        if (members)
            *members = count;
        return true;
    }

    // At '['. Calls onElement() with the position at each element, which it must consume.
    template <typename F>
    bool array(F&& onElement) {
        if (++m_depth > kMaxDepth)
            return false;
        ++m_p;
        ws();
        if (m_p != m_end && *m_p == ']') {
            ++m_p;
        } else {
            while (true) {
                if (!onElement())
                    return false;
                ws();
                if (m_p == m_end)
                    return false;
                if (*m_p == ',') {
                    ++m_p;
                    ws();
                    continue;
                }
                if (*m_p != ']')
                    return false;
                ++m_p;
                break;
            }
        }
        --m_depth;
        return true;
    }

    bool at(char c) const {
        return m_p != m_end && *m_p == c;
    }

    // Typed reads with the conversion rules of the reference reader.
    bool readInt(qint32* out) {
        Value v;
        if (!value(&v))
            return false;
        *out = v.kind == Number ? int32Of(v.number) : 0;
        return true;
    }
    bool readInt16(qint16* out) {
        qint32 n = 0;
        if (!readInt(&n))
            return false;
        *out = low16(n);
        return true;
    }
    bool readSec(qint32* out) {
        qint32 n = 0;
        if (!readInt(&n))
            return false;
        *out = secOf(n);
        return true;
    }
    bool readBool(bool* out) {
        Value v;
        if (!value(&v))
            return false;
        *out = v.kind == True;
        return true;
    }
    QString text(const Value& v) {
        if (!v.escaped) {
            return QString::fromUtf8(v.begin, int(v.end - v.begin));
        }
        unescape(v.begin, v.end, m_unescaped);
        return QString::fromUtf8(m_unescaped.data(), int(m_unescaped.size()));
    }
    // A record's text member: repeated texts share their storage.
    QString sharedText(const Value& v) {
        if (!v.escaped) {
            return m_scratch->texts.get(v.begin, size_t(v.end - v.begin));
        }
        unescape(v.begin, v.end, m_unescaped);
        return m_scratch->texts.get(m_unescaped.data(), m_unescaped.size());
    }
    bool readStr(QString* out) {
        Value v;
        if (!value(&v))
            return false;
        *out = v.kind == String ? sharedText(v) : QString();
        return true;
    }
    bool readId(QString* out) {
        qint32 n = 0;
        if (!readInt(&n))
            return false;
        *out = QString::number(n);
        return true;
    }
    bool readServerTime(qint64* out) {
        Value v;
        if (!value(&v))
            return false;
        const double d = v.kind == Number ? v.number : 0.0;
        // Whole values in the exact range of a double need no text round trip.
        *out = (std::trunc(d) == d && std::fabs(d) < 9007199254740992.0) ? qint64(d) : serverTimeOf(d);
        return true;
    }

    // A decimal number in a string, single precision. Plain short decimals are computed directly
    // (an integer mantissa divided by an exact power of ten rounds correctly); anything else goes
    // through the reference conversion.
    double numText(const Value& v) {
        if (v.kind != String)
            return 0.0;
        if (!v.escaped) {
            const char* p = v.begin;
            const char* const e = v.end;
            bool negative = false;
            if (p != e && *p == '-') {
                negative = true;
                ++p;
            }
            quint64 mantissa = 0;
            int digits = 0;
            int decimals = 0;
            bool dot = false;
            bool good = p != e && *p >= '0' && *p <= '9' && !(*p == '0' && p + 1 != e && p[1] != '.');
            for (; good && p != e; ++p) {
                if (*p >= '0' && *p <= '9') {
                    mantissa = mantissa * 10 + quint64(*p - '0');
                    if (++digits > 15)
                        good = false;
                    if (dot)
                        ++decimals;
                } else if (*p == '.' && !dot && p + 1 != e) {
                    dot = true;
                } else {
                    good = false;
                }
            }
            if (good) {
                static const double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
                double d = double(mantissa) / kPow10[decimals];
                if (negative)
                    d = -d;
                const float f = float(d);
                // Outside the float range or lost to underflow: the reference decides.
                if (std::fabs(d) <= double(std::numeric_limits<float>::max()) && (d == 0.0 || f != 0.0f)) {
                    return double(f);
                }
            }
        }
        return numTextOf(text(v));
    }
    bool readNumText(double* out) {
        Value v;
        if (!value(&v))
            return false;
        *out = numText(v);
        return true;
    }

    // Members whose reference value for a missing key differs from the constructor's default: an
    // id is always the decimal text of a number, "0" when there is none.
    template <typename Item>
    static void prepare(Item&) {}
    static void prepare(_QuestionItem& q) {
        q.id = QStringLiteral("0");
    }
    static void prepare(_AnswerItem& a) {
        a.id = QStringLiteral("0");
    }

    // A list of one event kind, with the count of elements that gave no record.
    template <typename Item>
    struct Events {
        QList<std::shared_ptr<Item>> list;
        int skipped = 0;
    };

    template <typename Item, typename Fill>
    bool events(Events<Item>* out, Fill fill) {
        out->list.clear();
        out->skipped = 0;
        if (!at('['))
            return skip();
        return array([&]() {
            if (!at('{')) {
                ++out->skipped;
                return skip();
            }
            auto item = std::make_shared<Item>();
            prepare(*item);
            int members = 0;
            if (!object([&](const Key& k) { return fill(*item, k); }, &members))
                return false;
            if (members == 0) {
                ++out->skipped;
            } else {
                out->list.append(std::move(item));
            }
            handBack();
            return true;
        });
    }

    // Between two events nothing refers to the text before the current position any more.
    void handBack() {
#ifdef Q_OS_UNIX
        static const uintptr_t kPage = uintptr_t(sysconf(_SC_PAGESIZE));
        constexpr ptrdiff_t kStep = 16 << 20;
        if (!m_released || m_p - m_released < kStep) {
            return;
        }
        const char* const to = reinterpret_cast<const char*>(uintptr_t(m_p) & ~(kPage - 1));
        madvise(const_cast<char*>(m_released), size_t(to - m_released), MADV_DONTNEED);
        m_released = to;
#endif
    }

    // Reads an object member into a fresh record; *present is false for an empty or non-object value.
    template <typename Item, typename Fill>
    bool record(std::shared_ptr<Item>* out, Fill fill) {
        out->reset();
        if (!at('{'))
            return skip();
        auto item = std::make_shared<Item>();
        int members = 0;
        if (!object([&](const Key& k) { return fill(*item, k); }, &members))
            return false;
        if (members > 0)
            *out = std::move(item);
        return true;
    }

    bool templateMember(_TemplateItem& t, const Key& k) {
        if (KEY(k, "id"))
            return readInt16(&t.id);
        if (KEY(k, "type"))
            return readInt16(&t.type);
        if (KEY(k, "status"))
            return readInt16(&t.status);
        if (KEY(k, "pdfView"))
            return readInt16(&t.pdfView);
        if (KEY(k, "chatView"))
            return readInt16(&t.chatView);
        if (KEY(k, "qaView"))
            return readInt16(&t.qaView);
        if (KEY(k, "name"))
            return readStr(&t.name);
        if (KEY(k, "desc"))
            return readStr(&t.desc);
        if (KEY(k, "iconPath"))
            return readStr(&t.iconPath);
        return skip();
    }

    bool roomMember(_RoomItem& r, const Key& k) {
        if (KEY(k, "ableCode"))
            return readBool(&r.ableCode);
        if (KEY(k, "ableEdit"))
            return readBool(&r.ableEdit);
        if (KEY(k, "ableMonitor"))
            return readBool(&r.ableMonitor);
        if (KEY(k, "ableClose"))
            return readBool(&r.ableClose);
        if (KEY(k, "close"))
            return readBool(&r.close);
        if (KEY(k, "ableLogin"))
            return readBool(&r.ableLogin);
        if (KEY(k, "hasWarmVideoId"))
            return readBool(&r.hasWarmVideoId);
        if (KEY(k, "openHostMode"))
            return readBool(&r.openHostMode);
        if (KEY(k, "openLowDelayMode"))
            return readBool(&r.openLowDelayMode);
        if (KEY(k, "freeAuth"))
            return readBool(&r.freeAuth);
        if (KEY(k, "id"))
            return readInt16(&r.id);
        if (KEY(k, "manuallyRecordMode"))
            return readInt16(&r.manuallyRecordMode);
        if (KEY(k, "status"))
            return readInt16(&r.status);
        if (KEY(k, "authType"))
            return readInt16(&r.authType);
        if (KEY(k, "userId"))
            return readInt16(&r.userId);
        if (KEY(k, "barrage"))
            return readInt16(&r.barrage);
        if (KEY(k, "templateType"))
            return readInt16(&r.templateType);
        if (KEY(k, "warmVideoId"))
            return readInt16(&r.warmVideoId);
        if (KEY(k, "delayTime"))
            return readInt16(&r.delayTime);
        if (KEY(k, "showUserCount"))
            return readInt16(&r.showUserCount);
        if (KEY(k, "foreignPublish"))
            return readInt16(&r.foreignPublish);
        if (KEY(k, "dvr"))
            return readInt16(&r.dvr);
        if (KEY(k, "clientDocPermissions"))
            return readInt16(&r.clientDocPermissions);
        if (KEY(k, "name"))
            return readStr(&r.name);
        if (KEY(k, "desc"))
            return readStr(&r.desc);
        if (KEY(k, "encryptId"))
            return readStr(&r.encryptId);
        if (KEY(k, "encryptUserId"))
            return readStr(&r.encryptUserId);
        if (KEY(k, "publisherPass"))
            return readStr(&r.publisherPass);
        if (KEY(k, "playPass"))
            return readStr(&r.playPass);
        if (KEY(k, "assistantPass"))
            return readStr(&r.assistantPass);
        if (KEY(k, "checkUrl"))
            return readStr(&r.checkUrl);
        if (KEY(k, "encryptWarmVideoId"))
            return readStr(&r.encryptWarmVideoId);
        if (KEY(k, "escapeHTMLName"))
            return readStr(&r.escapeHTMLName);
        if (KEY(k, "escapeHTMLDesc"))
            return readStr(&r.escapeHTMLDesc);
        if (KEY(k, "atlasRoomId"))
            return readStr(&r.atlasRoomId);
        return skip();
    }

    bool pageChangeMember(_PageChangeItem& p, const Key& k) {
        if (KEY(k, "time"))
            return readSec(&p.time);
        if (KEY(k, "url"))
            return readStr(&p.url);
        if (KEY(k, "docId"))
            return readStr(&p.docId);
        if (KEY(k, "docName"))
            return readStr(&p.docName);
        if (KEY(k, "docTotalPage"))
            return readInt16(&p.docTotalPage);
        if (KEY(k, "pageNum"))
            return readInt16(&p.pageNum);
        if (KEY(k, "encryptDocId"))
            return readStr(&p.encryptDocId);
        if (KEY(k, "useSDK"))
            return readBool(&p.useSDK);
        if (KEY(k, "width"))
            return readInt16(&p.width);
        if (KEY(k, "height"))
            return readInt16(&p.height);
        if (KEY(k, "mode"))
            return readInt(&p.mode);
        if (KEY(k, "pageTitle"))
            return readStr(&p.pageTitle);
        if (KEY(k, "serverTime"))
            return readServerTime(&p.serverTime);
        return skip();
    }

    bool chatLogMember(_ChatLogItem& c, const Key& k) {
        if (KEY(k, "time"))
            return readSec(&c.time);
        if (KEY(k, "content"))
            return readStr(&c.content);
        if (KEY(k, "userName"))
            return readStr(&c.userName);
        if (KEY(k, "userId"))
            return readStr(&c.userId);
        if (KEY(k, "userAvatar"))
            return readStr(&c.userAvatar);
        if (KEY(k, "userRole"))
            return readStr(&c.userRole);
        if (KEY(k, "userCustomMark"))
            return readStr(&c.userCustomMark);
        return skip();
    }

    bool questionMember(_QuestionItem& q, const Key& k) {
        if (KEY(k, "time"))
            return readSec(&q.time);
        if (KEY(k, "id"))
            return readId(&q.id);
        if (KEY(k, "content"))
            return readStr(&q.content);
        if (KEY(k, "encryptId"))
            return readStr(&q.encryptId);
        if (KEY(k, "triggerTime"))
            return readStr(&q.triggerTime);
        if (KEY(k, "questionUserId"))
            return readStr(&q.questionUserId);
        if (KEY(k, "questionUserName"))
            return readStr(&q.questionUserName);
        if (KEY(k, "questionUserAvatar"))
            return readStr(&q.questionUserAvatar);
        if (KEY(k, "isPublish"))
            return readInt16(&q.isPublish);
        return skip();
    }

    bool answerMember(_AnswerItem& a, const Key& k) {
        if (KEY(k, "time"))
            return readSec(&a.time);
        if (KEY(k, "id"))
            return readId(&a.id);
        if (KEY(k, "content"))
            return readStr(&a.content);
        if (KEY(k, "encryptId"))
            return readStr(&a.encryptId);
        if (KEY(k, "triggerTime"))
            return readStr(&a.triggerTime);
        if (KEY(k, "answerUserId"))
            return readStr(&a.answerUserId);
        if (KEY(k, "answerUserName"))
            return readStr(&a.answerUserName);
        if (KEY(k, "answerUserAvatar"))
            return readStr(&a.answerUserAvatar);
        if (KEY(k, "answerUserRole"))
            return readStr(&a.answerUserRole);
        if (KEY(k, "isPrivate"))
            return readInt16(&a.isPrivate);
        return skip();
    }

    bool animationMember(_AnimationItem& a, const Key& k) {
        if (KEY(k, "time"))
            return readSec(&a.time);
        if (KEY(k, "docId"))
            return readStr(&a.docId);
        if (KEY(k, "encryptDocId"))
            return readStr(&a.encryptDocId);
        if (KEY(k, "docTotalPage"))
            return readInt16(&a.docTotalPage);
        if (KEY(k, "pageNum"))
            return readInt16(&a.pageNum);
        if (KEY(k, "step"))
            return readInt16(&a.step);
        return skip();
    }

    // At '['. The points of a free-hand line; an element that is not an object gives (0, 0).
    bool readPoints(std::vector<QPointF>& points) {
        points.clear();
        return array([&]() {
            double x = 0.0;
            double y = 0.0;
            if (at('{')) {
                if (!object(
                        [&](const Key& k) {
                            if (KEY(k, "x"))
                                return readNumText(&x);
                            if (KEY(k, "y"))
                                return readNumText(&y);
                            return skip();
                        },
                        nullptr)) {
                    return false;
                }
            } else if (!skip()) {
                return false;
            }
            points.emplace_back(x, y);
            return true;
        });
    }

    // The decoded "data" object of a draw event. "page" and "draw" depend on the final "type", so
    // their last values are kept and read once the object is complete.
    bool drawData(_DrawData& d, int* members) {
        Value page;
        Value draw;
        std::vector<QPointF>& points = m_scratch->points;
        const bool parsed = object(
            [&](const Key& k) {
                if (KEY(k, "alpha"))
                    return readInt16(&d.alpha);
                if (KEY(k, "color"))
                    return readInt(&d.color);
                if (KEY(k, "docid"))
                    return readStr(&d.docid);
                if (KEY(k, "draw")) {
                    // An array is read as points at once (whatever the type turns out to be); an
                    // object is kept for the shape, which depends on the final type.
                    if (!at('['))
                        return value(&draw);
                    draw.kind = Array;
                    return readPoints(points);
                }
                if (KEY(k, "drawid"))
                    return readStr(&d.drawid);
                if (KEY(k, "drawtime"))
                    return readInt16(&d.drawtime);
                if (KEY(k, "height"))
                    return readInt16(&d.height);
                if (KEY(k, "type"))
                    return readInt16(&d.type);
                if (KEY(k, "page"))
                    return value(&page);
                if (KEY(k, "thickness"))
                    return readInt16(&d.thickness);
                if (KEY(k, "width"))
                    return readInt16(&d.width);
                return skip();
            },
            members);
        if (!parsed || *members == 0)
            return parsed;

        if (pageIsText(d.type)) {
            bool ok = false;
            const qint32 n = page.kind == String ? text(page).toInt(&ok, 10) : 0;
            d.page = ok ? low16(n) : 0;
        } else {
            d.page = page.kind == Number ? low16(int32Of(page.number)) : 0;
        }

        if (draw.kind == Array) {
            // Sized once: the list keeps no spare capacity.
            d.points.reserve(int(points.size()));
            for (const QPointF& point : points) {
                d.points.append(point);
            }
        }
        if (d.type == 3 || d.type == 4 || d.type == 5) {
            double x = 0, y = 0, w = 0, h = 0, wr = 0, hr = 0;
            qint32 size = 0;
            QString label;
            if (draw.kind == Object) {
                FastReader sub(draw.begin, draw.end, m_scratch);
                const bool ok = sub.object(
                    [&](const Key& k) {
                        if (KEY(k, "x"))
                            return sub.readNumText(&x);
                        if (KEY(k, "y"))
                            return sub.readNumText(&y);
                        if (KEY(k, "width"))
                            return sub.readNumText(&w);
                        if (KEY(k, "height"))
                            return sub.readNumText(&h);
                        if (KEY(k, "widthRadius"))
                            return sub.readNumText(&wr);
                        if (KEY(k, "heightRadius"))
                            return sub.readNumText(&hr);
                        if (KEY(k, "label"))
                            return sub.readStr(&label);
                        if (KEY(k, "size"))
                            return sub.readInt(&size);
                        return sub.skip();
                    },
                    nullptr);
                if (!ok)
                    return false;
            }
            d.rect = d.type == 4 ? QRectF(x, y, wr, hr) : QRectF(x, y, w, h);
            if (d.type == 5) {
                d.label = label;
                d.size = size;
            }
        }
        return true;
    }

    // The "data" text of a draw event, read like the reference: parsed as a document of its own.
    // Text outside the accepted subset is handed to the reference reading of that one text.
    void drawDataText(const Value& v, _DrawData& out) {
        std::string& bytes = m_dataText;
        if (v.escaped) {
            unescape(v.begin, v.end, bytes);
        } else {
            bytes.assign(v.begin, v.end);
        }
        FastReader inner(bytes.data(), bytes.data() + bytes.size(), m_scratch);
        _DrawData d;
        int members = 0;
        inner.ws();
        bool ok = inner.at('{') && inner.drawData(d, &members);
        if (ok) {
            inner.ws();
            ok = inner.m_p == inner.m_end;
        }
        if (ok) {
            if (members > 0)
                out = std::move(d);
            return;
        }
        const QJsonObject data =
            parseDocumentObject(QByteArray::fromRawData(bytes.data(), int(bytes.size())));
        if (!data.isEmpty()) {
            readDrawData(data, out);
        }
    }

    bool drawMember(_DrawItem& d, const Key& k) {
        if (KEY(k, "time"))
            return readSec(&d.time);
        if (KEY(k, "docName"))
            return readStr(&d.docName);
        if (KEY(k, "pageNum"))
            return readInt16(&d.pageNum);
        if (KEY(k, "data")) {
            Value v;
            if (!value(&v))
                return false;
            d.data = _DrawData();
            if (v.kind == String)
                drawDataText(v, d.data);
            return true;
        }
        return skip();
    }

    struct Meta {
        Events<_DrawItem> draw;
        Events<_PageChangeItem> pageChange;
        Events<_ChatLogItem> chatLog;
        Events<_QuestionItem> question;
        Events<_AnswerItem> answer;
        Events<_AnimationItem> animation;
    };

    bool metaMember(Meta& m, const Key& k) {
        if (KEY(k, "draw"))
            return events(&m.draw, [this](_DrawItem& i, const Key& key) { return drawMember(i, key); });
        if (KEY(k, "pageChange"))
            return events(&m.pageChange,
                          [this](_PageChangeItem& i, const Key& key) { return pageChangeMember(i, key); });
        if (KEY(k, "chatLog"))
            return events(&m.chatLog,
                          [this](_ChatLogItem& i, const Key& key) { return chatLogMember(i, key); });
        if (KEY(k, "question"))
            return events(&m.question,
                          [this](_QuestionItem& i, const Key& key) { return questionMember(i, key); });
        if (KEY(k, "answer"))
            return events(&m.answer, [this](_AnswerItem& i, const Key& key) { return answerMember(i, key); });
        if (KEY(k, "animation"))
            return events(&m.animation,
                          [this](_AnimationItem& i, const Key& key) { return animationMember(i, key); });
        return skip();
    }

    struct Datas {
        std::shared_ptr<_TemplateItem> templ;
        std::shared_ptr<_RoomItem> room;
        std::unique_ptr<Meta> meta;
    };

    bool datasMember(Datas& d, const Key& k) {
        if (KEY(k, "template"))
            return record(&d.templ,
                          [this](_TemplateItem& t, const Key& key) { return templateMember(t, key); });
        if (KEY(k, "room"))
            return record(&d.room, [this](_RoomItem& r, const Key& key) { return roomMember(r, key); });
        if (KEY(k, "meta")) {
            d.meta.reset();
            if (!at('{'))
                return skip();
            auto meta = std::make_unique<Meta>();
            int members = 0;
            if (!object([&](const Key& key) { return metaMember(*meta, key); }, &members))
                return false;
            if (members > 0)
                d.meta = std::move(meta);
            return true;
        }
        return skip();
    }
#undef KEY
};

// Logs `count` failure lines of one event kind through the reference reader, so that text and
// line are those of the reference path.
template <typename Reader>
void logSkipped(int count, Reader reader) {
    for (int i = 0; i < count; ++i) {
        reader(QJsonObject());
    }
}

std::shared_ptr<_RootItem> FastReader::root(bool* handled) {
    *handled = false;
    auto root = std::make_shared<_RootItem>();
    std::unique_ptr<Datas> datas;
    ws();
    if (!at('{'))
        return {};
    const bool parsed = object(
        [&](const Key& k) {
            if (k.is("msg", 3))
                return readStr(&root->msg);
            if (k.is("success", 7))
                return readBool(&root->success);
            if (k.is("datas", 5)) {
                datas.reset();
                if (!at('{'))
                    return skip();
                auto d = std::make_unique<Datas>();
                int members = 0;
                if (!object([&](const Key& key) { return datasMember(*d, key); }, &members))
                    return false;
                if (members > 0)
                    datas = std::move(d);
                return true;
            }
            return skip();
        },
        nullptr);
    if (!parsed)
        return {};
    ws();
    if (m_p != m_end)
        return {};
    *handled = true;

    // The document is accepted: build the tree and log what the reference readers would log, in
    // their order (template, the six arrays, room).
    if (!datas) {
        JsonResourceParse::parseDatasItem(QJsonObject());
        return root;
    }
    auto item = std::make_shared<_DatasItem>();
    item->template_item = datas->templ;
    if (!item->template_item)
        JsonResourceParse::parseTemplateItem(QJsonObject());
    if (datas->meta) {
        Meta& m = *datas->meta;
        logSkipped(m.draw.skipped, &JsonResourceParse::parseDrawItem);
        logSkipped(m.pageChange.skipped, &JsonResourceParse::parsePageChangeItem);
        logSkipped(m.chatLog.skipped, &JsonResourceParse::parseChatLogItem);
        logSkipped(m.question.skipped, &JsonResourceParse::parseQuestionItem);
        logSkipped(m.answer.skipped, &JsonResourceParse::parseAnswerItem);
        logSkipped(m.animation.skipped, &JsonResourceParse::parseAnimationItem);
        auto meta = std::make_shared<_MetaItem>();
        meta->draw = std::move(m.draw.list);
        meta->pageChange = std::move(m.pageChange.list);
        meta->chatLog = std::move(m.chatLog.list);
        meta->question = std::move(m.question.list);
        meta->answer = std::move(m.answer.list);
        meta->animation = std::move(m.animation.list);
        sortPageChanges(meta->pageChange);
        item->meta_item = std::move(meta);
    } else {
        JsonResourceParse::parseMetaItem(QJsonObject());
    }
    item->room_item = datas->room;
    if (!item->room_item)
        JsonResourceParse::parseRoomItem(QJsonObject());
    root->datas = std::move(item);
    return root;
}

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
            ReadScratch scratch;
            FastReader reader(bytes.constData(), bytes.constData() + bytes.size(), &scratch);
            reader.releaseBehind(bytes.constData());
            bool handled = false;
            std::shared_ptr<_RootItem> root = reader.root(&handled);
            if (!handled) {
                root = parseBytesReference(bytes);
            }
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
    bool handled = false;
    ReadScratch scratch;
    std::shared_ptr<_RootItem> root =
        FastReader(bytes.constData(), bytes.constData() + bytes.size(), &scratch).root(&handled);
    return handled ? root : parseBytesReference(bytes);
}

std::shared_ptr<_RootItem> JsonResourceParse::parseBytesReference(const QByteArray& bytes) {
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
        sortPageChanges(item->meta_item->pageChange);
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
    writer.streamTo(&file);
    writer.root(*root);

    if (!writer.finish() || !file.commit()) {
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
