// The window tests run on Qt's offscreen platform: no display is needed.
#include <gtest/gtest.h>

#include <stdlib.h>

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
    return RUN_ALL_TESTS();
}
