// A small plot of a run's time series: groups per second (a line, left
// scale) and block error rate (bars, right scale, 0..100 %), drawn with
// QPainter from the StationHistory's series.
#pragma once

#include <QWidget>

#include "station_history.h"

namespace varnak {

class HistoryPlot : public QWidget {
public:
    explicit HistoryPlot(const rdsformats::StationHistory& history, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {480, 140}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const rdsformats::StationHistory& history_;
};

}  // namespace varnak
