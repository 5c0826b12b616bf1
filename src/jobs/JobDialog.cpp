#include "jobs/JobDialog.h"

#include <QEvent>
#include <algorithm>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "jobs/JobMessages.h"
#include "las/LasException.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

CJobDialog::CJobDialog(platform::IPlatformUi& ui, QWidget* parent, const char* caption,
                       const char* question, const char* questionCaption, const char* doneVerb)
    : QDialog(parent), ui(ui), question(question), questionCaption(questionCaption), doneVerb(doneVerb) {
    setWindowTitle(QString::fromLatin1(caption));
    setModal(true);

    archiveLabel = new QLabel(this);
    archiveLabel->setObjectName(QStringLiteral("archivePath"));  // 1007
    archiveLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ratioLabel = new QLabel(this);
    ratioLabel->setObjectName(QStringLiteral("ratio"));  // 1005
    actionLabel = new QLabel(this);
    actionLabel->setObjectName(QStringLiteral("action"));  // 1006
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));  // 1004
    progress->setRange(0, 100);
    progress->setValue(0);
    log = new QListWidget(this);
    log->setObjectName(QStringLiteral("log"));  // 1014
    filesLabel = new QLabel(this);
    filesLabel->setObjectName(QStringLiteral("files"));  // 1015
    filesLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    abortButton = new QPushButton(QString::fromLatin1(jobmsg::kAbort), this);
    abortButton->setObjectName(QStringLiteral("abort"));  // 1013
    connect(abortButton, &QPushButton::clicked, this, &CJobDialog::OnAbort);
    closeButton = new QPushButton(QString::fromLatin1(jobmsg::kClose), this);
    closeButton->setObjectName(QStringLiteral("close"));
    closeButton->hide();
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QString::fromLatin1(jobmsg::kFileLabel), this), 0, 0);
    grid->addWidget(archiveLabel, 0, 1);
    grid->addWidget(new QLabel(QString::fromLatin1(jobmsg::kRatioLabel), this), 1, 0);
    grid->addWidget(ratioLabel, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(filesLabel);
    side->addStretch(1);
    side->addWidget(abortButton);
    side->addWidget(closeButton);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(log, 1);
    bottom->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(actionLabel);
    layout->addWidget(progress);
    layout->addLayout(bottom, 1);
    resize(520, 340);

    display = new QTimer(this);
    display->setInterval(200);
    connect(display, &QTimer::timeout, this, &CJobDialog::UpdateDisplay);
}

CJobDialog::~CJobDialog() { StopAndJoin(); }

void CJobDialog::StopAndJoin() {
    // Normally the worker has ended before the dialog closes; this is the
    // last guard, so no dialog is destroyed under its worker's feet.
    if (worker.joinable()) {
        aborting = true;
        archive.Engine().RequestStop();
        worker.join();
    }
}

void CJobDialog::ResetForRun() {
    // A dialog object may serve several runs (one folder for many archives):
    // nothing of the last run may show in the next.
    stopDisplay = false;
    aborting = false;
    workerDone = false;
    asking = false;
    finishPending = false;
    tally = JobTally{};
    log->clear();
    for (QLabel* label : {archiveLabel, ratioLabel, actionLabel, filesLabel}) label->clear();
    progress->setRange(0, 100);
    progress->setValue(0);
    closeButton->hide();
    abortButton->show();
    abortButton->setEnabled(true);
    archive.ClearStopRequest();
    archive.Engine().Resume();
}

int CJobDialog::exec() {
    ResetForRun();
    display->start();
    worker = std::thread([this] {
        try {
            Work();
        } catch (...) {
            // Work reports its own failures; nothing may escape the thread.
        }
        workerDone = true;
        QMetaObject::invokeMethod(this, [this] { OnWorkerFinished(); }, Qt::QueuedConnection);
    });
    return QDialog::exec();
}

void CJobDialog::OnWorkerFinished() {
    if (worker.joinable()) worker.join();
    if (asking) {
        // The worker was past its last check point: the question has nothing
        // left to stop. It goes, and the dialog ends once it has returned.
        finishPending = true;
        ui.CloseMessageBoxes(this);
        return;
    }
    Finish();
}

void CJobDialog::Finish() {
    finishPending = false;
    display->stop();
    if (!KeepsLogOpen(tally)) {
        accept();
        return;
    }
    const QString summary = QString::fromStdString(JobSummary(tally, doneVerb));
    actionLabel->setText(summary);
    log->addItem(summary);
    log->scrollToBottom();
    abortButton->hide();
    closeButton->show();
    closeButton->setDefault(true);
    closeButton->setFocus();
    ui.KeepOpen(*this);
}

