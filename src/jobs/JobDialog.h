#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "archive/VMRAFile.h"
#include "jobs/JobSummary.h"
#include "platform/PlatformUi.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

// What the compression and decompression dialogs share: the controls, the
// worker thread that does the archive work one file after the other, the
// 200 ms display of the engine's counters, and Abort. The worker talks to the
// window only through queued calls; a stop is a request the engine honours at
// its next check, and the dialog closes only once the worker has ended, so no
// thread is ever suspended or killed. While the user is asked whether to
// abort, the worker waits at its next check point.
class CJobDialog : public QDialog {
    Q_OBJECT
public:
    ~CJobDialog() override;

    // Runs the job; every run starts with an empty log and counts.
    int exec() override;

    // The log lines so far.
    QStringList LogLines() const;
    QString ArchivePathText() const;
    QString ActionText() const;
    QString FilesText() const;
    QString RatioText() const;
    int Progress() const;
    bool WorkerRunning() const { return worker.joinable() && !workerDone.load(); }
    // True once Abort was confirmed.
    bool Aborted() const { return aborting.load(); }
    VMRAFile& Archive() { return archive; }
    // What became of the files of the last run; read it once the run ended.
    const JobTally& Tally() const { return tally; }

public slots:
    // The Abort button: holds the job, asks, and on Yes stops it.
    void OnAbort();

protected:
    CJobDialog(platform::IPlatformUi& ui, QWidget* parent, const char* caption, const char* question,
               const char* questionCaption, const char* doneVerb);

    // The worker's body; runs on the worker thread.
    virtual void Work() = 0;
    // Asks the archive code to stop the running operation.
    virtual void RequestStop() = 0;

    // Stops a worker that still runs and waits for it; derived dialogs call
    // it first in their destructors, before their own members go.
    void StopAndJoin();

    // Worker-side helpers: they run the change on the user-interface thread.
    void Log(const QString& line);
    void SetArchivePathText(const QString& text);
    void SetActionText(const QString& text);
    void SetFilesText(int number, int count);
    void SetProgress(int percent);
    // Shown and answered on the user-interface thread; the worker waits.
    // Messages and questions wait for the answer to an open abort question,
    // and after a confirmed abort nothing more is asked. The choosers come
    // only at the start of a file, after the worker's safe point.
    platform::MsgResult Ask(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);
    void ShowError(const QString& text);
    QString AskSaveFile(const QString& proposed);
    QString AskFolder();
    // The worker's safe point between files: it waits here while the abort
    // question is open.
    void WaitWhilePaused();

    // Ends the progress display for the rest of the job.
    std::atomic<bool> stopDisplay{false};
    std::atomic<bool> aborting{false};
    // Written by the worker only; read by the window once the worker ended.
    JobTally tally;
    VMRAFile archive;
    platform::IPlatformUi& ui;

    void reject() override;
    void changeEvent(QEvent* e) override;

private:
    void UpdateDisplay();
    void OnWorkerFinished();
    // After the worker has ended: closes, or shows the summary and waits for
    // the user when something failed.
    void Finish();
    void ResetForRun();
    template <class F>
    void OnUi(F f);

    const char* question;
    const char* questionCaption;
    const char* doneVerb;
    QLabel* archiveLabel = nullptr;
    QLabel* ratioLabel = nullptr;
    QLabel* actionLabel = nullptr;
    QLabel* filesLabel = nullptr;
    QProgressBar* progress = nullptr;
    QListWidget* log = nullptr;
    QPushButton* abortButton = nullptr;
    QPushButton* closeButton = nullptr;
    QTimer* display = nullptr;
    std::thread worker;
    std::atomic<bool> workerDone{false};
    // The abort question is open; the worker's end waits until it is gone.
    bool asking = false;
    bool finishPending = false;
};
