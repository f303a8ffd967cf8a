#include "widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace varnak {

void ColourLabel::setBackground(const QColor& colour)
{
    if (colour == background_) return;
    background_ = colour;
    update();
}

void ColourLabel::paintEvent(QPaintEvent* event)
{
    if (background_.isValid()) {
        QPainter p(this);
        p.fillRect(rect(), background_);
    }
    QLabel::paintEvent(event);
}

void PanelFrame::setBackground(const QColor& colour)
{
    if (colour == background_) return;
    background_ = colour;
    update();
}

void PanelFrame::setCaptionColour(const QColor& colour)
{
    if (colour == captionColour_) return;
    captionColour_ = colour;
    update();
}

void PanelFrame::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    if (background_.isValid()) p.fillRect(rect(), background_);
    QStyleOptionGroupBox opt;
    initStyleOption(&opt);
    if (isEnabled()) {
        // Styles differ in where they take the caption colour from.
        opt.textColor = captionColour_;
        opt.palette.setColor(QPalette::WindowText, captionColour_);
    }
    p.drawComplexControl(QStyle::CC_GroupBox, opt);
}

PanelStatusBar::PanelStatusBar(QWidget* parent) : QStatusBar(parent) { setSizeGripEnabled(false); }

QLabel* PanelStatusBar::addPanel(const QString& key, const QString& text, const QString& toolTip, int stretch)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(key);
    label->setToolTip(toolTip);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->installEventFilter(this);
    addPermanentWidget(label, stretch);
    panels_.append(label);
    return label;
}

QLabel* PanelStatusBar::panel(int number) const
{
    return number >= 1 && number <= panels_.size() ? panels_[number - 1] : nullptr;
}

bool PanelStatusBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        const int i = static_cast<int>(panels_.indexOf(static_cast<QLabel*>(watched)));
        if (i >= 0) emit panelClicked(i + 1);
    }
    return QStatusBar::eventFilter(watched, event);
}

}  // namespace varnak
