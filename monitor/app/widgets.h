// The few widget kinds the main window needs beyond plain Qt ones.
#pragma once

#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QStatusBar>

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

// The window's status bar: text panels with keys and tool tips that report
// clicks with their number (counted from 1).
class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit PanelStatusBar(QWidget* parent = nullptr);
    // Adds a panel; its object name is `key`.
    QLabel* addPanel(const QString& key, const QString& text, const QString& toolTip, int stretch);
    QLabel* panel(int number) const;  // 1-based; nullptr outside the range
    int panelCount() const { return static_cast<int>(panels_.size()); }

signals:
    void panelClicked(int number);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<QLabel*> panels_;
};

}  // namespace varnak
