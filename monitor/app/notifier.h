// The window's way of asking and telling the user: message boxes and the
// file-open dialog. Tests and unattended runs replace it, so that nothing
// modal blocks them.
#pragma once

#include <QString>

class QWidget;

namespace varnak {

class Notifier {
public:
    virtual ~Notifier() = default;
    // A message with an OK button, titled `title`.
    virtual void message(QWidget* parent, const QString& title, const QString& text);
    // A file-open dialog; the chosen path, or a null string when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                                 const QString& filter);
};

// For runs without a user: messages go to standard error, no file is chosen.
class ConsoleNotifier : public Notifier {
public:
    void message(QWidget* parent, const QString& title, const QString& text) override;
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    int messageCount() const { return count_; }

private:
    int count_ = 0;
};

}  // namespace varnak
