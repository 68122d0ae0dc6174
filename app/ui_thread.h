// Blocking calls from a worker thread to the user-interface thread, the
// counterpart of sending a window message: the caller waits until the
// interface thread has run the function.
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Lives on the interface thread. The request and its completion travel
// through a standard mutex and condition variable; the queued signal only
// wakes the interface thread, so race checkers see every hand-over.
class CUiCaller : public QObject {
    Q_OBJECT
public:
    explicit CUiCaller(QObject* parent = nullptr);
    // Releases callers still waiting; their functions do not run.
    ~CUiCaller() override;

    // Runs f on this object's thread and waits for it; at once when called there.
    void Call(const std::function<void()>& f);

signals:
    void requested();

private:
    struct Request {
        const std::function<void()>* function;
        bool done = false;
    };
    void Serve();

    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Request*> pending_;
};
