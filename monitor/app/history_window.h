// The station history window: what the stations of the current run sent
// and when, the group statistics as a table and a small plot of groups per
// second and block error rate. It follows the main window's run live,
// redrawing only when the main window yields, keeps its content after the
// run until the next one begins, and exports the history and statistics as
// CSV and JSON. The content comes from the UI-free StationHistory, which
// murlin-decode --history prints too.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include "run_observer.h"
#include "station_history.h"

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace varnak {

class HistoryPlot;
class MainWindow;
class Notifier;
class SettingsStore;

class HistoryWindow : public QWidget, public RunObserver {
    Q_OBJECT
public:
    HistoryWindow(MainWindow& main, Notifier& notifier, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    const rdsformats::StationHistory& history() const { return history_; }
    void setLimit(std::size_t limit)
    {
        limit_ = limit;
        history_.setLimit(limit);
    }

    enum class Export { HistoryCsv, StatisticsCsv, Json };
    // Writes the export to `path` in one step (the file appears complete or
    // not at all); false with the reason in `error`.
    bool exportTo(const QString& path, Export kind, QString* error = nullptr) const;
    // Asks for a file name and exports; failures are told through the notifier.
    void exportCommand(Export kind);

    // Shows the model's content now.
    void refresh();
    // What the window shows, for tests.
    QString historyText() const;
    const QTableWidget* table() const { return table_; }
    QString notice() const;

    // RunObserver
    void runStarted(const MurlinApi& api, const FrameProcessor& processor, bool live) override;
    void runEnded() override;
    void runYield() override;
    void runHistory(const rdsformats::StationHistory& history) override;
    void onStatus(uint16_t status) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    MainWindow& main_;
    Notifier& notifier_;
    rdsformats::StationHistory history_;
    std::size_t limit_ = rdsformats::StationHistory::kDefaultLimit;
    rdsformats::HistoryFeed feed_{history_};
    const MurlinApi* api_ = nullptr;
    const FrameProcessor* processor_ = nullptr;
    bool live_ = false;
    uint64_t shownRevision_ = ~uint64_t(0);
    QElapsedTimer sinceRefresh_;
    qint64 refreshCostMs_ = 0;  // how long the last redraw took

    QLabel* notice_;
    QPlainTextEdit* text_;
    QTableWidget* table_;
    HistoryPlot* plot_;
};

// Adds the history window to `main`: a context-menu entry "History and
// statistics…" and the F2 shortcut open it. The window is owned by `main`.
// The setting "HistoryLimit" of `store` (a number, default 10000) bounds
// its lists.
HistoryWindow* AttachHistoryWindow(MainWindow& main, Notifier& notifier, SettingsStore& store);

}  // namespace varnak
