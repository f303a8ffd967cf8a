#include "config_dialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QThread>
#include <QVBoxLayout>

#include "main_layout.h"
#include "notifier.h"
#include "quesmer/daskel.h"

namespace varnak {
namespace {

const QString kAppName = QStringLiteral("Varnak");
const QString kDefaultHost = QStringLiteral("127.0.0.1");
const QString kDefaultPort = QStringLiteral("33234");
constexpr qint64 kPortMin = 1;
constexpr qint64 kPortMax = 65535;
// Offset of the dialog from the main window's top-left corner, in twips.
constexpr int kOffsetLeftTwips = 120;
constexpr int kOffsetTopTwips = 620;

QString ArrayName(const char* name, int index) { return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index); }

QRadioButton* Option(QWidget* parent, const QString& name, const QString& caption, const QString& tip)
{
    auto* b = new QRadioButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    return b;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QString& tip)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

// Unchecks an option button even when it is the checked one of its group.
void Uncheck(QRadioButton* b)
{
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
}

// The mouse pointer as an hourglass for the life of the object.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

ConfigDialog::ConfigDialog(Notifier& notifier, QWidget* owner)
    : QDialog(owner), notifier_(notifier), searchPause_([] { QThread::msleep(1000); })
{
    setObjectName(QStringLiteral("ConfigDialog"));
    setWindowTitle(QStringLiteral("DC1 Configuration"));
    setModal(true);

    // Host: name or address and port.
    auto* host = new QGroupBox(QStringLiteral("&Host"), this);
    host->setObjectName(QStringLiteral("fraHost"));
    auto* lbl = new QLabel(QStringLiteral("Name/Address"), host);
    lbl->setObjectName(QStringLiteral("Lbl"));
    hostNameEdit_ = new QLineEdit(kDefaultHost, host);
    hostNameEdit_->setObjectName(QStringLiteral("vHostNam"));
    hostNameEdit_->setToolTip(QStringLiteral("Host name or IP address"));
    auto* lblPort = new QLabel(QStringLiteral("Port"), host);
    lblPort->setObjectName(QStringLiteral("LblPort"));
    hostPortEdit_ = new QLineEdit(kDefaultPort, host);
    hostPortEdit_->setObjectName(QStringLiteral("vHostSvc"));
    hostPortEdit_->setToolTip(QStringLiteral("Host port"));
    hostPortEdit_->setMaxLength(12);
    lbl->setBuddy(hostNameEdit_);
    lblPort->setBuddy(hostPortEdit_);
    auto* hostGrid = new QGridLayout(host);
    hostGrid->addWidget(lbl, 0, 0);
    hostGrid->addWidget(hostNameEdit_, 0, 1);
    hostGrid->addWidget(lblPort, 1, 0);
    hostGrid->addWidget(hostPortEdit_, 1, 1);
    hostPortEdit_->setMaximumWidth(hostPortEdit_->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));

    // Card type: DC1 only.
    auto* type = new QGroupBox(QStringLiteral("&Card type"), this);
    type->setObjectName(QStringLiteral("fraCardTyp"));
    cardTypeButton_ = Option(type, ArrayName("vCardTyp", 0), QStringLiteral("DC&1"), QStringLiteral("DC1 (Tested)"));
    auto* typeBox = new QVBoxLayout(type);
    typeBox->addWidget(cardTypeButton_);
    typeBox->addStretch();

    // Cards 1 to 8, two rows of four.
    auto* cards = new QGroupBox(QStringLiteral("Cards"), this);
    cards->setObjectName(QStringLiteral("fraCards"));
    auto* cardGrid = new QGridLayout(cards);
    for (int k = 0; k < kCards; ++k) {
        cardButtons_[k] = Option(cards, ArrayName("vCardNum", k), QString::fromUtf8("Card N\u00b0%1").arg(k + 1),
                                 QStringLiteral("Select Card %1").arg(k + 1));
        cardGrid->addWidget(cardButtons_[k], k / 4, k % 4);
    }

    // IF inputs 1 to 4.
    auto* params = new QGroupBox(QStringLiteral("&Parameters"), this);
    params->setObjectName(QStringLiteral("fraParams"));
    auto* paramRow = new QHBoxLayout(params);
    for (int k = 0; k < kInputs; ++k) {
        inputButtons_[k] = Option(params, ArrayName("vIFInp", k), QStringLiteral("IF&%1").arg(k + 1),
                                  QStringLiteral("Select IF input %1").arg(k + 1));
        paramRow->addWidget(inputButtons_[k]);
    }
    paramRow->addStretch();

