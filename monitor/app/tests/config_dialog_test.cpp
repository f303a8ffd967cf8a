// The card configuration dialog with its real widgets (offscreen), searching
// a real card server simulator over TCP on 127.0.0.1.
#include "config_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "capturing_notifier.h"
#include "cardsim_process.h"
#include "main_layout.h"
#include "quesmer/daskel.h"

namespace varnak {
namespace {

using test::CapturingNotifier;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner_.resize(400, 300);
        owner_.move(100, 50);
        owner_.show();
        dlg_ = std::make_unique<ConfigDialog>(notifier_, &owner_);
        dlg_->setSearchPause([this] {
            ++pauses_;
            notifyAtPause_ = text("Notify");
        });
    }
    void TearDown() override
    {
        if (dlg_->isVisible()) dlg_->reject();
    }

    template <typename T>
    T* c(const QString& name) const
    {
        T* found = dlg_->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << qPrintable(name);
        return found;
    }
    QRadioButton* option(const char* name, int k) const
    {
        return c<QRadioButton>(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(k));
    }
    QPushButton* button(const char* name) const { return c<QPushButton>(QLatin1String(name)); }
    QLineEdit* edit(const char* name) const { return c<QLineEdit>(QLatin1String(name)); }
    QString text(const char* label) const { return c<QLabel>(QLatin1String(label))->text(); }

    // Opens the dialog as the main window does, without blocking the test.
    void open(const QString& host, const QString& port, int ifInput)
    {
        dlg_->setHostNam(host);
        dlg_->setHostSvc(port);
        dlg_->setIFInput(ifInput);
        dlg_->show();
    }
    void pastePort(const QString& text) { edit("vHostSvc")->setText(text); }
    void typePort(const QString& keys)
    {
        edit("vHostSvc")->clear();
        QTest::keyClicks(edit("vHostSvc"), keys);
    }
    std::vector<int> enabledCards() const
    {
        std::vector<int> out;
        for (int k = 0; k < 8; ++k)
            if (option("vCardNum", k)->isEnabled()) out.push_back(k + 1);
        return out;
    }
    int checkedCard() const
    {
        for (int k = 0; k < 8; ++k)
            if (option("vCardNum", k)->isChecked()) return k + 1;
        return 0;
    }

    QWidget owner_;
    CapturingNotifier notifier_;
    std::unique_ptr<ConfigDialog> dlg_;
    int pauses_ = 0;
    QString notifyAtPause_;
};

TEST_F(DialogTest, OpensWithDefaultsInPlaceAndOKDisabled)
{
    open(QString(), QString(), 0);
    EXPECT_EQ(dlg_->windowTitle(), "DC1 Configuration");
    EXPECT_EQ(edit("vHostNam")->text(), "127.0.0.1");
    EXPECT_EQ(edit("vHostSvc")->text(), "33234");
    EXPECT_EQ(dlg_->HostNam(), "127.0.0.1");
    EXPECT_EQ(dlg_->HostSvc(), "33234");
    EXPECT_TRUE(option("vCardTyp", 0)->isChecked());
    EXPECT_FALSE(button("OK")->isEnabled()) << "filling the controls enabled OK, activation disables it";
    EXPECT_TRUE(enabledCards().empty());
    EXPECT_EQ(checkedCard(), 0);
    for (int k = 0; k < 4; ++k) EXPECT_FALSE(option("vIFInp", k)->isChecked());

    const Twips t(dlg_->screen()->logicalDotsPerInchY());
    EXPECT_EQ(dlg_->pos(), owner_.pos() + QPoint(t.px(120), t.px(620)));

    // Captions and tool tips the user reads.
    EXPECT_EQ(option("vCardNum", 7)->text(), QString::fromUtf8("Card N\u00b08"));
    EXPECT_EQ(option("vCardNum", 2)->toolTip(), "Select Card 3");
    EXPECT_EQ(option("vIFInp", 3)->toolTip(), "Select IF input 4");
    EXPECT_EQ(option("vCardTyp", 0)->toolTip(), "DC1 (Tested)");
    EXPECT_EQ(button("OK")->toolTip(), "Save select configuration");
    EXPECT_EQ(button("Cancel")->toolTip(), "Exit without changing configuration");
    EXPECT_EQ(edit("vHostNam")->toolTip(), "Host name or IP address");

    // Another IF input alone does not enable OK; the card type does.
    QTest::mouseClick(option("vIFInp", 1), Qt::LeftButton);
    EXPECT_TRUE(option("vIFInp", 1)->isChecked());
    EXPECT_FALSE(button("OK")->isEnabled());
    QTest::mouseClick(option("vCardTyp", 0), Qt::LeftButton);
    EXPECT_TRUE(button("OK")->isEnabled());
}

