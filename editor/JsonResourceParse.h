#pragma once
// Reader and writer of meta.json. Static operations, no state.
#include <QJsonObject>
#include <QString>
#include <functional>
#include <memory>

#include "ResourceItem.h"

class JsonResourceParse {
public:
    // Reading: an empty pointer on failure (each failure logged once).
    static std::shared_ptr<_RootItem> parseFile(const QString& path);
    // Same rules on bytes already in memory (used by the file reader and by fuzzing).
    static std::shared_ptr<_RootItem> parseBytes(const QByteArray& bytes);
    // The same reading done entirely through the toolkit's JSON document: slower, kept as the
    // reference that parseBytes must agree with (and that it falls back to for unusual input).
    static std::shared_ptr<_RootItem> parseBytesReference(const QByteArray& bytes);

    static std::shared_ptr<_DatasItem> parseDatasItem(const QJsonObject& object);
    static std::shared_ptr<_TemplateItem> parseTemplateItem(const QJsonObject& object);
    static std::shared_ptr<_RoomItem> parseRoomItem(const QJsonObject& object);
    static std::shared_ptr<_MetaItem> parseMetaItem(const QJsonObject& object);
    static std::shared_ptr<_DrawItem> parseDrawItem(const QJsonObject& object);
    static std::shared_ptr<_PageChangeItem> parsePageChangeItem(const QJsonObject& object);
    static std::shared_ptr<_ChatLogItem> parseChatLogItem(const QJsonObject& object);
    static std::shared_ptr<_QuestionItem> parseQuestionItem(const QJsonObject& object);
    static std::shared_ptr<_AnswerItem> parseAnswerItem(const QJsonObject& object);
    static std::shared_ptr<_AnimationItem> parseAnimationItem(const QJsonObject& object);

    // Writing: false (and nothing filled) for an empty record.
    static bool saveFile(std::shared_ptr<_RootItem> root, const QString& path);
    // The same; after each piece of the text is written, `written` gets the descriptor of the file
    // being written and the piece's size (for work that runs alongside the write, such as
    // deflating the text for the package).
    using PieceSink = std::function<void(int file, qint64 size)>;
    static bool saveFile(std::shared_ptr<_RootItem> root, const QString& path, const PieceSink& written);
    static bool datasItemToJson(std::shared_ptr<_DatasItem> item, QJsonObject& object);
    static bool templateItemToJson(std::shared_ptr<_TemplateItem> item, QJsonObject& object);
    static bool roomItemToJson(std::shared_ptr<_RoomItem> item, QJsonObject& object);
    static bool metaItemToJson(std::shared_ptr<_MetaItem> item, QJsonObject& object);
    static bool drawItemToJson(std::shared_ptr<_DrawItem> item, QJsonObject& object);
    static bool pageChangeItemToJson(std::shared_ptr<_PageChangeItem> item, QJsonObject& object);
    static bool chatLogItemToJson(std::shared_ptr<_ChatLogItem> item, QJsonObject& object);
    static bool questionItemToJson(std::shared_ptr<_QuestionItem> item, QJsonObject& object);
    static bool answerItemToJson(std::shared_ptr<_AnswerItem> item, QJsonObject& object);
    static bool animationItemToJson(std::shared_ptr<_AnimationItem> item, QJsonObject& object);
};
