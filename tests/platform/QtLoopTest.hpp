#pragma once

#include "Platform/QtMainLoop.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <functional>

namespace kavrel {

// A QCoreApplication and a QtMainLoop for each test.
class QtLoopTest : public ::testing::Test {
protected:
    // Runs the loop until the condition holds. False after 30 s, which only keeps a broken peer from
    // hanging the suite.
    bool runUntil(const std::function<bool()>& condition) {
        QTimer wake; // ends each wait below soon
        wake.start(std::chrono::milliseconds(10));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return condition();
    }

    int argc = 1;
    char name[16] = "CompanionTests";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    QtMainLoop loop;
};

} // namespace kavrel
