#include "HistoryPage.h"

#include "history/TaskFilter.h"

namespace quorvel {

HistoryPage::HistoryPage(QObject *parent)
    : QObject(parent) {}

void HistoryPage::setViewModel(HistorySource *viewModel) {
    if (viewModel == m_viewModel)
        return;
    if (m_viewModel)
        disconnect(m_viewModel, nullptr, this, nullptr);
    m_viewModel = viewModel;
    if (viewModel) {
        connect(viewModel, &HistorySource::isLoadingHistoryChanged, this,
                &HistoryPage::loadingChanged);
        // Emitted right after the empty list of a failed fetch is published.
        connect(viewModel, &HistorySource::historyFetchFailed, this,
                [this](const QString &description, qint64 code) {
                    m_haveList = false;
                    m_failureText = description;
                    m_failureCode = code;
                    Q_EMIT stateChanged();
                });
        connect(viewModel, &HistorySource::searchTextChanged, this, &HistoryPage::stateChanged);
        connect(viewModel->filteredTaskModel(), &FilteredTaskModel::countChanged, this,
                &HistoryPage::stateChanged);
        connect(viewModel, &HistorySource::selectedFilterChanged, this, [this] {
            Q_EMIT selectedFilterIndexChanged();
            // The empty text names the chip.
            Q_EMIT stateChanged();
        });
    }
    Q_EMIT viewModelChanged();
    Q_EMIT stateChanged();
    Q_EMIT selectedFilterIndexChanged();
}

void HistoryPage::loadingChanged() {
    if (!m_viewModel->isLoadingHistory()) {
        m_haveList = true;
        m_failureText.clear();
        m_failureCode = 0;
    }
    Q_EMIT stateChanged();
}

void HistoryPage::setSelected(bool selected) {
    if (selected == m_selected)
        return;
    const bool was = visible();
    m_selected = selected;
    Q_EMIT selectedChanged();
    update(was, true);
}

void HistoryPage::setWindowShown(bool shown) {
    if (shown == m_windowShown)
        return;
    const bool was = visible();
    m_windowShown = shown;
    Q_EMIT windowShownChanged();
    update(was, false);
}

void HistoryPage::componentComplete() {
    m_complete = true;
    // The page is built when its tab is first chosen: that is an arrival.
    update(false, true);
}

void HistoryPage::update(bool wasVisible, bool tabSwitch) {
    const bool now = visible();
    if (now == wasVisible || !m_viewModel)
        return;
    if (!now) {
        ++m_arrival; // a refresh still running starts no loop when it ends
        m_viewModel->stopAutoRefresh();
        loopChanged();
    } else if (tabSwitch) {
        arrive();
    } else {
        // The window came back with the page shown: the loop resumes, no fetch now.
        m_viewModel->startAutoRefresh();
        loopChanged();
    }
}

QCoro::Task<> HistoryPage::arrive() {
    const quint64 arrival = ++m_arrival;
    QPointer<HistoryPage> self(this);
    QPointer<HistorySource> viewModel(m_viewModel);
    co_await viewModel->refreshHistory();
    // Left (or left and came back) while the refresh ran: the loop is not this arrival's.
    if (!self || !viewModel || arrival != m_arrival || !visible())
        co_return;
    viewModel->startAutoRefresh();
    loopChanged();
}

bool HistoryPage::autoRefreshRunning() const {
    return m_viewModel && m_viewModel->isAutoRefreshRunning();
}

HistoryPage::ListState HistoryPage::listState() const {
    const bool loading = m_viewModel && m_viewModel->isLoadingHistory();
    if (!m_haveList)
        return loading || m_failureText.isEmpty() ? ListState::Loading : ListState::Failed;
    if (!m_viewModel || m_viewModel->filteredTaskModel()->rowCount() == 0)
        return ListState::Empty;
    return ListState::List;
}

bool HistoryPage::refreshing() const {
    return m_haveList && m_viewModel && m_viewModel->isLoadingHistory();
}

QString HistoryPage::emptyText() const {
    if (!m_viewModel)
        return tr("No conversion tasks yet");
    if (!m_viewModel->searchText().isEmpty())
        return tr("No matching tasks found");
    // An empty chip says what it filters: the account may well have other jobs.
    switch (m_viewModel->selectedFilter()) {
    case TaskFilter::Completed:
        return tr("No completed tasks");
    case TaskFilter::Converting:
        return tr("No converting tasks");
    case TaskFilter::Failed:
        return tr("No failed tasks");
    case TaskFilter::All:
        break;
    }
    return tr("No conversion tasks yet");
}

QStringList HistoryPage::filterTitles() {
    QStringList out;
    for (TaskFilter f : allTaskFilters())
        out << rawValue(f);
    return out;
}

int HistoryPage::selectedFilterIndex() const {
    return m_viewModel ? int(allTaskFilters().indexOf(m_viewModel->selectedFilter())) : 0;
}

void HistoryPage::selectFilter(int index) {
    const QList<TaskFilter> filters = allTaskFilters();
    if (m_viewModel && index >= 0 && index < filters.size())
        m_viewModel->setSelectedFilter(filters[index]);
}

void HistoryPage::refresh() {
    if (m_viewModel)
        m_viewModel->refreshHistory();
}

} // namespace quorvel
