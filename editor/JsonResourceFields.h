#pragma once
// The members of every meta.json record, each named once: its key, the record member and the rule
// that converts between the file's value and the member. The fast and the toolkit paths, reading and
// writing, all walk these tables. Keys are listed in ascending order, the order in which they are
// written (the toolkit's objects keep their keys sorted), which the checks below hold the tables to.
#include <QString>

#include <cstddef>
#include <cstring>
#include <iterator>

#include "JsonResourceParse.h"
#include "ResourceItem.h"

namespace MetaJson {

enum class Rule : quint8 {
    Int16,     // a whole number kept in its low 16 bits
    Int32,     // a whole number in 32 bits
    Flag,      // true only for the literal true
    Text,      // a string; any other value reads as empty
    Seconds,   // whole seconds in the file, milliseconds in memory
    Id,        // a number in the file, its decimal text in memory ("0" when missing)
    Clock,     // the 64-bit server clock, a JSON double
    DrawData,  // JSON text of its own holding the draw data record
    Page,      // a number, or a number in a string for the types that say so
    Shape,     // the geometry: points, or a shape whose members depend on the type
};

// The rules whose member needs more than its own value; each path reads and writes them itself.
constexpr bool isSpecial(Rule rule) {
    return rule == Rule::DrawData || rule == Rule::Page || rule == Rule::Shape;
}

constexpr int keyLength(const char* key) {
    int n = 0;
    while (key[n] != '\0') {
        ++n;
    }
    return n;
}

constexpr bool keyBefore(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
}

// One member of a record. The rule says which of the member pointers is set.
template <typename Item>
struct Field {
    const char* key;
    int length;
    Rule rule;
    bool typedOnly;  // written only when the draw type is not 0
    union {
        qint16 Item::*i16;
        qint32 Item::*i32;
        qint64 Item::*i64;
        bool Item::*flag;
        QString Item::*text;
        _DrawData Item::*data;
        std::nullptr_t none;
    };

    static constexpr Field int16(const char* k, qint16 Item::*m, bool typedOnly = false) {
        return Field(k, Rule::Int16, typedOnly, m);
    }
    static constexpr Field int32(const char* k, qint32 Item::*m) { return Field(k, Rule::Int32, false, m); }
    static constexpr Field seconds(const char* k, qint32 Item::*m) {
        return Field(k, Rule::Seconds, false, m);
    }
    static constexpr Field clock(const char* k, qint64 Item::*m) { return Field(k, Rule::Clock, false, m); }
    static constexpr Field boolean(const char* k, bool Item::*m) { return Field(k, Rule::Flag, false, m); }
    static constexpr Field string(const char* k, QString Item::*m, bool typedOnly = false) {
        return Field(k, Rule::Text, typedOnly, m);
    }
    static constexpr Field id(const char* k, QString Item::*m) { return Field(k, Rule::Id, false, m); }
    static constexpr Field drawData(const char* k, _DrawData Item::*m) {
        return Field(k, Rule::DrawData, false, m);
    }
    static constexpr Field page(const char* k, qint16 Item::*m) { return Field(k, Rule::Page, false, m); }
    static constexpr Field shape(const char* k) { return Field(k, Rule::Shape, false, nullptr); }

private:
    // A constant expression may set only one member of a union, so each pointer type has its own.
    constexpr Field(const char* k, Rule r, bool t, qint16 Item::*m)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), i16(m) {}
    constexpr Field(const char* k, Rule r, bool t, qint32 Item::*m)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), i32(m) {}
    constexpr Field(const char* k, Rule r, bool t, qint64 Item::*m)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), i64(m) {}
    constexpr Field(const char* k, Rule r, bool t, bool Item::*m)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), flag(m) {}
    constexpr Field(const char* k, Rule r, bool t, QString Item::*m)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), text(m) {}
    constexpr Field(const char* k, Rule r, bool t, _DrawData Item::*m)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), data(m) {}
    constexpr Field(const char* k, Rule r, bool t, std::nullptr_t)
        : key(k), length(keyLength(k)), rule(r), typedOnly(t), none(nullptr) {}
};

// The table of each record kind, with the lines logged for it: `readFailure` when an empty object
// gives no record, `writeFailure` when there is no record to write.
template <typename Item>
struct Record;

template <>
struct Record<_TemplateItem> {
    using F = Field<_TemplateItem>;
    static constexpr const char* readFailure = "parse json object to TemplateItem is fail.";
    static constexpr const char* writeFailure = "template item is empty.";
    static constexpr F fields[] = {
        F::int16("chatView", &_TemplateItem::chatView),  F::string("desc", &_TemplateItem::desc),
        F::string("iconPath", &_TemplateItem::iconPath), F::int16("id", &_TemplateItem::id),
        F::string("name", &_TemplateItem::name),         F::int16("pdfView", &_TemplateItem::pdfView),
        F::int16("qaView", &_TemplateItem::qaView),      F::int16("status", &_TemplateItem::status),
        F::int16("type", &_TemplateItem::type),
    };
};

