#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include "jobs/core/ArchiveJob.h"
#include "platform/PlatformUi.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

// What the compression, decompression and test dialogs share: the controls,
// the worker thread that runs one batch of the job layer, the 200 ms display
// of the job's progress, and Abort. The dialog is the job's host: it answers
// the job's questions through the platform seam, logs each item and decides
// after each one whether the batch goes on. The worker talks to the window
// only through queued calls; a stop is a request the job honours at its next
// check, and the dialog closes only once the worker has ended, so no thread
// is ever suspended or killed. While the user is asked whether to abort, the
// worker waits at its next check point.
class CJobDialog : public QDialog, protected IJobHost {
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
    VMRAFile& Archive() { return job.Archive(); }
    // What became of the items of the last run; read it once the run ended.
    const JobSummary& Summary() const { return summary; }

public slots:
    // The Abort button: holds the job, asks, and on Yes stops it.
    void OnAbort();

protected:
    // itemVerb starts the log line of each item ("Compressing file ").
    CJobDialog(platform::IPlatformUi& ui, QWidget* parent, const char* caption, const char* question,
               const char* questionCaption, const char* itemVerb);

    // The worker's body; runs on the worker thread. It asks for what the job
    // needs first (archive, folder) and then runs one batch of the job.
    virtual void Work() = 0;
    // How the log and the boxes tell of an item that did not stop the job.
    virtual void Report(const ItemResult& result) = 0;
    // The name the dialog shows for an item.
    virtual QString ItemName(const JobItem& item) const;
    // Whether the dialog stays open with the summary once the job has
    // ended; by default only when something failed.
    virtual bool KeepsOpen() const;
    // The ratio the dialog shows once the job has ended; by default what
    // the last item showed.
    virtual QString FinalRatioText() const { return RatioText(); }

    // Stops a worker that still runs and waits for it; derived dialogs call
    // it first in their destructors, before their own members go.
    void StopAndJoin();

    // Worker-side helpers: they run the change on the user-interface thread.
    // detail: what a developer needs to know of the line, kept off the line.
    void Log(const QString& line, const QString& detail = QString());
    // For jobs that store nothing, the ratio means nothing.
    void HideRatio();
    void SetArchivePathText(const QString& text);
    void SetActionText(const QString& text);
    void SetFilesText(int number, int count);
    // An item starts: no bar and no ratio until its data moves.
    void ClearItemFigures();
    // Shown and answered on the user-interface thread; the worker waits.
    // Messages and questions wait for the answer to an open abort question,
    // and after a confirmed abort nothing more is asked. The choosers come
    // only before the batch starts.
    platform::MsgResult Ask(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);
    void ShowError(const QString& text);
    // A failed item's box: the core's text naming what it is about.
    void ShowFailure(const ItemResult& result);
    QString AskSaveFile(const QString& proposed);
    QString AskFolder();
    // The worker's safe point between items: it waits here while the abort
    // question is open.
    void WaitWhilePaused();

    // The job's side of the conversation, on the worker thread.
    void ItemStarted(const JobItem& item) override;
    bool ConfirmReplace(const JobItem& item) override;
    bool ConfirmOverwrite(const JobItem& item, const std::string& outputPath) override;
    bool ItemFinished(const ItemResult& result) override;
    void Notice(const std::string& text) override;

    // Ends the progress display for the rest of the job.
    std::atomic<bool> stopDisplay{false};
    std::atomic<bool> aborting{false};
    // Written by the worker only; read by the window once the worker ended.
    JobSummary summary;
    CArchiveJob job{*this};
    platform::IPlatformUi& ui;

    void reject() override;
    void changeEvent(QEvent* e) override;

private:
    void UpdateDisplay();
    void OnWorkerFinished();
    // After the worker has ended: closes, or shows the summary and waits for
    // the user (see KeepsOpen).
    void Finish();
    void ResetForRun();
    template <class F>
    void OnUi(F f);

    const char* question;
    const char* questionCaption;
    const char* itemVerb;
    QLabel* archiveLabel = nullptr;
    QLabel* ratioLabel = nullptr;
    QLabel* ratioCaption = nullptr;
    QLabel* actionLabel = nullptr;
    QLabel* filesLabel = nullptr;
    QProgressBar* progress = nullptr;
    QListWidget* log = nullptr;
    QPushButton* abortButton = nullptr;
    QPushButton* closeButton = nullptr;
    QTimer* display = nullptr;
    std::thread worker;
    std::atomic<bool> workerDone{false};
    // The action text of the item in hand, shown again once a notice about
    // waiting has been overtaken by progress.
    QString itemAction;
    bool noticeShown = false;
    // The abort question is open; the worker's end waits until it is gone.
    bool asking = false;
    bool finishPending = false;
};
