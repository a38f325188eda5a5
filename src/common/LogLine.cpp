#include "common/LogLine.h"

#include "common/LogText.h"

#include <clocale>
#include <ctime>

namespace ostrel {

std::string formatLogLine(const std::tm& local, std::chrono::nanoseconds sinceSecond, const std::string& message) {
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0 &&
                          std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count() == 0;
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, midnight ? "%x" : "%x %X", &local);
    return std::string(buffer, length) + escapeControlCharacters(message);
}

void useRegionalFormats() {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace ostrel
