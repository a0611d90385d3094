#pragma once
// The main window.

#include <QWidget>

namespace varnika {

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
};

}  // namespace varnika
