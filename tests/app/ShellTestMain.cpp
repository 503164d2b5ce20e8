// The interface tests share one application object, on the offscreen platform with one screen: a
// 1280×800 laptop at a 192-dpi setting, so 640×400 logical pixels, lower than the settings window.

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" KAVREL_SHELL_SCREEN, 1);
    ::setenv("QT_QUICK_CONTROLS_STYLE", "Basic", 1);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
