#define FLOG_SOURCE "views/TemplateFactory"
#include "TemplateFactory.h"

#include "DataWrapper.h"
#include "FLog.h"
#include "Template1Widget.h"
#include "Template2Widget.h"
#include "Template3Widget.h"
#include "Template4Widget.h"
#include "Template5Widget.h"
#include "Template6Widget.h"

qint16 templateTypeOf(const std::shared_ptr<_RootItem>& root) {
    if (!root || !root->datas || !root->datas->room_item) {
        return 0;
    }
    return root->datas->room_item->templateType;
}

TemplateInterface* createTemplateByType(int templateType) {
    switch (templateType) {
        case 2:
            return new Template2Widget();
        case 3:
            return new Template3Widget();
        case 4:
            return new Template4Widget();
        case 5:
            return new Template5Widget();
        case 6:
            return new Template6Widget();
        default:
            return new Template1Widget();
    }
}

TemplateInterface* createTemplate(const std::shared_ptr<DataWrapper>& session) {
    if (!session) {
        FLOG(FLOG_ERROR, "no session to create a template for");
        return nullptr;
    }
    auto root = session->getRootItem();
    if (!root || !root->datas || !root->datas->room_item) {
        FLOG(FLOG_WARN, "package has no room record; video-only template used");
    }
    const qint16 type = templateTypeOf(root);
    FLOG(FLOG_INFO, "templateType:%d", int(type));
    TemplateInterface* result = createTemplateByType(type);
    session->setObserver(result);
    return result;
}
