#include "support/RecordingOperator.h"

#include <algorithm>
#include <strings.h>

namespace ostrel::test {

void RecordingOperator::log(Pane pane, const std::string& message) {
    logPlain(pane, message);
}

void RecordingOperator::logPlain(Pane pane, const std::string& line) {
    std::lock_guard lock(m_mutex);
    (pane == Pane::Log ? m_log : m_clearlog).push_back(line);
}

void RecordingOperator::tarpitAppend(const std::string& address) {
    std::lock_guard lock(m_mutex);
    m_tarpit.push_back(address);
}

void RecordingOperator::tarpitRemove(const std::string& address) {
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_tarpit.begin(), m_tarpit.end(),
                           [&](const std::string& entry) { return strcasecmp(entry.c_str(), address.c_str()) == 0; });
    if (it != m_tarpit.end())
        m_tarpit.erase(it);
}

std::vector<std::string> RecordingOperator::lines(Pane pane) const {
    std::lock_guard lock(m_mutex);
    return pane == Pane::Log ? m_log : m_clearlog;
}

std::vector<std::string> RecordingOperator::tarpit() const {
    std::lock_guard lock(m_mutex);
    return m_tarpit;
}

bool RecordingOperator::hasLine(const std::string& message, Pane pane) const {
    const auto all = lines(pane);
    return std::find(all.begin(), all.end(), message) != all.end();
}

bool RecordingOperator::hasLineContaining(const std::string& text, Pane pane) const {
    const auto all = lines(pane);
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

void RecordingOperator::clear() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
    m_clearlog.clear();
    m_tarpit.clear();
}

} // namespace ostrel::test
