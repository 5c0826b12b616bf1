#pragma once

#include <QDialog>
#include <QString>

#include "jobs/JobRunner.h"
#include "platform/PlatformUi.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// What the compression, decompression and test dialogs share: the controls,
// the display of the job's progress, and Abort. The dialog watches a job
// runner: it shows what the runner reports, answers the job's questions
// through the platform seam, and logs each item. A stop is a request the job
// honours at its next check, and the dialog closes only once the runner says
// the job has ended. While the user is asked whether to abort, the job waits
// at its next check point and its own questions wait too.
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
    bool WorkerRunning() const { return runner.Running(); }
    // True once Abort was confirmed in this run.
    bool Aborted() const { return aborted; }
    // What became of the items of the last run; read it once the run ended.
    const velmora::JobReport& Summary() const { return summary; }
    // The runner the dialog watches.
    CJobRunner& Runner() { return runner; }

public slots:
    // The Abort button: holds the job, asks, and on Yes stops it.
    void OnAbort();

protected:
    // itemVerb starts the log line of each item ("Compressing file ").
    CJobDialog(platform::IPlatformUi& ui, QWidget* parent, const char* caption, const char* question,
               const char* questionCaption, const char* itemVerb);

    // On the user-interface thread once the dialog is up: asks for what the
    // job needs first (archive, folder) and hands back the work for the
    // runner's thread, which must not touch the dialog's members. Empty:
    // there is nothing to do, and the run ends here.
    virtual CJobRunner::Body Prepare() = 0;
    // How the log and the boxes tell of an item that did not stop the job.
    virtual void Report(const velmora::ItemReport& result) = 0;
    // The name the dialog shows for an item.
    virtual QString ItemName(const velmora::ItemStart& item) const;
    // Whether the dialog stays open with the summary once the job has
    // ended; by default only when something failed.
    virtual bool KeepsOpen() const;
    // The ratio the dialog shows once the job has ended; by default what
    // the last item showed.
    virtual QString FinalRatioText() const { return RatioText(); }
    // Whether to replace the entry of the item's name; false once aborted.
    virtual bool ConfirmReplace(const velmora::ItemStart& item);

    // For a dialog whose work uses its own members: stops a job that still
    // runs and waits for it, first thing in its destructor.
    void StopAndWait() { runner.StopAndWait(); }

    // From any thread. detail: what a developer needs to know of the line,
    // kept off the line.
    void Log(const QString& line, const QString& detail = QString());
    // For jobs that store nothing, the ratio means nothing.
    void HideRatio();
    void SetArchivePathText(const QString& text);
    // Ends the progress display for the rest of the run.
    void StopProgressDisplay() { displayStopped = true; }
    // A message box; after a confirmed abort nothing more is shown.
    platform::MsgResult Ask(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);
    // A failed item's box: the core's text naming what it is about.
    void ShowFailure(const velmora::ItemReport& result);
    QString AskSaveFile(const QString& proposed);
    QString AskFolder();

    void reject() override;
    void changeEvent(QEvent* e) override;

private:
    // The runner's signals.
    void OnItemStarted(const velmora::ItemStart& item);
    void OnProgress(const velmora::JobStatus& p);
    void OnNotice(const QString& text);
    void OnReplaceAsked(const velmora::ItemStart& item);
    void OnOverwriteAsked(const velmora::ItemStart& item, const QString& outputPath);
    void OnMessageAsked(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);
    void OnItemFinished(const velmora::ItemReport& result);
    void OnEnded(const velmora::JobReport& result);

    // Prepares the run and starts the runner, once no abort question is open.
    void Begin();
    // After the job has ended: closes, or shows the summary and waits for
    // the user (see KeepsOpen).
    void Finish();
    void ResetForRun();
    // The run is on: from exec until the job has ended.
    bool InRun() const { return phase == Phase::Preparing || runner.Running(); }

    platform::IPlatformUi& ui;
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

    enum class Phase { Idle, Preparing, Running, Ended };
    Phase phase = Phase::Idle;
    velmora::JobReport summary;
    bool aborted = false;
    bool displayStopped = false;
    // The action text of the item in hand, shown again once a notice about
    // waiting has been overtaken by progress.
    QString itemAction;
    bool noticeShown = false;
    // The abort question is open; the job's end, or its start, waits until
    // it is gone.
    bool asking = false;
    bool finishPending = false;
    bool beginPending = false;
    // Last, so that it goes first: no signal reaches a dialog half gone.
    CJobRunner runner;
};
