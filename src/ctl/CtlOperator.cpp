#include "ctl/CtlOperator.h"

#include "common/LogText.h"

namespace ostrel {

void CtlOperator::log(Pane, const std::string& message) {
    if (m_quiet)
        return;
    std::lock_guard lock(m_mutex);
    m_out << escapeControlCharacters(message) << '\n' << std::flush;
}

} // namespace ostrel
