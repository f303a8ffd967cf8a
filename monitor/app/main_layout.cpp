#include "main_layout.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <cmath>

#include "widgets.h"

namespace varnak {

int Twips::px(int twips) const { return static_cast<int>(std::lround(twips * dpi_ / 1440.0)); }

QRect Twips::rect(int left, int top, int width, int height) const {
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
QFont SansFont(bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(8.25);
    f.setBold(bold);
    // The design's bitmap font is narrow: the condensed cut keeps the
    // captions inside their boxes (plain DejaVu Sans where it is missing).
    f.setStretch(QFont::Condensed);
    return f;
}

QFont MonoFont() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(9);
    return f;
}

class Builder {
public:
    Builder(QWidget* form, const Twips& t) : form_(form), t_(t) {}

    QString arrayName(const char* name, int index) const {
        return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
    }

    PanelFrame* frame(const QString& name, const QString& caption, int l, int top, int w, int h) {
        auto* f = new PanelFrame(caption, form_);
        f->setObjectName(name);
        f->setGeometry(t_.rect(l, top, w, h));
        return f;
    }

    // A caption label: bold, centred, no border.
    ColourLabel* caption(QWidget* parent, const QString& name, const QString& text, int l, int top, int w) {
        auto* c = new ColourLabel(text, parent);
        c->setObjectName(name);
        c->setFont(SansFont(true));
        c->setAlignment(Qt::AlignCenter);
        c->setGeometry(t_.rect(l, top, w, kCaptionHeight));
        return c;
    }

