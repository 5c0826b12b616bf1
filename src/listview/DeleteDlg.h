#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <thread>

class QProgressBar;
class QTimer;
class VMRAFile;

// Deletes one entry of an archive on a thread of its own while a progress
// bar moves. It closes by itself when the deletion has ended, also when it
// failed (Error() then holds the message), and refuses to close before.
class DeleteDlg : public QDialog {
    Q_OBJECT
public:
    DeleteDlg(QWidget* parent, VMRAFile* archive, const QString& entryName, const QString& archivePath);
    ~DeleteDlg() override;

    int exec() override;
    bool Failed() const { return failed; }
    QString Error() const { return error; }
    int Progress() const;

    void reject() override;

private:
    void Poll();

    VMRAFile* archive;
    std::thread deletion;
    QProgressBar* progress = nullptr;
    QTimer* poll = nullptr;
    QString entryName;
    QString archivePath;
    std::atomic<bool> done{false};
    bool failed = false;
    QString error;
};
