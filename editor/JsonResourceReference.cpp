// The reading and writing of records through the toolkit's JSON objects: the reference that the fast
// paths must agree with byte for byte, and the per-record operations of the public interface.
#define FLOG_SOURCE "editor/JsonResourceParse"
#include "JsonResourceReference.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include "FLog.h"
#include "JsonResourceFields.h"
#include "JsonResourceParse.h"
#include "JsonResourceRules.h"

namespace MetaJson {
namespace {

QLatin1String keyOf(const char* key, int length) {
    return QLatin1String(key, length);
}

// Reads every member of a record with its rule; `special` reads the members whose rule needs more
// than their own value. Those come last, after the members they may depend on.
template <typename Item, typename Special>
void readFields(const QJsonObject& o, Item& item, Special&& special) {
    for (const Field<Item>& f : Record<Item>::fields) {
        const QJsonValue v = o.value(keyOf(f.key, f.length));
        switch (f.rule) {
            case Rule::Int16:
                item.*(f.i16) = toInt16(v);
                break;
            case Rule::Int32:
                item.*(f.i32) = toInt32(v);
                break;
            case Rule::Flag:
                item.*(f.flag) = toBool(v);
                break;
            case Rule::Text:
                item.*(f.text) = toStr(v);
                break;
            case Rule::Seconds:
                item.*(f.i32) = toSec(v);
                break;
            case Rule::Id:
                item.*(f.text) = idText(v);
                break;
            case Rule::Clock:
                item.*(f.i64) = toServerTime(v);
                break;
            default:
                break;
        }
    }
    for (const Field<Item>& f : Record<Item>::fields) {
        if (isSpecial(f.rule)) {
            special(f, o.value(keyOf(f.key, f.length)));
        }
    }
}

// Writes every member of a record with its rule (those only for typed draws when `typed` is set);
// `special` writes the members whose rule needs more than their own value.
template <typename Item, typename Special>
void writeFields(const Item& item, bool typed, QJsonObject& o, Special&& special) {
    for (const Field<Item>& f : Record<Item>::fields) {
        if (f.typedOnly && !typed) {
            continue;
        }
        const QLatin1String key = keyOf(f.key, f.length);
        switch (f.rule) {
            case Rule::Int16:
                o.insert(key, int(item.*(f.i16)));
                break;
            case Rule::Int32:
                o.insert(key, int(item.*(f.i32)));
                break;
            case Rule::Flag:
                o.insert(key, item.*(f.flag));
                break;
            case Rule::Text:
                o.insert(key, item.*(f.text));
                break;
            case Rule::Seconds:
                o.insert(key, item.*(f.i32) / 1000);
                break;
            case Rule::Id:
                o.insert(key, idNumber(item.*(f.text)));
                break;
            case Rule::Clock:
                o.insert(key, QJsonValue(item.*(f.i64)));
                break;
            default:
                special(f, key, o);
                break;
        }
    }
}

void readShape(const QJsonObject& shapeObject, const Shape& shape, _DrawData& data) {
    ShapeValues values;
    for (int i = 0; i < shape.count; ++i) {
        const ShapeField& f = shape.fields[i];
        const QJsonValue v = shapeObject.value(keyOf(f.key, f.length));
        if (double* c = values.coordinate(f.part)) {
            *c = toNumText(v);
        } else if (f.part == Part::Label) {
            values.label = toStr(v);
        } else {
            values.size = toInt32(v);
        }
    }
    values.apply(data.type, data);
}

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

QJsonValue shapeValue(const _DrawData& data) {
    if (data.type == 0) {
        return QJsonObject();
    }
    if (const Shape* shape = shapeOf(data.type)) {
        QJsonObject o;
        for (int i = 0; i < shape->count; ++i) {
            const ShapeField& f = shape->fields[i];
            const QLatin1String key = keyOf(f.key, f.length);
            if (f.part == Part::Label) {
                o.insert(key, data.label);
            } else if (f.part == Part::Size) {
                o.insert(key, int(data.size));
            } else {
                o.insert(key, fixed(coordinateOf(data.rect, f.part), shape->decimals));
            }
        }
        return o;
    }
    QJsonArray points;
    for (const QPointF& p : data.points) {
        points.append(QJsonObject{{QLatin1String("x"), fixed(p.x(), kPointDecimals)},
                                  {QLatin1String("y"), fixed(p.y(), kPointDecimals)}});
    }
    return points;
}

QJsonObject writeDrawData(const _DrawData& data) {
    QJsonObject o;
    writeFields(data, data.type != 0, o,
                [&data](const Field<_DrawData>& f, QLatin1String key, QJsonObject& out) {
                    if (f.rule == Rule::Page) {
                        if (pageIsText(data.type)) {
                            out.insert(key, QString::number(data.page));
                        } else {
                            out.insert(key, int(data.page));
                        }
                    } else {
                        out.insert(key, shapeValue(data));
                    }
                });
    return o;
}

// "data" is a JSON text of its own; anything that is not an object keeps the defaults.
void readDrawDataText(const QJsonValue& v, _DrawData& data) {
    if (!v.isString()) {
        return;
    }
    const QJsonObject object = parseDocumentObject(v.toString().toUtf8());
    if (!object.isEmpty()) {
        readDrawData(object, data);
    }
}

template <typename Item>
std::shared_ptr<Item> readRecord(const QJsonObject& object) {
    if (object.isEmpty()) {
        logError(Record<Item>::readFailure);
        return {};
    }
    auto item = std::make_shared<Item>();
    readFields(object, *item, [&item](const auto& f, const QJsonValue& v) {
        readDrawDataText(v, (*item).*(f.data));  // the only special rule of an event record
    });
    return item;
}

template <typename Item>
bool writeRecord(const std::shared_ptr<Item>& item, QJsonObject& object) {
    if (!item) {
        logError(Record<Item>::writeFailure);
        return false;
    }
    writeFields(*item, true, object, [&item](const auto& f, QLatin1String key, QJsonObject& out) {
        out.insert(key, QString::fromUtf8(
                            QJsonDocument(writeDrawData((*item).*(f.data))).toJson(QJsonDocument::Compact)));
    });
    return true;
}

// Reads one event array into its list; elements that give no record are skipped (their reader logs).
template <typename Item>
void readEvents(const QJsonValue& value, QList<std::shared_ptr<Item>>& list) {
    const QJsonArray array = value.toArray();
    list.reserve(array.size());
    for (const QJsonValue& element : array) {
        std::shared_ptr<Item> item = readRecord<Item>(element.toObject());
        if (item) {
            list.append(std::move(item));
        }
    }
}

template <typename Item>
QJsonArray writeEvents(const QList<std::shared_ptr<Item>>& list) {
    QJsonArray array;
    for (const std::shared_ptr<Item>& item : list) {
        QJsonObject o;
        if (writeRecord(item, o)) {
            noteWritten(*item);
            array.append(o);
        }
    }
    return array;
}

}  // namespace

void readDrawData(const QJsonObject& o, _DrawData& data) {
    readFields(o, data, [&](const Field<_DrawData>& f, const QJsonValue& v) {
        if (f.rule == Rule::Page) {
            data.page = toPage(v, data.type);
            return;
        }
        // Points are kept whatever the type; the shape types also take their rectangle.
        const QJsonArray points = v.toArray();
        data.points.reserve(points.size());
        for (const QJsonValue& p : points) {
            const QJsonObject po = p.toObject();
            data.points.append(
                QPointF(toNumText(po.value(QLatin1String("x"))), toNumText(po.value(QLatin1String("y")))));
        }
        if (const Shape* shape = shapeOf(data.type)) {
            readShape(v.toObject(), *shape, data);
        }
    });
}

}  // namespace MetaJson

