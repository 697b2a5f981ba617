#pragma once
// The layout template a playback is shown in follows from its room's templateType.
#include <QtGlobal>
#include <memory>

#include "TemplateInterface.h"

class DataWrapper;
struct _RootItem;

// The room's templateType of a read package; 0 when the tree has no room record.
qint16 templateTypeOf(const std::shared_ptr<_RootItem>& root);

// A new template without parent: 2..6 give Template2Widget..Template6Widget, every other value
// Template1Widget. The caller owns it (obtain the widget with dynamic_cast<QWidget*>).
TemplateInterface* createTemplateByType(int templateType);

// Chooses the template for the session's package, creates it and registers it as the session's
// observer. Null only when `session` is null.
TemplateInterface* createTemplate(const std::shared_ptr<DataWrapper>& session);
