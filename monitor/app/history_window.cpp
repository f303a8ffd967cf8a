#include "history_window.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "history_plot.h"
#include "main_window.h"
#include "notifier.h"
#include "output_file.h"
#include "settings_store.h"

namespace varnak {
namespace {

// While a run goes on, the window is redrawn at most this often, and never
// more than a tenth of the time: a long history is a lot of text, and
// decoding must not wait for it.
constexpr qint64 kRefreshIntervalMs = 500;
constexpr qint64 kRefreshShare = 10;
// Characters of the longest history line: a radiotext of 64 characters in
// quotes after its kind and two times from the start of a recording (clock
// times of live input are longer: such a line wraps).
constexpr int kHistoryColumns = 106;

}  // namespace

HistoryWindow::HistoryWindow(MainWindow& main, Notifier& notifier, QWidget* parent)
    : QWidget(parent, Qt::Window), main_(main), notifier_(notifier)
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("History and statistics"));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    QMenu* exports = file->addMenu(QStringLiteral("&Export"));
    exports->addAction(QStringLiteral("History as CSV…"), this, [this] { exportCommand(Export::HistoryCsv); });
    exports->addAction(QStringLiteral("Statistics as CSV…"), this, [this] { exportCommand(Export::StatisticsCsv); });
    exports->addAction(QStringLiteral("History and statistics as JSON…"), this,
                       [this] { exportCommand(Export::Json); });
    file->addSeparator();
    file->addAction(QStringLiteral("&Close"), QKeySequence::Close, this, &QWidget::close);
    layout->setMenuBar(bar);

    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setWordWrap(true);
    layout->addWidget(notice_);

    auto* split = new QSplitter(Qt::Vertical, this);
    text_ = new QPlainTextEdit(split);
    text_->setObjectName(QStringLiteral("history"));
    text_->setReadOnly(true);
    // A line longer than the window wraps: a radiotext (64 characters) is
    // read whole at any width.
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table_ = new QTableWidget(0, 4, split);
    table_->setObjectName(QStringLiteral("statistics"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Group"), QStringLiteral("Count"), QStringLiteral("Share %"), QStringLiteral("Per second")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    plot_ = new HistoryPlot(history_, split);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setStretchFactor(2, 1);
    layout->addWidget(split);
    // Wide enough for a history line with a full radiotext, where the
    // screen has the room.
    const int textWidth = text_->fontMetrics().horizontalAdvance(QString(kHistoryColumns, QLatin1Char('M')));
    int width = textWidth + 2 * text_->frameWidth() + text_->verticalScrollBar()->sizeHint().width() +
                layout->contentsMargins().left() + layout->contentsMargins().right() +
                static_cast<int>(2 * text_->document()->documentMargin()) + 4;
    if (const QScreen* s = screen()) width = std::min(width, s->availableGeometry().width() - 40);
    resize(std::max(width, 640), 720);
    refresh();
}

// The main window owns this one and deletes it last, after its runs ended.
HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::runStarted(const MurlinApi& api, const FrameProcessor& processor, bool live)
{
    api_ = &api;
    processor_ = &processor;
    live_ = live;
    history_.setRbds(main_.Rbds());
    feed_.begin(live);  // the next yield shows the emptied history
}

void HistoryWindow::runHistory(const rdsformats::StationHistory& history)
{
    history_ = history;
    history_.setLimit(limit_);
    history_.setRbds(main_.Rbds());
    refresh();
}

void HistoryWindow::onStatus(uint16_t status)
{
    if (!api_) return;
    // Recordings are read as one character per bit.
    if (!live_) feed_.setPosition(processor_->position());
    feed_.onStatusFetching(status, [this](int n) { return static_cast<uint16_t>(api_->RDSData(n)); });
}

void HistoryWindow::runEnded()
{
    if (!api_) return;
    feed_.finish();
    api_ = nullptr;
    processor_ = nullptr;
    if (isVisible()) refresh();
}

void HistoryWindow::runYield()
{
    if (!isVisible() || history_.revision() == shownRevision_) return;
    if (sinceRefresh_.isValid() &&
        sinceRefresh_.elapsed() < std::max(kRefreshIntervalMs, kRefreshShare * refreshCostMs_))
        return;
    refresh();
}

void HistoryWindow::showEvent(QShowEvent* event)
{
    refresh();
    QWidget::showEvent(event);
}

void HistoryWindow::refresh()
{
    sinceRefresh_.start();
    if (history_.revision() == shownRevision_) return;
    shownRevision_ = history_.revision();

    QString notice = history_.absolute() ? QStringLiteral("Times are clock times.")
                                         : QStringLiteral("Times count from the start of the recording.");
    if (history_.truncated())
        notice += QStringLiteral(" Older entries were dropped: each list keeps its newest %1.").arg(history_.limit());
    notice_->setText(notice);

    const int scroll = text_->verticalScrollBar() ? text_->verticalScrollBar()->value() : 0;
    text_->setPlainText(QString::fromStdString(history_.historyText()));
    text_->verticalScrollBar()->setValue(scroll);

    const rdsformats::GroupStats& stats = history_.stats();
    QList<QStringList> rows;
    for (int code = 0; code < 32; ++code) {
        const uint64_t n = stats.count(code / 2, code % 2);
        if (!n) continue;
        rows.append({QStringLiteral("%1%2").arg(code / 2).arg(code % 2 ? 'B' : 'A'), QString::number(n),
                     QString::number(stats.percent(n), 'f', 1),
                     QString::number(history_.rate(code / 2, code % 2), 'f', 2)});
    }
    if (stats.untyped())
        rows.append({QStringLiteral("?"), QString::number(stats.untyped()),
                     QString::number(stats.percent(stats.untyped()), 'f', 1), QString()});
    const double seconds = history_.seconds();
    rows.append({QStringLiteral("total"), QString::number(stats.groups()), QStringLiteral("100.0"),
                 QString::number(seconds > 0 ? double(stats.groups()) / seconds : 0.0, 'f', 2)});
    rows.append({QStringLiteral("block error rate"), QString::number(stats.blocksMissing()),
                 QString::number(stats.blockErrorRate(), 'f', 2), QString()});
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(rows[r][c]);
            if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(r, c, item);
        }
    // Painted now, so that the cost measured includes the painting.
    if (isVisible()) repaint();
    refreshCostMs_ = sinceRefresh_.elapsed();
}

