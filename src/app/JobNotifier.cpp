#include "JobNotifier.h"

#include "DesktopNotifier.h"

namespace quorvel {

JobNotifier::JobNotifier(QObject *parent)
    : QObject(parent) {}

void JobNotifier::setViewModel(PDFViewModel *viewModel) {
    if (viewModel == m_viewModel)
        return;
    if (m_viewModel)
        disconnect(m_viewModel, nullptr, this, nullptr);
    m_viewModel = viewModel;
    if (viewModel)
        connect(viewModel, &PDFViewModel::taskPollingFinished, this, &JobNotifier::jobEnded);
    Q_EMIT viewModelChanged();
}

void JobNotifier::setWindow(QQuickWindow *window) {
    if (window == m_window)
        return;
    m_window = window;
    Q_EMIT windowChanged();
}

QString JobNotifier::title(const ConversionTask &task) {
    return task.status == 1 ? tr("Conversion completed") : tr("Conversion failed");
}

QString JobNotifier::body(const ConversionTask &task) {
    return task.fileName.isEmpty() ? task.typ : task.fileName;
}

void JobNotifier::jobEnded(const ConversionTask &task) {
    // The window in front already shows the outcome.
    if (m_window && m_window->isActive())
        return;
    // Made on first use: start-up does not connect to the session bus.
    if (!m_notifier)
        m_notifier = new DesktopNotifier(this);
    m_notifier->notify(title(task), body(task));
}

} // namespace quorvel
