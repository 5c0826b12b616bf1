#include "jobs/TestDialog.h"

#include "jobs/JobMessages.h"
#include "jobs/JobReport.h"
#include "platform/Paths.h"

CTestDialog::CTestDialog(platform::IPlatformUi& ui, QWidget* parent)
    : CJobDialog(ui, parent, jobmsg::kTestCaption, jobmsg::kQuitTest, jobmsg::kQuitTestCaption,
                 jobmsg::kTestingFile) {
    HideRatio();
}

CJobRunner::Body CTestDialog::Prepare() {
    Log(QString::fromLatin1(jobmsg::kTestingFiles));
    std::vector<std::string> names;
    for (const QString& name : entryNames)
        if (!name.isEmpty()) names.push_back(platform::ToCore(name));
    // Nothing named is nothing to test (the job would test every entry).
    if (archivePath.isEmpty() || names.empty()) return {};
    SetArchivePathText(archivePath);
    return [archive = platform::ToCore(archivePath), names](CArchiveJob& job) { return job.Test(archive, names); };
}

void CTestDialog::Report(const ItemResult& result) {
    const QString name = ItemName(result.item);
    const QString why = platform::FromCore(result.message);
    switch (result.outcome) {
        case ItemOutcome::Passed:
            Log(name + QString::fromLatin1(jobmsg::kTestOk));
            return;
        case ItemOutcome::Unverified:
            Log(name + QString::fromLatin1(jobmsg::kTestNoChecksum));
            return;
        case ItemOutcome::Damaged:
            // A finding of the test, not a failure of the window: the log
            // and the summary tell it.
            Log(name + QString::fromLatin1(jobmsg::kTestDamaged) + QString::fromLatin1(jobmsg::kDamagedData), why);
            return;
        default:
            // The entry could not be tested at all (not there, the archive
            // unreadable): as every other job, a box says why.
            ShowFailure(result);
            Log(name + QString::fromLatin1(jobmsg::kTestFailed) + why);
            return;
    }
}

bool CTestDialog::KeepsOpen() const { return KeepsTestOpen(Summary()); }
