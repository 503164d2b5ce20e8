#pragma once

#include "CompanionCore/runtime/MainLoop.hpp"

#include <memory>

class QObject;

namespace kavrel {

// The MainLoop of the application: the Qt event loop of the thread that creates it (the GUI
// thread). Must outlive every thread that posts to it.
class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    void post(Task task) override;
    Cancellable after(std::chrono::milliseconds delay, Task task) override;
    Cancellable every(std::chrono::milliseconds interval, Task task) override;
    Cancellable watchReadable(int descriptor, Task task) override;
    TimePoint now() const override;

private:
    Cancellable startTimer(std::chrono::milliseconds interval, bool repeating, Task task);

    // Parent of every timer and notifier; its thread is the loop's thread.
    std::unique_ptr<QObject> context;
};

} // namespace kavrel
