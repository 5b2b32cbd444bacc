// File > Save and Load camera settings: the camera's whole configuration read
// into a file, or set from one and read back to check, as a job on the link
// with a progress dialog and a result the operator reads.
#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QSaveFile>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/backup.h"
#include "link/camera_job.h"

class QPushButton;

namespace zp {

// Files larger than this are not camera settings: they are refused unread.
constexpr qint64 kMaxSettingsFileBytes = 4 * 1024 * 1024;

class TSettingsTransfer : public QObject {
    Q_OBJECT

  public:
    TSettingsTransfer(TCameraLink& link, QWidget* window);
    ~TSettingsTransfer() override;

    // Asked just before the first exchange: false when the link cannot take a
    // job now (the caller has said why).
    std::function<bool()> Ready;
    // When the first exchange is about to go out.
    std::function<void()> OnStarted;
    // After the result has been shown; changed: commands went to the camera.
    std::function<void(bool changed)> OnEnded;

    // Reads the pages and the memories first ... last into path; device is
    // recorded as what the camera was reached through.
    void Save(const QString& path, const std::string& device, int firstMemory, int lastMemory);
    // Checks path whole, then sets the camera from it and reads back what it
    // set. A file with any fault sends nothing.
    void Load(const QString& path);

    // From the first exchange until the result is shown, both phases of a
    // load included.
    bool Running() const { return running_; }
    // The link's reply, while running: true when the job took it.
    bool TakeReply();
    // The link was checked again: the exchange on its way is sent again.
    void Resend();
    // Stops after the exchange on its way; what was done is reported.
    void Cancel();

    QProgressDialog* Progress() const { return progress_; }
    // The last result shown: the text, then its details.
    const QString& LastResult() const { return lastResult_; }

  private:
    enum class TPhase { Reading, Restoring, Checking };

    void Begin(TPhase phase, std::vector<TJobStep> steps);
    void ShowProgress();
    void JobFinished();
    void SaveFinished();
    void RestoreFinished();
    void CheckFinished();
    // Shows the result, closes the dialog and ends the run.
    void End(const QString& text, const QString& details, bool warning, bool changed);
    // A result shown without a run (a file refused before anything is sent).
    void Refuse(const QString& text, const QString& details = {});
    QString Title() const;
    QString Shown() const;

    TCameraLink& link_;
    QWidget* window_;
    std::unique_ptr<TCameraJob> job_;
    QPointer<QProgressDialog> progress_;
    QPushButton* cancel_ = nullptr;
    std::unique_ptr<QSaveFile> file_;
    QString path_;
    std::string device_;
    bool saving_ = false;
    TPhase phase_ = TPhase::Reading;
    TCameraConfig config_;
    std::vector<TJobStep> checkSteps_;
    // Exchanges of the whole run, and those of a load's restore.
    size_t total_ = 0;
    size_t restoreTotal_ = 0;
    bool running_ = false;
    bool cancelAsked_ = false;
    QString lastResult_;
};

}  // namespace zp