using namespace MetaJson;

std::shared_ptr<_RootItem> JsonResourceParse::parseBytesReference(const QByteArray& bytes) {
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (document.isNull()) {
        FLOG(FLOG_ERROR, "parse json file is fial.");
        return {};
    }
    // A top-level array reads as an empty object.
    const QJsonObject top = document.object();
    auto root = std::make_shared<_RootItem>();
    root->msg = toStr(top.value(QLatin1String("msg")));
    root->success = toBool(top.value(QLatin1String("success")));
    root->datas = parseDatasItem(top.value(QLatin1String("datas")).toObject());
    return root;
}

std::shared_ptr<_DatasItem> JsonResourceParse::parseDatasItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to DatasItem is fail.");
        return {};
    }
    auto item = std::make_shared<_DatasItem>();
    item->template_item = parseTemplateItem(object.value(QLatin1String("template")).toObject());
    item->meta_item = parseMetaItem(object.value(QLatin1String("meta")).toObject());
    item->room_item = parseRoomItem(object.value(QLatin1String("room")).toObject());
    if (item->meta_item) {
        sortPageChanges(item->meta_item->pageChange);
    }
    return item;
}

std::shared_ptr<_MetaItem> JsonResourceParse::parseMetaItem(const QJsonObject& object) {
    if (object.isEmpty()) {
        FLOG(FLOG_ERROR, "parse json object to MetaItem is fail.");
        return {};
    }
    auto item = std::make_shared<_MetaItem>();
    for (int i = 0; i < EventListCount; ++i) {
        visitEventList(*item, i, [&](auto& list) {
            readEvents(object.value(QLatin1String(kEventListKeys[i])), list);
            return true;
        });
    }
    return item;
}

