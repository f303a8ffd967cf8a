#include "widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace varnak {
namespace {

constexpr int kTextMargin = 2;  // pixels between a field's frame and its text

}  // namespace

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

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QFrame(parent), mode_(mode)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text)
{
    if (text == text_) return;
    text_ = text;
    setToolTip(text);
    update();
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text_, mode_, contentsRect().width() - 2 * kTextMargin);
}

QSize ElidedLabel::sizeHint() const
{
    const int frame = 2 * frameWidth();
    return {fontMetrics().horizontalAdvance(text_) + 2 * kTextMargin + frame, fontMetrics().height() + frame};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, fontMetrics().height() + 2 * frameWidth()}; }

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(contentsRect().adjusted(kTextMargin, 0, -kTextMargin, 0), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

PanelStatusBar::PanelStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    // Both fields stand left of the panels, which come later. The message
    // takes whatever room is left; the signal, most telling part first, asks
    // for its width.
    message_ = new ElidedLabel(Qt::ElideMiddle, this);
    message_->setObjectName(QStringLiteral("MESSAGE"));
    message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addPermanentWidget(message_, 1);
    signal_ = new ElidedLabel(Qt::ElideRight, this);
    signal_->setObjectName(QStringLiteral("SIGNAL"));
    signal_->hide();
    addPermanentWidget(signal_);
    hold_.setSingleShot(true);
    connect(&hold_, &QTimer::timeout, this, &PanelStatusBar::applySignal);
    connect(this, &QStatusBar::messageChanged, this, [this](const QString& text) {
        message_->setText(text);
        if (text.isEmpty()) return;
        sinceMessage_.start();
        if (!signal_->isHidden()) {
            signal_->hide();
            applySignal();  // waits for the hold
        }
    });
}

void PanelStatusBar::showSignal(const QString& brief, const QString& full)
{
    signalBrief_ = brief;
    signalFull_ = full;
    applySignal();
}

void PanelStatusBar::applySignal()
{
    const qint64 held = sinceMessage_.isValid() ? sinceMessage_.elapsed() : holdMs_;
    if (!signalBrief_.isEmpty() && signal_->isHidden() && held < holdMs_) {
        if (!hold_.isActive()) hold_.start(static_cast<int>(holdMs_ - held));
        return;
    }
    signal_->setText(signalBrief_);
    signal_->setToolTip(signalFull_);
    signal_->setVisible(!signalBrief_.isEmpty());
}

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
