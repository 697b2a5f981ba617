#pragma once
// In-memory records of a package's meta.json. Members carry their JSON key names and, except in the
// draw data, keep the order of the file's members.
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <memory>

// Item kinds: the index of each event list inside _MetaItem.
enum VRKItemKind : qint32 {
    VRK_KIND_TEMPLATE = -1,
    VRK_KIND_DRAW = 0,
    VRK_KIND_ANIMATION = 1,
    VRK_KIND_PAGE_CHANGE = 2,
    VRK_KIND_ANSWER = 3,
    VRK_KIND_QUESTION = 4,
    VRK_KIND_CHAT = 5,
};

struct _VRKItemBase {
    qint32 time = 0;  // milliseconds from the start of the recording (whole seconds in meta.json)
    qint32 kind = 0;

    _VRKItemBase() = default;
    explicit _VRKItemBase(qint32 k) : kind(k) {}
    virtual ~_VRKItemBase() = default;
};

struct _TemplateItem : public _VRKItemBase {
    qint16 id = 0;
    qint16 type = 0;
    qint16 status = 0;
    qint16 pdfView = 0;
    qint16 chatView = 0;
    qint16 qaView = 0;
    QString name;
    QString desc;
    QString iconPath;

    _TemplateItem() : _VRKItemBase(VRK_KIND_TEMPLATE) {}
};

struct _RoomItem {
    bool ableCode = false;
    bool ableEdit = false;
    bool ableMonitor = false;
    bool ableClose = false;
    bool close = false;
    bool ableLogin = false;
    bool hasWarmVideoId = false;
    bool openHostMode = false;
    bool openLowDelayMode = false;
    bool freeAuth = false;

    qint16 id = 0;
    qint16 manuallyRecordMode = 0;
    qint16 status = 0;
    qint16 authType = 0;
    qint16 userId = 0;
    qint16 barrage = 0;
    qint16 templateType = 0;
    qint16 warmVideoId = 0;
    qint16 delayTime = 0;
    qint16 showUserCount = 0;
    qint16 foreignPublish = 0;
    qint16 dvr = 0;
    qint16 clientDocPermissions = 0;

    QString name;
    QString desc;
    QString encryptId;
    QString encryptUserId;
    QString publisherPass;
    QString playPass;
    QString assistantPass;
    QString checkUrl;
    QString encryptWarmVideoId;
    QString escapeHTMLName;
    QString escapeHTMLDesc;
    QString atlasRoomId;
};

// Decoded content of a draw event's "data" text. Unlike the other records its members are grouped by
// size rather than in the text's order: there is one per stroke, millions in a long class, and the
// grouping leaves no padding between them (the written order comes from the field tables, not from
// here).
struct _DrawData {
    QRectF rect;       // types 3, 4 (radii in width/height) and 5
    qint32 color = 0;  // 0xRRGGBB
    qint32 size = 0;   // font pixel size of type 5
    qint16 type = 0;
    qint16 width = 0;
    qint16 height = 0;
    qint16 thickness = 0;
    qint16 alpha = 0;
    qint16 drawtime = 0;
    qint16 page = 0;
    QString label;  // text of type 5
    QString docid;
    QString drawid;
    // Type 2 and the other array types. A vector holds its points in one block (a list would give
    // each point a heap node of its own).
    QVector<QPointF> points;
};

struct _DrawItem : public _VRKItemBase {
    qint16 pageNum = 0;
    QString docName;
    _DrawData data;

    _DrawItem() : _VRKItemBase(VRK_KIND_DRAW) {}
};

struct _AnimationItem : public _VRKItemBase {
    qint16 docTotalPage = 0;
    qint16 pageNum = 0;
    QString encryptDocId;
    QString docId;
    qint16 step = 0;

    _AnimationItem() : _VRKItemBase(VRK_KIND_ANIMATION) {}
};

struct _PageChangeItem : public _VRKItemBase {
    bool useSDK = false;
    qint16 docTotalPage = 0;
    qint16 pageNum = 0;
    qint16 width = 0;
    qint16 height = 0;
    qint64 serverTime = 0;
    QString encryptDocId;
    QString pageTitle;
    QString docId;
    QString docName;
    QString url;
    qint32 mode = 0;

    _PageChangeItem() : _VRKItemBase(VRK_KIND_PAGE_CHANGE) {}
};

struct _AnswerItem : public _VRKItemBase {
    qint16 isPrivate = 0;
    QString id;
    QString content;
    QString encryptId;
    QString triggerTime;
    QString answerUserId;
    QString answerUserName;
    QString answerUserAvatar;
    QString answerUserRole;

    _AnswerItem() : _VRKItemBase(VRK_KIND_ANSWER) {}
};

struct _QuestionItem : public _VRKItemBase {
    qint16 isPublish = 0;
    QString id;
    QString content;
    QString encryptId;
    QString triggerTime;
    QString questionUserId;
    QString questionUserName;
    QString questionUserAvatar;

    _QuestionItem() : _VRKItemBase(VRK_KIND_QUESTION) {}
};

struct _ChatLogItem : public _VRKItemBase {
    QString userCustomMark;
    QString userRole;
    QString userAvatar;
    QString userId;
    QString userName;
    QString content;

    _ChatLogItem() : _VRKItemBase(VRK_KIND_CHAT) {}
};

// The six event lists, in item-kind order.
struct _MetaItem {
    QList<std::shared_ptr<_DrawItem>> draw;
    QList<std::shared_ptr<_AnimationItem>> animation;
    QList<std::shared_ptr<_PageChangeItem>> pageChange;
    QList<std::shared_ptr<_AnswerItem>> answer;
    QList<std::shared_ptr<_QuestionItem>> question;
    QList<std::shared_ptr<_ChatLogItem>> chatLog;
};

struct _DatasItem {
    std::shared_ptr<_TemplateItem> template_item;
    std::shared_ptr<_MetaItem> meta_item;
    std::shared_ptr<_RoomItem> room_item;
};

struct _RootItem {
    bool success = false;
    QString msg;
    std::shared_ptr<_DatasItem> datas;
    QString meta_path;      // workspace + "meta.json"
    QString video_path;     // workspace + "c.mp4" (or "c")
    QString tmp_path;       // workspace, ends with "/"
    QString tmp_edit_path;  // edit directory, ends with "/"
};