TEST_F(DialogTest, PortFieldNormalisesAndRefusesOutOfRange)
{
    open(QStringLiteral("radio.local"), QStringLiteral("4000"), 3);
    typePort(QStringLiteral("12ab"));
    EXPECT_EQ(edit("vHostSvc")->text(), "12");
    EXPECT_TRUE(button("OK")->isEnabled());

    for (const char* bad : {"0", "70000", "65536", "-5", "x", "99999999999999999999"}) {
        pastePort(QLatin1String(bad));
        EXPECT_EQ(edit("vHostSvc")->text(), "4000") << bad;
    }
    typePort(QStringLiteral("0"));
    EXPECT_EQ(edit("vHostSvc")->text(), "4000") << "typed 0";
    pastePort(QStringLiteral("65535"));
    EXPECT_EQ(edit("vHostSvc")->text(), "65535");
    pastePort(QStringLiteral("007"));
    EXPECT_EQ(edit("vHostSvc")->text(), "7");
    EXPECT_EQ(ConfigDialog::PortValue(QStringLiteral("  42 x")), 42);
    EXPECT_GT(ConfigDialog::PortValue(QStringLiteral("99999999999999999999999")), 65535);

    // An empty field at OK keeps the value the dialog was opened with.
    edit("vHostSvc")->clear();
    QTest::mouseClick(button("OK"), Qt::LeftButton);
    EXPECT_EQ(dlg_->HostSvc(), "4000");
    EXPECT_EQ(dlg_->HostNam(), "radio.local");
}

TEST_F(DialogTest, AnOpenedPortThatIsNoPortFallsBackToTheDefault)
{
    open(QString(), QStringLiteral("70000"), 3);
    EXPECT_EQ(edit("vHostSvc")->text(), "33234");
    typePort(QStringLiteral("0"));
    EXPECT_EQ(edit("vHostSvc")->text(), "33234");
}

TEST_F(DialogTest, OKCopiesTheChoicesAndCancelOnlyClearsTheCard)
{
    dlg_->setCardNum(5);
    open(QStringLiteral("10.0.0.7"), QStringLiteral("33300"), 3);
    EXPECT_EQ(enabledCards(), std::vector<int>{5}) << "the card chosen before stays available";
    EXPECT_EQ(checkedCard(), 5);
    EXPECT_TRUE(option("vIFInp", 2)->isChecked());
    EXPECT_FALSE(button("OK")->isEnabled());

    QTest::mouseClick(option("vIFInp", 0), Qt::LeftButton);
    QTest::mouseClick(option("vCardTyp", 0), Qt::LeftButton);
    QTest::mouseClick(button("OK"), Qt::LeftButton);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    EXPECT_EQ(dlg_->CardNum(), 5);
    EXPECT_EQ(dlg_->IFInput(), 1);
    EXPECT_EQ(dlg_->CardTyp(), 0);
    EXPECT_EQ(dlg_->HostNam(), "10.0.0.7");
    EXPECT_EQ(dlg_->HostSvc(), "33300");

    // Reopened with IF input 3 preset whatever was chosen before.
    open(dlg_->HostNam(), dlg_->HostSvc(), 3);
    EXPECT_TRUE(option("vIFInp", 2)->isChecked());
    QTest::mouseClick(option("vIFInp", 3), Qt::LeftButton);
    QTest::mouseClick(button("Cancel"), Qt::LeftButton);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->CardNum(), -1);
    EXPECT_EQ(dlg_->IFInput(), 3) << "Cancel keeps the other properties";
    EXPECT_EQ(dlg_->HostSvc(), "33300");

    // After Cancel no card is offered; OK then chooses none.
    open(dlg_->HostNam(), dlg_->HostSvc(), 3);
    EXPECT_TRUE(enabledCards().empty());
    QTest::mouseClick(option("vCardTyp", 0), Qt::LeftButton);
    QTest::mouseClick(button("OK"), Qt::LeftButton);
    EXPECT_EQ(dlg_->CardNum(), 0) << "a card chosen in an earlier use must not come back unseen";

    // Escape is Cancel.
    dlg_->setCardNum(2);
    open(dlg_->HostNam(), dlg_->HostSvc(), 3);
    QTest::keyClick(dlg_.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->CardNum(), -1);
}

