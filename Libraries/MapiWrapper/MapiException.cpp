// CMAPIException, CheckHr and the message-box stand-in behind ReportError.
#include "MapiException.h"

#include <iostream>
#include <mutex>
#include <utility>

namespace {

std::mutex g_handlerMutex;
MessageBoxHandler g_handler;  // empty: write to standard error

void WriteToStderr(const std::string& caption, const std::string& text) {
    std::cerr << caption << ": " << text << std::endl;
}

}  // namespace

CMAPIException::CMAPIException(HRESULT hr, LPCSTR context, LPCSTR /*file*/, int /*line*/)
    : m_hr(hr), m_strContext(context ? context : "") {}

void CMAPIException::ReportError(LPCSTR title) const {
    std::string caption = title ? title : "";
    if (!m_strContext.empty()) caption += "\r\nin " + m_strContext;
    const std::string text = GetErrorName(m_hr);

    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    // Called outside the lock: a modal box may run for as long as the user
    // keeps it open.
    if (handler)
        handler(caption, text);
    else
        WriteToStderr(caption, text);
}

HRESULT CheckHr(HRESULT hr) {
    if (hr < 0) throw CMAPIException(hr, nullptr);
    return hr;
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = std::move(handler);
}
