#pragma once
#include <qwindowdefs.h>

#include "DataWrapperObserver.h"

class QWidget;

// A layout template: a widget holding the video area and the event views it forwards to.
class TemplateInterface : public DataWrapperObserver {
public:
    virtual WId mediaWinId() = 0;
    virtual QWidget* mediaWidget() = 0;
    virtual ~TemplateInterface() = default;
};
