#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "platform/Mounts.h"
#include "platform/Paths.h"
#include "platform/PlatformUi.h"
#include "platform/Settings.h"

using namespace platform;

namespace {
QString S(const char* s) { return QString::fromUtf8(s); }
}  // namespace

TEST(PathsTest, SplittingAndJoining) {
    EXPECT_EQ(FileNamePart(S("/data/x.vmra")), S("x.vmra"));
    EXPECT_EQ(FileNamePart(S("x.vmra")), S("x.vmra"));
    EXPECT_EQ(FileNamePart(S("/data/")), S(""));
    EXPECT_EQ(FolderPart(S("/data/x.vmra")), S("/data/"));
    EXPECT_EQ(FolderPart(S("x.vmra")), S(""));
    EXPECT_EQ(SplitPath(S("//data///sub/")), (QStringList{S("data"), S("sub")}));
    EXPECT_EQ(WithTrailingSeparator(S("/data")), S("/data/"));
    EXPECT_EQ(WithTrailingSeparator(S("/data/")), S("/data/"));
    EXPECT_EQ(WithoutTrailingSeparator(S("/data/")), S("/data"));
    EXPECT_EQ(WithoutTrailingSeparator(S("/")), S("/"));
    EXPECT_EQ(JoinPath(S("/a"), S("b.las")), S("/a/b.las"));
    EXPECT_EQ(JoinPath(S("/a/"), S("b.las")), S("/a/b.las"));
}

TEST(PathsTest, ExtensionRules) {
    EXPECT_EQ(ExtensionOf(S("/a.b/c.VMRA")), S("VMRA"));
    EXPECT_EQ(ExtensionOf(S("noext")), S(""));
    EXPECT_TRUE(HasSuffixNoCase(S("A.LAS"), S(".las")));
    EXPECT_FALSE(HasSuffixNoCase(S("las"), S(".las")));  // shorter than the extension
    EXPECT_TRUE(HasSuffixNoCase(S("x.las.las"), S(".las")));
    EXPECT_TRUE(HasTrailingExtension(S("X.VmRa"), S(".vmra")));
    EXPECT_FALSE(HasTrailingExtension(S("x.las.las"), S(".las")));
    EXPECT_FALSE(HasTrailingExtension(S("/a.vmra.d/b.vmra"), S(".vmra")));
    EXPECT_TRUE(HasTrailingExtension(S(".vmra"), S(".vmra")));
    EXPECT_FALSE(HasTrailingExtension(S(".vmra"), S(".vmra"), true));
    EXPECT_FALSE(HasTrailingExtension(S("x.txt"), S(".vmra")));
}

TEST(MountsTest, TableGivesRootHomeAndRealVolumesOnly) {
    const QString table = S(
        "proc /proc proc rw 0 0\n"
        "overlay / overlay rw 0 0\n"
        "tmpfs /dev/shm tmpfs rw 0 0\n"
        "/dev/sda1 /home ext4 rw 0 0\n"
        "/dev/sdb1 /media/user/USB\\040Stick vfat rw 0 0\n"
        "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
        "server:/export /mnt/net nfs4 rw 0 0\n"
        "/dev/sdc1 /data xfs rw 0 0\n"
        "/dev/sdc1 /data xfs rw 0 0\n"
        "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
        "sysfs /sys sysfs rw 0 0\n"
        "garbage\n");
    QMap<QString, QString> labels{{S("/dev/sdc1"), S("Archive disk")}};
    const auto m = ParseMountTable(table, S("/home/user"), labels);
    ASSERT_EQ(m.size(), 7u);
    EXPECT_EQ(m[0].path, S("/"));
    EXPECT_EQ(m[0].NodeText(), S("File System (/)"));
    EXPECT_EQ(m[1].path, S("/home/user/"));
    EXPECT_EQ(m[1].label, S("Home"));
    EXPECT_EQ(m[2].path, S("/home/"));
    EXPECT_EQ(m[3].path, S("/media/user/USB Stick/"));
    EXPECT_EQ(m[3].label, S("USB Stick"));
    EXPECT_EQ(m[3].kind, MountKind::Removable);
    EXPECT_EQ(m[4].label, S("CD/DVD drive"));
    EXPECT_EQ(m[4].kind, MountKind::Optical);
    EXPECT_EQ(m[5].kind, MountKind::Remote);
    EXPECT_EQ(m[6].NodeText(), S("Archive disk (/data)"));
}

