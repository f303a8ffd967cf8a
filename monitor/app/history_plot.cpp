#include "history_plot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace varnak {

HistoryPlot::HistoryPlot(const rdsformats::StationHistory& history, QWidget* parent)
    : QWidget(parent), history_(history) {
    setMinimumHeight(110);
    setAccessibleName(QStringLiteral("Groups per second and block error rate"));
}

void HistoryPlot::paintEvent(QPaintEvent*) {
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
    double top = 1.0;  // groups per second at the top of the scale
    for (const auto& point : series) top = std::max(top, point.groups / seconds);
    top *= 1.1;
    const int64_t start = series.front().start;
    const double span = double(series.back().start - start) + double(history_.seriesInterval());
    const auto x = [&](int64_t t) { return area.left() + double(t - start) / span * area.width(); };

    // Block error rate: bars against the right scale.
    const QColor errors(220, 60, 40, 140);
    for (const auto& point : series) {
        if (!point.groups || !point.blocksMissing) continue;
        const double rate = double(point.blocksMissing) / (4.0 * point.groups);
        const double x0 = x(point.start), x1 = x(point.start + history_.seriesInterval());
        const double h = rate * area.height();
        p.fillRect(QRectF(x0, area.bottom() - h, std::max(1.0, x1 - x0), h), errors);
    }
    // Groups per second: a line through the middle of each interval.
    QPainterPath line;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const QPointF pt(x(series[i].start + history_.seriesInterval() / 2),
                         area.bottom() - series[i].groups / seconds / top * area.height());
        if (i == 0) line.moveTo(pt);
        else line.lineTo(pt);
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 90, 200), 1.5));
    p.drawPath(line);
    p.setRenderHint(QPainter::Antialiasing, false);

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
               QString::fromStdString(history_.formatTime(series.back().start + history_.seriesInterval())));
    p.drawText(QRect(area.left(), labelTop, area.width(), fm.height()), Qt::AlignHCenter,
               QStringLiteral("groups/s (line), block errors (bars)"));
}

}  // namespace varnak
