#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QUrl>

#include "ScriptedUi.h"
#include "TestSupport.h"
#include "app/HelpDialogs.h"
#include "app/MainApp.h"
#include "app/CommandLine.h"

TEST(StartUpTest, WhichCommandLinesOpenTheWindow) {
    const char* none[] = {"velmora"};
    const char* archive[] = {"velmora", "x.VMRA"};
    const char* archiveDots[] = {"velmora", "my.data.vmra"};
    const char* las[] = {"velmora", "a.las"};
    const char* two[] = {"velmora", "x.vmra", "y.vmra"};
    const char* compress[] = {"velmora", "-c", "a.las", "x.vmra"};
    const char* noExt[] = {"velmora", "vmra"};
    const char* folderLike[] = {"velmora", "x.vmra/"};
    EXPECT_TRUE(IsWindowCommandLine(1, none));
    EXPECT_TRUE(IsWindowCommandLine(2, archive));
    EXPECT_TRUE(IsWindowCommandLine(2, archiveDots));
    EXPECT_FALSE(IsWindowCommandLine(2, las));
    EXPECT_FALSE(IsWindowCommandLine(3, two));
    EXPECT_FALSE(IsWindowCommandLine(4, compress));
    EXPECT_FALSE(IsWindowCommandLine(2, noExt));
    EXPECT_FALSE(IsWindowCommandLine(2, folderLike));
}

TEST(StartUpTest, ArchiveArgumentIsMadeAbsolute) {
    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.Path().string());
    QFile(folder + QStringLiteral("/x.vmra")).open(QIODevice::WriteOnly);
    QDir().mkpath(folder + QStringLiteral("/d.vmra"));
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder));
    EXPECT_EQ(CMainApp::ArchiveArgument(QStringLiteral("x.vmra")), folder + QStringLiteral("/x.vmra"));
    EXPECT_EQ(CMainApp::ArchiveArgument(QStringLiteral("./x.vmra")), folder + QStringLiteral("/x.vmra"));
    EXPECT_EQ(CMainApp::ArchiveArgument(folder + QStringLiteral("/x.vmra")),
              folder + QStringLiteral("/x.vmra"));
    EXPECT_TRUE(CMainApp::ArchiveArgument(QStringLiteral("y.vmra")).isEmpty());
    EXPECT_TRUE(CMainApp::ArchiveArgument(QStringLiteral("d.vmra")).isEmpty());
    QDir::setCurrent(old);
}

TEST(StartUpTest, TheDesktopKnowsTheProgramByItsEntryAndLogo) {
    CMainApp::SetDesktopIdentity();
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("velmora"));
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    // Drawn, not blank, and sharp at the sizes docks and task switchers use.
    const QImage big = icon.pixmap(256, 256).toImage();
    EXPECT_EQ(big.width(), 256);
    int painted = 0;
    for (int y = 0; y < big.height(); y += 8)
        for (int x = 0; x < big.width(); x += 8) painted += qAlpha(big.pixel(x, y)) > 0;
    EXPECT_GT(painted, 100);
}

// Installed, the help pages are the package's copies beside the program;
// elsewhere (a build folder) the bundled ones.
TEST(StartUpTest, HelpPagesComeFromTheInstalledCopyWhenThereIsOne) {
    testsupport::TempDir dir;
    const QString prefix = QString::fromStdString(dir.Path().string());
    const QString bin = prefix + QStringLiteral("/bin");
    const QString docs = prefix + QStringLiteral("/share/doc/velmora");
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(docs));
    QFile page(docs + QStringLiteral("/tut.html"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html><body>installed</body></html>");
    page.close();

    EXPECT_EQ(help::InstalledPage(bin, QStringLiteral("tut.html")), docs + QStringLiteral("/tut.html"));
    EXPECT_TRUE(help::InstalledPage(bin, QStringLiteral("index.html")).isEmpty());
    EXPECT_TRUE(help::InstalledPage(docs, QStringLiteral("tut.html")).isEmpty());
    EXPECT_TRUE(help::InstalledPage(QString(), QStringLiteral("tut.html")).isEmpty());

    guitest::ScriptedUi ui;
    EXPECT_TRUE(help::OpenInBrowser(ui, QStringLiteral("tut.html"), bin));
    EXPECT_TRUE(help::OpenInBrowser(ui, QStringLiteral("index.html"), bin));
    ASSERT_EQ(ui.urls.size(), 2u);
    EXPECT_EQ(ui.urls[0], QUrl::fromLocalFile(docs + QStringLiteral("/tut.html")));
    // Not installed: the bundled page, written out for the browser.
    EXPECT_TRUE(ui.urls[1].isLocalFile());
    EXPECT_FALSE(ui.urls[1].toLocalFile().startsWith(prefix));
    EXPECT_TRUE(ui.urls[1].toLocalFile().endsWith(QStringLiteral("/index.html")));
}
