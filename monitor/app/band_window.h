// The band window: the spectrum of an IQ capture with a waterfall strip
// below it and a marker at every station (labelled with its PI and PS), and
// the table of the stations. Picking a station (a click in the table or on
// the spectrum, or the arrow keys) makes it the main window's. Everything
// it shows comes from the BandRunner; the window only draws.
#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

class QSortFilterProxyModel;
class QTableView;

namespace varnak {

class BandRunner;
class MainWindow;

// The spectrum (averaged power in dB against MHz) and its waterfall.
class SpectrumView : public QWidget {
    Q_OBJECT
public:
    explicit SpectrumView(BandRunner& band, QWidget* parent = nullptr);
    // Takes the runner's current spectrum (a waterfall line when it is new).
    void refresh();
    void clear();
    // The x position of `mhz` in the widget.
    double xOf(double mhz) const;
    QSize sizeHint() const override { return {800, 320}; }

signals:
    void stationClicked(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    BandRunner& band_;
    std::vector<double> raw_;    // the runner's spectrum last taken, power per bin
    std::vector<double> shown_;  // the spectrum drawn, dB
    QImage waterfall_;           // one line per spectrum, newest on top
    int lines_ = 0;              // lines of it filled
};

class BandWindow : public QWidget {
    Q_OBJECT
public:
    BandWindow(BandRunner& band, QWidget* parent = nullptr);
    QTableView* table() const { return table_; }
    SpectrumView* spectrum() const { return spectrum_; }
    // Selects station `id` in the table (and so in the main window).
    void pick(int id);

private:
    void refresh();

    BandRunner& band_;
    SpectrumView* spectrum_;
    QTableView* table_;
    QSortFilterProxyModel* proxy_;
    qint64 lastDraw_ = 0;
    bool following_ = false;  // the table follows the runner's selection
};

// Adds the band window to `main`: it opens by itself when a band run begins;
// a context-menu entry "Band…" and F3 open it later. Owned by `main`.
BandWindow* AttachBandWindow(MainWindow& main);

}  // namespace varnak
