#include "platform/inet/InternetSession.h"

#include <curl/curl.h>

#include <mutex>

namespace inet {

namespace {

std::mutex g_limitsMutex;
TransferLimits g_limits;

} // namespace

std::string_view to_string(ErrorCode code)
{
    switch (code) {
    case ErrorCode::InitFailed: return "InitFailed";
    case ErrorCode::BadUrl: return "BadUrl";
    case ErrorCode::Connect: return "Connect";
    case ErrorCode::HttpStatus: return "HttpStatus";
    case ErrorCode::Timeout: return "Timeout";
    case ErrorCode::Transfer: return "Transfer";
    case ErrorCode::Interrupted: return "Interrupted";
    }
    return "Unknown";
}

TransferLimits DefaultTransferLimits()
{
    std::lock_guard lock(g_limitsMutex);
    return g_limits;
}

void SetDefaultTransferLimits(const TransferLimits& limits)
{
    std::lock_guard lock(g_limitsMutex);
    g_limits = limits;
}

Result<InternetSession> InternetSession::Open(std::string_view agent, const TransferLimits& limits)
{
    // curl_global_init is not safe to race with itself or with other curl
    // calls on every build of the library; once per process, before any
    // handle exists, is.
    static const CURLcode initResult = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (initResult != CURLE_OK)
        return Error { ErrorCode::InitFailed, curl_easy_strerror(initResult) };
    return InternetSession(agent, limits);
}

} // namespace inet
