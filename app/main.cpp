// Starts the window. One copy runs at a time: a second start ends at once,
// silently and successfully.
//
// `varnika --screenshot FILE` saves a picture of the window as it starts and
// ends, for the documentation.

#include "app/app_look.h"
#include "app/form1.h"
#include "app/single_instance.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString screenshot;
    const QStringList args = app.arguments();
    if (qsizetype i = args.indexOf(QStringLiteral("--screenshot")); i >= 0 && i + 1 < args.size())
        screenshot = args.at(i + 1);

    varnika::SingleInstance instance;
    if (!instance.acquire()) return 0;

    varnika::applyProgramLook(app);
    varnika::Form1 form;
    form.Form_Load();
    form.show();

    if (!screenshot.isEmpty()) {
        QTimer::singleShot(300, &form, [&form, &app, screenshot] {
            const bool saved = form.grab().save(screenshot);
            app.exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