QString HistoryWindow::historyText() const { return text_->toPlainText(); }
QString HistoryWindow::notice() const { return notice_->text(); }

bool HistoryWindow::exportTo(const QString& path, Export kind, QString* error) const
{
    const std::string text = kind == Export::HistoryCsv      ? history_.historyCsv()
                             : kind == Export::StatisticsCsv ? history_.statsCsv()
                                                             : history_.json() + "\n";
    OutputFile out;
    bool ok = out.create(QFile::encodeName(path).toStdString());
    if (ok && std::fwrite(text.data(), 1, text.size(), out.stream()) != text.size()) ok = false;
    if (ok) ok = out.commit();
    if (!ok && error)
        *error = QString::fromLocal8Bit(out.error().empty() ? "cannot write " + path.toStdString() : out.error());
    return ok;
}

void HistoryWindow::exportCommand(Export kind)
{
    const bool csv = kind != Export::Json;
    const QString name = kind == Export::HistoryCsv      ? QStringLiteral("history.csv")
                         : kind == Export::StatisticsCsv ? QStringLiteral("statistics.csv")
                                                         : QStringLiteral("history.json");
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export"), name,
                                     csv ? QStringLiteral("CSV files (*.csv)") : QStringLiteral("JSON files (*.json)"));
    if (path.isEmpty()) return;
    QString error;
    if (!exportTo(path, kind, &error)) notifier_.message(this, MainWindow::AppName, error);
}

HistoryWindow* AttachHistoryWindow(MainWindow& main, Notifier& notifier, SettingsStore& store)
{
    auto* window = new HistoryWindow(main, notifier, &main);
    const int limit = store
                          .ReadSetting(MainWindow::AppName, QString(), QStringLiteral("HistoryLimit"),
                                       static_cast<int>(rdsformats::StationHistory::kDefaultLimit))
                          .toInt();
    if (limit > 0) window->setLimit(static_cast<std::size_t>(limit));
    main.setRunObserver(window);
    auto* open = new QAction(QStringLiteral("History and statistics…"), &main);
    open->setObjectName(QStringLiteral("historyAction"));
    open->setShortcut(QKeySequence(Qt::Key_F2));
    QObject::connect(open, &QAction::triggered, window, [window] {
        window->show();
        window->raise();
        window->activateWindow();
    });
    main.addAction(open);
    main.setContextMenuPolicy(Qt::ActionsContextMenu);
    return window;
}

}  // namespace varnak