void CJobDialog::UpdateDisplay() {
    if (stopDisplay) return;
    CPointCodec& engine = archive.Engine();
    const int64_t total = engine.streamsTotal.load();
    const int64_t done = engine.streamsDone.load();
    progress->setValue(total > 0 ? static_cast<int>(std::clamp<int64_t>(done * 100 / total, 0, 100)) : 0);
    ratioLabel->setText(QString::asprintf("%.0f ", engine.ratio.load() * 100.0) + QLatin1Char('%'));
}

void CJobDialog::OnAbort() {
    if (!WorkerRunning() || aborting || asking) return;
    CPointCodec& engine = archive.Engine();
    // Nothing more is done while the user makes up their mind.
    engine.RequestPause();
    asking = true;
    const MsgResult answer = ui.MessageBox(this, QString::fromLatin1(question), QString::fromLatin1(questionCaption),
                                           MsgButtons::YesNo, MsgIcon::Question);
    asking = false;
    if (answer == MsgResult::Yes && !finishPending) {
        aborting = true;
        RequestStop();
        abortButton->setEnabled(false);
        actionLabel->setText(QString::fromLatin1(jobmsg::kStopping));
    }
    // After a stop request the worker wakes only to unwind; the dialog
    // closes when it reports that it has ended.
    engine.Resume();
    if (finishPending) Finish();
}

void CJobDialog::reject() {
    if (WorkerRunning()) {
        OnAbort();
        return;
    }
    QDialog::reject();
}

void CJobDialog::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange || !parentWidget()) return;
    QWidget* main = parentWidget()->window();
    const auto* change = static_cast<QWindowStateChangeEvent*>(e);
    if (isMinimized())
        main->showMinimized();
    else if (change->oldState() & Qt::WindowMinimized)
        main->showNormal();
}

template <class F>
void CJobDialog::OnUi(F f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void CJobDialog::Log(const QString& line) {
    OnUi([this, line] {
        log->addItem(line);
        log->scrollToBottom();
    });
}

void CJobDialog::SetArchivePathText(const QString& text) {
    OnUi([this, text] { archiveLabel->setText(text); });
}

void CJobDialog::SetActionText(const QString& text) {
    OnUi([this, text] { actionLabel->setText(text); });
}

void CJobDialog::SetFilesText(int number, int count) {
    OnUi([this, number, count] {
        filesLabel->setText(QString::fromLatin1(jobmsg::kFilesFormat).arg(number).arg(count));
    });
}

void CJobDialog::SetProgress(int percent) {
    OnUi([this, percent] { progress->setValue(percent); });
}

void CJobDialog::WaitWhilePaused() {
    try {
        archive.Engine().CheckPoint();
    } catch (const CStopRequested&) {
        // A stop: the caller sees it in aborting.
    }
}

MsgResult CJobDialog::Ask(const QString& text, MsgButtons buttons, MsgIcon icon) {
    WaitWhilePaused();
    if (aborting) return MsgResult::Cancel;
    MsgResult r = MsgResult::Cancel;
    QMetaObject::invokeMethod(
        this, [&] { r = platform::ShowMessage(ui, this, text, buttons, icon); },
        Qt::BlockingQueuedConnection);
    return r;
}

void CJobDialog::ShowError(const QString& text) { Ask(text, MsgButtons::Ok, MsgIcon::Error); }

QString CJobDialog::AskSaveFile(const QString& proposed) {
    QString r;
    QMetaObject::invokeMethod(
        this,
        [&] { r = ui.SaveFileName(this, proposed, QString::fromLatin1(platform::kArchiveFilter)); },
        Qt::BlockingQueuedConnection);
    return r;
}

QString CJobDialog::AskFolder() {
    QString r;
    QMetaObject::invokeMethod(this, [&] { r = ui.BrowseFolder(this); },
                              Qt::BlockingQueuedConnection);
    return r;
}

QStringList CJobDialog::LogLines() const {
    QStringList lines;
    for (int i = 0; i < log->count(); ++i) lines << log->item(i)->text();
    return lines;
}

QString CJobDialog::ArchivePathText() const { return archiveLabel->text(); }
QString CJobDialog::ActionText() const { return actionLabel->text(); }
QString CJobDialog::FilesText() const { return filesLabel->text(); }
QString CJobDialog::RatioText() const { return ratioLabel->text(); }
int CJobDialog::Progress() const { return progress->value(); }
