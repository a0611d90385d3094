#include "app/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include <memory>

namespace varnika {

QString anyCaseGlob(const QString& pattern)
{
    QString out;
    for (QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

QFileDialog* makeFileDialog(QWidget* parent, const FileDialogRequest& request)
{
    auto* dialog = new QFileDialog(parent, QString::fromStdU16String(request.title));
    // Qt's own dialog everywhere: the same filter, title and multiple
    // selection on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(request.multipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    const QString glob = anyCaseGlob(QString::fromStdU16String(request.pattern));
    dialog->setNameFilter(QString::fromStdU16String(request.filterName) + QStringLiteral(" (") + glob +
                          QLatin1Char(')'));
    dialog->selectFile(QString());
    return dialog;
}

FileDialogResult runFileDialog(QWidget* parent, const FileDialogRequest& request)
{
    std::unique_ptr<QFileDialog> dialog(makeFileDialog(parent, request));
    FileDialogResult result;
    if (dialog->exec() != QDialog::Accepted) return result;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty()) return result;
    result.cancelled = false;
    for (const QString& f : files) result.paths.push_back(f.toStdU16String());
    return result;
}

QMessageBox* makeMessageBox(QWidget* parent, const QString& text)
{
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(QStringLiteral("Varnika"));
    box->setIcon(QMessageBox::NoIcon);
    box->setTextFormat(Qt::PlainText);
    // A label breaks lines at "\n"; the carriage return before it would show
    // as a stray glyph.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box->setText(shown);
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void showMessageBox(QWidget* parent, const QString& text)
{
    std::unique_ptr<QMessageBox> box(makeMessageBox(parent, text));
    box->exec();
}

}  // namespace varnika