TEST_F(DialogTest, SearchOffersOnlyReadyCardsAndSelectsTheLastOne)
{
    QTemporaryDir dir;
    test::CardSimProcess sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--cards"),
                           test::WriteCardFile(dir.path(), {QStringLiteral("1;DC1;dc1-0;00000001;yes;ready"),
                                                            QStringLiteral("2;DC1;dc1-1;00000002;yes;busy"),
                                                            QStringLiteral("3;DC1;dc1-2;00000003;yes;ready")})}))
        << qPrintable(sim.error());
    open(QStringLiteral("127.0.0.1"), QString::number(sim.port()), 3);

    // While the search runs only the card events change the dialog.
    QStringList duringSearch;
    QObject::connect(&dlg_->daskel(), &quesmer::Daskel::OnServerInformation, dlg_.get(), [&] {
        duringSearch << QStringLiteral("%1 ok=%2 cancel=%3 search=%4")
                            .arg(text("Notify"))
                            .arg(button("OK")->isEnabled())
                            .arg(button("Cancel")->isEnabled())
                            .arg(button("Search")->isEnabled());
        QTest::keyClick(dlg_.get(), Qt::Key_Escape);  // refused while searching
    });
    QTest::mouseClick(button("Search"), Qt::LeftButton);

    ASSERT_FALSE(duringSearch.isEmpty()) << "the server did not greet";
    EXPECT_EQ(duringSearch.front(), "Searching for cards, can take up to 1mn ! ok=0 cancel=0 search=0");
    EXPECT_TRUE(dlg_->isVisible()) << "Escape closed the dialog during the search";
    EXPECT_EQ(enabledCards(), (std::vector<int>{1, 3}));
    EXPECT_EQ(checkedCard(), 3);
    EXPECT_TRUE(button("OK")->isEnabled());
    EXPECT_TRUE(button("Cancel")->isEnabled());
    EXPECT_TRUE(button("Search")->isEnabled());
    EXPECT_EQ(text("Notify"), "");
    EXPECT_TRUE(notifier_.messages.isEmpty()) << qPrintable(notifier_.messages.join('\n'));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass stayed";

    QTest::mouseClick(button("OK"), Qt::LeftButton);
    EXPECT_EQ(dlg_->CardNum(), 3);
}

TEST_F(DialogTest, SearchWithoutServerReportsTheCodeAndPauses)
{
    open(QStringLiteral("127.0.0.1"), QString::number(test::ClosedPort()), 3);
    QTest::mouseClick(button("Search"), Qt::LeftButton);

    ASSERT_EQ(notifier_.messages.size(), 1);
    EXPECT_EQ(notifier_.titles.front(), "Varnak");
    const QRegularExpression form(QStringLiteral("^(\\d+) - (.+)$"));
    const auto m = form.match(notifier_.messages.front());
    ASSERT_TRUE(m.hasMatch()) << qPrintable(notifier_.messages.front());
    EXPECT_NE(m.captured(1), "0");
    EXPECT_EQ(notifyAtPause_, m.captured(2)) << "Notify shows the control's text during the pause";
    EXPECT_EQ(pauses_, 1);
    EXPECT_EQ(text("Notify"), "");
    EXPECT_TRUE(enabledCards().empty());
    EXPECT_FALSE(button("OK")->isEnabled());
    EXPECT_TRUE(button("Search")->isEnabled());
}

TEST_F(DialogTest, AServerErrorDuringTheSearchShowsForAPause)
{
    test::CardSimProcess sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--fault"), QStringLiteral("protocol-error")})) << qPrintable(sim.error());
    open(QStringLiteral("127.0.0.1"), QString::number(sim.port()), 3);
    QTest::mouseClick(button("Search"), Qt::LeftButton);
    EXPECT_EQ(pauses_, 1);
    EXPECT_TRUE(notifyAtPause_.startsWith(QStringLiteral("Error: "))) << qPrintable(notifyAtPause_);
    EXPECT_EQ(text("Notify"), "");
}

TEST_F(DialogTest, AnUnreadableReplyIsToldThroughTheNotifier)
{
    test::CardSimProcess sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--fault"), QStringLiteral("bad-xml")})) << qPrintable(sim.error());
    open(QStringLiteral("127.0.0.1"), QString::number(sim.port()), 3);
    QTest::mouseClick(button("Search"), Qt::LeftButton);
    ASSERT_EQ(notifier_.messages.size(), 1);
    EXPECT_EQ(notifier_.titles.front(), "Varnak");
    EXPECT_EQ(enabledCards(), std::vector<int>{1}) << "the card list after the bad reply still counts";
}

}  // namespace
}  // namespace varnak

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
