#include "TaskInterface.h"

#include <QCoreApplication>

namespace TaskTexts {

QString statusText(int status) {
    switch (status) {
        case TaskStatus::Converting:
            return QCoreApplication::translate("TaskInterface", "Converting");
        case TaskStatus::Finished:
            return QCoreApplication::translate("TaskInterface", "Finished");
        case TaskStatus::Failed:
            return QCoreApplication::translate("TaskInterface", "Failed");
        case TaskStatus::Wait:
            return QCoreApplication::translate("TaskInterface", "Wait");
        default:
            return QString();
    }
}

QString statusColor(int status) {
    switch (status) {
        case TaskStatus::Converting:
            return QStringLiteral("#4ba9fa");
        case TaskStatus::Finished:
            return QStringLiteral("#38404b");
        case TaskStatus::Failed:
            return QStringLiteral("#f4384f");
        case TaskStatus::Wait:
            return QStringLiteral("#b5b7be");
        default:
            return QString();
    }
}

QString typeName(int type) {
    switch (type) {
        case TaskType::Cut:
            return QCoreApplication::translate("TaskInterface", "Cut");
        case TaskType::Merge:
            return QCoreApplication::translate("TaskInterface", "Merge");
        default:
            return QCoreApplication::translate("TaskInterface", "Convert");
    }
}

QString typeIcon(int type) {
    if (type == TaskType::Cut) {
        return QStringLiteral(":/mainWindow/Resources/mainWindow/cut_tool.png");
    }
    // Merge and Convert share the picture.
    return QStringLiteral(":/mainWindow/Resources/mainWindow/megre_tool.png");
}

QString reasonText(int reason) {
    switch (reason) {
        case FinishReason::ReadFileFail:
            return QCoreApplication::translate("TaskInterface", "read file fail.");
        case FinishReason::TemplateTypeConflict:
            return QCoreApplication::translate("TaskInterface", "template type is conflict.");
        case FinishReason::MergeFail:
            return QCoreApplication::translate("TaskInterface", "merge fail.");
        case FinishReason::CutFail:
            return QCoreApplication::translate("TaskInterface", "cut fail.");
        case FinishReason::ConvertFail:
            return QCoreApplication::translate("TaskInterface", "convert fail.");
        case FinishReason::Cancelled:
            return QCoreApplication::translate("TaskInterface", "cancelled by the user.");
        default:
            return QString();
    }
}

}  // namespace TaskTexts
