#include "band_window.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "band_runner.h"
#include "main_window.h"

namespace varnak {
namespace {

// The spectrum's range in dB below its highest bin.
constexpr double kRangeDb = 60;
// Lines of the waterfall (one per spectrum, a new one every second), each
// drawn this many pixels high.
constexpr int kWaterfallLines = 120;
constexpr int kWaterfallLinePixels = 3;
// Room for the dB scale on the left and the MHz scale below the spectrum.
constexpr int kMarginLeft = 40;
constexpr int kMarginBottom = 18;
// A click this close to a station's marker picks it.
constexpr double kPickPixels = 12;

QRgb HeatColour(double level)  // level 0..1
{
    level = std::clamp(level, 0.0, 1.0);
    const int r = int(255 * std::clamp(level * 2 - 0.5, 0.0, 1.0));
    const int g = int(255 * std::clamp(level * 2 - 1.0, 0.0, 1.0));
    const int b = int(255 * std::clamp(level < 0.5 ? level * 2 : 2 - level * 2, 0.0, 1.0));
    return qRgb(r, g, b);
}

}  // namespace

SpectrumView::SpectrumView(BandRunner& band, QWidget* parent) : QWidget(parent), band_(band)
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(400, 200);
    setObjectName(QStringLiteral("spectrum"));
}

void SpectrumView::clear()
{
    shown_.clear();
    raw_.clear();
    waterfall_ = QImage();
    lines_ = 0;
    update();
}

void SpectrumView::refresh()
{
    const std::vector<double>& s = band_.spectrum();
    // The runner hands the same spectrum over until the next search.
    if (!s.empty() && s != raw_) {
        raw_ = s;
        shown_.resize(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) shown_[i] = 10 * std::log10(std::max(s[i], 1e-20));
        // A new line on top of the waterfall, one pixel per bin.
        const int width = int(shown_.size());
        if (waterfall_.width() != width) {
            waterfall_ = QImage(width, kWaterfallLines, QImage::Format_RGB32);
            waterfall_.fill(Qt::black);
            lines_ = 0;
        }
        lines_ = std::min(lines_ + 1, kWaterfallLines);
        std::memmove(waterfall_.scanLine(1), waterfall_.scanLine(0),
                     std::size_t(waterfall_.bytesPerLine()) * (kWaterfallLines - 1));
        const double top = *std::max_element(shown_.begin(), shown_.end());
        auto* line = reinterpret_cast<QRgb*>(waterfall_.scanLine(0));
        for (int i = 0; i < width; ++i) line[i] = HeatColour((shown_[std::size_t(i)] - top + kRangeDb) / kRangeDb);
    }
    update();
}

double SpectrumView::xOf(double mhz) const
{
    const double rate = band_.sampleRate();
    if (rate <= 0) return kMarginLeft;
    const double low = (band_.centerHz() - rate / 2) / 1e6;
    const double span = rate / 1e6;
    return kMarginLeft + (mhz - low) / span * (width() - kMarginLeft);
}

