// Queued calls whose hand-over is visible to the standard library's
// synchronisation.
#include "ui_thread.h"

#include <QThread>

CUiCaller::CUiCaller(QObject* parent) : QObject(parent) {
    connect(this, &CUiCaller::requested, this, &CUiCaller::Serve, Qt::QueuedConnection);
}

CUiCaller::~CUiCaller() {
    std::lock_guard lock(mutex_);
    for (Request* r : pending_) r->done = true;
    pending_.clear();
    done_.notify_all();
}

void CUiCaller::Call(const std::function<void()>& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    Request request{&f};
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(&request);
    }
    emit requested();
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return request.done; });
}

void CUiCaller::Serve() {
    for (;;) {
        Request* request = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) return;
            request = pending_.front();
            pending_.pop_front();
        }
        // The caller waits, so its function and data stay alive meanwhile.
        (*request->function)();
        std::lock_guard lock(mutex_);
        request->done = true;
        done_.notify_all();
    }
}
