#include "run_context.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include "field_format.h"
#include "run_controller.h"
#include "run_observer.h"

namespace varnak {

RunContext::RunContext(RunView& view, FrameListener& display, std::function<void(bool)> finished)
    : view_(view), display_(display), finished_(std::move(finished))
{
}

RunContext::~RunContext() { log_.close(); }

void RunContext::onAutoReset(bool inverted) { display_.onAutoReset(inverted); }

void RunContext::onStatus(uint16_t status) { display_.onStatus(status); }

void RunContext::onSureStatus(uint16_t status) { display_.onSureStatus(status); }

void RunContext::onGroup(const DecodedGroup& group)
{
    ++runGroups_;
    display_.onGroup(group);
}

bool RunContext::ensureProcessor(bool reportFailure)
{
    if (processor_) return true;
    api_ = view_.decoder(reportFailure);
    if (!api_) return false;
    processor_ = std::make_unique<FrameProcessor>(*api_);
    processor_->setListener(this);
    return true;
}

bool RunContext::openFileLog(const QString& path)
{
    const std::string logPath = DecodeLogPath(QFile::encodeName(path).toStdString());
    const QString logName = QFile::decodeName(QByteArray::fromStdString(logPath));
    if (QFileInfo(logName).exists() && QFileInfo(logName).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
        // "morning.out" would become its own decode log and be emptied.
        view_.tell(QStringLiteral("Cannot analyse %1: its decode log would replace the recording itself.").arg(path));
        return false;
    }
    if (!log_.open(logPath)) {
        view_.tell(Sentence(log_.error()));
        return false;
    }
    view_.showLogPath(QFileInfo(logName).absoluteFilePath());
    return true;
}

bool RunContext::openLiveLog(const QString& name)
{
    currentPath = QDir(QDir::currentPath()).filePath(name);
    if (!log_.open(QFile::encodeName(currentPath).toStdString())) {
        view_.tell(Sentence(log_.error()));
        return false;
    }
    // Somebody may follow the log (tail -f) while the run goes on: every
    // group reaches the file whole as soon as it is decoded.
    log_.setFlushEachGroup(true);
    // Started from the desktop's menu the current folder is not obvious: say
    // where the log goes.
    view_.showLogPath(currentPath);
    return true;
}

void RunContext::beginRun(bool live)
{
    api_->RDSInit();
    if (observer_) observer_->runStarted(*api_, *processor_, live);
    view_.clearBlockLines();
    processor_->setLog(&log_);
    logFailed_ = false;
    runGroups_ = 0;
    view_.setTitleState(QString());
    view_.showSignal(nullptr);
}

bool RunContext::yieldView()
{
    view_.showDecoded();
    if (observer_) observer_->runYield();
    // A decode log that cannot be written ends the run: going on would only
    // produce a log with holes in it.
    if (log_.isOpen() && !logFailed_ && !log_.error().empty()) {
        logFailed_ = true;
        return false;
    }
    return true;
}

bool RunContext::endRun(const QString& path, bool stopped, const QString& failure)
{
    processor_->setLog(nullptr);
    analysing = false;
    view_.setStartEnabled(true);
    bool ok = closeLog();
    if (!failure.isEmpty()) {
        view_.tell(failure);
        ok = false;
    } else if (ok && !stopped && runGroups_ == 0) {
        const QString name = path == QLatin1String("-") ? QStringLiteral("standard input") : QFileInfo(path).fileName();
        view_.tell(QStringLiteral("No RDS group found in %1").arg(name));
        ok = false;
    }
    if (!ok) setIdle();
    if (finished_) finished_(ok);
    return ok;
}

bool RunContext::closeLog()
{
    if (!log_.isOpen()) return !logFailed_;
    if (!log_.close() || logFailed_) {
        logFailed_ = true;
        view_.tell(QStringLiteral("The decode log is incomplete. %1").arg(Sentence(log_.error())));
        return false;
    }
    return true;
}

void RunContext::setIdle()
{
    view_.setStartEnabled(true);
    view_.setStopEnabled(false);
}

void ReleaseStandardInput()
{
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    if (fd != STDIN_FILENO) {
        ::dup2(fd, STDIN_FILENO);  // dup2 leaves the new descriptor inheritable, as standard input is
        ::close(fd);
    }
}

}  // namespace varnak
