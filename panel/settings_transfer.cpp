// Saving the camera's settings to a file and loading them back: the jobs,
// their progress and the texts that say how they ended.
#include "panel/settings_transfer.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <utility>

#include "panel/qt_seams.h"

namespace zp {

namespace {

// Faults and differences shown in the box itself; the rest behind "Show Details".
constexpr int kLinesShown = 10;

QString Counted(size_t n, const char* one, const char* many) {
    return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString FromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// A list too long for a message box: the first lines in the text, every
// line in the details.
void SplitList(const QStringList& lines, QString& text, QString& details) {
    text += lines.mid(0, kLinesShown).join("\n");
    if (lines.size() > kLinesShown) {
        text += QString("\n(%1 more under Show Details)").arg(lines.size() - kLinesShown);
        details = lines.join("\n");
    }
}

// Escape and the window's close button ask to cancel, as the button does:
// the dialog stays until the job has stopped.
class TJobProgress : public QProgressDialog {
  public:
    using QProgressDialog::QProgressDialog;
    void reject() override { emit canceled(); }

  protected:
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        emit canceled();
    }
};

}  // namespace

TSettingsTransfer::TSettingsTransfer(TCameraLink& link, QWidget* window)
    : link_(link), window_(window) {}

TSettingsTransfer::~TSettingsTransfer() {
    delete progress_;
}

QString TSettingsTransfer::Title() const {
    return saving_ ? "Save camera settings" : "Load camera settings";
}

QString TSettingsTransfer::Shown() const {
    return QDir::toNativeSeparators(path_);
}

void TSettingsTransfer::Refuse(const QString& text, const QString& details) {
    lastResult_ = details.isEmpty() ? text : text + "\n\n" + details;
    ShowResultMessage(Title(), text, details, true, window_);
}

void TSettingsTransfer::Save(const QString& path, const std::string& device, int firstMemory,
                             int lastMemory) {
    if (running_) {
        return;
    }
    saving_ = true;
    path_ = path;
    device_ = device;
    if (Ready && !Ready()) {
        return;
    }
    // Opened before the camera is read: a file that cannot be written is
    // told at once, and until the commit an older file stays as it was.
    file_ = std::make_unique<QSaveFile>(path);
    if (!file_->open(QIODevice::WriteOnly)) {
        Refuse(QString("Cannot write %1: %2. The camera was not read.")
                   .arg(Shown(), file_->errorString()));
        file_.reset();
        return;
    }
    std::vector<TJobStep> steps = ReadSteps({}, firstMemory, lastMemory);
    total_ = steps.size();
    Begin(TPhase::Reading, std::move(steps));
}

void TSettingsTransfer::Load(const QString& path) {
    if (running_) {
        return;
    }
    saving_ = false;
    path_ = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Refuse(QString("Cannot read %1: %2. Nothing was sent to the camera.")
                   .arg(Shown(), file.errorString()));
        return;
    }
    // Read with a bound rather than trusting the size: a device or a pipe
    // reports none.
    const QByteArray bytes = file.read(kMaxSettingsFileBytes + 1);
    if (bytes.size() > kMaxSettingsFileBytes) {
        Refuse(QString("%1 is larger than %2 MiB: not a camera settings file. Nothing was sent to "
                       "the camera.")
                   .arg(Shown())
                   .arg(kMaxSettingsFileBytes / (1024 * 1024)));
        return;
    }
    TCameraConfig config;
    std::string error;
    if (!ConfigFromJson(bytes.toStdString(), config, error)) {
        QString text =
            QString("%1 was not loaded; nothing was sent to the camera.\n\n").arg(Shown());
        QString details;
        SplitList(QString::fromStdString(error).split('\n'), text, details);
        Refuse(text, details);
        return;
    }
    std::vector<TJobStep> steps = RestoreSteps(config);
    if (steps.empty()) {
        Refuse(
            QString("%1 holds no settings to set; nothing was sent to the camera.").arg(Shown()));
        return;
    }
    if (Ready && !Ready()) {
        return;
    }
    config_ = std::move(config);
    checkSteps_ = ReadStepsFor(config_);
    restoreTotal_ = steps.size();
    total_ = restoreTotal_ + checkSteps_.size();
    Begin(TPhase::Restoring, std::move(steps));
}

