#pragma once
// The text level of the fast meta.json reader: a strict single-pass scanner over JSON text that
// validates as it goes and converts values with the rules of the toolkit path. It accepts only input
// whose meaning under the toolkit's parser is certain: standard JSON, well-formed UTF-8, the standard
// escapes, moderate nesting. Every step returns false when the input leaves that subset, and the
// caller then reads the same bytes through the toolkit instead.
// Kept in a header so that its small steps are compiled together with the record reader that uses
// them.
#include <QPointF>
#include <QString>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "JsonResourceRules.h"

namespace MetaJson {

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

class Scanner {
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

    Scanner(const char* begin, const char* end, ReadScratch* scratch)
        : m_p(begin), m_end(end), m_scratch(scratch) {}

    // For text mapped from a file: the pages already read are handed back to the system while the
    // reading goes on (they are read from the file again should they be needed), so that a long
    // class is not held twice, as text and as records. `begin` must be page-aligned.
    void releaseBehind(const char* begin) { m_released = begin; }

protected:
    static constexpr int kMaxDepth = 200;

    const char* m_p;
    const char* m_end;
    ReadScratch* m_scratch;
    const char* m_released = nullptr;  // start of the mapped text not yet handed back; null: keep all
    int m_depth = 0;
    std::string m_unescaped;  // scratch for strings with escapes
    std::string m_key;        // scratch for keys with escapes

    struct Key {
        const char* s;
        size_t n;
        bool is(const char* lit, size_t len) const { return n == len && memcmp(s, lit, len) == 0; }
    };

    // Compact text has no white space: one test in line settles the common case.
    Q_ALWAYS_INLINE void ws() {
        if (m_p == m_end || static_cast<unsigned char>(*m_p) <= ' ') {
            skipSpace();
        }
    }
    void skipSpace() {
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

    const char* skipDigits(const char* p) const {
        while (p != m_end && *p >= '0' && *p <= '9')
            ++p;
        return p;
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
            p = skipDigits(p);
        } else {
            return false;
        }
        const char* const intEnd = p;
        bool plain = true;
        if (p != m_end && *p == '.') {
            plain = false;
            const char* f = p + 1;
            p = skipDigits(f);
            if (p == f)
                return false;
        }
        if (p != m_end && (*p == 'e' || *p == 'E')) {
            plain = false;
            ++p;
            if (p != m_end && (*p == '+' || *p == '-'))
                ++p;
            const char* x = p;
            p = skipDigits(x);
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

    // At the opening bracket of an object or array closed by `close`. Calls onElement() with the
    // position at each element, which it must consume, and checks the separators between them.
    template <typename F>
    bool elements(char close, F&& onElement) {
        if (++m_depth > kMaxDepth)
            return false;
        ++m_p;
        ws();
        if (m_p != m_end && *m_p == close) {
            ++m_p;
            --m_depth;
            return true;
        }
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
            if (*m_p != close)
                return false;
            ++m_p;
            --m_depth;
            return true;
        }
    }

    // At '{'. Calls onMember(key) with the position at the member's value, which it must consume.
    template <typename F>
    bool object(F&& onMember, int* members) {
        int count = 0;
        const bool ok = elements('}', [&]() {
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
            return true;
        });
        if (ok && members)
            *members = count;
        return ok;
    }

    // At '['. Calls onElement() with the position at each element, which it must consume.
    template <typename F>
    bool array(F&& onElement) {
        return elements(']', onElement);
    }

    bool at(char c) const {
        return m_p != m_end && *m_p == c;
    }

    // Conversions of a value with the rules of the toolkit path.
    static qint32 intOf(const Value& v) {
        return v.kind == Number ? int32Of(v.number) : 0;
    }
    static qint64 clockOf(const Value& v) {
        const double d = v.kind == Number ? v.number : 0.0;
        // Whole values in the exact range of a double need no text round trip.
        return (std::trunc(d) == d && std::fabs(d) < 9007199254740992.0) ? qint64(d) : serverTimeOf(d);
    }
    QString textOf(const Value& v) {
        return v.kind == String ? sharedText(v) : QString();
    }
    static bool trueOf(const Value& v) {
        return v.kind == True;
    }

    // Reads any value into *out through one of the conversions.
    template <typename T, typename Convert>
    bool readAs(T* out, Convert&& convert) {
        Value v;
        if (!value(&v)) {
            return false;
        }
        *out = convert(v);
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
};

}  // namespace MetaJson
