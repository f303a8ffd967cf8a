// The fixed arrangement of the main window: every control with its object
// name, caption, position, size, font and design-time colours.
//
// Positions and sizes are given in twips (1/1440 inch) and converted with the
// screen's logical resolution, 15 twips per pixel at 96 dpi. Control arrays
// are named "<name>_<index>" (lGrp_8, vAF_24, lBLOCN_0, lBloc_3). The object
// names are kept for tests and accessibility; the window takes its controls
// from the MainLayout the builder returns.
#pragma once

#include <QRect>
#include <array>
#include <vector>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace varnak {

class ColourLabel;
class PanelFrame;
class PanelStatusBar;

// Twips to pixels at a given logical resolution.
class Twips {
public:
    explicit Twips(double dpi = 96.0) : dpi_(dpi) {}
    int px(int twips) const;
    // A rectangle whose edges are rounded independently, so that controls
    // that touch in twips touch in pixels too.
    QRect rect(int left, int top, int width, int height) const;
    double dpi() const { return dpi_; }
    // Pixels back to twips (a window position).
    double toTwips(int px) const { return px * 1440.0 / dpi_; }

private:
    double dpi_;
};

// Client area of the main window in twips.
constexpr int kClientWidthTwips = 7890;
constexpr int kClientHeightTwips = 7290;

// The group types that have a panel of their own, in the order the window
// dims them.
constexpr int kPanelGroups[] = {0, 1, 2, 3, 4, 8, 14};

// A caption with the values it names, switched on and off together.
struct PanelRow {
    ColourLabel* caption = nullptr;
    std::vector<ColourLabel*> values;
};

// What shows the decoded groups: the header, the group panels, the raw-block
// panel and the four display lines. Object names in the comments.
struct GroupPanelWidgets {
    // Panel "Bloc A/B": vPI, vGRP, vB0, vTP, vPTY, iPTY.
    ColourLabel *pi = nullptr, *groupType = nullptr, *groupVersion = nullptr, *tp = nullptr, *pty = nullptr,
                *ptyName = nullptr;
    // The panel of each group type that has one (lGrp_<type>), else nullptr,
    // and its rows in the order they are switched.
    std::array<PanelFrame*, 16> frames{};
    std::array<std::vector<PanelRow>, 16> rows;
    // GRP 00: vDI, vPS, vTA, vMS, vAFn, vAF_0..24.
    ColourLabel *di = nullptr, *ps = nullptr, *ta = nullptr, *ms = nullptr, *afCount = nullptr;
    std::array<ColourLabel*, 25> af{};
    // GRP 01: vRPC, vPIN, vSLC.
    ColourLabel *rpc = nullptr, *pin = nullptr, *slc = nullptr;
    // GRP 02: vRSA, vRSb, vTAB.
    ColourLabel *radioTextA = nullptr, *radioTextB = nullptr, *textAB = nullptr;
    // GRP 03: vRDSGRP, vRDSB0, vODA, vAID.
    ColourLabel *odaGroupType = nullptr, *odaGroupVersion = nullptr, *odaMessage = nullptr, *odaAid = nullptr;
    // GRP 04A: vTime.
    ColourLabel* clockTime = nullptr;
    // GRP 08A: vT, vF, vD, vDP, vPN, vEXT, vEVT, vLOC, vDPDesc, vEvtDsc.
    ColourLabel *tmcT = nullptr, *tmcF = nullptr, *tmcD = nullptr, *tmcDP = nullptr, *tmcPN = nullptr,
                *tmcExtent = nullptr, *tmcEvent = nullptr, *tmcLocation = nullptr;
    QLineEdit* tmcDurationText = nullptr;
    QPlainTextEdit* tmcEventText = nullptr;
    // GRP 14: vEONPI, vEONTP, vEONPTY, vEONPS, vEONTA, vEONPIN, vEONAF1,
    // vEONAF2, vEONTN_0..4, vEONMF_0..4.
    ColourLabel *eonPi = nullptr, *eonTp = nullptr, *eonPty = nullptr, *eonPs = nullptr, *eonTa = nullptr,
                *eonPin = nullptr, *eonAf1 = nullptr, *eonAf2 = nullptr;
    std::array<ColourLabel*, 5> eonTuned{}, eonMapped{};
    // The raw-block panel lAll: lB1..4, vB1..4, tB1..4.
    PanelFrame* raw = nullptr;
    std::array<ColourLabel*, 4> rawCaptions{}, rawWords{}, rawChars{};
    // The display lines lBloc_0..3.
    std::array<ColourLabel*, 4> lines{};
};

// The sequence, sync and check indicators (lSEQ, lSYNC, lCRC) and the block
// lamps lBLOCN_0..3 of the top row.
struct IndicatorWidgets {
    ColourLabel *sequence = nullptr, *sync = nullptr, *check = nullptr;
    std::array<ColourLabel*, 4> blockLamps{};
};

// The controls the window works with.
struct MainLayout {
    QPushButton *file = nullptr, *card = nullptr, *stop = nullptr;  // File, Card, Stopit
    ColourLabel* full = nullptr;                                    // lFULL: live text was dropped
    IndicatorWidgets indicators;
    GroupPanelWidgets panels;
    PanelStatusBar* status = nullptr;  // Status
};

// Creates every control of the main window as a child of `form`, sizes the
// form to the client area and hands the controls over.
MainLayout BuildMainLayout(QWidget* form, const Twips& twips);

}  // namespace varnak