void TSettingsTransfer::Begin(TPhase phase, std::vector<TJobStep> steps) {
    phase_ = phase;
    if (!running_) {
        running_ = true;
        cancelAsked_ = false;
        auto* dialog = new TJobProgress(window_);
        dialog->setObjectName("SettingsProgress");
        dialog->setWindowTitle(Title());
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        dialog->setMinimumWidth(460);
        cancel_ = new QPushButton("Cancel", dialog);
        dialog->setCancelButton(cancel_);
        // The job stops after the exchange on its way: the dialog stays
        // until then and says so, rather than closing at the click.
        QObject::disconnect(dialog, SIGNAL(canceled()), dialog, SLOT(cancel()));
        connect(dialog, &QProgressDialog::canceled, this, &TSettingsTransfer::Cancel);
        dialog->setRange(0, static_cast<int>(total_));
        progress_ = dialog;
        if (OnStarted) {
            OnStarted();
        }
    }
    job_ = std::make_unique<TCameraJob>(link_);
    job_->OnProgress = [this] { ShowProgress(); };
    // The job may end inside the link's receive handler, or inside Start: its
    // end is dealt with from the main loop.
    job_->OnFinished = [this] {
        QMetaObject::invokeMethod(this, &TSettingsTransfer::JobFinished, Qt::QueuedConnection);
    };
    ShowProgress();
    progress_->show();
    job_->Start(std::move(steps));
}

void TSettingsTransfer::ShowProgress() {
    if (!progress_ || !job_) {
        return;
    }
    const size_t done = job_->Done();
    const size_t total = job_->Total();
    const size_t before = phase_ == TPhase::Checking ? restoreTotal_ : 0;
    progress_->setValue(static_cast<int>(before + done));
    QString heading;
    QString unit = "Exchange";
    switch (phase_) {
        case TPhase::Reading:
            heading = QString("Reading the camera's settings into\n%1").arg(Shown());
            break;
        case TPhase::Restoring:
            heading = QString("Setting the camera from\n%1").arg(Shown());
            unit = "Command";
            break;
        case TPhase::Checking:
            heading = QString("Reading the camera back to check it holds\n%1").arg(Shown());
            break;
    }
    QString step;
    if (done < total) {
        step = QString("%1 %2 of %3: %4")
                   .arg(unit)
                   .arg(done + 1)
                   .arg(total)
                   .arg(QString::fromStdString(job_->Steps()[done].What));
        if (phase_ == TPhase::Restoring) {
            step += QString("\n(then %1 to check them)")
                        .arg(Counted(checkSteps_.size(), "read", "reads"));
        }
    }
    if (cancelAsked_) {
        step = QString("Cancelling after the answer to %1 %2 of %3")
                   .arg(unit.toLower())
                   .arg(std::min(done + 1, total))
                   .arg(total);
    }
    progress_->setLabelText(heading + "\n\n" + step);
}

void TSettingsTransfer::Cancel() {
    if (!running_ || cancelAsked_) {
        return;
    }
    cancelAsked_ = true;
    if (cancel_ != nullptr) {
        cancel_->setEnabled(false);
    }
    ShowProgress();
    if (job_ && job_->Running()) {
        job_->Cancel();
    }
}

bool TSettingsTransfer::TakeReply() {
    return running_ && job_ && job_->TakeReply();
}

void TSettingsTransfer::Resend() {
    // The link frees itself for the operator once this returns; the step goes
    // out after that, so that it is timed and sent again like any exchange.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (AfterPauseIfPausing(this, [](TSettingsTransfer* t) { t->Resend(); })) {
                return;
            }
            if (!job_ || !job_->Running()) {
                return;
            }
            if (cancelAsked_) {
                job_->Cancel();  // nothing is on its way: it stops now
            } else {
                job_->Resend();
            }
        },
        Qt::QueuedConnection);
}

void TSettingsTransfer::JobFinished() {
    if (AfterPauseIfPausing(this, [](TSettingsTransfer* t) { t->JobFinished(); })) {
        return;
    }
    if (!running_ || !job_ || job_->Running()) {
        return;
    }
    switch (phase_) {
        case TPhase::Reading:
            SaveFinished();
            break;
        case TPhase::Restoring:
            RestoreFinished();
            break;
        case TPhase::Checking:
            CheckFinished();
            break;
    }
}

