#include "service/ConsoleOperator.h"

#include "common/LogText.h"
#include "service/JournalLine.h"

#include <algorithm>
#include <chrono>

namespace ostrel {

ConsoleOperator::ConsoleOperator(std::ostream& out, bool debug, bool detailLog)
    : m_out(out), m_debug(debug), m_detailLog(detailLog) {}

void ConsoleOperator::setSecrets(Secrets secrets) {
    std::lock_guard lock(m_mutex);
    m_secrets = std::move(secrets);
}

void ConsoleOperator::log(Pane pane, const std::string& message) {
    const JournalLevel level = journalLevel(message);
    const std::string text = (pane == Pane::Clearlog ? ClearlogMark : "") + isoTime(std::chrono::system_clock::now()) +
                             escapeControlCharacters(message);
    if (level == JournalLevel::Error) {
        std::lock_guard lock(m_mutex);
        m_errorsThisRound.push_back(message);
    }
    write(static_cast<int>(level), text);
}

void ConsoleOperator::logPlain(Pane pane, const std::string& line) {
    write(static_cast<int>(JournalLevel::Info), (pane == Pane::Clearlog ? ClearlogMark : "") + line);
}

void ConsoleOperator::beginRound() {
    std::lock_guard lock(m_mutex);
    m_errorsThisRound.clear();
}

void ConsoleOperator::logErrorOnce(const std::string& message, const std::string& errorText) {
    {
        std::lock_guard lock(m_mutex);
        const bool told = std::any_of(m_errorsThisRound.begin(), m_errorsThisRound.end(), [&](const std::string& line) {
            return line.find(errorText) != std::string::npos;
        });
        if (told)
            return;
        m_errorsThisRound.push_back(message);
    }
    write(static_cast<int>(JournalLevel::Error),
          isoTime(std::chrono::system_clock::now()) + escapeControlCharacters(message));
}

void ConsoleOperator::write(int level, const std::string& text) {
    std::lock_guard lock(m_mutex);
    std::string line = withoutSecrets(text, m_secrets ? m_secrets() : std::vector<std::string>{});
    // A message that carries a line break (a server's error text may) still makes one line.
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    m_out << journalPrefix(static_cast<JournalLevel>(level)) << line << '\n' << std::flush;
}

void ConsoleOperator::writeLine(std::ostream& stream, const std::string& line) {
    std::lock_guard lock(m_mutex);
    stream << line << std::endl;
}

} // namespace ostrel