std::shared_ptr<_TemplateItem> JsonResourceParse::parseTemplateItem(const QJsonObject& object) {
    return readRecord<_TemplateItem>(object);
}

std::shared_ptr<_RoomItem> JsonResourceParse::parseRoomItem(const QJsonObject& object) {
    return readRecord<_RoomItem>(object);
}

std::shared_ptr<_DrawItem> JsonResourceParse::parseDrawItem(const QJsonObject& object) {
    return readRecord<_DrawItem>(object);
}

std::shared_ptr<_PageChangeItem> JsonResourceParse::parsePageChangeItem(const QJsonObject& object) {
    return readRecord<_PageChangeItem>(object);
}

std::shared_ptr<_ChatLogItem> JsonResourceParse::parseChatLogItem(const QJsonObject& object) {
    return readRecord<_ChatLogItem>(object);
}

std::shared_ptr<_QuestionItem> JsonResourceParse::parseQuestionItem(const QJsonObject& object) {
    return readRecord<_QuestionItem>(object);
}

std::shared_ptr<_AnswerItem> JsonResourceParse::parseAnswerItem(const QJsonObject& object) {
    return readRecord<_AnswerItem>(object);
}

std::shared_ptr<_AnimationItem> JsonResourceParse::parseAnimationItem(const QJsonObject& object) {
    return readRecord<_AnimationItem>(object);
}

bool JsonResourceParse::datasItemToJson(std::shared_ptr<_DatasItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "datas item is empty.");
        return false;
    }
    QJsonObject templateObject;
    templateItemToJson(item->template_item, templateObject);
    object.insert(QLatin1String("template"), templateObject);

    QJsonObject metaObject;
    metaItemToJson(item->meta_item, metaObject);
    object.insert(QLatin1String("meta"), metaObject);

    QJsonObject roomObject;
    roomItemToJson(item->room_item, roomObject);
    object.insert(QLatin1String("room"), roomObject);
    return true;
}

bool JsonResourceParse::metaItemToJson(std::shared_ptr<_MetaItem> item, QJsonObject& object) {
    if (!item) {
        FLOG(FLOG_ERROR, "meta item is empty.");
        return false;
    }
    for (int i = 0; i < EventListCount; ++i) {
        visitEventList(*item, i, [&](const auto& list) {
            object.insert(QLatin1String(kEventListKeys[i]), writeEvents(list));
            return true;
        });
    }
    return true;
}

bool JsonResourceParse::templateItemToJson(std::shared_ptr<_TemplateItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}

bool JsonResourceParse::roomItemToJson(std::shared_ptr<_RoomItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}

bool JsonResourceParse::drawItemToJson(std::shared_ptr<_DrawItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}

bool JsonResourceParse::pageChangeItemToJson(std::shared_ptr<_PageChangeItem> item, QJsonObject& object) {
    if (!writeRecord(item, object)) {
        return false;
    }
    logPageChange(*item);
    return true;
}

bool JsonResourceParse::chatLogItemToJson(std::shared_ptr<_ChatLogItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}

bool JsonResourceParse::questionItemToJson(std::shared_ptr<_QuestionItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}

bool JsonResourceParse::answerItemToJson(std::shared_ptr<_AnswerItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}

bool JsonResourceParse::animationItemToJson(std::shared_ptr<_AnimationItem> item, QJsonObject& object) {
    return writeRecord(item, object);
}