TEST(MountsTest, LongestPrefixOnComponentBoundaries) {
    const std::vector<MountPoint> m{{S("/"), S("File System"), MountKind::Root},
                                    {S("/home/u/"), S("Home"), MountKind::Home},
                                    {S("/home/"), S("h"), MountKind::Fixed}};
    EXPECT_EQ(MatchMount(m, S("/home/u/data/x.vmra")), 1);
    EXPECT_EQ(MatchMount(m, S("/home/u")), 1);
    EXPECT_EQ(MatchMount(m, S("/home/user2/x")), 2);  // "/home/u" is no prefix of "/home/user2"
    EXPECT_EQ(MatchMount(m, S("/etc")), 0);
    EXPECT_EQ(MatchMount(m, S("relative/path")), -1);
}

TEST(SettingsFormatTest, PlacementNeedsAllTenNumbers) {
    WindowPlacement p;
    p.flags = 2;
    p.showCmd = 3;
    p.left = 10;
    p.top = -20;
    p.right = 610;
    p.bottom = 430;
    const QString text = FormatPlacement(p);
    EXPECT_EQ(text, S("2,3,-1,-1,-1,-1,10,-20,610,430"));
    WindowPlacement q;
    ASSERT_TRUE(ParsePlacement(text, &q));
    EXPECT_EQ(q.flags, 2u);
    EXPECT_EQ(q.showCmd, 3u);
    EXPECT_EQ(q.top, -20);
    EXPECT_EQ(q.Width(), 600);
    EXPECT_EQ(q.Height(), 450);
    EXPECT_TRUE(ParsePlacement(S(" 0, 1, -1, -1, -1, -1, 1, 2, 3, 4"), &q));

    WindowPlacement untouched;
    for (const char* bad : {"", "0,1,-1,-1,-1,-1,10,20,30", "abc", "0,1,-1,-1,-1,-1,10,20,30,x",
                            "0 ,1,-1,-1,-1,-1,10,20,30,40", "-1,1,-1,-1,-1,-1,10,20,30,40",
                            "0,1,-1,-1,-1,-1,10,20,30,99999999999"}) {
        EXPECT_FALSE(ParsePlacement(S(bad), &untouched)) << bad;
    }
    EXPECT_EQ(untouched.showCmd, 1u);
    EXPECT_EQ(untouched.right, 0);
}

TEST(SettingsFormatTest, PlacementSizeOfReversedOrExtremeRectangles) {
    WindowPlacement p;
    p.left = 500;
    p.right = 100;
    EXPECT_EQ(p.Width(), 400);
    p.left = INT32_MIN;
    p.right = INT32_MAX;
    EXPECT_EQ(p.Width(), INT32_MAX);  // saturated, not wrapped
}

TEST(SettingsFormatTest, WidthsArePartialAndKeepUnreadSlots) {
    int w[4] = {100, 100, 150, 150};
    EXPECT_EQ(FormatWidths(w, 4), S("100, 100, 150, 150"));
    EXPECT_EQ(ParseWidths(S("80, 90"), w, 4), 2);
    EXPECT_EQ(w[0], 80);
    EXPECT_EQ(w[1], 90);
    EXPECT_EQ(w[2], 150);
    EXPECT_EQ(ParseWidths(S("70,x,5"), w, 4), 1);
    EXPECT_EQ(w[0], 70);
    EXPECT_EQ(w[1], 90);
    EXPECT_EQ(ParseWidths(S(""), w, 4), 0);
    // A width no list could have is damage: the scan stops there.
    EXPECT_EQ(ParseWidths(S("60, -5, 7"), w, 4), 1);
    EXPECT_EQ(w[1], 90);
    EXPECT_EQ(ParseWidths(S("99999999999999999999"), w, 4), 0);
    EXPECT_EQ(ParseWidths(S("123456789012345678901234567890"), w, 4), 0);
    EXPECT_EQ(w[0], 60);
    int three[3] = {1, 2, 3};
    EXPECT_EQ(ParseWidths(S("4, 5, 6, 7, 8"), three, 3), 3);
    EXPECT_EQ(three[2], 6);
}

