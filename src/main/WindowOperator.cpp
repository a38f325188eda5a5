#include "main/WindowOperator.h"

#include "common/LogLine.h"
#include "platform/System.h"

#include <QItemSelectionModel>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QThread>
#include <chrono>
#include <ctime>
#include <utility>

namespace ostrel {

WindowOperator::WindowOperator(QObject& context, QPlainTextEdit& log, QPlainTextEdit& clearlog, QListWidget& tarpit)
    : m_context(context), m_log(log), m_clearlog(clearlog), m_tarpit(tarpit) {}

template <typename Change> void WindowOperator::onWindowThread(Change&& change) {
    if (QThread::currentThread() == m_context.thread())
        change();
    else
        QMetaObject::invokeMethod(&m_context, std::forward<Change>(change), Qt::QueuedConnection);
}

QPlainTextEdit& WindowOperator::pane(Pane which) const {
    return which == Pane::Log ? m_log : m_clearlog;
}

void WindowOperator::log(Pane which, const std::string& message) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t second = std::chrono::system_clock::to_time_t(now);
    logPlain(which,
             formatLogLine(platform::localTime(second), now - std::chrono::system_clock::from_time_t(second), message));
}

void WindowOperator::logPlain(Pane which, const std::string& line) {
    QPlainTextEdit* target = &pane(which);
    onWindowThread([target, text = QString::fromStdString(line)] { target->appendPlainText(text); });
}

void WindowOperator::tarpitAppend(const std::string& address) {
    QListWidget* list = &m_tarpit;
    onWindowThread([list, text = QString::fromStdString(address)] { list->addItem(text); });
}

void WindowOperator::tarpitRemove(const std::string& address) {
    QListWidget* list = &m_tarpit;
    onWindowThread([list, text = QString::fromStdString(address)] { removeFirstEqual(*list, text); });
}

void WindowOperator::removeFirstEqual(QListWidget& list, const QString& address) {
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->text().compare(address, Qt::CaseInsensitive) == 0) {
            deleteEntry(list, row);
            return;
        }
    }
}

void WindowOperator::deleteEntry(QListWidget& list, int row) {
    QListWidgetItem* item = list.item(row);
    if (!item)
        return;
    // A single-selection list hands the selection of a deleted current entry to its neighbour,
    // and the next Kick would then cut an address the operator never chose.
    if (row == list.currentRow() || item->isSelected()) {
        list.selectionModel()->clearCurrentIndex();
        list.clearSelection();
    }
    delete list.takeItem(row);
}

} // namespace ostrel
