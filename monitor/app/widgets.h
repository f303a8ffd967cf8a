// The few widget kinds the main window needs beyond plain Qt ones.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace varnak {

// A label with its own background colour. The colour is painted directly,
// not through the palette, so the indicators can change it thousands of
// times a second while a recording is decoded. A disabled label keeps its
// text, drawn greyed.
class ColourLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // An invalid colour (the default) paints no background of its own.
    void setBackground(const QColor& colour);
    QColor background() const { return background_; }
    // Sets the text only when it differs, sparing a relayout.
    void setCaption(const QString& text)
    {
        if (text != this->text()) setText(text);
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_;
};

// A captioned panel frame whose caption can take its own colour while the
// frame is enabled; a disabled frame draws its caption greyed.
class PanelFrame : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
    void setBackground(const QColor& colour);
    QColor background() const { return background_; }
    void setCaptionColour(const QColor& colour);
    QColor captionColour() const { return captionColour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_;
    QColor captionColour_ = Qt::black;
};

// A one-line sunken field that shows as much of its text as fits, cut where
// `mode` says ("Decode log: /home/…/station.out" in the middle), and the
// whole text in its tool tip. It asks for the width of its text and makes
// do with less.
class ElidedLabel : public QFrame {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    // The text as it is drawn at the present width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
    QString text_;
};

// The window's status bar: text panels with keys and tool tips that report
// clicks with their number (counted from 1). On their left, a message field
// shows the bar's message (showMessage), which the panels would otherwise
// leave no room for, and a signal field the signal of a run. The bar is too
// narrow for both: a new message has the room to itself for a few seconds
// (kMessageHoldMs) before the signal takes what it needs of it.
class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kMessageHoldMs = 4000;

    explicit PanelStatusBar(QWidget* parent = nullptr);
    // The signal field: hidden while `brief` is empty; `full` is its tool tip.
    void showSignal(const QString& brief, const QString& full);
    const ElidedLabel* messageField() const { return message_; }
    const ElidedLabel* signalField() const { return signal_; }
    // Shortens the message's time alone (tests).
    void setMessageHold(int ms) { holdMs_ = ms; }
    // Adds a panel; its object name is `key`.
    QLabel* addPanel(const QString& key, const QString& text, const QString& toolTip, int stretch);
    QLabel* panel(int number) const;  // 1-based; nullptr outside the range
    int panelCount() const { return static_cast<int>(panels_.size()); }

signals:
    void panelClicked(int number);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applySignal();

    QList<QLabel*> panels_;
    ElidedLabel* message_;
    ElidedLabel* signal_;
    QString signalBrief_, signalFull_;  // what the signal field is to show
    QElapsedTimer sinceMessage_;
    QTimer hold_;
    int holdMs_ = kMessageHoldMs;
};

}  // namespace varnak
