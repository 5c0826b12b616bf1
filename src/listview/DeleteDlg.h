#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "jobs/JobRunner.h"

class QLabel;
class QProgressBar;

// Deletes entries of an archive through a job runner, saying which entry
// it deletes while a progress bar moves on entry by entry. It closes by
// itself when the deletion has ended, also when it failed (Failure() then
// tells why), and never before: an archive being rewritten must not be cut
// short. Escape or the close box ask the job to stop: at once while it
// waits for another program that uses the archive, otherwise once the entry
// in hand is deleted.
class DeleteDlg : public QDialog {
    Q_OBJECT
public:
    DeleteDlg(QWidget* parent, const QString& archivePath, const QStringList& entryNames);
    ~DeleteDlg() override;

    int exec() override;
    // What became of the entries; read it once exec() has returned.
    const velmora::JobReport& Summary() const { return summary; }
    // The entry that could not be deleted (the deletion ends there), or
    // null; a stop is no failure.
    const velmora::ItemReport* Failure() const;
    bool Failed() const { return Failure() != nullptr; }
    // The core's text of the failure; empty when there was none.
    QString Error() const;
    int Progress() const;
    // What the job said while it ran (it waits for another program).
    QString NoticeText() const;

    void reject() override;

private:
    // The runner's signals.
    void OnItemStarted(const velmora::ItemStart& item);
    void OnProgress(const velmora::JobStatus& p);
    // The first entry that is not deleted ends the deletion, and so does a
    // stop request that came while an entry was being deleted.
    void OnItemFinished(const velmora::ItemReport& result);
    void OnNotice(const QString& text);
    void OnEnded(const velmora::JobReport& result);
    // Makes the window as high as its wrapped lines need at its width.
    void FitHeight();

    QProgressBar* progress = nullptr;
    QLabel* entry = nullptr;
    QLabel* notice = nullptr;
    QString archivePath;
    QStringList entryNames;
    bool done = false;
    velmora::JobReport summary;
    // Last, so that it goes first: no signal reaches a dialog half gone.
    CJobRunner runner;
};
