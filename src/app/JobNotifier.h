#pragma once

#include "conversion/PDFViewModel.h"

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

class DesktopNotifier;

// Tells the desktop when a job started from the window ends while the user looks elsewhere.
class JobNotifier : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(quorvel::PDFViewModel *viewModel READ viewModel WRITE setViewModel NOTIFY
                   viewModelChanged FINAL)
    Q_PROPERTY(QQuickWindow *window READ window WRITE setWindow NOTIFY windowChanged FINAL)

public:
    explicit JobNotifier(QObject *parent = nullptr);

    PDFViewModel *viewModel() const { return m_viewModel; }
    void setViewModel(PDFViewModel *viewModel);
    QQuickWindow *window() const { return m_window; }
    void setWindow(QQuickWindow *window);

    // The notification's title and text for a job whose polling ended.
    static QString title(const ConversionTask &task);
    static QString body(const ConversionTask &task);

Q_SIGNALS:
    void viewModelChanged();
    void windowChanged();

private:
    void jobEnded(const ConversionTask &task);

    QPointer<PDFViewModel> m_viewModel;
    QPointer<QQuickWindow> m_window;
    DesktopNotifier *m_notifier = nullptr;
};

} // namespace quorvel
