#include "jobs/JobDialog.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>

#include "jobs/JobMessages.h"
#include "jobs/JobReport.h"
#include "platform/Paths.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

CJobDialog::CJobDialog(platform::IPlatformUi& ui, QWidget* parent, const char* caption,
                       const char* question, const char* questionCaption, const char* itemVerb)
    : QDialog(parent), ui(ui), question(question), questionCaption(questionCaption), itemVerb(itemVerb) {
    setWindowTitle(QString::fromLatin1(caption));
    setModal(true);

    archiveLabel = new QLabel(this);
    archiveLabel->setObjectName(QStringLiteral("archivePath"));  // 1007
    archiveLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path wraps (at its slashes) rather than widening the dialog
    // past the screen; so does the action line, which names the archive
    // while the job waits for another program.
    archiveLabel->setWordWrap(true);
    ratioLabel = new QLabel(this);
    ratioLabel->setObjectName(QStringLiteral("ratio"));  // 1005
    actionLabel = new QLabel(this);
    actionLabel->setObjectName(QStringLiteral("action"));  // 1006
    actionLabel->setWordWrap(true);
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
    grid->addWidget(new QLabel(QString::fromLatin1(jobmsg::kFileLabel), this), 0, 0, Qt::AlignTop);
    grid->addWidget(archiveLabel, 0, 1);
    ratioCaption = new QLabel(QString::fromLatin1(jobmsg::kRatioLabel), this);
    grid->addWidget(ratioCaption, 1, 0);
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

    connect(&runner, &CJobRunner::ItemStarted, this, &CJobDialog::OnItemStarted);
    connect(&runner, &CJobRunner::ProgressMade, this, &CJobDialog::OnProgress);
    connect(&runner, &CJobRunner::Noticed, this, &CJobDialog::OnNotice);
    connect(&runner, &CJobRunner::ReplaceAsked, this, &CJobDialog::OnReplaceAsked);
    connect(&runner, &CJobRunner::OverwriteAsked, this, &CJobDialog::OnOverwriteAsked);
    connect(&runner, &CJobRunner::MessageAsked, this, &CJobDialog::OnMessageAsked);
    connect(&runner, &CJobRunner::ItemFinished, this, &CJobDialog::OnItemFinished);
    connect(&runner, &CJobRunner::Ended, this, &CJobDialog::OnEnded);
}

// Normally the job has ended before the dialog closes; the runner going
// with the dialog is the last guard, so no dialog is destroyed under its
// job's feet.
CJobDialog::~CJobDialog() = default;

void CJobDialog::ResetForRun() {
    // A dialog object may serve several runs (one folder for many archives):
    // nothing of the last run may show in the next.
    phase = Phase::Preparing;
    aborted = false;
    displayStopped = false;
    asking = false;
    finishPending = false;
    beginPending = false;
    noticeShown = false;
    itemAction.clear();
    summary = velmora::JobReport{};
    log->clear();
    for (QLabel* label : {archiveLabel, ratioLabel, actionLabel, filesLabel}) label->clear();
    progress->setRange(0, 100);
    progress->setValue(0);
    closeButton->hide();
    abortButton->show();
    abortButton->setEnabled(true);
}

int CJobDialog::exec() {
    ResetForRun();
    // Once the dialog is up, so that what the job asks first shows over it.
    QMetaObject::invokeMethod(this, [this] { Begin(); }, Qt::QueuedConnection);
    return QDialog::exec();
}

void CJobDialog::Begin() {
    if (phase != Phase::Preparing) return;
    if (asking) {
        // The user asked to abort before anything began: the answer first.
        beginPending = true;
        return;
    }
    beginPending = false;
    CJobRunner::Body body = aborted ? CJobRunner::Body() : Prepare();
    if (!body || aborted || !runner.Start(std::move(body))) {
        Finish();
        return;
    }
    phase = Phase::Running;
}

void CJobDialog::OnEnded(const velmora::JobReport& result) {
    summary = result;
    if (asking) {
        // The job was past its last check point: the question has nothing
        // left to stop. It goes, and the dialog ends once it has returned.
        finishPending = true;
        ui.CloseMessageBoxes(this);
        return;
    }
    Finish();
}

void CJobDialog::Finish() {
    finishPending = false;
    phase = Phase::Ended;
    // A batch that ran to its end has done all of its work, whatever the
    // last item's figures said when it finished.
    if (!summary.stopped && !summary.ended && !summary.items.empty()) progress->setValue(100);
    if (!KeepsOpen()) {
        accept();
        return;
    }
    const QString text = platform::FromCore(summary.summary);
    ratioLabel->setText(FinalRatioText());
    actionLabel->setText(text);
    log->addItem(text);
    log->scrollToBottom();
    abortButton->hide();
    closeButton->show();
    closeButton->setDefault(true);
    closeButton->setFocus();
    ui.KeepOpen(*this);
}

bool CJobDialog::KeepsOpen() const { return KeepsLogOpen(summary); }