void TSettingsTransfer::SaveFinished() {
    const QString count = QString("%1 of %2 exchanges").arg(job_->Done()).arg(job_->Total());
    if (cancelAsked_) {
        file_->cancelWriting();
        End(QString("Save cancelled after %1; nothing was written.").arg(count), {}, false, false);
        return;
    }
    if (!job_->Succeeded()) {
        file_->cancelWriting();
        End(QString("The camera settings were not saved: %1, after %2. Nothing was written to %3.")
                .arg(FromLocal(job_->Error()), count, Shown()),
            {}, true, false);
        return;
    }
    TCameraConfig config = ConfigFromReplies(job_->Steps(), job_->Replies());
    config.Time = UtcNow();
    config.Device = device_;
    const std::string json = ConfigToJson(config);
    const auto size = static_cast<qint64>(json.size());
    if (file_->write(json.data(), size) != size || !file_->commit()) {
        End(QString("Cannot write %1: %2. Nothing was written.").arg(Shown(), file_->errorString()),
            {}, true, false);
        return;
    }
    size_t settings = 0;
    for (const TPageConfig& p : config.Pages) {
        settings += p.Values.size();
    }
    End(QString("Saved %1 and %2 to %3.")
            .arg(Counted(settings, "setting", "settings"),
                 Counted(config.Memories.size(), "memory", "memories"), Shown()),
        {}, false, false);
}

void TSettingsTransfer::RestoreFinished() {
    const size_t done = job_->Done();
    const size_t total = job_->Total();
    if (job_->Succeeded() && !cancelAsked_) {
        if (!link_.CanSend()) {
            End(QString("The camera took all %1 of %2, but the link was busy before they could "
                        "be read back.")
                    .arg(Counted(total, "command", "commands"), Shown()),
                {}, true, true);
            return;
        }
        Begin(TPhase::Checking, std::move(checkSteps_));
        return;
    }
    if (cancelAsked_) {
        if (done == total) {
            End(QString("Load cancelled before the check: the camera took all %1 of %2, but they "
                        "were not read back.")
                    .arg(Counted(total, "command", "commands"), Shown()),
                {}, false, true);
        } else {
            End(QString("Load cancelled after %1 of %2 commands: the camera holds part of %3.")
                    .arg(done)
                    .arg(total)
                    .arg(Shown()),
                {}, true, done > 0);
        }
        return;
    }
    End(QString("Load failed after %1 of %2 commands: %3. The camera holds part of %4.")
            .arg(done)
            .arg(total)
            .arg(FromLocal(job_->Error()), Shown()),
        {}, true, done > 0);
}

void TSettingsTransfer::CheckFinished() {
    const QString took = QString("The camera took all %1 of %2")
                             .arg(Counted(restoreTotal_, "command", "commands"), Shown());
    if (cancelAsked_) {
        End(QString("%1; the check was cancelled after %2 of %3 reads.")
                .arg(took)
                .arg(job_->Done())
                .arg(job_->Total()),
            {}, false, true);
        return;
    }
    if (!job_->Succeeded()) {
        End(QString("%1, but reading it back failed: %2.").arg(took, FromLocal(job_->Error())), {},
            true, true);
        return;
    }
    const std::vector<std::string> differences =
        Differences(config_, ConfigFromReplies(job_->Steps(), job_->Replies()));
    if (differences.empty()) {
        End(QString("The camera now holds every setting of %1.").arg(Shown()), {}, false, true);
        return;
    }
    QStringList lines;
    for (const std::string& d : differences) {
        lines << QString::fromStdString(d);
    }
    QString text = QString("%1, but %2 read back differently:\n\n")
                       .arg(took, Counted(differences.size(), "setting", "settings"));
    QString details;
    SplitList(lines, text, details);
    End(text, details, true, true);
}

void TSettingsTransfer::End(const QString& text, const QString& details, bool warning,
                            bool changed) {
    running_ = false;
    cancelAsked_ = false;
    job_.reset();
    file_.reset();
    checkSteps_.clear();
    if (progress_) {
        progress_->hide();
        progress_->deleteLater();
    }
    cancel_ = nullptr;
    lastResult_ = details.isEmpty() ? text : text + "\n\n" + details;
    ShowResultMessage(Title(), text, details, warning, window_);
    if (OnEnded) {
        OnEnded(changed);
    }
}

}  // namespace zp
