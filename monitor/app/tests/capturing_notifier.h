// A Notifier for the tests: keeps every message instead of showing a box,
// and answers the file dialog with `nextFile` (empty: cancelled), noting
// what the dialog was asked. Also makes QString readable in test failures.
#pragma once

#include <QStringList>

#include <ostream>

#include "notifier.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace varnak::test {

class CapturingNotifier : public Notifier {
public:
    void message(QWidget*, const QString& title, const QString& text) override
    {
        titles << title;
        messages << text;
    }
    QString openFileName(QWidget*, const QString& title, const QString& directory, const QString& filter) override
    {
        dialogTitle = title;
        dialogDirectory = directory;
        dialogFilter = filter;
        return nextFile;
    }
    QStringList titles, messages;
    QString nextFile, dialogTitle, dialogDirectory, dialogFilter;
};

}  // namespace varnak::test
