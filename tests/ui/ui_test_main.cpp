// SPDX-License-Identifier: MIT
// The window tests run on Qt's offscreen platform: no display is needed.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include <QApplication>

#include "platform/qt/qt_socket_watcher.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings of the tests' own: never the user's.
    char config[] = "/tmp/tarnwick-config-XXXXXX";
    if (::mkdtemp(config) == nullptr)
        return 1;
    qputenv("XDG_CONFIG_HOME", config);
    QApplication application(argc, argv);
    CQtSocketWatcher watcher;
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
    return result;
}
