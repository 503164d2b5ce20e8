#include "Platform/QtMainLoop.hpp"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <type_traits>
#include <utility>

namespace kavrel {

namespace {

// Stops the object from calling back at once and deletes it later, so that a task may cancel the
// very timer or notifier that is running it.
template <typename Object> void retire(QPointer<Object>& object) {
    if (object) {
        QObject::disconnect(object, nullptr, nullptr, nullptr);
        if constexpr (std::is_same_v<Object, QTimer>) {
            object->stop();
        } else {
            object->setEnabled(false);
        }
        object->deleteLater();
    }
}

} // namespace

QtMainLoop::QtMainLoop() : context(std::make_unique<QObject>()) {}

QtMainLoop::~QtMainLoop() = default;

void QtMainLoop::post(Task task) {
    QMetaObject::invokeMethod(context.get(), std::move(task), Qt::QueuedConnection);
}

Cancellable QtMainLoop::after(std::chrono::milliseconds delay, Task task) {
    return startTimer(delay, false, std::move(task));
}

Cancellable QtMainLoop::every(std::chrono::milliseconds interval, Task task) {
    return startTimer(interval, true, std::move(task));
}

Cancellable QtMainLoop::startTimer(std::chrono::milliseconds interval, bool repeating, Task task) {
    QPointer<QTimer> timer = new QTimer(context.get());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeating);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, repeating, task = std::move(task)]() mutable {
        if (!repeating) {
            QPointer<QTimer> done = timer;
            retire(done);
        }
        task();
    });
    timer->start(interval);
    return Cancellable([timer]() mutable { retire(timer); });
}

Cancellable QtMainLoop::watchReadable(int descriptor, Task task) {
    QPointer<QSocketNotifier> notifier =
        new QSocketNotifier(descriptor, QSocketNotifier::Read, context.get());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [task = std::move(task)] { task(); });
    return Cancellable([notifier]() mutable { retire(notifier); });
}

MainLoop::TimePoint QtMainLoop::now() const {
    return Clock::now();
}

} // namespace kavrel
