#pragma once

#include "conversion/PDFViewModel.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// What the conversion page shows and does, in terms the page's QML can bind to: the
// selected operation, the tool groups, the rows of the three file lists, the upload
// block's state and the warm reminder. Every action forwards to the view model.
class ConversionPage : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(quorvel::PDFViewModel *viewModel READ viewModel WRITE setViewModel NOTIFY
                   viewModelChanged FINAL)
    Q_PROPERTY(QString selectedOperation READ selectedOperation WRITE setSelectedOperation NOTIFY
                   selectedOperationChanged FINAL)
    Q_PROPERTY(QStringList nameFilters READ nameFilters NOTIFY selectedOperationChanged FINAL)
    Q_PROPERTY(QVariantList toolGroups READ toolGroups CONSTANT FINAL)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY processingStateChanged FINAL)
    Q_PROPERTY(bool showWarmReminder READ showWarmReminder NOTIFY processingStateChanged FINAL)
    Q_PROPERTY(QString warmReminderText READ warmReminderText NOTIFY processingStateChanged FINAL)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged FINAL)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged FINAL)
    Q_PROPERTY(QVariantList selectedRows READ selectedRows NOTIFY selectedRowsChanged FINAL)
    Q_PROPERTY(QVariantList uploadedRows READ uploadedRows NOTIFY uploadedRowsChanged FINAL)
    Q_PROPERTY(QVariantList processedRows READ processedRows NOTIFY processedRowsChanged FINAL)
    // Why the last drop left files out; empty when it took them all.
    Q_PROPERTY(QString dropRefusal READ dropRefusal NOTIFY dropRefusalChanged FINAL)

public:
    explicit ConversionPage(QObject *parent = nullptr);

    PDFViewModel *viewModel() const { return m_viewModel; }
    void setViewModel(PDFViewModel *viewModel);
    QString selectedOperation() const { return m_selectedOperation; }
    void setSelectedOperation(const QString &name);
    QStringList nameFilters() const;
    static QVariantList toolGroups();

    bool isProcessing() const;
    bool showWarmReminder() const;
    QString warmReminderText() const;
    double progress() const;
    // The bar's percentage: the progress times 100, truncated.
    QString progressText() const;
    // [{ name, url, isPdf }]
    QVariantList selectedRows() const;
    // [{ fileName, pagesText, succeeded, statusText }]
    QVariantList uploadedRows() const;
    // [{ name, url, isPdf }]
    QVariantList processedRows() const;

    // A tool row: remembers the operation and runs it on the selected files.
    Q_INVOKABLE void selectTool(const QString &operationName);
    // "Upload Files": runs the remembered operation.
    Q_INVOKABLE void upload();
    Q_INVOKABLE void addPickedFiles(const QList<QUrl> &files);
    Q_INVOKABLE void pickerFailed(const QString &description);
    QString dropRefusal() const { return m_dropRefusal; }
    // A drag over the page: any local file is welcome; what no tool takes is explained when
    // dropped, not silently refused.
    Q_INVOKABLE bool canDrop(const QList<QUrl> &urls) const;
    // Adds the files some tool takes, whichever tool was pressed last (the tool is chosen
    // afterwards); true when any was added.
    Q_INVOKABLE bool drop(const QList<QUrl> &urls);
    Q_INVOKABLE void removeSelectedFile(int index);
    Q_INVOKABLE void reselect();
    Q_INVOKABLE static bool isPdf(const QUrl &url);

Q_SIGNALS:
    void viewModelChanged();
    void selectedOperationChanged();
    void processingStateChanged();
    void progressChanged();
    void selectedRowsChanged();
    void uploadedRowsChanged();
    void processedRowsChanged();
    void dropRefusalChanged();

private:
    static QVariantList fileRows(const QList<QUrl> &files);

    void setDropRefusal(const QString &text);

    QPointer<PDFViewModel> m_viewModel;
    QString m_selectedOperation;
    QString m_dropRefusal;
};

} // namespace quorvel
