// The card configuration dialog "DC1 Configuration": server host and port,
// card type, card number and IF input, with a search that asks the server
// which cards are ready.
//
// The main window creates one instance on first use and keeps it: it sets
// HostNam, HostSvc and IFInput, runs exec() and reads the properties back.
// OK copies the choices into the properties; Cancel (also Escape and the
// window's close button) sets CardNum to -1. The dialog reads and writes no
// settings. Message boxes go through the window's Notifier.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>

#include "quesmer/types.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quesmer {
class Daskel;
}

namespace varnak {

class Notifier;

class ConfigDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCards = 8;
    static constexpr int kInputs = 4;

    // `owner` is the main window: the dialog is placed relative to it.
    ConfigDialog(Notifier& notifier, QWidget* owner);
    ~ConfigDialog() override;

    // Properties, kept between uses.
    QString HostNam() const { return hostNam_; }
    void setHostNam(const QString& host) { hostNam_ = host; }
    QString HostSvc() const { return hostSvc_; }
    void setHostSvc(const QString& port) { hostSvc_ = port; }
    int CardTyp() const { return cardType_; }  // 0 = DC1; below 0 none
    void setCardTyp(int type) { cardType_ = type; }
    int CardNum() const { return cardNumber_; }  // 1..8; 0 none chosen; -1 after Cancel
    void setCardNum(int number) { cardNumber_ = number; }
    int IFInput() const { return ifInput_; }  // 1..4
    void setIFInput(int input) { ifInput_ = input; }

    // The dialog's own card client, for the search.
    quesmer::Daskel& daskel() { return *daskel_; }

    // The pause after a search, one second by default; tests shorten it.
    // The pause does not process user input.
    void setSearchPause(std::function<void()> pause);

    // The leading number of a port text, as the port field normalises it:
    // leading blanks and an optional sign, then decimal digits; 0 when there
    // are none. Saturates far outside the port range.
    static qint64 PortValue(const QString& text);

public slots:
    void accept() override;  // OK
    void reject() override;  // Cancel; refused while a search runs

protected:
    void showEvent(QShowEvent* event) override;

private:
    void activate();
    void clearCardChoices();
    void selectCardType(int k);
    void selectCard(int k);
    void selectInput(int k);
    void checkPort();
    void search();
    void onCardStatus(quesmer::Integer number, const quesmer::CardStatus& status);
    QString openedPort() const;

    Notifier& notifier_;
    quesmer::Daskel* daskel_;
    std::function<void()> searchPause_;
    bool searching_ = false;

    // Properties.
    QString hostNam_, hostSvc_;
    int cardType_ = 0, cardNumber_ = 0, ifInput_ = 0;
    // Working choices, copied to the properties by OK.
    int chosenCard_ = 0, chosenType_ = 0, chosenInput_ = 0;

    QLineEdit *hostNameEdit_, *hostPortEdit_;
    QRadioButton* cardTypeButton_;
    std::array<QRadioButton*, kCards> cardButtons_{};
    std::array<QRadioButton*, kInputs> inputButtons_{};
    QPushButton *ok_, *cancel_, *search_;
    QLabel* notify_;
};

}  // namespace varnak