template <>
struct Record<_RoomItem> {
    using F = Field<_RoomItem>;
    using R = _RoomItem;
    static constexpr const char* readFailure = "parse json object to RoomItem is fail.";
    static constexpr const char* writeFailure = "room item is empty.";
    static constexpr F fields[] = {
        F::boolean("ableClose", &R::ableClose),
        F::boolean("ableCode", &R::ableCode),
        F::boolean("ableEdit", &R::ableEdit),
        F::boolean("ableLogin", &R::ableLogin),
        F::boolean("ableMonitor", &R::ableMonitor),
        F::string("assistantPass", &R::assistantPass),
        F::string("atlasRoomId", &R::atlasRoomId),
        F::int16("authType", &R::authType),
        F::int16("barrage", &R::barrage),
        F::string("checkUrl", &R::checkUrl),
        F::int16("clientDocPermissions", &R::clientDocPermissions),
        F::boolean("close", &R::close),
        F::int16("delayTime", &R::delayTime),
        F::string("desc", &R::desc),
        F::int16("dvr", &R::dvr),
        F::string("encryptId", &R::encryptId),
        F::string("encryptUserId", &R::encryptUserId),
        F::string("encryptWarmVideoId", &R::encryptWarmVideoId),
        F::string("escapeHTMLDesc", &R::escapeHTMLDesc),
        F::string("escapeHTMLName", &R::escapeHTMLName),
        F::int16("foreignPublish", &R::foreignPublish),
        F::boolean("freeAuth", &R::freeAuth),
        F::boolean("hasWarmVideoId", &R::hasWarmVideoId),
        F::int16("id", &R::id),
        F::int16("manuallyRecordMode", &R::manuallyRecordMode),
        F::string("name", &R::name),
        F::boolean("openHostMode", &R::openHostMode),
        F::boolean("openLowDelayMode", &R::openLowDelayMode),
        F::string("playPass", &R::playPass),
        F::string("publisherPass", &R::publisherPass),
        F::int16("showUserCount", &R::showUserCount),
        F::int16("status", &R::status),
        F::int16("templateType", &R::templateType),
        F::int16("userId", &R::userId),
        F::int16("warmVideoId", &R::warmVideoId),
    };
};

// The decoded "data" text of a draw event. "page" and "draw" depend on the final "type".
template <>
struct Record<_DrawData> {
    using F = Field<_DrawData>;
    using D = _DrawData;
    static constexpr F fields[] = {
        F::int16("alpha", &D::alpha),          F::int32("color", &D::color),
        F::string("docid", &D::docid),         F::shape("draw"),
        F::string("drawid", &D::drawid, true), F::int16("drawtime", &D::drawtime, true),
        F::int16("height", &D::height, true),  F::page("page", &D::page),
        F::int16("thickness", &D::thickness),  F::int16("type", &D::type),
        F::int16("width", &D::width, true),
    };
};

template <>
struct Record<_DrawItem> {
    using F = Field<_DrawItem>;
    static constexpr const char* readFailure = "parse json object to DrawItem is fail.";
    static constexpr const char* writeFailure = "draw item is empty.";
    static constexpr F fields[] = {
        F::drawData("data", &_DrawItem::data),
        F::string("docName", &_DrawItem::docName),
        F::int16("pageNum", &_DrawItem::pageNum),
        F::seconds("time", &_DrawItem::time),
    };
};

template <>
struct Record<_PageChangeItem> {
    using F = Field<_PageChangeItem>;
    using P = _PageChangeItem;
    static constexpr const char* readFailure = "parse json object to PageChangeItem is fail.";
    static constexpr const char* writeFailure = "pageChange item is empty.";
    static constexpr F fields[] = {
        F::string("docId", &P::docId),
        F::string("docName", &P::docName),
        F::int16("docTotalPage", &P::docTotalPage),
        F::string("encryptDocId", &P::encryptDocId),
        F::int16("height", &P::height),
        F::int32("mode", &P::mode),
        F::int16("pageNum", &P::pageNum),
        F::string("pageTitle", &P::pageTitle),
        F::clock("serverTime", &P::serverTime),
        F::seconds("time", &P::time),
        F::string("url", &P::url),
        F::boolean("useSDK", &P::useSDK),
        F::int16("width", &P::width),
    };
};

