#include "blocking/CurlHandle.h"

#include "blocking/HttpErrors.h"

#include <mutex>
#include <string>

namespace ostrel {

namespace {

CURLcode globalInitOnce() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result;
}

} // namespace

CurlEasy makeCurlEasy() {
    if (CURLcode rc = globalInitOnce(); rc != CURLE_OK)
        throw EHTTPClientError(std::string("HTTP client could not be initialised: ") + curl_easy_strerror(rc));
    CurlEasy handle(curl_easy_init());
    if (!handle)
        throw EHTTPClientError("HTTP client could not be created");
    return handle;
}

} // namespace ostrel
