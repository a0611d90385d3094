#include "app/form1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    varnika::Form1 form;
    form.show();
    return app.exec();
}