    notify_ = new QLabel(this);
    notify_->setObjectName(QStringLiteral("Notify"));
    notify_->setWordWrap(true);
    daskel_ = new quesmer::Daskel(this);
    daskel_->setObjectName(QStringLiteral("Daskel"));
    daskel_->setFixedSize(daskel_->sizeHint());

    search_ = Button(this, "Search", QStringLiteral("&Search"), QStringLiteral("Search for cards"));
    ok_ = Button(this, "OK", QStringLiteral("&OK"), QStringLiteral("Save select configuration"));
    cancel_ = Button(this, "Cancel", QStringLiteral("&Cancel"), QStringLiteral("Exit without changing configuration"));

    auto* top = new QHBoxLayout;
    top->addWidget(host, 1);
    top->addWidget(type);
    auto* status = new QHBoxLayout;
    status->addWidget(notify_, 1);
    status->addWidget(daskel_, 0, Qt::AlignVCenter);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(search_);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* form = new QVBoxLayout(this);
    form->addLayout(top);
    form->addWidget(cards);
    form->addWidget(params);
    form->addLayout(status);
    form->addLayout(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);
    notify_->setMinimumHeight(notify_->fontMetrics().height() * 2);

    connect(cardTypeButton_, &QRadioButton::clicked, this, [this] { selectCardType(0); });
    for (int k = 0; k < kCards; ++k)
        connect(cardButtons_[k], &QRadioButton::clicked, this, [this, k] { selectCard(k); });
    for (int k = 0; k < kInputs; ++k)
        connect(inputButtons_[k], &QRadioButton::clicked, this, [this, k] { selectInput(k); });
    connect(hostPortEdit_, &QLineEdit::textChanged, this, &ConfigDialog::checkPort);
    connect(ok_, &QPushButton::clicked, this, &ConfigDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &ConfigDialog::reject);
    connect(search_, &QPushButton::clicked, this, &ConfigDialog::search);

    // A reply the card client cannot read is told like every other message.
    daskel_->link().setErrorNotifier([this](const QString& text) { notifier_.message(this, kAppName, text); });
    connect(daskel_, &quesmer::Daskel::OnCardStatus, this, &ConfigDialog::onCardStatus);
    connect(daskel_, &quesmer::Daskel::OnCardError, this,
            [this](quesmer::ErrTyp, const QString& desc) { notify_->setText(QStringLiteral("Error: ") + desc); });
    connect(daskel_, &quesmer::Daskel::OnCardDisconnected, this,
            [this](quesmer::Boolean, const QString&) { notify_->clear(); });
}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::setSearchPause(std::function<void()> pause) { searchPause_ = std::move(pause); }

qint64 ConfigDialog::PortValue(const QString& text)
{
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    qint64 value = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        // Far beyond any port: stop growing, the range check refuses it.
        if (value < 1'000'000'000'000LL) value = value * 10 + (text[i].unicode() - u'0');
    }
    return negative ? -value : value;
}

// ---------------------------------------------------------------------------
// Activation

void ConfigDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) activate();
}

void ConfigDialog::activate()
{
    if (QWidget* owner = parentWidget()) {
        const double dpi = screen() ? screen()->logicalDotsPerInchY() : 96.0;
        const Twips t(dpi);
        const QPoint at = owner->window()->pos();
        move(at.x() + t.px(kOffsetLeftTwips), at.y() + t.px(kOffsetTopTwips));
    }
    clearCardChoices();

    if (hostNam_.isEmpty()) hostNam_ = kDefaultHost;
    hostNameEdit_->setText(hostNam_);
    if (hostSvc_.isEmpty()) hostSvc_ = kDefaultPort;
    {
        // Set quietly, then check once: setText() of an unchanged text does
        // not report a change.
        const QSignalBlocker quiet(hostPortEdit_);
        hostPortEdit_->setText(hostSvc_);
    }
    checkPort();
    selectCardType(cardType_ < 0 || cardType_ >= 1 ? 0 : cardType_);
    if (cardNumber_ >= 1 && cardNumber_ <= kCards) {
        selectCard(cardNumber_ - 1);
        cardButtons_[cardNumber_ - 1]->setEnabled(true);
    }
    if (ifInput_ >= 1 && ifInput_ <= kInputs) selectInput(ifInput_ - 1);
    ok_->setEnabled(false);
    notify_->clear();
    hostNameEdit_->setFocus();
}