void SpectrumView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(16, 16, 24));
    const int plotWidth = width() - kMarginLeft;
    const int spectrumHeight = (height() - kMarginBottom) * 3 / 5;
    const QRect fall(kMarginLeft, spectrumHeight + kMarginBottom, plotWidth, height() - spectrumHeight - kMarginBottom);
    if (!waterfall_.isNull()) {
        const int lines = std::min(lines_, std::max(1, fall.height() / kWaterfallLinePixels));
        p.drawImage(QRect(fall.left(), fall.top(), fall.width(), lines * kWaterfallLinePixels), waterfall_,
                    QRect(0, 0, waterfall_.width(), lines));
    }
    const double rate = band_.sampleRate();
    if (rate <= 0) return;

    // Frequency ticks every 0.5 MHz (every 0.1 MHz for a narrow capture).
    p.setPen(QColor(90, 90, 110));
    const double low = (band_.centerHz() - rate / 2) / 1e6, high = (band_.centerHz() + rate / 2) / 1e6;
    const double step = high - low > 2 ? 0.5 : 0.1;
    for (double f = std::ceil(low / step) * step; f <= high; f += step) {
        const int x = int(xOf(f));
        p.drawLine(x, 0, x, spectrumHeight);
        p.drawText(x - 20, spectrumHeight + 2, 40, kMarginBottom - 2, Qt::AlignCenter, QString::number(f, 'f', 1));
    }
    // The power against frequency, the highest bin of each pixel column.
    if (!shown_.empty()) {
        const double top = *std::max_element(shown_.begin(), shown_.end());
        for (int db = 0; db <= int(kRangeDb); db += 20) {
            const int y = std::min(int(db / kRangeDb * spectrumHeight), spectrumHeight - 14);
            p.drawText(0, y, kMarginLeft - 4, 14, Qt::AlignRight | Qt::AlignTop, QString::number(-db));
        }
        QPolygonF curve;
        const std::size_t n = shown_.size();
        for (int x = 0; x < plotWidth; ++x) {
            const std::size_t from = std::size_t(x) * n / std::size_t(plotWidth);
            const std::size_t to = std::max(from + 1, std::size_t(x + 1) * n / std::size_t(plotWidth));
            double peak = -1e9;
            for (std::size_t i = from; i < std::min(to, n); ++i) peak = std::max(peak, shown_[i]);
            const double y = std::clamp((top - peak) / kRangeDb, 0.0, 1.0) * spectrumHeight;
            curve << QPointF(kMarginLeft + x, y);
        }
        p.setPen(QPen(QColor(120, 220, 140), 1));
        p.drawPolyline(curve);
    }
    // A marker at every station, labelled; the selected one highlighted.
    const auto& rows = band_.model().rows();
    for (const BandStationRow& r : rows) {
        const int x = int(xOf(r.mhz));
        const bool selected = r.id == band_.selected();
        const QColor colour = selected   ? QColor(255, 210, 60)
                              : r.active ? QColor(110, 170, 255)
                                         : QColor(120, 120, 120);
        p.setPen(QPen(colour, selected ? 2 : 1, Qt::DashLine));
        p.drawLine(x, 14, x, spectrumHeight);
        p.setPen(colour);
        const QString label = StationLabelText(r);
        QFont f = p.font();
        f.setBold(selected);
        p.setFont(f);
        p.save();
        p.translate(x + 3, 16);
        p.rotate(90);
        p.drawText(0, 0, label);
        p.restore();
    }
    if (hasFocus()) {
        p.setPen(QColor(255, 255, 255, 60));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void SpectrumView::mousePressEvent(QMouseEvent* event)
{
    setFocus();
    int best = -1;
    double distance = kPickPixels;
    for (const BandStationRow& r : band_.model().rows()) {
        const double d = std::abs(xOf(r.mhz) - event->position().x());
        if (d <= distance) {
            distance = d;
            best = r.id;
        }
    }
    if (best >= 0) emit stationClicked(best);
}

// Left and right pick the next station down or up the band.
void SpectrumView::keyPressEvent(QKeyEvent* event)
{
    const bool left = event->key() == Qt::Key_Left, right = event->key() == Qt::Key_Right;
    if (!left && !right) {
        QWidget::keyPressEvent(event);
        return;
    }
    std::vector<BandStationRow> rows = band_.model().rows();
    if (rows.empty()) return;
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.mhz < b.mhz; });
    std::size_t at = 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].id == band_.selected()) at = i;
    if (left && at > 0) --at;
    if (right && at + 1 < rows.size()) ++at;
    emit stationClicked(rows[at].id);
}

BandWindow::BandWindow(BandRunner& band, QWidget* parent) : QWidget(parent, Qt::Window), band_(band)
{
    setObjectName(QStringLiteral("bandWindow"));
    setWindowTitle(QStringLiteral("Varnak - Band"));
    spectrum_ = new SpectrumView(band, this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("stations"));
    proxy_ = new QSortFilterProxyModel(this);
    proxy_->setSourceModel(&band.model());
    proxy_->setSortRole(BandStationModel::kSortRole);
    table_->setModel(proxy_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(BandStationModel::Frequency, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    // Room for what each column holds; the radiotext takes what is left.
    static const int widths[BandStationModel::ColumnCount] = {60, 50, 85, 120, 300, 60, 50, 70, 60, 90};
    for (int c = 0; c < BandStationModel::ColumnCount; ++c) table_->setColumnWidth(c, widths[c]);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(spectrum_);
    split->addWidget(table_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(split);
    resize(1000, 640);

    // A row picked in the table (a click or the arrow keys) is the main
    // window's station.
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (following_ || !current.isValid()) return;
                band_.select(proxy_->data(current, BandStationModel::kIdRole).toInt());
            });
    connect(spectrum_, &SpectrumView::stationClicked, this, &BandWindow::pick);
    connect(&band, &BandRunner::updated, this, &BandWindow::refresh);
    connect(&band, &BandRunner::started, this, [this] { spectrum_->clear(); });
}

void BandWindow::pick(int id)
{
    band_.select(id);
    refresh();
}

void BandWindow::refresh()
{
    spectrum_->refresh();
    // The table shows the runner's selection.
    const int row = band_.model().rowOf(band_.selected());
    if (row < 0) return;
    const QModelIndex at = proxy_->mapFromSource(band_.model().index(row, 0));
    if (table_->currentIndex().row() == at.row()) return;
    following_ = true;
    table_->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    following_ = false;
}

BandWindow* AttachBandWindow(MainWindow& main)
{
    auto* window = new BandWindow(main.band(), &main);
    auto* open = new QAction(QStringLiteral("Band…"), &main);
    open->setObjectName(QStringLiteral("bandAction"));
    open->setShortcut(QKeySequence(Qt::Key_F3));
    const auto show = [window] {
        window->show();
        window->raise();
    };
    QObject::connect(open, &QAction::triggered, window, show);
    QObject::connect(&main.band(), &BandRunner::started, window, show);
    main.addAction(open);
    main.setContextMenuPolicy(Qt::ActionsContextMenu);
    return window;
}

}  // namespace varnak
