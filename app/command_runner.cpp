#include "app/command_runner.h"

#include <system_error>
#include <utility>

namespace kestrune {

CommandRunner::CommandRunner(QObject* parent) : QObject(parent) {
    connect(this, &CommandRunner::workReturned, this, &CommandRunner::onWorkReturned,
            Qt::QueuedConnection);
}

CommandRunner::~CommandRunner() {
    abandon();
}

bool CommandRunner::start(Work work) {
    if (running_) {
        return false;
    }
    join();
    running_ = true;
    work_ = std::move(work);
    try {
        worker_ = std::thread([this] { runWork(); });
    } catch (const std::system_error&) {
        // No thread to be had: the command runs here, as it would have with the window blocked,
        // rather than not at all.
        const Finish finish = work_();
        running_ = false;
        if (finish) {
            finish();
        }
    }
    return true;
}

void CommandRunner::runWork() {
    Finish finish = work_();
    {
        const std::lock_guard lock(finishMutex_);
        // An empty finish still marks the work as returned.
        finish_ = finish ? std::move(finish) : Finish([] {});
    }
    emit workReturned();
}

void CommandRunner::onWorkReturned() {
    Finish finish;
    {
        const std::lock_guard lock(finishMutex_);
        finish = std::exchange(finish_, nullptr);
    }
    // Nothing waiting: the command was abandoned after its work returned.
    if (!finish) {
        return;
    }
    join();
    running_ = false;
    finish();
}

void CommandRunner::abandon() {
    join();
    const std::lock_guard lock(finishMutex_);
    finish_ = nullptr;
    running_ = false;
}

void CommandRunner::join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

}  // namespace kestrune
