#include "service/ConsoleOperator.h"

#include "common/LogLine.h"

#include <algorithm>
#include <chrono>

namespace ostrel {

ConsoleOperator::ConsoleOperator(std::ostream& out, bool debug, bool detailLog)
    : m_out(out), m_debug(debug), m_detailLog(detailLog) {}

void ConsoleOperator::log(Pane pane, const std::string& message) {
    logPlain(pane, formatLogLine(std::chrono::system_clock::now(), message));
}

void ConsoleOperator::logPlain(Pane pane, const std::string& line) {
    // A message that carries a line break (a server's error text may) still makes one line.
    std::string oneLine = line;
    std::replace_if(
        oneLine.begin(), oneLine.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    std::lock_guard lock(m_mutex);
    if (pane == Pane::Clearlog)
        m_out << ClearlogMark;
    m_out << oneLine << '\n' << std::flush;
}

void ConsoleOperator::writeLine(std::ostream& stream, const std::string& line) {
    std::lock_guard lock(m_mutex);
    stream << line << std::endl;
}

} // namespace ostrel
