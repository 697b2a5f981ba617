// The record level of the fast reader: which key fills which member, walked from the record tables.
// Keys are applied in document order, so a repeated key ends with its last value, as in the toolkit's
// objects. Failure lines are collected and logged at the end, in the order and from the places of the
// toolkit path.
#include "JsonResourceFastReader.h"

#include <QByteArray>
#include <QJsonObject>

#include <type_traits>

#include "JsonResourceFields.h"
#include "JsonResourceParse.h"
#include "JsonResourceReference.h"
#include "JsonResourceRules.h"
#include "JsonResourceScanner.h"

namespace MetaJson {
namespace {

template <typename List>
using ItemOf = typename std::decay_t<List>::value_type::element_type;

class FastReader : public Scanner {
public:
    using Scanner::Scanner;

    std::shared_ptr<_RootItem> root(bool* handled);

private:
    std::string m_dataText;  // the decoded "data" text of the draw event being read

    // Reads the member with this key into its field; `special` reads the members whose rule needs
    // more than their own value. Unknown keys are skipped. `next` is the search hint of the object.
    template <typename Item, typename Special>
    bool member(Item& item, const Key& k, size_t* next, Special&& special) {
        const Field<Item>* f = findField<Item>(k.s, k.n, next);
        if (!f) {
            return skip();
        }
        if (isSpecial(f->rule)) {
            return special(*f);
        }
        Value v;
        if (!value(&v)) {
            return false;
        }
        switch (f->rule) {
            case Rule::Int16:
                item.*(f->i16) = low16(intOf(v));
                break;
            case Rule::Int32:
                item.*(f->i32) = intOf(v);
                break;
            case Rule::Flag:
                item.*(f->flag) = v.kind == True;
                break;
            case Rule::Text:
                item.*(f->text) = textOf(v);
                break;
            case Rule::Seconds:
                item.*(f->i32) = secOf(intOf(v));
                break;
            case Rule::Id:
                item.*(f->text) = QString::number(intOf(v));
                break;
            case Rule::Clock:
                item.*(f->i64) = clockOf(v);
                break;
            default:  // the special rules, handled above
                break;
        }
        return true;
    }

    template <typename Item>
    bool recordMember(Item& item, const Key& k, size_t* next) {
        return member(item, k, next, [this](const Field<Item>&) { return skip(); });
    }

    bool recordMember(_DrawItem& item, const Key& k, size_t* next) {
        return member(item, k, next, [this, &item](const Field<_DrawItem>& f) {
            Value v;
            if (!value(&v)) {
                return false;
            }
            _DrawData& data = item.*(f.data);
            data = _DrawData();
            if (v.kind == String) {
                drawDataText(v, data);
            }
            return true;
        });
    }

    // At any value: an array of events fills `list`, counting the elements that gave no record.
    template <typename Item>
    bool events(QList<std::shared_ptr<Item>>& list, int* skipped) {
        list.clear();
        *skipped = 0;
        if (!at('[')) {
            return skip();
        }
        return array([&]() {
            if (!at('{')) {
                ++*skipped;
                return skip();
            }
            auto item = std::make_shared<Item>();
            setMissingValues(*item);
            int members = 0;
            size_t next = 0;
            if (!object([&](const Key& k) { return recordMember(*item, k, &next); }, &members)) {
                return false;
            }
            if (members == 0) {
                ++*skipped;
            } else {
                list.append(std::move(item));
            }
            handBack();
            return true;
        });
    }

    // At any value: an object fills a fresh `Ptr::element_type` through `fill`, kept in `out` only
    // when it had members; an empty or non-object value leaves none.
    template <typename Ptr, typename Fill>
    bool fresh(Ptr* out, Fill&& fill) {
        out->reset();
        if (!at('{')) {
            return skip();
        }
        Ptr made(new typename Ptr::element_type());
        int members = 0;
        if (!object([&](const Key& k) { return fill(*made, k); }, &members)) {
            return false;
        }
        if (members > 0) {
            *out = std::move(made);
        }
        return true;
    }

    // At '['. The points of a free-hand line; an element that is not an object gives (0, 0).
    bool readPoints(std::vector<QPointF>& points) {
        points.clear();
        return array([&]() {
            double x = 0.0;
            double y = 0.0;
            if (at('{')) {
                const bool ok = object(
                    [&](const Key& k) {
                        if (k.is("x", 1)) {
                            return readNumText(&x);
                        }
                        if (k.is("y", 1)) {
                            return readNumText(&y);
                        }
                        return skip();
                    },
                    nullptr);
                if (!ok) {
                    return false;
                }
            } else if (!skip()) {
                return false;
            }
            points.emplace_back(x, y);
            return true;
        });
    }

    // At '{'. The members of a shape type's geometry.
    bool readShape(const Shape& shape, ShapeValues* values) {
        return object(
            [&](const Key& k) {
                for (int i = 0; i < shape.count; ++i) {
                    const ShapeField& f = shape.fields[i];
                    if (!sameKey(f.key, f.length, k.s, k.n)) {
                        continue;
                    }
                    if (double* c = values->coordinate(f.part)) {
                        return readNumText(c);
                    }
                    if (f.part == Part::Label) {
                        return readAs(&values->label, [this](const Value& v) { return textOf(v); });
                    }
                    return readAs(&values->size, intOf);
                }
                return skip();
            },
            nullptr);
    }

