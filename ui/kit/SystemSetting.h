#pragma once
// The settings dialog of the main window: the folder task results go to.
#include "BaseDialog.h"

class QLineEdit;

class SystemSetting : public BaseDialog {
    Q_OBJECT
public:
    explicit SystemSetting(QWidget* parent = nullptr);

private slots:
    void on_pushButton_browse_clicked();
    void on_closeBtn_clicked();

private:
    void setupForm();

    QLineEdit* m_line_edit_output_path = nullptr;
};
