#pragma once
// The merge task window: the user lists packages in play order; once confirmed, a worker opens each
// one, checks that they share one layout template and joins them into one package.
#include <QPoint>
#include <QString>
#include <QStringList>
#include <memory>

#include "TaskWindow.h"

class OutputOptionSetting;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
struct OutputOptionsSnapshot;

class ResourceMergeWidget : public TaskWindow {
    Q_OBJECT
public:
    // Largest total size of the listed packages, in bytes (5 GiB).
    static constexpr qint64 kMaxTotalBytes = 5368709120LL;
    static constexpr int kMaxFiles = 10;
    static constexpr int kDurationColumn = 2;

    explicit ResourceMergeWidget(QWidget* parent = nullptr);

    QString sourceName() override;
    QString sourceToolTip() override;
    // The name the row shows is reserved as soon as the row asks for it.
    QString outputPath() override;
    bool startTask() override;

    QStringList fileList() const { return m_file_list; }
    OutputOptionSetting* outputOptions() const { return m_output_option; }

public slots:
    void on_pushButton_up_clicked();
    void on_pushButton_down_clicked();
    void on_pushButton_remove_clicked();
    void on_pushButton_clear_clicked();
    void on_pushButton_add_file_clicked();
    void on_pushButton_output_option_clicked();
    void on_pushButton_sure_clicked();
    void on_closeBtn_clicked();
    void on_tableWidget_itemClicked(QTableWidgetItem* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupForm();
    void appendRow(const QString& path, qint64 bytes, int templateType, qint64 durationMs);
    // Lists one package after the checks of Add File; false (with the message shown) when refused.
    bool addPackage(const QString& file);
    // Files dropped from a file manager and rows dragged to a new place (ResourceMergeWidgetDrop.cpp).
    void setupDrops();
    void moveRow(int from, int to);
    // Reads the package as the merge will; the reason it cannot join the list (naming the file), or
    // empty with its layout template in *templateType.
    QString refusalOf(const QString& path, int* templateType, qint64* durationMs);
    void swapRows(int a, int b);
    void refresh();
    OutputOptionsSnapshot optionsSnapshot() const;
    QStringList tableOrder() const;

    QTableWidget* m_table = nullptr;
    QPushButton* m_up_btn = nullptr;
    QPushButton* m_down_btn = nullptr;
    QPushButton* m_remove_btn = nullptr;
    QPushButton* m_clear_btn = nullptr;
    QPushButton* m_add_file_btn = nullptr;
    QPushButton* m_output_option_btn = nullptr;
    QPushButton* m_sure_btn = nullptr;

    QStringList m_file_list;
    OutputOptionSetting* m_output_option = nullptr;
    int m_drag_row = -1;  // row pressed for a reorder drag
    QPoint m_drag_start;
};
