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
        // Never destroyed: at exit Qt's own globals are gone before a static
        // QApplication would be, and its destructor would touch them.
        auto* instance = new QApplication(argc, argv);
        applyProgramLook(*instance);
        return instance;
    }();
    return *app;
}

}  // namespace varnika::test
