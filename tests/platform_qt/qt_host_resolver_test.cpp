// SPDX-License-Identifier: MIT
// Lookups on worker threads, answered on the window's thread.
#include "platform/qt/qt_host_resolver.h"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <chrono>
#include <thread>

#include <QCoreApplication>

#include "tests/support/timing.h"

namespace {

TEST(QtHostResolver, AnswersOnTheCallersThreadAndNeverAfterTheLookupIsGone)
{
    CQtHostResolver resolver;
    ASSERT_EQ(AfxGetHostResolver(), &resolver);
    const std::thread::id window = std::this_thread::get_id();
    int answers = 0;
    HostLookupResult kept;
    auto lookup = AfxGetHostResolver()->Lookup("localhost", 6969, [&](const HostLookupResult& result) {
        EXPECT_EQ(std::this_thread::get_id(), window);
        kept = result;
        ++answers;
    });
    ASSERT_NE(lookup, nullptr);
    // A second lookup, let go at once: its answer must never arrive.
    bool late = false;
    AfxGetHostResolver()->Lookup("localhost", 69, [&late](const HostLookupResult&) { late = true; }).reset();

    const auto deadline = std::chrono::steady_clock::now() + Scaled(std::chrono::seconds(10));
    while (answers == 0 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    ASSERT_EQ(answers, 1);
    EXPECT_EQ(kept.nError, 0);
    ASSERT_FALSE(kept.addresses.empty());
    const sockaddr_storage& first = kept.addresses.front();
    EXPECT_EQ(ntohs(first.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(first).sin6_port
                                                : reinterpret_cast<const sockaddr_in&>(first).sin_port),
              6969);
    // Give the other lookup's thread its time, then look again.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    EXPECT_FALSE(late);
}

} // namespace
