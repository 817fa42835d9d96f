// Runs the window's commands off the window's thread, one at a time. A command's work runs on a
// thread of its own and returns what is left to do on the window's thread, which the runner then
// does there in its turn, unless the command was abandoned first.
#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrune {

class CommandRunner : public QObject {
    Q_OBJECT

  public:
    // Done on the runner's own thread once the work has returned.
    using Finish = std::function<void()>;
    // Done on the worker thread; must not touch any widget.
    using Work = std::function<Finish()>;

    explicit CommandRunner(QObject* parent = nullptr);
    // Abandons the running command: make its work end first (cancel the link), or this waits.
    ~CommandRunner() override;
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // Starts work unless a command is running (then false, starting nothing).
    bool start(Work work);
    // From the start until the finish has been done, or the command abandoned.
    bool running() const { return running_; }
    // Waits for the work to return and drops its finish: no late result reaches anybody.
    void abandon();

  signals:
    // Emitted on the worker thread; received queued, on the runner's thread.
    void workReturned();

  private:
    void runWork();
    void onWorkReturned();
    void join();

    // Used on the runner's thread only.
    bool running_ = false;
    std::thread worker_;
    // Set before the worker starts and read by it alone until it is joined.
    Work work_;
    // Handed from the worker to the runner's thread.
    std::mutex finishMutex_;
    Finish finish_;
};

}  // namespace kestrune
