#include "notifier.h"

#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>

namespace varnak {

void Notifier::message(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

QString Notifier::openFileName(QWidget* parent, const QString& title, const QString& directory, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, directory, filter);
}

void ConsoleNotifier::message(QWidget*, const QString& title, const QString& text)
{
    ++count_;
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
}

}  // namespace varnak