void CJobDialog::OnProgress(const velmora::JobStatus& p) {
    if (displayStopped) return;
    progress->setValue(PercentOf(p));
    // Before its first data the item has no ratio; nothing is better than a
    // figure that means nothing.
    if (p.ratio > 0) ratioLabel->setText(RatioShown(p.ratio));
    // The wait a notice told of is over once the work moves.
    if (noticeShown && PercentOf(p) > 0) {
        noticeShown = false;
        actionLabel->setText(itemAction);
    }
}

void CJobDialog::OnAbort() {
    if (!InRun() || aborted || asking) return;
    // Nothing more is done while the user makes up their mind.
    runner.Pause();
    asking = true;
    const MsgResult answer = ui.MessageBox(this, QString::fromLatin1(question), QString::fromLatin1(questionCaption),
                                           MsgButtons::YesNo, MsgIcon::Question);
    asking = false;
    if (answer == MsgResult::Yes && !finishPending) {
        aborted = true;
        runner.Stop();
        abortButton->setEnabled(false);
        actionLabel->setText(QString::fromLatin1(jobmsg::kStopping));
    }
    // After a stop request the job wakes only to unwind; the dialog closes
    // when the runner reports that it has ended.
    runner.Resume();
    if (finishPending)
        Finish();
    else if (beginPending)
        Begin();
}

void CJobDialog::reject() {
    if (InRun()) {
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

void CJobDialog::Log(const QString& line, const QString& detail) {
    auto add = [this, line, detail] {
        log->addItem(line);
        // What only a developer needs goes where one looks for it: on the
        // line's tool tip and on standard error.
        if (!detail.isEmpty()) {
            log->item(log->count() - 1)->setToolTip(detail);
            qInfo("%s: %s", qPrintable(line), qPrintable(detail));
        }
        log->scrollToBottom();
    };
    if (QThread::currentThread() == thread())
        add();
    else
        QMetaObject::invokeMethod(this, add, Qt::QueuedConnection);
}

void CJobDialog::HideRatio() {
    ratioCaption->hide();
    ratioLabel->hide();
}

void CJobDialog::SetArchivePathText(const QString& text) { archiveLabel->setText(text); }

MsgResult CJobDialog::Ask(const QString& text, MsgButtons buttons, MsgIcon icon) {
    if (aborted) return MsgResult::Cancel;
    return platform::ShowMessage(ui, this, text, buttons, icon);
}

void CJobDialog::ShowFailure(const velmora::ItemReport& result) { Ask(FailureText(result), MsgButtons::Ok, MsgIcon::Error); }

QString CJobDialog::AskSaveFile(const QString& proposed) {
    return ui.SaveFileName(this, proposed, QString::fromLatin1(platform::kArchiveFilter));
}

QString CJobDialog::AskFolder() { return ui.BrowseFolder(this); }

// Names come from archives and folders anyone may have written: shown, they
// must not break a line or turn the text around.
QString CJobDialog::ItemName(const velmora::ItemStart& item) const { return platform::FromCore(velmora::EscapeName(item.name)); }

void CJobDialog::OnItemStarted(const velmora::ItemStart& item) {
    if (aborted) return;
    const QString name = ItemName(item);
    filesLabel->setText(QString::fromLatin1(jobmsg::kFilesFormat)
                            .arg(static_cast<int>(item.index) + 1)
                            .arg(static_cast<int>(item.count)));
    // No bar and no ratio until the item's data moves.
    progress->setValue(0);
    ratioLabel->clear();
    noticeShown = false;
    itemAction = QString::fromLatin1(itemVerb) + name + QString::fromLatin1(jobmsg::kEllipsis);
    actionLabel->setText(itemAction);
    Log(QString::fromLatin1(itemVerb) + name);
}

bool CJobDialog::ConfirmReplace(const velmora::ItemStart& item) {
    const MsgResult answer =
        Ask(ItemName(item) + QString::fromLatin1(jobmsg::kLasExists), MsgButtons::OkCancel, MsgIcon::Question);
    return answer == MsgResult::Ok && !aborted;
}

void CJobDialog::OnReplaceAsked(const velmora::ItemStart& item) { runner.Answer(ConfirmReplace(item)); }

void CJobDialog::OnOverwriteAsked(const velmora::ItemStart&, const QString& outputPath) {
    const MsgResult answer =
        Ask(outputPath + QString::fromLatin1(jobmsg::kFileExists), MsgButtons::OkCancel, MsgIcon::Question);
    runner.Answer(answer == MsgResult::Ok && !aborted);
}

void CJobDialog::OnMessageAsked(const QString& text, MsgButtons buttons, MsgIcon icon) {
    runner.Answer(Ask(text, buttons, icon));
}

void CJobDialog::OnItemFinished(const velmora::ItemReport& result) {
    // Stopped only by Abort (or the dialog going away): nothing to report.
    if (result.outcome == velmora::Outcome::Stopped) return;
    Report(result);
}

void CJobDialog::OnNotice(const QString& line) {
    // The job waits for another program, or put an archive right: the user
    // sees it where the job's action shows, and it stays in the log.
    log->addItem(line);
    log->scrollToBottom();
    noticeShown = true;
    actionLabel->setText(line);
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