template <>
struct Record<_ChatLogItem> {
    using F = Field<_ChatLogItem>;
    using C = _ChatLogItem;
    static constexpr const char* readFailure = "parse json object to ChatLogItem is fail.";
    static constexpr const char* writeFailure = "chatLog item is empty.";
    static constexpr F fields[] = {
        F::string("content", &C::content),       F::seconds("time", &C::time),
        F::string("userAvatar", &C::userAvatar), F::string("userCustomMark", &C::userCustomMark),
        F::string("userId", &C::userId),         F::string("userName", &C::userName),
        F::string("userRole", &C::userRole),
    };
};

template <>
struct Record<_QuestionItem> {
    using F = Field<_QuestionItem>;
    using Q = _QuestionItem;
    static constexpr const char* readFailure = "parse json object to QuestionItem is fail.";
    static constexpr const char* writeFailure = "question item is empty.";
    static constexpr F fields[] = {
        F::string("content", &Q::content),
        F::string("encryptId", &Q::encryptId),
        F::id("id", &Q::id),
        F::int16("isPublish", &Q::isPublish),
        F::string("questionUserAvatar", &Q::questionUserAvatar),
        F::string("questionUserId", &Q::questionUserId),
        F::string("questionUserName", &Q::questionUserName),
        F::seconds("time", &Q::time),
        F::string("triggerTime", &Q::triggerTime),
    };
};

template <>
struct Record<_AnswerItem> {
    using F = Field<_AnswerItem>;
    using A = _AnswerItem;
    static constexpr const char* readFailure = "parse json object to AnswerItem is fail.";
    static constexpr const char* writeFailure = "answer item is empty.";
    static constexpr F fields[] = {
        F::string("answerUserAvatar", &A::answerUserAvatar),
        F::string("answerUserId", &A::answerUserId),
        F::string("answerUserName", &A::answerUserName),
        F::string("answerUserRole", &A::answerUserRole),
        F::string("content", &A::content),
        F::string("encryptId", &A::encryptId),
        F::id("id", &A::id),
        F::int16("isPrivate", &A::isPrivate),
        F::seconds("time", &A::time),
        F::string("triggerTime", &A::triggerTime),
    };
};

template <>
struct Record<_AnimationItem> {
    using F = Field<_AnimationItem>;
    using A = _AnimationItem;
    static constexpr const char* readFailure = "parse json object to AnimationItem is fail.";
    static constexpr const char* writeFailure = "animation item is empty.";
    static constexpr F fields[] = {
        F::string("docId", &A::docId),
        F::int16("docTotalPage", &A::docTotalPage),
        F::string("encryptDocId", &A::encryptDocId),
        F::int16("pageNum", &A::pageNum),
        F::int16("step", &A::step),
        F::seconds("time", &A::time),
    };
};

template <typename Item, size_t N>
constexpr bool ascending(const Field<Item> (&fields)[N]) {
    for (size_t i = 1; i < N; ++i) {
        if (!keyBefore(fields[i - 1].key, fields[i].key)) {
            return false;
        }
    }
    return true;
}

// Keys are short: compared in line, the first byte sorting out most candidates.
inline bool sameKey(const char* a, int length, const char* key, size_t n) {
    if (size_t(length) != n || n == 0 || a[0] != key[0]) {
        return n == 0 && length == 0;
    }
    for (size_t i = 1; i < n; ++i) {
        if (a[i] != key[i]) {
            return false;
        }
    }
    return true;
}

// The field of `Item` with this key, or null. The search starts at `*next`: keys mostly come in the
// table's order (always in files this program wrote), so the field after the last one found is tried
// first.
template <typename Item>
const Field<Item>* findField(const char* key, size_t n, size_t* next) {
    const Field<Item>* const fields = Record<Item>::fields;
    constexpr size_t count = std::size(Record<Item>::fields);
    if (*next < count && sameKey(fields[*next].key, fields[*next].length, key, n)) {
        return &fields[(*next)++];
    }
    for (size_t i = 0; i < count; ++i) {
        if (sameKey(fields[i].key, fields[i].length, key, n)) {
            *next = i + 1;
            return &fields[i];
        }
    }
    return nullptr;
}

template <typename Item>
constexpr bool hasIds() {
    for (const Field<Item>& f : Record<Item>::fields) {
        if (f.rule == Rule::Id) {
            return true;
        }
    }
    return false;
}

// Sets the members whose value for a missing key is not the constructor's default.
template <typename Item>
void setMissingValues(Item& item) {
    if constexpr (hasIds<Item>()) {
        for (const Field<Item>& f : Record<Item>::fields) {
            if (f.rule == Rule::Id) {
                item.*(f.text) = QStringLiteral("0");
            }
        }
    }
}

