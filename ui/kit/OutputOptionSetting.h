#pragma once
// Output options of a cut or merge task: playback title, file name, folder, transcoding and the
// video size. Kept by its task window and reused on every opening; it has no confirm button.
#include "BaseDialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QValidator;

class OutputOptionSetting : public BaseDialog {
    Q_OBJECT
public:
    explicit OutputOptionSetting(QWidget* parent = nullptr);

    QString playbackTitle() const;
    QString fileName() const;
    QString folder() const;
    bool transcode() const;
    void setTranscode(bool on);
    // Entries that are not positive numbers give 1280 and 720.
    int videoWidth() const;
    int videoHeight() const;
    void setVideoWidth(int w);
    void setVideoHeight(int h);
    // A cut keeps the video's size, so its window hides the size entries.
    void hideVideoSize();

    // The validator of "File Name": none of \ ? * | : " < > / may be typed.
    static QValidator* createFileNameValidator(QObject* parent);

private slots:
    void on_pushButton_browse_clicked();
    void on_closeBtn_clicked();
    void on_m_pCBTranscodeOn_clicked(bool checked);

private:
    void setupForm();

    QLineEdit* m_line_edit_title = nullptr;
    QLineEdit* m_line_edit_name = nullptr;
    QLineEdit* m_line_edit_path = nullptr;
    QCheckBox* m_transcode_on = nullptr;
    QLabel* m_label_width = nullptr;
    QLabel* m_label_height = nullptr;
    QLineEdit* m_line_edit_width = nullptr;
    QLineEdit* m_line_edit_height = nullptr;
};
