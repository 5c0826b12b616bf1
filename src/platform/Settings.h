#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The persisted settings of the window: string values of the group
// "Settings" in QSettings("Velmora", "Velmora"), in the same string formats
// as the program has always written, plus the recent-file list.
namespace platform {

// A window's placement as ten numbers: flags, show command, minimised and
// maximised positions, and the normal (restored) rectangle.
struct WindowPlacement {
    static constexpr uint32_t kRestoreToMaximized = 2;  // flag
    static constexpr uint32_t kShowNormal = 1;
    static constexpr uint32_t kShowMinimized = 2;
    static constexpr uint32_t kShowMaximized = 3;
    static constexpr uint32_t kShow = 5;

    uint32_t flags = 0;
    uint32_t showCmd = kShowNormal;
    int32_t minX = -1, minY = -1, maxX = -1, maxY = -1;
    int32_t left = 0, top = 0, right = 0, bottom = 0;

    int32_t Width() const;   // |right - left|, saturated to int32
    int32_t Height() const;  // |bottom - top|, saturated to int32
};

// "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d"
QString FormatPlacement(const WindowPlacement& p);
// True only when all ten numbers are read; p is left alone otherwise.
bool ParsePlacement(const QString& text, WindowPlacement* p);

// "%d"
QString FormatStyle(int32_t style);
bool ParseStyle(const QString& text, int32_t* style);

// "1" or "0", for a thing shown or not.
QString FormatFlag(bool on);
// False (and *on left alone) when text is no number.
bool ParseFlag(const QString& text, bool* on);

// "%u": a set of columns, bit c for column c.
QString FormatMask(uint32_t mask);
bool ParseMask(const QString& text, uint32_t* mask);

// "%d, %d, %d" for n widths.
QString FormatWidths(const int* widths, int n);
// Reads up to n widths from the front of text; widths the scan does not reach
// (or that are no sane pixel width) keep their values. Returns how many were
// taken.
int ParseWidths(const QString& text, int* widths, int n);

// Reads numbers as the C scan format "%d,%d,..." does: leading blanks before
// each number are skipped, a comma must follow a number at once. A number
// outside the 32-bit range ends the scan (where the C scan would be undefined).
// Returns how many were read.
int ScanNumbers(const QString& text, int64_t* out, int max, bool unsignedValues);

// Access to the stored values. Each call opens the store afresh, so tests can
// point QSettings elsewhere before the window is built.
class CSettingsStore {
public:
    static constexpr const char* kOrganization = "Velmora";
    static constexpr const char* kApplication = "Velmora";
    static constexpr const char* kGroup = "Settings";
    static constexpr const char* kRecentGroup = "Recent File List";
    static constexpr int kRecentCount = 5;

    static QString Read(const QString& name);
    static void Write(const QString& name, const QString& value);

    static QStringList ReadRecentFiles();
    static void WriteRecentFiles(const QStringList& files);
};

}  // namespace platform
