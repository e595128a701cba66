// Waiting in a test for a scan that runs on the scan session's worker thread, while the test's
// thread (the GUI thread) handles what the scan posts.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <thread>

// Handles posted events until `done`; fails the test after `limit`.
inline void waitUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "timed out";
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QCoreApplication::processEvents();
}

// The scan's answer, once it is there and everything it posted has been handled.
inline std::optional<QString> finish(std::future<std::optional<QString>>& result,
                                     std::chrono::seconds limit = std::chrono::seconds(20))
{
    waitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, limit);
    return result.get();
}