TEST(SettingsFormatTest, Style) {
    int32_t style = 7;
    EXPECT_TRUE(ParseStyle(S("1342177345"), &style));
    EXPECT_EQ(style & 3, 1);
    EXPECT_TRUE(ParseStyle(S("-5"), &style));
    EXPECT_EQ(style, -5);
    style = 9;
    EXPECT_FALSE(ParseStyle(S("details"), &style));
    EXPECT_EQ(style, 9);
    EXPECT_EQ(FormatStyle(-3), S("-3"));
}

TEST(SettingsFormatTest, FlagAndColumnMask) {
    bool on = false;
    EXPECT_TRUE(ParseFlag(FormatFlag(true), &on));
    EXPECT_TRUE(on);
    EXPECT_TRUE(ParseFlag(FormatFlag(false), &on));
    EXPECT_FALSE(on);
    EXPECT_EQ(FormatFlag(true), S("1"));
    on = true;
    EXPECT_FALSE(ParseFlag(S("yes"), &on));
    EXPECT_TRUE(on);  // left as it was
    uint32_t mask = 0;
    EXPECT_TRUE(ParseMask(FormatMask(0xFFFFFFBFu), &mask));
    EXPECT_EQ(mask, 0xFFFFFFBFu);
    EXPECT_EQ(FormatMask(5), S("5"));
    mask = 9;
    EXPECT_FALSE(ParseMask(S("-1"), &mask));
    EXPECT_FALSE(ParseMask(S(""), &mask));
    EXPECT_EQ(mask, 9u);
}

// The real message boxes: closing those over one window answers each as its
// Escape key would, and leaves the boxes of other windows alone.
TEST(QtPlatformUiTest, ClosingTheBoxesOverAWindowAnswersThemWithEscape) {
    CQtPlatformUi ui;
    QWidget window, other;
    window.show();
    other.show();
    const struct {
        MsgButtons buttons;
        MsgResult escape;
    } cases[] = {{MsgButtons::YesNo, MsgResult::No}, {MsgButtons::OkCancel, MsgResult::Cancel},
                 {MsgButtons::Ok, MsgResult::Ok}};
    for (const auto& c : cases) {
        bool openAfterOtherClosed = false;
        QTimer::singleShot(100, &window, [&] { ui.CloseMessageBoxes(&other); });
        QTimer::singleShot(200, &window, [&] {
            openAfterOtherClosed = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
            ui.CloseMessageBoxes(&window);
        });
        // A box that nothing closes would stop the test: it is shut by force.
        bool forced = false;
        QTimer::singleShot(3000, &window, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                forced = true;
                box->close();
            }
        });
        EXPECT_EQ(ui.MessageBox(&window, S("question"), S("Velmora"), c.buttons, MsgIcon::Question), c.escape);
        EXPECT_FALSE(forced);
        EXPECT_TRUE(openAfterOtherClosed);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
// The system's opener (xdg-open) is asked to show a page; its answer decides
// whether a browser showed it. A stand-in opener on the PATH plays each part.
TEST(QtPlatformUiTest, OpenUrlTellsWhetherTheOpenerFoundABrowser) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + oldPath);
    const QString opener = bin.filePath(QStringLiteral("xdg-open"));
    const QString seen = bin.filePath(QStringLiteral("seen"));
    auto script = [&](const QByteArray& body) {
        QFile f(opener);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\nprintf '%s' \"$1\" > '" + seen.toLocal8Bit() + "'\n" + body + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    const QUrl page = QUrl::fromLocalFile(bin.filePath(QStringLiteral("tut.html")));
    CQtPlatformUi ui(1500);

    script("exit 3");  // "no method available": no browser
    EXPECT_FALSE(ui.OpenUrl(page));
    QFile arg(seen);
    ASSERT_TRUE(arg.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(arg.readAll()), page.toString());
    arg.close();

    script("exit 0");  // handed to a browser
    EXPECT_TRUE(ui.OpenUrl(page));

    script("sleep 3");  // a browser running in the opener's foreground
    CQtPlatformUi brief(300);
    QElapsedTimer took;
    took.start();
    EXPECT_TRUE(brief.OpenUrl(page));
    EXPECT_LT(took.elapsed(), 2500);
    qputenv("PATH", oldPath);
}
#endif
