#pragma once
// The one QApplication of the window tests, on the offscreen platform unless
// another is asked for, with the program's style, font and icon.

#include "app/app_look.h"

#include <QApplication>

namespace varnika::test {

inline QApplication& qtApp()
{
    static int argc = 1;
    static char name[] = "varnika_app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static QApplication instance(argc, argv);
        applyProgramLook(instance);
        return &instance;
    }();
    return *app;
}

}  // namespace varnika::test
