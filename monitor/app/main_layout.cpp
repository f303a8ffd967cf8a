#include "main_layout.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <cmath>

#include "field_format.h"
#include "widgets.h"

namespace varnak {

int Twips::px(int twips) const { return static_cast<int>(std::lround(twips * dpi_ / 1440.0)); }

QRect Twips::rect(int left, int top, int width, int height) const
{
    const int x = px(left), y = px(top);
    return QRect(x, y, px(left + width) - x, px(top + height) - y);
}

namespace {

const QColor kLightYellow(255, 255, 224);
const QColor kLampYellow(255, 255, 128);
const QColor kRed(255, 0, 0);

constexpr int kCaptionHeight = 240;
constexpr int kValueHeight = 255;

// Fonts: sans-serif and fixed-pitch substitutes of the design's fonts, same sizes.
QFont SansFont(bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(8.25);
    f.setBold(bold);
    // The design's bitmap font is narrow: the condensed cut keeps the
    // captions inside their boxes (plain DejaVu Sans where it is missing).
    f.setStretch(QFont::Condensed);
    return f;
}

QFont MonoFont()
{
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(9);
    return f;
}

constexpr Qt::Alignment kRight = Qt::AlignRight;
constexpr Qt::Alignment kCentre = Qt::AlignHCenter;
constexpr Qt::Alignment kLeft = Qt::AlignLeft;

// Red text on the programme-service names.
void RedText(QWidget* w)
{
    QPalette red = w->palette();
    red.setColor(QPalette::Active, QPalette::WindowText, kRed);
    red.setColor(QPalette::Inactive, QPalette::WindowText, kRed);
    w->setPalette(red);
}

// A group panel's caption over its value, one row of the panel.
struct Field {
    const char* caption;
    const char* text;
    const char* value;
    int left, width;
    Qt::Alignment align;
    ColourLabel* GroupPanelWidgets::*member;
    int captionTop = 240;
    int valueLeft = -1;  // under the caption unless given
};

// Creates the controls, each part of the window in its own method, in the
// order that stacks them as designed.
class Builder {
public:
    Builder(QWidget* form, const Twips& t, MainLayout& ui) : form_(form), t_(t), ui_(ui), p_(ui.panels) {}

    void topRow();
    void header();
    void group1();
    void group4();
    void group0();
    void group2();
    void group3();
    void group8();
    void group14();
    void rawPanel();
    void displayLines();
    void statusBar();

private:
    QString arrayName(const char* name, int index) const
    {
        return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
    }

    PanelFrame* frame(const QString& name, const QString& caption, int l, int top, int w, int h)
    {
        auto* f = new PanelFrame(caption, form_);
        f->setObjectName(name);
        f->setGeometry(t_.rect(l, top, w, h));
        return f;
    }
    PanelFrame* groupFrame(int group, const char* caption, int l, int top, int w, int h)
    {
        return p_.frames[group] = frame(arrayName("lGrp", group), QString::fromLatin1(caption), l, top, w, h);
    }

    // A caption label: bold, centred, no border.
    ColourLabel* caption(QWidget* parent, const QString& name, const QString& text, int l, int top, int w)
    {
        auto* c = new ColourLabel(text, parent);
        c->setObjectName(name);
        c->setFont(SansFont(true));
        c->setAlignment(Qt::AlignCenter);
        c->setGeometry(t_.rect(l, top, w, kCaptionHeight));
        return c;
    }

    // A value label: single-line border, empty at design time.
    ColourLabel* value(QWidget* parent, const QString& name, int l, int top, int w, Qt::Alignment align)
    {
        auto* v = new ColourLabel(parent);
        v->setObjectName(name);
        v->setFrameStyle(QFrame::Box | QFrame::Plain);
        v->setAlignment(align | Qt::AlignVCenter);
        v->setIndent(2);
        v->setGeometry(t_.rect(l, top, w, kValueHeight));
        v->setBackground(form_->palette().color(QPalette::Button));
        return v;
    }

    // A bordered indicator of the top row.
    ColourLabel* lamp(const QString& name, const QString& text, int l, int w, const QColor& bg, bool bold)
    {
        auto* v = value(form_, name, l, 0, w, Qt::AlignHCenter);
        v->setText(text);
        v->setBackground(bg);
        if (bold) v->setFont(SansFont(true));
        return v;
    }

