#pragma once
// Records, workspaces and sessions for the view tests.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "DataWrapper.h"
#include "ResourceItem.h"

namespace viewtest {

inline std::shared_ptr<_PageChangeItem> page(const QString& docId, int pageNum, int width, int height,
                                             const QString& url = QStringLiteral("http://x/p.jpg"),
                                             qint32 time = 0) {
    auto p = std::make_shared<_PageChangeItem>();
    p->docId = docId;
    p->pageNum = qint16(pageNum);
    p->width = qint16(width);
    p->height = qint16(height);
    p->url = url;
    p->time = time;
    return p;
}

inline std::shared_ptr<_DrawItem> draw(int type, const QString& docId, int pageNum,
                                       const QString& drawId = QString(), qint32 time = 0) {
    auto d = std::make_shared<_DrawItem>();
    d->time = time;
    d->pageNum = qint16(pageNum);
    d->data.type = qint16(type);
    d->data.docid = docId;
    d->data.drawid = drawId;
    d->data.thickness = 4;
    d->data.color = 0x000000;
    return d;
}

inline std::shared_ptr<_DrawItem> line(const QString& docId, int pageNum, const QVector<QPointF>& points,
                                       qint32 color, int thickness, const QString& drawId = QString()) {
    auto d = draw(2, docId, pageNum, drawId);
    d->data.points = points;
    d->data.color = color;
    d->data.thickness = qint16(thickness);
    return d;
}

inline std::shared_ptr<_DrawItem> shape(int type, const QString& docId, int pageNum, const QRectF& rect,
                                        qint32 color, int thickness, const QString& drawId = QString()) {
    auto d = draw(type, docId, pageNum, drawId);
    d->data.rect = rect;
    d->data.color = color;
    d->data.thickness = qint16(thickness);
    return d;
}

inline std::shared_ptr<_DrawItem> text(const QString& docId, int pageNum, const QRectF& rect,
                                       const QString& label, int size, qint32 color, const QString& drawId) {
    auto d = shape(5, docId, pageNum, rect, color, 1, drawId);
    d->data.label = label;
    d->data.size = size;
    return d;
}

inline std::shared_ptr<_ChatLogItem> chat(const QString& name, const QString& role, const QString& content,
                                          qint32 time = 0) {
    auto c = std::make_shared<_ChatLogItem>();
    c->userName = name;
    c->userRole = role;
    c->content = content;
    c->time = time;
    return c;
}

inline std::shared_ptr<_QuestionItem> question(const QString& id, const QString& user, const QString& content,
                                               qint32 time = 0) {
    auto q = std::make_shared<_QuestionItem>();
    q->id = id;
    q->questionUserName = user;
    q->content = content;
    q->time = time;
    return q;
}

inline std::shared_ptr<_AnswerItem> answer(const QString& id, const QString& user, const QString& content,
                                           qint32 time = 0) {
    auto a = std::make_shared<_AnswerItem>();
    a->id = id;
    a->answerUserName = user;
    a->content = content;
    a->time = time;
    return a;
}

template <typename T>
QList<std::shared_ptr<_VRKItemBase>> items(const QList<std::shared_ptr<T>>& list) {
    QList<std::shared_ptr<_VRKItemBase>> out;
    for (const auto& i : list) {
        out << i;
    }
    return out;
}

// Writes a solid-colour page image at image/<docId>/<page>.<ext> under `workspace`.
inline bool writePageImage(const QString& workspace, const QString& docId, int pageNum, const QSize& size,
                           const QColor& color, const char* format = "JPG", const QString& ext = "jpg") {
    QDir dir(workspace);
    if (!dir.mkpath(QStringLiteral("image/%1").arg(docId))) {
        return false;
    }
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img.save(dir.filePath(QStringLiteral("image/%1/%2.%3").arg(docId).arg(pageNum).arg(ext)), format);
}

// A session whose package tree points at `workspace` (which ends without "/").
inline std::shared_ptr<DataWrapper> session(const QString& workspace, int templateType = 4) {
    auto root = std::make_shared<_RootItem>();
    root->success = true;
    root->tmp_path = workspace + QStringLiteral("/");
    root->datas = std::make_shared<_DatasItem>();
    root->datas->room_item = std::make_shared<_RoomItem>();
    root->datas->room_item->templateType = qint16(templateType);
    root->datas->template_item = std::make_shared<_TemplateItem>();
    root->datas->meta_item = std::make_shared<_MetaItem>();
    auto dw = std::make_shared<DataWrapper>();
    dw->setRootItem(root);
    return dw;
}

inline bool near(const QColor& a, const QColor& b, int tolerance = 40) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// Pixels in `rect` of `image` that are within `tolerance` of `color`.
inline int countNear(const QImage& image, const QRect& rect, const QColor& color, int tolerance = 40) {
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (near(image.pixelColor(x, y), color, tolerance)) {
                ++n;
            }
        }
    }
    return n;
}

}  // namespace viewtest
