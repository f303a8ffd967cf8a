#include "history_plot.h"

#include <QPainter>
#include <algorithm>
#include <vector>

namespace varnak {

HistoryPlot::HistoryPlot(const rdsformats::StationHistory& history, QWidget* parent)
    : QWidget(parent), history_(history)
{
    setMinimumHeight(110);
    setAccessibleName(QStringLiteral("Groups per second and block error rate"));
}

void HistoryPlot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm = p.fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("000.0")) + 6;
    const int right = fm.horizontalAdvance(QStringLiteral("100%")) + 6;
    const QRect area(left, fm.height() / 2 + 2, width() - left - right, height() - fm.height() * 2 - 4);
    if (area.width() < 20 || area.height() < 20) return;
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(area);

    const auto& series = history_.series();
    const double seconds = double(history_.seriesInterval()) / 100.0;
    if (series.empty()) {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(area, Qt::AlignCenter, QStringLiteral("No groups yet"));
        return;
    }
    const int64_t start = series.front().start;
    const int64_t interval = history_.seriesInterval();
    const double span = double(series.back().start - start) + double(interval);
    // One column per pixel at most: a long run has far more intervals than
    // the plot has pixels, and drawing each would cost more than it shows.
    const int columns = std::max(1, std::min<int>(area.width(), static_cast<int>(series.size())));
    std::vector<double> groups(columns, 0.0), missing(columns, 0.0), spans(columns, 0.0);
    for (const auto& point : series) {
        const int c = std::min(columns - 1, static_cast<int>(double(point.start - start) / span * columns));
        groups[c] += point.groups;
        missing[c] += point.blocksMissing;
        spans[c] += seconds;
    }
    double top = 1.0;  // groups per second at the top of the scale
    for (int c = 0; c < columns; ++c)
        if (spans[c] > 0) top = std::max(top, groups[c] / spans[c]);
    top *= 1.1;
    const double width = double(area.width()) / columns;

    // Block error rate: bars against the right scale.
    const QColor errors(220, 60, 40, 140);
    for (int c = 0; c < columns; ++c) {
        if (groups[c] <= 0 || missing[c] <= 0) continue;
        const double h = missing[c] / (4.0 * groups[c]) * area.height();
        p.fillRect(QRectF(area.left() + c * width, area.bottom() - h, std::max(1.0, width), h), errors);
    }
    // Groups per second: a line through the middle of each column.
    QPolygonF line;
    for (int c = 0; c < columns; ++c)
        if (spans[c] > 0)
            line << QPointF(area.left() + (c + 0.5) * width,
                            area.bottom() - groups[c] / spans[c] / top * area.height());
    // A plain one-pixel line: an antialiased one costs many times more.
    p.setPen(QPen(QColor(30, 90, 200), 1));
    p.drawPolyline(line);

    // Scales and the time axis.
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(0, area.top() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(top, 'f', 1));
    p.drawText(QRect(0, area.bottom() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("0"));
    p.drawText(QRect(area.right() + 4, area.top() - fm.height() / 2, right, fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("100%"));
    p.drawText(QRect(area.right() + 4, area.bottom() - fm.height() / 2, right, fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("0%"));
    const int labelTop = area.bottom() + 2;
    p.drawText(QRect(area.left(), labelTop, area.width() / 2, fm.height()), Qt::AlignLeft,
               QString::fromStdString(history_.formatTime(start)));
    p.drawText(QRect(area.left() + area.width() / 2, labelTop, area.width() / 2, fm.height()), Qt::AlignRight,
               QString::fromStdString(history_.formatTime(series.back().start + interval)));
    p.drawText(QRect(area.left(), labelTop, area.width(), fm.height()), Qt::AlignHCenter,
               QStringLiteral("groups/s (line), block errors (bars)"));
}

}  // namespace varnak
