#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>

#include "jobs/core/ArchiveJob.h"

class QLabel;
class QProgressBar;
class QTimer;

// Deletes entries of an archive on a thread of its own, saying which entry
// it deletes while a progress bar moves on entry by entry. It closes by
// itself when the deletion has ended, also when it failed (Failure() then
// tells why), and never before: an archive being rewritten must not be cut
// short. Escape or the close box ask the job to stop: at once while it
// waits for another program that uses the archive, otherwise once the entry
// in hand is deleted.
class DeleteDlg : public QDialog, private IJobHost {
    Q_OBJECT
public:
    DeleteDlg(QWidget* parent, const QString& archivePath, const QStringList& entryNames);
    ~DeleteDlg() override;

    int exec() override;
    // What became of the entries; read it once exec() has returned.
    const JobSummary& Summary() const { return summary; }
    // The entry that could not be deleted (the deletion ends there), or
    // null; a stop is no failure.
    const ItemResult* Failure() const;
    bool Failed() const { return Failure() != nullptr; }
    // The core's text of the failure; empty when there was none.
    QString Error() const;
    int Progress() const;
    // What the job said while it ran (it waits for another program).
    QString NoticeText() const;

    void reject() override;

private:
    void ItemStarted(const JobItem& item) override;
    bool ConfirmReplace(const JobItem&) override { return false; }
    bool ConfirmOverwrite(const JobItem&, const std::string&) override { return false; }
    // The first entry that is not deleted ends the deletion, and so does a
    // stop request that came while an entry was being deleted.
    bool ItemFinished(const ItemResult& result) override;
    void Notice(const std::string& text) override;
    // Makes the window as high as its wrapped lines need at its width.
    void FitHeight();
    void Poll();

    CArchiveJob job{*this};
    std::thread deletion;
    QProgressBar* progress = nullptr;
    QLabel* entry = nullptr;
    QLabel* notice = nullptr;
    QTimer* poll = nullptr;
    QString archivePath;
    QStringList entryNames;
    std::atomic<bool> done{false};
    JobSummary summary;
};
