#include "app/form1.h"

namespace varnika {

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Varnika"));
    setFixedSize(697, 363);
}

}  // namespace varnika