// The working card choice follows what is shown: with every card option
// cleared, OK must not connect a card chosen in an earlier use.
void ConfigDialog::clearCardChoices()
{
    chosenCard_ = 0;
    for (QRadioButton* b : cardButtons_) {
        b->setEnabled(false);
        Uncheck(b);
    }
}

// ---------------------------------------------------------------------------
// Option clicks; selecting by program runs the same handling.

void ConfigDialog::selectCardType(int k)
{
    cardTypeButton_->setChecked(true);
    chosenType_ = k;
    ok_->setEnabled(true);
}

void ConfigDialog::selectCard(int k)
{
    cardButtons_[k]->setChecked(true);
    chosenCard_ = k + 1;
    ok_->setEnabled(true);
}

void ConfigDialog::selectInput(int k)
{
    inputButtons_[k]->setChecked(true);
    chosenInput_ = k + 1;
}

// ---------------------------------------------------------------------------
// Port field

// The value the dialog was opened with, or the default port when that value
// is itself no port: returning to an invalid value would leave it standing
// (and recurse for ever on a value that normalises to itself).
QString ConfigDialog::openedPort() const
{
    const qint64 v = PortValue(hostSvc_);
    return v >= kPortMin && v <= kPortMax ? hostSvc_ : kDefaultPort;
}

void ConfigDialog::checkPort()
{
    const QString text = hostPortEdit_->text();
    if (text.isEmpty()) return;
    const qint64 value = PortValue(text);
    const QString normal = QString::number(value);
    if (normal != text) {
        hostPortEdit_->setText(normal);  // checks the new text
        return;
    }
    if (value < kPortMin || value > kPortMax) {
        hostPortEdit_->setText(openedPort());  // checks the new text
        return;
    }
    ok_->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Search

void ConfigDialog::search()
{
    if (searching_) return;
    searching_ = true;
    notify_->setText(QStringLiteral("Searching for cards, can take up to 1mn !"));
    {
        BusyCursor hourglass;
        clearCardChoices();
        ok_->setEnabled(false);
        cancel_->setEnabled(false);
        search_->setEnabled(false);

        QString host = hostNameEdit_->text();
        const QString portText = hostPortEdit_->text().isEmpty() ? openedPort() : hostPortEdit_->text();
        quesmer::Long port = static_cast<quesmer::Long>(qBound<qint64>(0, PortValue(portText), kPortMax));
        const quesmer::Integer result = daskel_->CardSearch(host, port);
        if (result != 0) {
            quesmer::Integer code = result;
            const QString text = daskel_->CardConnectError(code);
            notify_->setText(text);
            notifier_.message(this, kAppName, QStringLiteral("%1 - %2").arg(code).arg(text));
        }
        if (!notify_->text().contains(QStringLiteral("Search"))) {
            notify_->repaint();
            if (searchPause_) searchPause_();
        }
        notify_->clear();
        cancel_->setEnabled(true);
        search_->setEnabled(true);
    }
    searching_ = false;
}

void ConfigDialog::onCardStatus(quesmer::Integer number, const quesmer::CardStatus& status)
{
    if (status.Ready == quesmer::FALSE_B || number < 1 || number > kCards) return;
    selectCard(number - 1);
    cardButtons_[number - 1]->setEnabled(true);
}

// ---------------------------------------------------------------------------
// OK and Cancel

void ConfigDialog::accept()
{
    if (searching_) return;
    hostNam_ = hostNameEdit_->text();
    // An empty port field keeps the value the dialog was opened with.
    if (!hostPortEdit_->text().isEmpty())
        hostSvc_ = hostPortEdit_->text();
    else
        hostSvc_ = openedPort();
    cardType_ = chosenType_;
    cardNumber_ = chosenCard_;
    ifInput_ = chosenInput_;
    QDialog::accept();
}

void ConfigDialog::reject()
{
    if (searching_) return;
    cardNumber_ = -1;
    QDialog::reject();
}

}  // namespace varnak
