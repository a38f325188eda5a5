#pragma once

#include <cstddef>
#include <string>

namespace ostrel {

struct HttpGetOptions {
    std::string userAgent;
    long connectTimeoutMs = 0;
    long totalTimeoutMs = 0;
    // The most of a body kept; 0 keeps all of it. A longer body is cut there and the rest of
    // it is not read: the transfer ends, and the reply counts as it would have.
    std::size_t maxBodyBytes = 0;
};

// One HTTP/1.1 GET of the address exactly as given (nothing encoded), over TLS for https,
// with its own client that lives for this call only. Redirects are not followed. Returns the
// body of a 2xx reply (cut at maxBodyBytes); every other outcome raises one of the kinds of HttpErrors.h.
std::string httpGet(const std::string& url, const HttpGetOptions& options);

} // namespace ostrel
