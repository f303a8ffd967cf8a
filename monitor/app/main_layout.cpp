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

void BuildMainLayout(QWidget* form, const Twips& t) {
    form->setFont(SansFont(false));
    form->setFixedSize(t.px(kClientWidthTwips), t.px(kClientHeightTwips));
    Builder b(form, t);

    // Top row.
    struct Button {
        const char* name;
        const char* text;
        int left, width;
    };
    for (const Button& btn : {Button{"File", "&File", 20, 855}, Button{"Card", "&Card", 880, 975},
                              Button{"Stopit", "&Stop", 2180, 600}}) {
        auto* p = new QPushButton(QString::fromLatin1(btn.text), form);
        p->setObjectName(QString::fromLatin1(btn.name));
        p->setGeometry(t.rect(btn.left, 0, btn.width, 255));
    }
    form->findChild<QPushButton*>(QStringLiteral("Stopit"))->setEnabled(false);
    auto* log = new QCheckBox(QStringLiteral("Log"), form);
    log->setObjectName(QStringLiteral("vLog"));
    log->setGeometry(t.rect(2880, 0, 735, 255));
    b.lamp(QStringLiteral("lFULL"), QStringLiteral("F"), 3720, 315, kRed, true)->hide();
    b.lamp(QStringLiteral("lSYNC"), QStringLiteral("--"), 4080, 675, kRed, false);
    b.lamp(QStringLiteral("lCRC"), QStringLiteral("--"), 4800, 675, kRed, false);
    b.lamp(QStringLiteral("lSEQ"), QStringLiteral("--"), 5520, 675, kRed, false);
    const char* blockNames[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i)
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
    b.value(bab, QStringLiteral("vPI"), 120, 440, 555, kRight);
    b.value(bab, QStringLiteral("vGRP"), 720, 440, 375, kCentre);
    b.value(bab, QStringLiteral("vB0"), 1080, 440, 255, kCentre);
    b.value(bab, QStringLiteral("vTP"), 1360, 440, 300, kCentre);
    b.value(bab, QStringLiteral("vPTY"), 1700, 440, 340, kCentre);
    b.value(bab, QStringLiteral("iPTY"), 2040, 440, 1740, kLeft)->setFont(SansFont(true));

    // Panel "GRP 01".
    PanelFrame* g1 = b.frame(b.arrayName("lGrp", 1), QStringLiteral("GRP 01"), 3960, 360, 1665, 760);
    g1->setCaptionColour(Qt::black);
    b.caption(g1, QStringLiteral("lRPC"), QStringLiteral("RPC"), 40, 220, 420);
    b.value(g1, QStringLiteral("vRPC"), 120, 440, 300, kCentre);
    b.caption(g1, QStringLiteral("lPIN"), QStringLiteral("PIN"), 480, 220, 495);
    b.value(g1, QStringLiteral("vPIN"), 480, 440, 495, kRight);
    b.caption(g1, QStringLiteral("lSLC"), QStringLiteral("SLC"), 1080, 220, 495);
    b.value(g1, QStringLiteral("vSLC"), 1080, 440, 495, kRight);

    // Panel "GRP 04A".
    PanelFrame* g4 = b.frame(b.arrayName("lGrp", 4), QStringLiteral("GRP 04A"), 5680, 360, 2175, 760);
    b.caption(g4, QStringLiteral("lTime"), QStringLiteral("Time"), 120, 240, 780);
    b.value(g4, QStringLiteral("vTime"), 80, 435, 2020, kLeft);

    // Panel "GRP 00".
    PanelFrame* g0 = b.frame(b.arrayName("lGrp", 0), QStringLiteral("GRP 00"), 0, 1140, 7860, 1245);
    struct Field {
        const char* caption;
        const char* text;
        const char* value;
        int left, width;
        Qt::Alignment align;
    };
    for (const Field& f : {Field{"lDI", "DI", "vDI", 120, 555, kCentre}, Field{"lPS", "PS", "vPS", 720, 1260, kCentre},
                           Field{"lTA", "TA", "vTA", 2160, 300, kCentre}, Field{"lMS", "MS", "vMS", 2500, 300, kCentre},
                           Field{"lAFn", "AFn", "vAFn", 3000, 375, kRight}}) {
        b.caption(g0, QString::fromLatin1(f.caption), QString::fromLatin1(f.text), f.left,
                  qstrcmp(f.caption, "lDI") == 0 ? 240 : 225, f.width);
        b.value(g0, QString::fromLatin1(f.value), f.left, 440, f.width, f.align);
    }
    ColourLabel* ps = g0->findChild<ColourLabel*>(QStringLiteral("vPS"));
    ps->setFont(MonoFont());
    QPalette red = ps->palette();
    red.setColor(QPalette::Active, QPalette::WindowText, kRed);
    red.setColor(QPalette::Inactive, QPalette::WindowText, kRed);
    ps->setPalette(red);
    for (int i = 0; i < 25; ++i) {
        const bool first = i < 9;
        const int left = first ? 3480 + 480 * i : 120 + 480 * (i - 9);
        b.caption(g0, b.arrayName("lAF", i), QStringLiteral("AF%1").arg(i + 1), left, first ? 225 : 705, 480);
        b.value(g0, b.arrayName("vAF", i), left, first ? 440 : 910, 480, kRight);
    }

    // Panel "GRP 02".
    PanelFrame* g2 = b.frame(b.arrayName("lGrp", 2), QStringLiteral("GRP 02"), 0, 2400, 7860, 915);
    b.caption(g2, QStringLiteral("lRSa"), QStringLiteral("RSa"), 120, 260, 435);
    b.value(g2, QStringLiteral("vRSA"), 600, 240, 7200, kLeft)->setFont(MonoFont());
    b.caption(g2, QStringLiteral("lRSb"), QStringLiteral("RSb"), 120, 580, 435);
    b.value(g2, QStringLiteral("vRSb"), 600, 555, 4380, kLeft)->setFont(MonoFont());
    b.caption(g2, QStringLiteral("lTAB"), QStringLiteral("TA/B"), 5040, 580, 435);
    b.value(g2, QStringLiteral("vTAB"), 5520, 555, 300, kCentre);

    // Panel "GRP 03".
    PanelFrame* g3 = b.frame(b.arrayName("lGrp", 3), QStringLiteral("GRP 03"), 0, 3360, 1480, 1240);
    b.caption(g3, QStringLiteral("lRDSGRP"), QStringLiteral("GRP"), 120, 260, 675);
    b.value(g3, QStringLiteral("vRDSGRP"), 135, 440, 375, kCentre);
    b.value(g3, QStringLiteral("vRDSB0"), 495, 440, 255, kCentre);
    b.caption(g3, QStringLiteral("lODA"), QStringLiteral("ODA"), 840, 260, 555);
    b.value(g3, QStringLiteral("vODA"), 840, 440, 555, kRight);
    b.caption(g3, QStringLiteral("lAID"), QStringLiteral("AID"), 840, 705, 555);
    b.value(g3, QStringLiteral("vAID"), 840, 910, 555, kRight);

    // Panel "GRP 08A".
    PanelFrame* g8 = b.frame(b.arrayName("lGrp", 8), QStringLiteral("GRP 08A"), 1560, 3360, 6300, 1240);
    for (const Field& f : {Field{"lT", "T", "vT", 120, 300, kCentre}, Field{"lF", "F", "vF", 440, 300, kCentre},
                           Field{"lDP", "DP", "vDP", 740, 380, kCentre}, Field{"lD", "D", "vD", 1120, 300, kCentre},
                           Field{"lPN", "PN", "vPN", 1440, 300, kCentre},
                           Field{"lEXT", "EXT", "vEXT", 1755, 555, kCentre},
                           Field{"lEVT", "EVT", "vEVT", 2320, 555, kCentre},
                           Field{"lLOC", "LOC", "vLOC", 2880, 555, kCentre}}) {
        b.caption(g8, QString::fromLatin1(f.caption), QString::fromLatin1(f.text), f.left, 240, f.width);
        b.value(g8, QString::fromLatin1(f.value), f.left, 440, f.width, f.align);
    }
    // The duration and event texts: read-only boxes the user can select from.
    QColor boxColour = form->palette().color(QPalette::Midlight);
    auto styleBox = [&](QWidget* box, const QString& name, QRect r) {
        box->setObjectName(name);
        box->setFont(SansFont(true));
        QPalette p = box->palette();
        p.setColor(QPalette::Base, boxColour);
        box->setPalette(p);
        box->setGeometry(r);
    };
    auto* dp = new QLineEdit(g8);
    dp->setReadOnly(true);
    styleBox(dp, QStringLiteral("vDPDesc"), t.rect(4320, 415, 1900, 285));
    auto* evt = new QPlainTextEdit(g8);
    evt->setReadOnly(true);
    evt->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    evt->document()->setDocumentMargin(1);
    styleBox(evt, QStringLiteral("vEvtDsc"), t.rect(120, 720, 6100, 420));

    // Panel "GRP 14".
    PanelFrame* g14 = b.frame(b.arrayName("lGrp", 14), QStringLiteral("GRP 14"), 0, 4640, 5140, 1280);
    struct EonField {
        const char* caption;
        const char* text;
        const char* value;
        int left, width, valueLeft;
        Qt::Alignment align;
    };
    for (const EonField& f :
         {EonField{"lEONPI", "PI ", "vEONPI", 120, 555, 120, kRight}, EonField{"lEONTP", "TP", "vEONTP", 720, 300, 720, kCentre},
          EonField{"lEONPTY", "PTY", "vEONPTY", 1060, 555, 1060, kRight},
          EonField{"lEONPS", "PS", "vEONPS", 1660, 1260, 1660, kCentre},
          EonField{"lEONTA", "TA", "vEONTA", 3075, 300, 3075, kCentre},
          EonField{"lEONPIN", "PIN", "vEONPIN", 3405, 495, 3405, kRight},
          EonField{"lEONAF1", "AF1", "vEONAF1", 3840, 480, 4080, kRight},
          EonField{"lEONAF2", "AF2", "vEONAF2", 4320, 480, 4560, kRight}}) {
        b.caption(g14, QString::fromLatin1(f.caption), QString::fromLatin1(f.text), f.left, 240, f.width);
        b.value(g14, QString::fromLatin1(f.value), f.valueLeft, 440, f.width, f.align);
    }
    ColourLabel* eonPs = g14->findChild<ColourLabel*>(QStringLiteral("vEONPS"));
    eonPs->setFont(SansFont(true));
    eonPs->setPalette(red);
    for (int i = 0; i < 5; ++i) {
        b.caption(g14, b.arrayName("lEONTN", i), QStringLiteral("TN%1").arg(i + 1), 120 + 480 * i, 720, 480);
        b.value(g14, b.arrayName("vEONTN", i), 120 + 480 * i, 910, 480, kRight);
        b.caption(g14, b.arrayName("lEONMF", i), QStringLiteral("MF%1").arg(i + 1), 2640 + 480 * i, 720, 480);
        b.value(g14, b.arrayName("vEONMF", i), 2640 + 480 * i, 910, 480, kRight);
    }

    // The raw-block panel "GRP XX".
    PanelFrame* all = b.frame(QStringLiteral("lAll"), QStringLiteral("GRP XX"), 5160, 4640, 2700, 1280);
    for (int row = 1; row <= 4; ++row) {
        const int left = 120 + 620 * (row - 1);
        b.caption(all, QStringLiteral("lB%1").arg(row), QStringLiteral("B%1").arg(row), left, 240, 555);
        b.value(all, QStringLiteral("vB%1").arg(row), left, 440, 555, kRight);
        b.value(all, QStringLiteral("tB%1").arg(row), left, 910, 555, kCentre)->setFont(MonoFont());
    }

    // The four display lines.
    for (int i = 0; i < 4; ++i) {
        auto* l = new ColourLabel(form);
        l->setObjectName(b.arrayName("lBloc", i));
        l->setFont(MonoFont());
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(t.rect(20, 6000 + 240 * i, 7815, 255));
    }

    // The status bar with its four keyed panels.
    auto* status = new PanelStatusBar(form);
    status->setObjectName(QStringLiteral("Status"));
    status->setGeometry(QRect(0, t.px(7035), form->width(), form->height() - t.px(7035)));
    const QString clear = QStringLiteral("Click here to clear counters");
    status->addPanel(QStringLiteral("TOTAL"), QStringLiteral("Total Blocs:"), clear, 3);
    status->addPanel(QStringLiteral("ERROR"), QStringLiteral("Total Errors:"), clear, 3);
    status->addPanel(QStringLiteral("CRC"), QStringLiteral("Total Corrected:"), clear, 4);
    status->addPanel(QStringLiteral("BITSTREAM"), QStringLiteral("Bitstream: "),
                     QStringLiteral("Click here to invert bitstream "), 3);
}

}  // namespace varnak
