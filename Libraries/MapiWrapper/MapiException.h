// CMAPIException, the one exception type for every failing MAPI call in the
// access layer, with the check that raises it, the code-to-name lookup and
// the message box that shows an exception to the user.
#pragma once

#include <functional>
#include <string>

#include <mapiwin.h>

// A failing MAPI or COM result code with the name of the wrapper operation
// that saw it. Thrown and caught by value; no base class. m_strContext is
// empty when the generic check raised it.
class CMAPIException {
public:
    // A null context gives an empty m_strContext. file and line are accepted
    // for callers that know them but are not kept.
    CMAPIException(HRESULT hr, LPCSTR context, LPCSTR file = nullptr, int line = 0);

    // Shows the exception in a modal box with an OK button: the text is
    // GetErrorName(m_hr); the caption is title (empty when null), followed by
    // "\r\nin " and m_strContext when the context is not empty. Goes through
    // the installed message-box handler (see SetMessageBoxHandler) on the
    // calling thread.
    void ReportError(LPCSTR title) const;

    HRESULT m_hr;
    std::string m_strContext;
};

// Returns hr unchanged when it is not negative (success and warnings such as
// MAPI_W_ERRORS_RETURNED); otherwise throws CMAPIException(hr, empty context).
HRESULT CheckHr(HRESULT hr);

// Symbolic name of a result code: "" for 0, the first matching name of the
// error-name table, else "Unknown Error %x" (lower-case hex, no prefix).
// Names from the table are static. The fallback text lives in a 128-byte
// buffer of the calling thread and stays valid until that thread's next
// miss; a caller that keeps the text copies it.
LPCSTR GetErrorName(HRESULT hr);

// Where ReportError's box goes. The handler receives caption and text and is
// called on the thread that calls ReportError (the copy run calls it on its
// worker thread), so a handler that shows a real box hands it to its own
// user-interface thread and waits there: modal, no owner, OK only. It must
// not throw. Installing an empty function restores the default, which writes
// "CAPTION: TEXT" and a line break to standard error. Safe to call from any
// thread.
using MessageBoxHandler = std::function<void(const std::string& caption, const std::string& text)>;
void SetMessageBoxHandler(MessageBoxHandler handler);
