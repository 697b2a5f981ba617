#pragma once
// Small builders of in-memory record trees for session tests (no package needed).
#include <QList>
#include <QString>

#include <memory>

#include "ResourceItem.h"

namespace trees {

inline std::shared_ptr<_RootItem> emptyRoot() {
    auto root = std::make_shared<_RootItem>();
    root->datas = std::make_shared<_DatasItem>();
    root->datas->meta_item = std::make_shared<_MetaItem>();
    root->datas->room_item = std::make_shared<_RoomItem>();
    root->datas->template_item = std::make_shared<_TemplateItem>();
    return root;
}

inline std::shared_ptr<_PageChangeItem> page(qint32 time, const QString& docId, qint16 pageNum) {
    auto p = std::make_shared<_PageChangeItem>();
    p->time = time;
    p->docId = docId;
    p->pageNum = pageNum;
    p->url = QStringLiteral("http://example.invalid/%1/%2.jpg").arg(docId).arg(pageNum);
    return p;
}

inline std::shared_ptr<_DrawItem> draw(qint32 time, const QString& docId, qint16 pageNum, qint16 type = 2) {
    auto d = std::make_shared<_DrawItem>();
    d->time = time;
    d->pageNum = pageNum;
    d->data.type = type;
    d->data.docid = docId;
    d->data.page = pageNum;
    return d;
}

inline std::shared_ptr<_ChatLogItem> chat(qint32 time) {
    auto c = std::make_shared<_ChatLogItem>();
    c->time = time;
    c->content = QStringLiteral("chat at %1").arg(time);
    return c;
}

inline std::shared_ptr<_QuestionItem> question(qint32 time) {
    auto q = std::make_shared<_QuestionItem>();
    q->time = time;
    return q;
}

inline std::shared_ptr<_AnswerItem> answer(qint32 time) {
    auto a = std::make_shared<_AnswerItem>();
    a->time = time;
    return a;
}

inline std::shared_ptr<_AnimationItem> animation(qint32 time) {
    auto a = std::make_shared<_AnimationItem>();
    a->time = time;
    return a;
}

template <typename T>
QList<qint32> times(const QList<std::shared_ptr<T>>& list) {
    QList<qint32> out;
    for (const auto& item : list) {
        out << item->time;
    }
    return out;
}

}  // namespace trees
