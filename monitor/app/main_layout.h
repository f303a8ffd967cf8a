// The fixed arrangement of the main window: every control with its object
// name, caption, position, size, font and design-time colours.
//
// Positions and sizes are given in twips (1/1440 inch) and converted with the
// screen's logical resolution, 15 twips per pixel at 96 dpi. Control arrays
// are named "<name>_<index>" (lGrp_8, vAF_24, lBLOCN_0, lBloc_3).
#pragma once

#include <QRect>

class QWidget;

namespace varnak {

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

// Creates every control of the main window as a child of `form` and sizes
// the form to the client area.
void BuildMainLayout(QWidget* form, const Twips& twips);

}  // namespace varnak
