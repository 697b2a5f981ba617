// Serializes a whole tree of records straight into compact JSON text, without building a toolkit
// object per record, which dominated the time of writing a long class.
#define FLOG_SOURCE "editor/JsonResourceParse"
#include "JsonResourceFastWriter.h"

#include <QIODevice>
#include <QLocale>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "FLog.h"
#include "JsonResourceFields.h"
#include "JsonResourceRules.h"

namespace MetaJson {
namespace {

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
// record writers give through QJsonDocument (keys in the same ascending order, the same escaping and
// number forms).
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

    // The name of the next member: `open` is '{' for the first member of an object, ',' after.
    void key(char open, const char* key, int length) {
        char* w = m_out.tail(size_t(length) + 4);
        *w++ = open;
        *w++ = '"';
        std::memcpy(w, key, size_t(length));
        w += length;
        *w++ = '"';
        *w++ = ':';
        m_out.commit(w);
    }

    // Writes every member of a record in key order (those only for typed draws when `typed` is
    // set); `special` writes the members whose rule needs more than their own value.
    template <typename Item, typename Special>
    void record(const Item& item, bool typed, Special&& special) {
        char open = '{';
        for (const Field<Item>& f : Record<Item>::fields) {
            if (f.typedOnly && !typed) {
                continue;
            }
            key(open, f.key, f.length);
            open = ',';
            switch (f.rule) {
                case Rule::Int16:
                    num(item.*(f.i16));
                    break;
                case Rule::Int32:
                    num(item.*(f.i32));
                    break;
                case Rule::Flag:
                    boolean(item.*(f.flag));
                    break;
                case Rule::Text:
                    str(item.*(f.text));
                    break;
                case Rule::Seconds:
                    num(item.*(f.i32) / 1000);
                    break;
                case Rule::Id:
                    num(idNumber(item.*(f.text)));
                    break;
                case Rule::Clock:
                    clock(item.*(f.i64));
                    break;
                default:
                    special(f);
                    break;
            }
        }
        m_out += '}';
    }

    // A record with no member needing more than its own value.
    template <typename Item>
    void plainRecord(const std::shared_ptr<Item>& item) {
        if (!item) {
            logError(Record<Item>::writeFailure);
            m_out += "{}";
            return;
        }
        record(*item, true, [](const Field<Item>&) {});
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
        plainRecord(d->room_item);
        m_out += ",\"template\":";
        plainRecord(d->template_item);
        m_out += '}';
    }

    // Writes one array; empty records are left out (logMeta reports them).
    template <typename Item>
    void array(const QList<std::shared_ptr<Item>>& list) {
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
            event(*item);
            spill(kSpillBytes);
        }
        m_out += ']';
    }

    // What the record writers log, in their order, so that the text itself can go straight out in
    // ascending key order.
    static void logMeta(const _MetaItem& m) {
        for (int i = 0; i < EventListCount; ++i) {
            visitEventList(m, i, [](const auto& list) {
                for (const auto& item : list) {
                    if (!item) {
                        logError(Record<typename std::decay_t<decltype(*item)>>::writeFailure);
                    } else {
                        noteWritten(*item);
                    }
                }
                return true;
            });
        }
    }

    void meta(const std::shared_ptr<_MetaItem>& m) {
        if (!m) {
            FLOG(FLOG_ERROR, "meta item is empty.");
            m_out += "{}";
            return;
        }
        logMeta(*m);
        char open = '{';
        for (EventList list : kEventListsByKey) {
            key(open, kEventListKeys[list], keyLength(kEventListKeys[list]));
            open = ',';
            visitEventList(*m, list, [this](const auto& events) {
                array(events);
                return true;
            });
        }
        m_out += '}';
    }

    template <typename Item>
    void event(const Item& item) {
        record(item, true, [](const Field<Item>&) {});
    }

    void event(const _DrawItem& d) {
        record(d, true, [this, &d](const Field<_DrawItem>& f) {
            // The "data" text is itself compact JSON, then escaped as a string.
            if (!m_inner) {
                m_inner.reset(new DocumentWriter);
            }
            m_inner->m_out.truncate(0);
            m_inner->drawData(d.*(f.data));
            jsonTextAsString(m_inner->m_out);
        });
    }

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

    void shape(const _DrawData& d) {
        if (d.type == 0) {
            m_out += "{}";
            return;
        }
        if (const Shape* s = shapeOf(d.type)) {
            char open = '{';
            for (int i = 0; i < s->count; ++i) {
                const ShapeField& f = s->fields[i];
                key(open, f.key, f.length);
                open = ',';
                if (f.part == Part::Label) {
                    str(d.label);
                } else if (f.part == Part::Size) {
                    num(d.size);
                } else {
                    fixedStr(coordinateOf(d.rect, f.part), s->decimals);
                }
            }
            m_out += '}';
            return;
        }
        m_out += '[';
        for (int i = 0; i < d.points.size(); ++i) {
            if (i) {
                m_out += ',';
            }
            m_out += "{\"x\":";
            fixedStr(d.points[i].x(), kPointDecimals);
            m_out += ",\"y\":";
            fixedStr(d.points[i].y(), kPointDecimals);
            m_out += '}';
        }
        m_out += ']';
    }

    void drawData(const _DrawData& d) {
        record(d, d.type != 0, [this, &d](const Field<_DrawData>& f) {
            if (f.rule == Rule::Shape) {
                shape(d);
            } else if (pageIsText(d.type)) {
                numStr(d.page);
            } else {
                num(d.page);
            }
        });
    }
};

}  // namespace

bool writeDocument(const _RootItem& root, QIODevice* device) {
    DocumentWriter writer;
    writer.streamTo(device);
    writer.root(root);
    return writer.finish();
}

}  // namespace MetaJson
