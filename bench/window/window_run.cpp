// Presses "Değiştir" in the real window on a database file and times the run,
// on whatever display Qt is given (bench/window_bench.sh runs it under Xvfb
// with a window manager). Counts how often the record counter and the
// old-value box were painted during the run.
//
// usage: bench_window_run FILE TABLE FIELD --titlecase
//        bench_window_run FILE TABLE FIELD --replace OLD NEW
// Prints one line: the seconds of the run, the paints per second of the
// counter and of the old-value box, their counts, and the counter's last text.

#include "app/app_look.h"
#include "app/form1.h"
#include "app/input_box.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>

#include <cstdio>
#include <cstring>

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

int usage()
{
    std::fprintf(stderr,
                 "usage: bench_window_run FILE TABLE FIELD --titlecase\n"
                 "       bench_window_run FILE TABLE FIELD --replace OLD NEW\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) return usage();
    const bool titleCase = std::strcmp(argv[4], "--titlecase") == 0;
    if (!titleCase && (std::strcmp(argv[4], "--replace") != 0 || argc != 7)) return usage();

    QApplication app(argc, argv);
    varnika::applyProgramLook(app);
    varnika::Form1 form;
    form.Form_Load();
    form.show();

    // The window on the screen and settled before the clock starts.
    QElapsedTimer wait;
    wait.start();
    while (!(form.windowHandle() && form.windowHandle()->isExposed()) && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!form.windowHandle() || !form.windowHandle()->isExposed()) {
        std::fprintf(stderr, "bench_window_run: the window was never shown\n");
        return 1;
    }
    while (wait.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    using varnika::TextBox;
    auto fill = [&form](TextBox box, const char* text) { form.setText(box, QString::fromUtf8(text).toStdU16String()); };
    fill(TextBox::Text1, argv[1]);
    fill(TextBox::Text5, argv[2]);
    fill(TextBox::Text2, argv[3]);
    if (titleCase) {
        form.setChecked(varnika::CheckBox::Check4, true);
    } else {
        fill(TextBox::Text3, argv[5]);
        fill(TextBox::Text4, argv[6]);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    PaintCounter counterPaints, boxPaints;
    form.counterLabel()->installEventFilter(&counterPaints);
    form.textBox(TextBox::Text3)->installEventFilter(&boxPaints);

    QElapsedTimer clock;
    clock.start();
    form.button(varnika::Button::Command1)->click();
    const double seconds = clock.nsecsElapsed() / 1e9;

    std::printf("seconds %.3f counter_draws_per_s %.1f text3_draws_per_s %.1f counter_draws %d text3_draws %d "
                "counter \"%s\"\n",
                seconds, counterPaints.paints / seconds, boxPaints.paints / seconds, counterPaints.paints,
                boxPaints.paints, form.counterLabel()->text().toUtf8().constData());
    return 0;
}
