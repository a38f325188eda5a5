#pragma once

#include <curl/curl.h>
#include <memory>

namespace ostrel {

struct CurlEasyCleanup {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};

// One libcurl easy handle, released on every path of the request that made it.
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

// A fresh easy handle. libcurl's process-wide setup runs once before the first one,
// whichever thread asks first; it is never torn down, as other threads may still use it.
// Raises EHTTPClientError when libcurl cannot be set up or has no memory for a handle.
CurlEasy makeCurlEasy();

} // namespace ostrel