    // A value label: single-line border, empty at design time.
    ColourLabel* value(QWidget* parent, const QString& name, int l, int top, int w, Qt::Alignment align) {
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
    ColourLabel* lamp(const QString& name, const QString& text, int l, int w, const QColor& bg, bool bold) {
        auto* v = value(form_, name, l, 0, w, Qt::AlignHCenter);
        v->setText(text);
        v->setBackground(bg);
        if (bold) v->setFont(SansFont(true));
        return v;
    }

    QWidget* form_;
    const Twips& t_;
};

constexpr Qt::Alignment kRight = Qt::AlignRight;
constexpr Qt::Alignment kCentre = Qt::AlignHCenter;
constexpr Qt::Alignment kLeft = Qt::AlignLeft;

}  // namespace

MainLayout BuildMainLayout(QWidget* form, const Twips& t) {
    form->setFont(SansFont(false));
    form->setFixedSize(t.px(kClientWidthTwips), t.px(kClientHeightTwips));
    Builder b(form, t);
    MainLayout ui;
    GroupPanelWidgets& p = ui.panels;

    // Top row.
    struct Button {
        QPushButton* MainLayout::*member;
        const char* name;
        const char* text;
        int left, width;
    };
    for (const Button& btn : {Button{&MainLayout::file, "File", "&File", 20, 855},
                              Button{&MainLayout::card, "Card", "&Card", 880, 975},
                              Button{&MainLayout::stop, "Stopit", "&Stop", 2180, 600}}) {
        auto* button = new QPushButton(QString::fromLatin1(btn.text), form);
        button->setObjectName(QString::fromLatin1(btn.name));
        button->setGeometry(t.rect(btn.left, 0, btn.width, 255));
        ui.*btn.member = button;
    }
    ui.stop->setEnabled(false);
    auto* log = new QCheckBox(QStringLiteral("Log"), form);
    log->setObjectName(QStringLiteral("vLog"));
    log->setGeometry(t.rect(2880, 0, 735, 255));
    ui.full = b.lamp(QStringLiteral("lFULL"), QStringLiteral("F"), 3720, 315, kRed, true);
    ui.full->hide();
    IndicatorWidgets& ind = ui.indicators;
    ind.sync = b.lamp(QStringLiteral("lSYNC"), QStringLiteral("--"), 4080, 675, kRed, false);
    ind.check = b.lamp(QStringLiteral("lCRC"), QStringLiteral("--"), 4800, 675, kRed, false);
    ind.sequence = b.lamp(QStringLiteral("lSEQ"), QStringLiteral("--"), 5520, 675, kRed, false);
    const char* blockNames[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i)
        ind.blockLamps[i] =
            b.lamp(b.arrayName("lBLOCN", i), QString::fromLatin1(blockNames[i]), 6420 + 360 * i, 315, kLampYellow, true);
    auto* line = new QFrame(form);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(QRect(0, t.px(285) - 1, t.px(7920), 2));

    // Panel "Bloc A/B".
    PanelFrame* bab = b.frame(QStringLiteral("lBab"), QStringLiteral("Bloc A/B"), 0, 360, 3855, 760);
    bab->setBackground(kLightYellow);
    for (ColourLabel* c : {b.caption(bab, QStringLiteral("lPI"), QStringLiteral("PI "), 120, 240, 555),
                           b.caption(bab, QStringLiteral("nGRP"), QStringLiteral("GRP"), 705, 240, 675),
                           b.caption(bab, QStringLiteral("lTP"), QStringLiteral("TP"), 1360, 240, 300),
                           b.caption(bab, QStringLiteral("lPTY"), QStringLiteral("PTY"), 1695, 240, 810)})
        c->setBackground(kLightYellow);
    p.pi = b.value(bab, QStringLiteral("vPI"), 120, 440, 555, kRight);
    p.groupType = b.value(bab, QStringLiteral("vGRP"), 720, 440, 375, kCentre);
    p.groupVersion = b.value(bab, QStringLiteral("vB0"), 1080, 440, 255, kCentre);
    p.tp = b.value(bab, QStringLiteral("vTP"), 1360, 440, 300, kCentre);
    p.pty = b.value(bab, QStringLiteral("vPTY"), 1700, 440, 340, kCentre);
    p.ptyName = b.value(bab, QStringLiteral("iPTY"), 2040, 440, 1740, kLeft);
    p.ptyName->setFont(SansFont(true));

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
    auto fields = [&](int group, std::initializer_list<Field> list) {
        PanelFrame* frame = p.frames[group];
        for (const Field& f : list) {
            ColourLabel* caption =
                b.caption(frame, QString::fromLatin1(f.caption), QString::fromLatin1(f.text), f.left, f.captionTop, f.width);
            ColourLabel* value = b.value(frame, QString::fromLatin1(f.value), f.valueLeft < 0 ? f.left : f.valueLeft, 440,
                                         f.width, f.align);
            p.*f.member = value;
            p.rows[group].push_back(PanelRow{caption, {value}});
        }
    };
    auto row = [&](int group, ColourLabel* caption, std::initializer_list<ColourLabel*> values) {
        p.rows[group].push_back(PanelRow{caption, values});
    };

    // Panel "GRP 01".
    PanelFrame* g1 = p.frames[1] = b.frame(b.arrayName("lGrp", 1), QStringLiteral("GRP 01"), 3960, 360, 1665, 760);
    g1->setCaptionColour(Qt::black);
    ColourLabel* rpc = b.caption(g1, QStringLiteral("lRPC"), QStringLiteral("RPC"), 40, 220, 420);
    p.rpc = b.value(g1, QStringLiteral("vRPC"), 120, 440, 300, kCentre);
    ColourLabel* pin = b.caption(g1, QStringLiteral("lPIN"), QStringLiteral("PIN"), 480, 220, 495);
    p.pin = b.value(g1, QStringLiteral("vPIN"), 480, 440, 495, kRight);
    ColourLabel* slc = b.caption(g1, QStringLiteral("lSLC"), QStringLiteral("SLC"), 1080, 220, 495);
    p.slc = b.value(g1, QStringLiteral("vSLC"), 1080, 440, 495, kRight);
    row(1, rpc, {p.rpc});
    row(1, pin, {p.pin});
    row(1, slc, {p.slc});

    // Panel "GRP 04A".
    PanelFrame* g4 = p.frames[4] = b.frame(b.arrayName("lGrp", 4), QStringLiteral("GRP 04A"), 5680, 360, 2175, 760);
    ColourLabel* time = b.caption(g4, QStringLiteral("lTime"), QStringLiteral("Time"), 120, 240, 780);
    p.clockTime = b.value(g4, QStringLiteral("vTime"), 80, 435, 2020, kLeft);
    row(4, time, {p.clockTime});

    // Panel "GRP 00".
    PanelFrame* g0 = p.frames[0] = b.frame(b.arrayName("lGrp", 0), QStringLiteral("GRP 00"), 0, 1140, 7860, 1245);
    fields(0, {Field{"lDI", "DI", "vDI", 120, 555, kCentre, &GroupPanelWidgets::di},
               Field{"lPS", "PS", "vPS", 720, 1260, kCentre, &GroupPanelWidgets::ps, 225},
               Field{"lTA", "TA", "vTA", 2160, 300, kCentre, &GroupPanelWidgets::ta, 225},
               Field{"lMS", "MS", "vMS", 2500, 300, kCentre, &GroupPanelWidgets::ms, 225},
               Field{"lAFn", "AFn", "vAFn", 3000, 375, kRight, &GroupPanelWidgets::afCount, 225}});
    p.ps->setFont(MonoFont());
    QPalette red = p.ps->palette();
    red.setColor(QPalette::Active, QPalette::WindowText, kRed);
    red.setColor(QPalette::Inactive, QPalette::WindowText, kRed);
    p.ps->setPalette(red);
    for (int i = 0; i < 25; ++i) {
        const bool first = i < 9;
        const int left = first ? 3480 + 480 * i : 120 + 480 * (i - 9);
        ColourLabel* caption =
            b.caption(g0, b.arrayName("lAF", i), QStringLiteral("AF%1").arg(i + 1), left, first ? 225 : 705, 480);
        p.af[i] = b.value(g0, b.arrayName("vAF", i), left, first ? 440 : 910, 480, kRight);
        row(0, caption, {p.af[i]});
    }

    // Panel "GRP 02".
    PanelFrame* g2 = p.frames[2] = b.frame(b.arrayName("lGrp", 2), QStringLiteral("GRP 02"), 0, 2400, 7860, 915);
    ColourLabel* rsa = b.caption(g2, QStringLiteral("lRSa"), QStringLiteral("RSa"), 120, 260, 435);
    p.radioTextA = b.value(g2, QStringLiteral("vRSA"), 600, 240, 7200, kLeft);
    p.radioTextA->setFont(MonoFont());
    ColourLabel* rsb = b.caption(g2, QStringLiteral("lRSb"), QStringLiteral("RSb"), 120, 580, 435);
    p.radioTextB = b.value(g2, QStringLiteral("vRSb"), 600, 555, 4380, kLeft);
    p.radioTextB->setFont(MonoFont());
    ColourLabel* tab = b.caption(g2, QStringLiteral("lTAB"), QStringLiteral("TA/B"), 5040, 580, 435);
    p.textAB = b.value(g2, QStringLiteral("vTAB"), 5520, 555, 300, kCentre);
    row(2, rsa, {p.radioTextA});
    row(2, rsb, {p.radioTextB});
    row(2, tab, {p.textAB});

    // Panel "GRP 03".
    PanelFrame* g3 = p.frames[3] = b.frame(b.arrayName("lGrp", 3), QStringLiteral("GRP 03"), 0, 3360, 1480, 1240);
    ColourLabel* odaGroup = b.caption(g3, QStringLiteral("lRDSGRP"), QStringLiteral("GRP"), 120, 260, 675);
    p.odaGroupType = b.value(g3, QStringLiteral("vRDSGRP"), 135, 440, 375, kCentre);
    p.odaGroupVersion = b.value(g3, QStringLiteral("vRDSB0"), 495, 440, 255, kCentre);
    ColourLabel* oda = b.caption(g3, QStringLiteral("lODA"), QStringLiteral("ODA"), 840, 260, 555);
    p.odaMessage = b.value(g3, QStringLiteral("vODA"), 840, 440, 555, kRight);
    ColourLabel* aid = b.caption(g3, QStringLiteral("lAID"), QStringLiteral("AID"), 840, 705, 555);
    p.odaAid = b.value(g3, QStringLiteral("vAID"), 840, 910, 555, kRight);
    row(3, odaGroup, {p.odaGroupType, p.odaGroupVersion});
    row(3, oda, {p.odaMessage});
    row(3, aid, {p.odaAid});

    // Panel "GRP 08A".
    PanelFrame* g8 = p.frames[8] = b.frame(b.arrayName("lGrp", 8), QStringLiteral("GRP 08A"), 1560, 3360, 6300, 1240);
    fields(8, {Field{"lT", "T", "vT", 120, 300, kCentre, &GroupPanelWidgets::tmcT},
               Field{"lF", "F", "vF", 440, 300, kCentre, &GroupPanelWidgets::tmcF},
               Field{"lDP", "DP", "vDP", 740, 380, kCentre, &GroupPanelWidgets::tmcDP},
               Field{"lD", "D", "vD", 1120, 300, kCentre, &GroupPanelWidgets::tmcD},
               Field{"lPN", "PN", "vPN", 1440, 300, kCentre, &GroupPanelWidgets::tmcPN},
               Field{"lEXT", "EXT", "vEXT", 1755, 555, kCentre, &GroupPanelWidgets::tmcExtent},
               Field{"lEVT", "EVT", "vEVT", 2320, 555, kCentre, &GroupPanelWidgets::tmcEvent},
               Field{"lLOC", "LOC", "vLOC", 2880, 555, kCentre, &GroupPanelWidgets::tmcLocation}});
    // The duration and event texts: read-only boxes the user can select from.
    QColor boxColour = form->palette().color(QPalette::Midlight);
    auto styleBox = [&](QWidget* box, const QString& name, QRect r) {
        box->setObjectName(name);
        box->setFont(SansFont(true));
        QPalette pal = box->palette();
        pal.setColor(QPalette::Base, boxColour);
        box->setPalette(pal);
        box->setGeometry(r);
    };
    p.tmcDurationText = new QLineEdit(g8);
    p.tmcDurationText->setReadOnly(true);
    styleBox(p.tmcDurationText, QStringLiteral("vDPDesc"), t.rect(4320, 415, 1900, 285));
    p.tmcEventText = new QPlainTextEdit(g8);
    p.tmcEventText->setReadOnly(true);
    p.tmcEventText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    p.tmcEventText->document()->setDocumentMargin(1);
    styleBox(p.tmcEventText, QStringLiteral("vEvtDsc"), t.rect(120, 720, 6100, 420));

    // Panel "GRP 14".
    PanelFrame* g14 = p.frames[14] = b.frame(b.arrayName("lGrp", 14), QStringLiteral("GRP 14"), 0, 4640, 5140, 1280);
    fields(14, {Field{"lEONPI", "PI ", "vEONPI", 120, 555, kRight, &GroupPanelWidgets::eonPi},
                Field{"lEONTP", "TP", "vEONTP", 720, 300, kCentre, &GroupPanelWidgets::eonTp},
                Field{"lEONPTY", "PTY", "vEONPTY", 1060, 555, kRight, &GroupPanelWidgets::eonPty},
                Field{"lEONPS", "PS", "vEONPS", 1660, 1260, kCentre, &GroupPanelWidgets::eonPs},
                Field{"lEONTA", "TA", "vEONTA", 3075, 300, kCentre, &GroupPanelWidgets::eonTa},
                Field{"lEONPIN", "PIN", "vEONPIN", 3405, 495, kRight, &GroupPanelWidgets::eonPin},
                Field{"lEONAF1", "AF1", "vEONAF1", 3840, 480, kRight, &GroupPanelWidgets::eonAf1, 240, 4080},
                Field{"lEONAF2", "AF2", "vEONAF2", 4320, 480, kRight, &GroupPanelWidgets::eonAf2, 240, 4560}});
    p.eonPs->setFont(SansFont(true));
    p.eonPs->setPalette(red);
    for (int i = 0; i < 5; ++i) {
        ColourLabel* tn = b.caption(g14, b.arrayName("lEONTN", i), QStringLiteral("TN%1").arg(i + 1), 120 + 480 * i, 720, 480);
        p.eonTuned[i] = b.value(g14, b.arrayName("vEONTN", i), 120 + 480 * i, 910, 480, kRight);
        ColourLabel* mf = b.caption(g14, b.arrayName("lEONMF", i), QStringLiteral("MF%1").arg(i + 1), 2640 + 480 * i, 720, 480);
        p.eonMapped[i] = b.value(g14, b.arrayName("vEONMF", i), 2640 + 480 * i, 910, 480, kRight);
        row(14, tn, {p.eonTuned[i]});
        row(14, mf, {p.eonMapped[i]});
    }

    // The raw-block panel "GRP XX".
    p.raw = b.frame(QStringLiteral("lAll"), QStringLiteral("GRP XX"), 5160, 4640, 2700, 1280);
    for (int row = 1; row <= 4; ++row) {
        const int left = 120 + 620 * (row - 1);
        p.rawCaptions[row - 1] = b.caption(p.raw, QStringLiteral("lB%1").arg(row), QStringLiteral("B%1").arg(row), left, 240, 555);
        p.rawWords[row - 1] = b.value(p.raw, QStringLiteral("vB%1").arg(row), left, 440, 555, kRight);
        p.rawChars[row - 1] = b.value(p.raw, QStringLiteral("tB%1").arg(row), left, 910, 555, kCentre);
        p.rawChars[row - 1]->setFont(MonoFont());
    }

    // The four display lines.
    for (int i = 0; i < 4; ++i) {
        auto* l = p.lines[i] = new ColourLabel(form);
        l->setObjectName(b.arrayName("lBloc", i));
        l->setFont(MonoFont());
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(t.rect(20, 6000 + 240 * i, 7815, 255));
    }

    // The status bar with its four keyed panels.
    ui.status = new PanelStatusBar(form);
    ui.status->setObjectName(QStringLiteral("Status"));
    ui.status->setGeometry(QRect(0, t.px(7035), form->width(), form->height() - t.px(7035)));
    const QString clear = QStringLiteral("Click here to clear counters");
    ui.status->addPanel(QStringLiteral("TOTAL"), QStringLiteral("Total Blocs:"), clear, 3);
    ui.status->addPanel(QStringLiteral("ERROR"), QStringLiteral("Total Errors:"), clear, 3);
    ui.status->addPanel(QStringLiteral("CRC"), QStringLiteral("Total Corrected:"), clear, 4);
    ui.status->addPanel(QStringLiteral("BITSTREAM"), QStringLiteral("Bitstream: "),
                        QStringLiteral("Click here to invert bitstream "), 3);
    return ui;
}

}  // namespace varnak
