// Package records: member types and order, defaults, item kinds, and destruction through the base.
#include <QtTest>

#include <memory>
#include <type_traits>

#include "ResourceItem.h"

// Member types are part of the file format (16-bit truncation, 64-bit server clock).
#define HAS_TYPE(Record, member, Type)                                                      \
    static_assert(std::is_same<decltype(Record::member), Type>::value, #Record "::" #member \
                                                                               " must "     \
                                                                               "be " #Type)

HAS_TYPE(_VRKItemBase, time, qint32);
HAS_TYPE(_VRKItemBase, kind, qint32);
HAS_TYPE(_RootItem, success, bool);
HAS_TYPE(_RootItem, datas, std::shared_ptr<_DatasItem>);
HAS_TYPE(_DatasItem, template_item, std::shared_ptr<_TemplateItem>);
HAS_TYPE(_DatasItem, meta_item, std::shared_ptr<_MetaItem>);
HAS_TYPE(_DatasItem, room_item, std::shared_ptr<_RoomItem>);
HAS_TYPE(_MetaItem, draw, QList<std::shared_ptr<_DrawItem>>);
HAS_TYPE(_MetaItem, animation, QList<std::shared_ptr<_AnimationItem>>);
HAS_TYPE(_MetaItem, pageChange, QList<std::shared_ptr<_PageChangeItem>>);
HAS_TYPE(_MetaItem, answer, QList<std::shared_ptr<_AnswerItem>>);
HAS_TYPE(_MetaItem, question, QList<std::shared_ptr<_QuestionItem>>);
HAS_TYPE(_MetaItem, chatLog, QList<std::shared_ptr<_ChatLogItem>>);
HAS_TYPE(_TemplateItem, qaView, qint16);
HAS_TYPE(_RoomItem, templateType, qint16);
HAS_TYPE(_RoomItem, clientDocPermissions, qint16);
HAS_TYPE(_DrawItem, pageNum, qint16);
HAS_TYPE(_DrawItem, data, _DrawData);
HAS_TYPE(_DrawData, type, qint16);
HAS_TYPE(_DrawData, width, qint16);
HAS_TYPE(_DrawData, height, qint16);
HAS_TYPE(_DrawData, thickness, qint16);
HAS_TYPE(_DrawData, alpha, qint16);
HAS_TYPE(_DrawData, color, qint32);
HAS_TYPE(_DrawData, drawtime, qint16);
HAS_TYPE(_DrawData, rect, QRectF);
HAS_TYPE(_DrawData, size, qint32);
HAS_TYPE(_DrawData, page, qint16);
HAS_TYPE(_DrawData, points, QVector<QPointF>);
HAS_TYPE(_AnimationItem, step, qint16);
HAS_TYPE(_PageChangeItem, serverTime, qint64);
HAS_TYPE(_PageChangeItem, mode, qint32);
HAS_TYPE(_PageChangeItem, width, qint16);
HAS_TYPE(_AnswerItem, isPrivate, qint16);
HAS_TYPE(_AnswerItem, id, QString);
HAS_TYPE(_QuestionItem, isPublish, qint16);
HAS_TYPE(_QuestionItem, id, QString);

static_assert(std::has_virtual_destructor<_VRKItemBase>::value, "events are destroyed through the base");
static_assert(std::is_base_of<_VRKItemBase, _TemplateItem>::value, "template derives from the base");
static_assert(std::is_base_of<_VRKItemBase, _ChatLogItem>::value, "chat derives from the base");
static_assert(!std::is_base_of<_VRKItemBase, _RoomItem>::value, "room is not an event");

namespace {

// True when the addresses are strictly increasing, i.e. the members are declared in this order.
bool inOrder(std::initializer_list<const void*> addresses) {
    const char* previous = nullptr;
    for (const void* a : addresses) {
        const char* p = static_cast<const char*>(a);
        if (previous && p <= previous) {
            return false;
        }
        previous = p;
    }
    return true;
}

}  // namespace

class TestResourceItem : public QObject {
    Q_OBJECT

private slots:
    void defaultsAndKinds();
    void memberOrder();
    void castsAndDestructionThroughTheBase();
};

void TestResourceItem::defaultsAndKinds() {
    auto root = std::make_shared<_RootItem>();
    QVERIFY(!root->success);
    QVERIFY(root->msg.isEmpty() && root->meta_path.isEmpty() && root->video_path.isEmpty());
    QVERIFY(root->tmp_path.isEmpty() && root->tmp_edit_path.isEmpty());
    QVERIFY(!root->datas);

    auto datas = std::make_shared<_DatasItem>();
    QVERIFY(!datas->template_item && !datas->meta_item && !datas->room_item);

    auto meta = std::make_shared<_MetaItem>();
    QVERIFY(meta->draw.isEmpty() && meta->animation.isEmpty() && meta->pageChange.isEmpty());
    QVERIFY(meta->answer.isEmpty() && meta->question.isEmpty() && meta->chatLog.isEmpty());

    auto t = std::make_shared<_TemplateItem>();
    QCOMPARE(t->kind, -1);
    QCOMPARE(t->time, 0);
    QVERIFY(t->id == 0 && t->type == 0 && t->status == 0 && t->pdfView == 0 && t->chatView == 0 &&
            t->qaView == 0);
    QVERIFY(t->name.isEmpty() && t->desc.isEmpty() && t->iconPath.isEmpty());

    _RoomItem r;
    QVERIFY(!r.ableCode && !r.ableEdit && !r.ableMonitor && !r.ableClose && !r.close && !r.ableLogin);
    QVERIFY(!r.hasWarmVideoId && !r.openHostMode && !r.openLowDelayMode && !r.freeAuth);
    QVERIFY(r.id == 0 && r.manuallyRecordMode == 0 && r.status == 0 && r.authType == 0 && r.userId == 0);
    QVERIFY(r.barrage == 0 && r.templateType == 0 && r.warmVideoId == 0 && r.delayTime == 0);
    QVERIFY(r.showUserCount == 0 && r.foreignPublish == 0 && r.dvr == 0 && r.clientDocPermissions == 0);
    QVERIFY(r.name.isEmpty() && r.desc.isEmpty() && r.encryptId.isEmpty() && r.encryptUserId.isEmpty());
    QVERIFY(r.publisherPass.isEmpty() && r.playPass.isEmpty() && r.assistantPass.isEmpty());
    QVERIFY(r.checkUrl.isEmpty() && r.encryptWarmVideoId.isEmpty() && r.escapeHTMLName.isEmpty());
    QVERIFY(r.escapeHTMLDesc.isEmpty() && r.atlasRoomId.isEmpty());

    auto d = std::make_shared<_DrawItem>();
    QCOMPARE(d->kind, 0);
    QCOMPARE(d->time, 0);
    QCOMPARE(d->pageNum, qint16(0));
    QVERIFY(d->docName.isEmpty());
    const _DrawData& dd = d->data;
    QVERIFY(dd.type == 0 && dd.width == 0 && dd.height == 0 && dd.thickness == 0 && dd.alpha == 0);
    QVERIFY(dd.color == 0 && dd.drawtime == 0 && dd.size == 0 && dd.page == 0);
    QVERIFY(dd.rect.isNull());
    QVERIFY(dd.label.isEmpty() && dd.docid.isEmpty() && dd.drawid.isEmpty() && dd.points.isEmpty());

    auto an = std::make_shared<_AnimationItem>();
    QCOMPARE(an->kind, 1);
    QVERIFY(an->time == 0 && an->docTotalPage == 0 && an->pageNum == 0 && an->step == 0);
    QVERIFY(an->encryptDocId.isEmpty() && an->docId.isEmpty());

    auto pc = std::make_shared<_PageChangeItem>();
    QCOMPARE(pc->kind, 2);
    QVERIFY(!pc->useSDK);
    QVERIFY(pc->time == 0 && pc->docTotalPage == 0 && pc->pageNum == 0 && pc->width == 0 && pc->height == 0);
    QVERIFY(pc->serverTime == 0 && pc->mode == 0);
    QVERIFY(pc->encryptDocId.isEmpty() && pc->pageTitle.isEmpty() && pc->docId.isEmpty());
    QVERIFY(pc->docName.isEmpty() && pc->url.isEmpty());

    auto a = std::make_shared<_AnswerItem>();
    QCOMPARE(a->kind, 3);
    QVERIFY(a->time == 0 && a->isPrivate == 0);
    QVERIFY(a->id.isEmpty() && a->content.isEmpty() && a->encryptId.isEmpty() && a->triggerTime.isEmpty());
    QVERIFY(a->answerUserId.isEmpty() && a->answerUserName.isEmpty() && a->answerUserAvatar.isEmpty());
    QVERIFY(a->answerUserRole.isEmpty());

    auto q = std::make_shared<_QuestionItem>();
    QCOMPARE(q->kind, 4);
    QVERIFY(q->time == 0 && q->isPublish == 0);
    QVERIFY(q->id.isEmpty() && q->content.isEmpty() && q->encryptId.isEmpty() && q->triggerTime.isEmpty());
    QVERIFY(q->questionUserId.isEmpty() && q->questionUserName.isEmpty() && q->questionUserAvatar.isEmpty());

    auto c = std::make_shared<_ChatLogItem>();
    QCOMPARE(c->kind, 5);
    QCOMPARE(c->time, 0);
    QVERIFY(c->userCustomMark.isEmpty() && c->userRole.isEmpty() && c->userAvatar.isEmpty());
    QVERIFY(c->userId.isEmpty() && c->userName.isEmpty() && c->content.isEmpty());

    // The kind names the list of _MetaItem at that position.
    QCOMPARE(int(VRK_KIND_DRAW), 0);
    QCOMPARE(int(VRK_KIND_ANIMATION), 1);
    QCOMPARE(int(VRK_KIND_PAGE_CHANGE), 2);
    QCOMPARE(int(VRK_KIND_ANSWER), 3);
    QCOMPARE(int(VRK_KIND_QUESTION), 4);
    QCOMPARE(int(VRK_KIND_CHAT), 5);
    QCOMPARE(int(VRK_KIND_TEMPLATE), -1);
}

void TestResourceItem::memberOrder() {
    _RootItem root;
    QVERIFY(inOrder({&root.success, &root.msg, &root.datas, &root.meta_path, &root.video_path, &root.tmp_path,
                     &root.tmp_edit_path}));
    _DatasItem datas;
    QVERIFY(inOrder({&datas.template_item, &datas.meta_item, &datas.room_item}));
    _MetaItem meta;
    QVERIFY(inOrder(
        {&meta.draw, &meta.animation, &meta.pageChange, &meta.answer, &meta.question, &meta.chatLog}));
    _TemplateItem t;
    QVERIFY(inOrder({&t.time, &t.kind, &t.id, &t.type, &t.status, &t.pdfView, &t.chatView, &t.qaView, &t.name,
                     &t.desc, &t.iconPath}));
    _RoomItem r;
    QVERIFY(inOrder({&r.ableCode,
                     &r.ableEdit,
                     &r.ableMonitor,
                     &r.ableClose,
                     &r.close,
                     &r.ableLogin,
                     &r.hasWarmVideoId,
                     &r.openHostMode,
                     &r.openLowDelayMode,
                     &r.freeAuth,
                     &r.id,
                     &r.manuallyRecordMode,
                     &r.status,
                     &r.authType,
                     &r.userId,
                     &r.barrage,
                     &r.templateType,
                     &r.warmVideoId,
                     &r.delayTime,
                     &r.showUserCount,
                     &r.foreignPublish,
                     &r.dvr,
                     &r.clientDocPermissions,
                     &r.name,
                     &r.desc,
                     &r.encryptId,
                     &r.encryptUserId,
                     &r.publisherPass,
                     &r.playPass,
                     &r.assistantPass,
                     &r.checkUrl,
                     &r.encryptWarmVideoId,
                     &r.escapeHTMLName,
                     &r.escapeHTMLDesc,
                     &r.atlasRoomId}));
    _DrawItem d;
    QVERIFY(inOrder({&d.time, &d.kind, &d.pageNum, &d.docName, &d.data}));
    // The draw data (one per stroke) is grouped by size instead: no padding between its members.
    const _DrawData& dd = d.data;
    const size_t members = sizeof dd.type + sizeof dd.width + sizeof dd.height + sizeof dd.thickness +
                           sizeof dd.alpha + sizeof dd.color + sizeof dd.drawtime + sizeof dd.rect +
                           sizeof dd.size + sizeof dd.label + sizeof dd.docid + sizeof dd.drawid +
                           sizeof dd.page + sizeof dd.points;
    QVERIFY(sizeof(_DrawData) < members + alignof(_DrawData));
    _AnimationItem an;
    QVERIFY(inOrder({&an.docTotalPage, &an.pageNum, &an.encryptDocId, &an.docId, &an.step}));
    _PageChangeItem pc;
    QVERIFY(inOrder({&pc.useSDK, &pc.docTotalPage, &pc.pageNum, &pc.width, &pc.height, &pc.serverTime,
                     &pc.encryptDocId, &pc.pageTitle, &pc.docId, &pc.docName, &pc.url, &pc.mode}));
    _AnswerItem a;
    QVERIFY(inOrder({&a.isPrivate, &a.id, &a.content, &a.encryptId, &a.triggerTime, &a.answerUserId,
                     &a.answerUserName, &a.answerUserAvatar, &a.answerUserRole}));
    _QuestionItem q;
    QVERIFY(inOrder({&q.isPublish, &q.id, &q.content, &q.encryptId, &q.triggerTime, &q.questionUserId,
                     &q.questionUserName, &q.questionUserAvatar}));
    _ChatLogItem c;
    QVERIFY(inOrder({&c.userCustomMark, &c.userRole, &c.userAvatar, &c.userId, &c.userName, &c.content}));
}

void TestResourceItem::castsAndDestructionThroughTheBase() {
    QList<std::shared_ptr<_VRKItemBase>> events{
        std::make_shared<_DrawItem>(),       std::make_shared<_AnimationItem>(),
        std::make_shared<_PageChangeItem>(), std::make_shared<_AnswerItem>(),
        std::make_shared<_QuestionItem>(),   std::make_shared<_ChatLogItem>()};
    for (int k = 0; k < events.size(); ++k) {
        QCOMPARE(events[k]->kind, k);
        QCOMPARE(bool(std::dynamic_pointer_cast<_DrawItem>(events[k])), k == 0);
        QCOMPARE(bool(std::dynamic_pointer_cast<_AnimationItem>(events[k])), k == 1);
        QCOMPARE(bool(std::dynamic_pointer_cast<_PageChangeItem>(events[k])), k == 2);
        QCOMPARE(bool(std::dynamic_pointer_cast<_AnswerItem>(events[k])), k == 3);
        QCOMPARE(bool(std::dynamic_pointer_cast<_QuestionItem>(events[k])), k == 4);
        QCOMPARE(bool(std::dynamic_pointer_cast<_ChatLogItem>(events[k])), k == 5);
    }

    // A record shared by two holders: a change through one is seen through the other.
    auto chat = std::dynamic_pointer_cast<_ChatLogItem>(events[5]);
    chat->time = 4200;
    QCOMPARE(events[5]->time, 4200);

    // The last base pointer releases the whole draw record: its strings and point list are freed,
    // which shows as the outside copies becoming the only owners of their data again.
    QString name = QString("document name ").repeated(50);
    QString label = QString("label ").repeated(50);
    QVector<QPointF> points{{0.1, 0.2}, {0.3, 0.4}};
    auto draw = std::make_shared<_DrawItem>();
    draw->docName = name;
    draw->data.label = label;
    draw->data.points = points;
    std::weak_ptr<_DrawItem> watch = draw;
    std::shared_ptr<_VRKItemBase> base = draw;
    draw.reset();
    QVERIFY(!name.isDetached() && !label.isDetached() && !points.isDetached());
    base.reset();
    QVERIFY(watch.expired());
    QVERIFY(name.isDetached());
    QVERIFY(label.isDetached());
    QVERIFY(points.isDetached());
}

QTEST_GUILESS_MAIN(TestResourceItem)
#include "tst_resourceitem.moc"