    // The decoded "data" object of a draw event. "page" and "draw" depend on the final "type", so
    // their last values are kept and read once the object is complete.
    bool drawData(_DrawData& d, int* members) {
        Value page;
        Value draw;
        size_t next = 0;
        std::vector<QPointF>& points = m_scratch->points;
        const bool parsed = object(
            [&](const Key& k) {
                return member(d, k, &next, [&](const Field<_DrawData>& f) {
                    if (f.rule == Rule::Page) {
                        return value(&page);
                    }
                    // An array is read as points at once (whatever the type turns out to be); an
                    // object is kept for the shape, which depends on the final type.
                    if (!at('[')) {
                        return value(&draw);
                    }
                    draw.kind = Array;
                    return readPoints(points);
                });
            },
            members);
        if (!parsed || *members == 0) {
            return parsed;
        }

        if (pageIsText(d.type)) {
            bool ok = false;
            const qint32 n = page.kind == String ? text(page).toInt(&ok, 10) : 0;
            d.page = ok ? low16(n) : 0;
        } else {
            d.page = page.kind == Number ? low16(int32Of(page.number)) : 0;
        }

        if (draw.kind == Array) {
            // Sized once: the vector keeps no spare capacity.
            d.points.reserve(int(points.size()));
            for (const QPointF& point : points) {
                d.points.append(point);
            }
        }
        if (const Shape* shape = shapeOf(d.type)) {
            ShapeValues values;
            if (draw.kind == Object) {
                FastReader sub(draw.begin, draw.end, m_scratch);
                if (!sub.readShape(*shape, &values)) {
                    return false;
                }
            }
            values.apply(d.type, d);
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
            if (members > 0) {
                out = std::move(d);
            }
            return;
        }
        const QJsonObject data =
            parseDocumentObject(QByteArray::fromRawData(bytes.data(), int(bytes.size())));
        if (!data.isEmpty()) {
            readDrawData(data, out);
        }
    }

    struct Meta {
        _MetaItem lists;
        int skipped[EventListCount] = {};
    };

    bool metaMember(Meta& m, const Key& k) {
        const int list = eventListOf(k.s, k.n);
        if (list < 0) {
            return skip();
        }
        return visitEventList(m.lists, list,
                              [&](auto& events) { return this->events(events, &m.skipped[list]); });
    }

    struct Datas {
        std::shared_ptr<_TemplateItem> templ;
        std::shared_ptr<_RoomItem> room;
        std::unique_ptr<Meta> meta;
    };

    bool datasMember(Datas& d, const Key& k) {
        size_t next = 0;
        auto record = [this, &next](auto& item, const Key& key) { return recordMember(item, key, &next); };
        if (k.is("template", 8)) {
            return fresh(&d.templ, record);
        }
        if (k.is("room", 4)) {
            return fresh(&d.room, record);
        }
        if (k.is("meta", 4)) {
            return fresh(&d.meta, [this](Meta& m, const Key& key) { return metaMember(m, key); });
        }
        return skip();
    }

    static std::shared_ptr<_DatasItem> build(Datas& datas);
};

// The tree of an accepted document, logging what the reference readers would log, in their order
// (template, the six arrays, room).
std::shared_ptr<_DatasItem> FastReader::build(Datas& datas) {
    auto item = std::make_shared<_DatasItem>();
    item->template_item = datas.templ;
    if (!item->template_item) {
        JsonResourceParse::parseTemplateItem(QJsonObject());
    }
    if (datas.meta) {
        Meta& m = *datas.meta;
        for (int i = 0; i < EventListCount; ++i) {
            visitEventList(m.lists, i, [&](const auto& list) {
                for (int n = 0; n < m.skipped[i]; ++n) {
                    logError(Record<ItemOf<decltype(list)>>::readFailure);
                }
                return true;
            });
        }
        auto meta = std::make_shared<_MetaItem>(std::move(m.lists));
        sortPageChanges(meta->pageChange);
        item->meta_item = std::move(meta);
    } else {
        JsonResourceParse::parseMetaItem(QJsonObject());
    }
    item->room_item = datas.room;
    if (!item->room_item) {
        JsonResourceParse::parseRoomItem(QJsonObject());
    }
    return item;
}

std::shared_ptr<_RootItem> FastReader::root(bool* handled) {
    *handled = false;
    auto root = std::make_shared<_RootItem>();
    std::unique_ptr<Datas> datas;
    ws();
    if (!at('{')) {
        return {};
    }
    const bool parsed = object(
        [&](const Key& k) {
            if (k.is("msg", 3)) {
                return readAs(&root->msg, [this](const Value& v) { return textOf(v); });
            }
            if (k.is("success", 7)) {
                return readAs(&root->success, trueOf);
            }
            if (k.is("datas", 5)) {
                return fresh(&datas, [this](Datas& d, const Key& key) { return datasMember(d, key); });
            }
            return skip();
        },
        nullptr);
    if (!parsed) {
        return {};
    }
    ws();
    if (m_p != m_end) {
        return {};
    }
    *handled = true;
    if (!datas) {
        JsonResourceParse::parseDatasItem(QJsonObject());
        return root;
    }
    root->datas = build(*datas);
    return root;
}

}  // namespace

std::shared_ptr<_RootItem> readDocument(const char* begin, const char* end, const char* releaseFrom,
                                        bool* handled) {
    ReadScratch scratch;
    FastReader reader(begin, end, &scratch);
    reader.releaseBehind(releaseFrom);
    return reader.root(handled);
}

}  // namespace MetaJson