    void row(int group, ColourLabel* caption, std::initializer_list<ColourLabel*> values)
    {
        p_.rows[group].push_back(PanelRow{caption, values});
    }
    void fields(int group, std::initializer_list<Field> list)
    {
        PanelFrame* f = p_.frames[group];
        for (const Field& d : list) {
            ColourLabel* c =
                caption(f, QString::fromLatin1(d.caption), QString::fromLatin1(d.text), d.left, d.captionTop, d.width);
            ColourLabel* v =
                value(f, QString::fromLatin1(d.value), d.valueLeft < 0 ? d.left : d.valueLeft, 440, d.width, d.align);
            p_.*d.member = v;
            row(group, c, {v});
        }
    }

    QWidget* form_;
    const Twips& t_;
    MainLayout& ui_;
    GroupPanelWidgets& p_;
};

void Builder::topRow()
{
    struct Button {
        QPushButton* MainLayout::*member;
        const char* name;
        const char* text;
        int left, width;
    };
    for (const Button& btn :
         {Button{&MainLayout::file, "File", "&File", 20, 855}, Button{&MainLayout::card, "Card", "&Card", 880, 975},
          Button{&MainLayout::stop, "Stopit", "&Stop", 2180, 600}}) {
        auto* button = new QPushButton(QString::fromLatin1(btn.text), form_);
        button->setObjectName(QString::fromLatin1(btn.name));
        button->setGeometry(t_.rect(btn.left, 0, btn.width, 255));
        ui_.*btn.member = button;
    }
    ui_.stop->setEnabled(false);
    auto* log = new QCheckBox(QStringLiteral("Log"), form_);
    log->setObjectName(QStringLiteral("vLog"));
    log->setGeometry(t_.rect(2880, 0, 735, 255));
    ui_.full = lamp(QStringLiteral("lFULL"), QStringLiteral("F"), 3720, 315, kRed, true);
    ui_.full->hide();
    IndicatorWidgets& ind = ui_.indicators;
    ind.sync = lamp(QStringLiteral("lSYNC"), QStringLiteral("--"), 4080, 675, kRed, false);
    ind.check = lamp(QStringLiteral("lCRC"), QStringLiteral("--"), 4800, 675, kRed, false);
    ind.sequence = lamp(QStringLiteral("lSEQ"), QStringLiteral("--"), 5520, 675, kRed, false);
    const char* blockNames[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i)
        ind.blockLamps[i] =
            lamp(arrayName("lBLOCN", i), QString::fromLatin1(blockNames[i]), 6420 + 360 * i, 315, kLampYellow, true);
    auto* line = new QFrame(form_);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(QRect(0, t_.px(285) - 1, t_.px(7920), 2));
}

// Panel "Bloc A/B".
void Builder::header()
{
    PanelFrame* bab = frame(QStringLiteral("lBab"), QStringLiteral("Bloc A/B"), 0, 360, 3855, 760);
    bab->setBackground(kLightYellow);
    for (ColourLabel* c : {caption(bab, QStringLiteral("lPI"), QStringLiteral("PI "), 120, 240, 555),
                           caption(bab, QStringLiteral("nGRP"), QStringLiteral("GRP"), 705, 240, 675),
                           caption(bab, QStringLiteral("lTP"), QStringLiteral("TP"), 1360, 240, 300),
                           caption(bab, QStringLiteral("lPTY"), QStringLiteral("PTY"), 1695, 240, 810)})
        c->setBackground(kLightYellow);
    p_.pi = value(bab, QStringLiteral("vPI"), 120, 440, 555, kRight);
    p_.groupType = value(bab, QStringLiteral("vGRP"), 720, 440, 375, kCentre);
    p_.groupVersion = value(bab, QStringLiteral("vB0"), 1080, 440, 255, kCentre);
    p_.tp = value(bab, QStringLiteral("vTP"), 1360, 440, 300, kCentre);
    p_.pty = value(bab, QStringLiteral("vPTY"), 1700, 440, 340, kCentre);
    p_.ptyName = value(bab, QStringLiteral("iPTY"), 2040, 440, 1740, kLeft);
    p_.ptyName->setFont(SansFont(true));
}

void Builder::group1()
{
    PanelFrame* g1 = groupFrame(1, "GRP 01", 3960, 360, 1665, 760);
    g1->setCaptionColour(Qt::black);
    ColourLabel* rpc = caption(g1, QStringLiteral("lRPC"), QStringLiteral("RPC"), 40, 220, 420);
    p_.rpc = value(g1, QStringLiteral("vRPC"), 120, 440, 300, kCentre);
    ColourLabel* pin = caption(g1, QStringLiteral("lPIN"), QStringLiteral("PIN"), 480, 220, 495);
    p_.pin = value(g1, QStringLiteral("vPIN"), 480, 440, 495, kRight);
    ColourLabel* slc = caption(g1, QStringLiteral("lSLC"), QStringLiteral("SLC"), 1080, 220, 495);
    p_.slc = value(g1, QStringLiteral("vSLC"), 1080, 440, 495, kRight);
    row(1, rpc, {p_.rpc});
    row(1, pin, {p_.pin});
    row(1, slc, {p_.slc});
}

void Builder::group4()
{
    PanelFrame* g4 = groupFrame(4, "GRP 04A", 5680, 360, 2175, 760);
    ColourLabel* time = caption(g4, QStringLiteral("lTime"), QStringLiteral("Time"), 120, 240, 780);
    p_.clockTime = value(g4, QStringLiteral("vTime"), 80, 435, 2020, kLeft);
    row(4, time, {p_.clockTime});
}

void Builder::group0()
{
    PanelFrame* g0 = groupFrame(0, "GRP 00", 0, 1140, 7860, 1245);
    fields(0, {Field{"lDI", "DI", "vDI", 120, 555, kCentre, &GroupPanelWidgets::di},
               Field{"lPS", "PS", "vPS", 720, 1260, kCentre, &GroupPanelWidgets::ps, 225},
               Field{"lTA", "TA", "vTA", 2160, 300, kCentre, &GroupPanelWidgets::ta, 225},
               Field{"lMS", "MS", "vMS", 2500, 300, kCentre, &GroupPanelWidgets::ms, 225},
               Field{"lAFn", "AFn", "vAFn", 3000, 375, kRight, &GroupPanelWidgets::afCount, 225}});
    p_.ps->setFont(MonoFont());
    RedText(p_.ps);
    for (int i = 0; i < 25; ++i) {
        const bool first = i < 9;
        const int left = first ? 3480 + 480 * i : 120 + 480 * (i - 9);
        ColourLabel* c =
            caption(g0, arrayName("lAF", i), QStringLiteral("AF%1").arg(i + 1), left, first ? 225 : 705, 480);
        p_.af[i] = value(g0, arrayName("vAF", i), left, first ? 440 : 910, 480, kRight);
        row(0, c, {p_.af[i]});
    }
}

void Builder::group2()
{
    PanelFrame* g2 = groupFrame(2, "GRP 02", 0, 2400, 7860, 915);
    ColourLabel* rsa = caption(g2, QStringLiteral("lRSa"), QStringLiteral("RSa"), 120, 260, 435);
    p_.radioTextA = value(g2, QStringLiteral("vRSA"), 600, 240, 7200, kLeft);
    p_.radioTextA->setFont(MonoFont());
    ColourLabel* rsb = caption(g2, QStringLiteral("lRSb"), QStringLiteral("RSb"), 120, 580, 435);
    p_.radioTextB = value(g2, QStringLiteral("vRSb"), 600, 555, 4380, kLeft);
    p_.radioTextB->setFont(MonoFont());
    ColourLabel* tab = caption(g2, QStringLiteral("lTAB"), QStringLiteral("TA/B"), 5040, 580, 435);
    p_.textAB = value(g2, QStringLiteral("vTAB"), 5520, 555, 300, kCentre);
    row(2, rsa, {p_.radioTextA});
    row(2, rsb, {p_.radioTextB});
    row(2, tab, {p_.textAB});
}

void Builder::group3()
{
    PanelFrame* g3 = groupFrame(3, "GRP 03", 0, 3360, 1480, 1240);
    ColourLabel* odaGroup = caption(g3, QStringLiteral("lRDSGRP"), QStringLiteral("GRP"), 120, 260, 675);
    p_.odaGroupType = value(g3, QStringLiteral("vRDSGRP"), 135, 440, 375, kCentre);
    p_.odaGroupVersion = value(g3, QStringLiteral("vRDSB0"), 495, 440, 255, kCentre);
    ColourLabel* oda = caption(g3, QStringLiteral("lODA"), QStringLiteral("ODA"), 840, 260, 555);
    p_.odaMessage = value(g3, QStringLiteral("vODA"), 840, 440, 555, kRight);
    ColourLabel* aid = caption(g3, QStringLiteral("lAID"), QStringLiteral("AID"), 840, 705, 555);
    p_.odaAid = value(g3, QStringLiteral("vAID"), 840, 910, 555, kRight);
    row(3, odaGroup, {p_.odaGroupType, p_.odaGroupVersion});
    row(3, oda, {p_.odaMessage});
    row(3, aid, {p_.odaAid});
}

void Builder::group8()
{
    PanelFrame* g8 = groupFrame(8, "GRP 08A", 1560, 3360, 6300, 1240);
    fields(8, {Field{"lT", "T", "vT", 120, 300, kCentre, &GroupPanelWidgets::tmcT},
               Field{"lF", "F", "vF", 440, 300, kCentre, &GroupPanelWidgets::tmcF},
               Field{"lDP", "DP", "vDP", 740, 380, kCentre, &GroupPanelWidgets::tmcDP},
               Field{"lD", "D", "vD", 1120, 300, kCentre, &GroupPanelWidgets::tmcD},
               Field{"lPN", "PN", "vPN", 1440, 300, kCentre, &GroupPanelWidgets::tmcPN},
               Field{"lEXT", "EXT", "vEXT", 1755, 555, kCentre, &GroupPanelWidgets::tmcExtent},
               Field{"lEVT", "EVT", "vEVT", 2320, 555, kCentre, &GroupPanelWidgets::tmcEvent},
               Field{"lLOC", "LOC", "vLOC", 2880, 555, kCentre, &GroupPanelWidgets::tmcLocation}});
    // The duration and event texts: read-only boxes the user can select from.
    const QColor boxColour = form_->palette().color(QPalette::Midlight);
    auto styleBox = [&](QWidget* box, const QString& name, QRect r) {
        box->setObjectName(name);
        box->setFont(SansFont(true));
        QPalette pal = box->palette();
        pal.setColor(QPalette::Base, boxColour);
        box->setPalette(pal);
        box->setGeometry(r);
    };
    p_.tmcDurationText = new QLineEdit(g8);
    p_.tmcDurationText->setReadOnly(true);
    styleBox(p_.tmcDurationText, QStringLiteral("vDPDesc"), t_.rect(4320, 415, 1900, 285));
    p_.tmcEventText = new QPlainTextEdit(g8);
    p_.tmcEventText->setReadOnly(true);
    p_.tmcEventText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    p_.tmcEventText->document()->setDocumentMargin(1);
    styleBox(p_.tmcEventText, QStringLiteral("vEvtDsc"), t_.rect(120, 720, 6100, 420));
}

void Builder::group14()
{
    PanelFrame* g14 = groupFrame(14, "GRP 14", 0, 4640, 5140, 1280);
    fields(14, {Field{"lEONPI", "PI ", "vEONPI", 120, 555, kRight, &GroupPanelWidgets::eonPi},
                Field{"lEONTP", "TP", "vEONTP", 720, 300, kCentre, &GroupPanelWidgets::eonTp},
                Field{"lEONPTY", "PTY", "vEONPTY", 1060, 555, kRight, &GroupPanelWidgets::eonPty},
                Field{"lEONPS", "PS", "vEONPS", 1660, 1260, kCentre, &GroupPanelWidgets::eonPs},
                Field{"lEONTA", "TA", "vEONTA", 3075, 300, kCentre, &GroupPanelWidgets::eonTa},
                Field{"lEONPIN", "PIN", "vEONPIN", 3405, 495, kRight, &GroupPanelWidgets::eonPin},
                Field{"lEONAF1", "AF1", "vEONAF1", 3840, 480, kRight, &GroupPanelWidgets::eonAf1, 240, 4080},
                Field{"lEONAF2", "AF2", "vEONAF2", 4320, 480, kRight, &GroupPanelWidgets::eonAf2, 240, 4560}});
    p_.eonPs->setFont(SansFont(true));
    RedText(p_.eonPs);
    for (int i = 0; i < 5; ++i) {
        ColourLabel* tn =
            caption(g14, arrayName("lEONTN", i), QStringLiteral("TN%1").arg(i + 1), 120 + 480 * i, 720, 480);
        p_.eonTuned[i] = value(g14, arrayName("vEONTN", i), 120 + 480 * i, 910, 480, kRight);
        ColourLabel* mf =
            caption(g14, arrayName("lEONMF", i), QStringLiteral("MF%1").arg(i + 1), 2640 + 480 * i, 720, 480);
        p_.eonMapped[i] = value(g14, arrayName("vEONMF", i), 2640 + 480 * i, 910, 480, kRight);
        row(14, tn, {p_.eonTuned[i]});
        row(14, mf, {p_.eonMapped[i]});
    }
}

// The raw-block panel "GRP XX".
void Builder::rawPanel()
{
    p_.raw = frame(QStringLiteral("lAll"), QStringLiteral("GRP XX"), 5160, 4640, 2700, 1280);
    for (int i = 0; i < 4; ++i) {
        const int left = 120 + 620 * i;
        p_.rawCaptions[i] =
            caption(p_.raw, QStringLiteral("lB%1").arg(i + 1), QStringLiteral("B%1").arg(i + 1), left, 240, 555);
        p_.rawWords[i] = value(p_.raw, QStringLiteral("vB%1").arg(i + 1), left, 440, 555, kRight);
        p_.rawChars[i] = value(p_.raw, QStringLiteral("tB%1").arg(i + 1), left, 910, 555, kCentre);
        p_.rawChars[i]->setFont(MonoFont());
    }
}

// The four display lines.
void Builder::displayLines()
{
    for (int i = 0; i < 4; ++i) {
        auto* l = p_.lines[i] = new ColourLabel(form_);
        l->setObjectName(arrayName("lBloc", i));
        l->setFont(MonoFont());
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(t_.rect(20, 6000 + 240 * i, 7815, 255));
    }
}

// The status bar with its four keyed panels.
void Builder::statusBar()
{
    auto* status = ui_.status = new PanelStatusBar(form_);
    status->setObjectName(QStringLiteral("Status"));
    status->setGeometry(QRect(0, t_.px(7035), form_->width(), form_->height() - t_.px(7035)));
    const QString clear = QStringLiteral("Click here to clear counters");
    // The panels are as wide as their texts, so that the message and the
    // signal have the rest of the bar; a counter keeps its width up to five
    // digits, so that nothing shifts while it counts.
    const struct {
        const char* key;
        const char* text;
        const char* caption;  // the counter's, if it is one
    } panels[] = {{"TOTAL", "Total Blocs:", "Total Blocs"},
                  {"ERROR", "Total Errors:", "Total Errors"},
                  {"CRC", "Total Corrected:", "Total CRC corrected"},
                  {"BITSTREAM", "Bitstream: ", nullptr}};
    for (const auto& p : panels) {
        QLabel* panel = status->addPanel(QString::fromLatin1(p.key), QString::fromLatin1(p.text),
                                         p.caption ? clear : QStringLiteral("Click here to invert bitstream "), 0);
        const QString widest = p.caption ? CounterText(p.caption, 99999) : QStringLiteral("Bitstream: Inverted");
        panel->setMinimumWidth(panel->fontMetrics().horizontalAdvance(widest) + 2 * panel->frameWidth() + 4);
    }
}

}  // namespace

MainLayout BuildMainLayout(QWidget* form, const Twips& t)
{
    form->setFont(SansFont(false));
    form->setFixedSize(t.px(kClientWidthTwips), t.px(kClientHeightTwips));
    MainLayout ui;
    Builder b(form, t, ui);
    b.topRow();
    b.header();
    b.group1();
    b.group4();
    b.group0();
    b.group2();
    b.group3();
    b.group8();
    b.group14();
    b.rawPanel();
    b.displayLines();
    b.statusBar();
    return ui;
}

}  // namespace varnak
