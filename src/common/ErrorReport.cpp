#include "common/ErrorReport.h"

#include <stdexcept>

namespace ostrel {

namespace {

std::string innermostMessage(const std::exception& error) {
    try {
        std::rethrow_if_nested(error);
    } catch (const std::exception& inner) {
        return innermostMessage(inner);
    } catch (...) {
        // A wrapped error that is no std::exception has no message; the wrapper's must do.
    }
    return error.what();
}

} // namespace

std::string withClosingFullStop(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        message += '.';
    return message;
}

std::string errorReportText(const std::exception_ptr& error) {
    std::string message;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        message = innermostMessage(caught);
    } catch (...) {
        message = "Unknown error";
    }
    return withClosingFullStop(std::move(message));
}

} // namespace ostrel