// The geometry of the shape types: which part of the rectangle (or label, size) each key holds and
// how many decimals its coordinates are written with.
// The four coordinates come first: they index ShapeValues::coordinates.
enum class Part : quint8 { X, Y, Width, Height, Label, Size };

struct ShapeField {
    const char* key;
    int length;
    Part part;
    constexpr ShapeField(const char* k = "", Part p = Part::X) : key(k), length(keyLength(k)), part(p) {}
};

struct Shape {
    qint16 type;
    int decimals;
    int count;
    ShapeField fields[6];
};

constexpr Shape kShapes[] = {
    {3, 4, 4, {{"height", Part::Height}, {"width", Part::Width}, {"x", Part::X}, {"y", Part::Y}}},
    {4, 6, 4, {{"heightRadius", Part::Height}, {"widthRadius", Part::Width}, {"x", Part::X}, {"y", Part::Y}}},
    {5,
     6,
     6,
     {{"height", Part::Height},
      {"label", Part::Label},
      {"size", Part::Size},
      {"width", Part::Width},
      {"x", Part::X},
      {"y", Part::Y}}},
};

// Free-hand points are written with this many decimals.
constexpr int kPointDecimals = 6;

// The shape of a draw type, or null for the types drawn as points (or nothing, type 0).
inline const Shape* shapeOf(qint16 type) {
    for (const Shape& s : kShapes) {
        if (s.type == type) {
            return &s;
        }
    }
    return nullptr;
}

// A shape as read: the parts collected, then applied once the type is final.
struct ShapeValues {
    double coordinates[4] = {};  // by part: x, y, width, height
    QString label;
    qint32 size = 0;

    // Where a coordinate part goes; null for the label and the size.
    double* coordinate(Part part) { return part <= Part::Height ? &coordinates[int(part)] : nullptr; }
    void apply(qint16 type, _DrawData& d) const {
        d.rect = QRectF(coordinates[int(Part::X)], coordinates[int(Part::Y)], coordinates[int(Part::Width)],
                        coordinates[int(Part::Height)]);
        if (type == 5) {
            d.label = label;
            d.size = size;
        }
    }
};

// A coordinate of a shape as written.
inline double coordinateOf(const QRectF& r, Part part) {
    switch (part) {
        case Part::X:
            return r.x();
        case Part::Y:
            return r.y();
        case Part::Width:
            return r.width();
        default:
            return r.height();
    }
}

// The six event lists of the meta object. They are read and their lines logged in this order; they
// are written in the order of their keys.
enum EventList {
    DrawList,
    PageChangeList,
    ChatLogList,
    QuestionList,
    AnswerList,
    AnimationList,
    EventListCount
};
constexpr const char* kEventListKeys[EventListCount] = {"draw",     "pageChange", "chatLog",
                                                        "question", "answer",     "animation"};
constexpr EventList kEventListsByKey[EventListCount] = {AnimationList, AnswerList,     ChatLogList,
                                                        DrawList,      PageChangeList, QuestionList};

// Calls f with the list of this index; returns what f returns.
template <typename Meta, typename F>
bool visitEventList(Meta& meta, int index, F&& f) {
    switch (index) {
        case DrawList:
            return f(meta.draw);
        case PageChangeList:
            return f(meta.pageChange);
        case ChatLogList:
            return f(meta.chatLog);
        case QuestionList:
            return f(meta.question);
        case AnswerList:
            return f(meta.answer);
        case AnimationList:
            return f(meta.animation);
        default:
            return false;
    }
}

// The index of the event list with this key, or -1.
inline int eventListOf(const char* key, size_t n) {
    for (int i = 0; i < EventListCount; ++i) {
        if (sameKey(kEventListKeys[i], keyLength(kEventListKeys[i]), key, n)) {
            return i;
        }
    }
    return -1;
}

constexpr bool eventListsByKeyAscend() {
    for (int i = 1; i < EventListCount; ++i) {
        if (!keyBefore(kEventListKeys[kEventListsByKey[i - 1]], kEventListKeys[kEventListsByKey[i]])) {
            return false;
        }
    }
    return true;
}

template <typename... Items>
constexpr bool allAscending() {
    return (ascending(Record<Items>::fields) && ...);
}

static_assert(allAscending<_TemplateItem, _RoomItem, _DrawData, _DrawItem, _PageChangeItem, _ChatLogItem,
                           _QuestionItem, _AnswerItem, _AnimationItem>(),
              "record keys in written order");
static_assert(eventListsByKeyAscend(), "event lists in written order");

}  // namespace MetaJson
