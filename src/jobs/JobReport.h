#pragma once

#include <QString>

#include <optional>

#include "velmora/velmora.hpp"

// What the window makes of the results the job layer reports. No window is
// needed for that, so these are plain functions.

// A message box text that names what it is about: the message unchanged,
// a blank line, the file or entry, and the system's reason on a line of its
// own when there is one (cause 0: none).
QString MessageAbout(const QString& message, const QString& about, int cause);

// The box for an item that failed: the core's text, then the path or entry
// the text is about (the item's name when the result names nothing else).
QString FailureText(const velmora::ItemReport& result);

// A job that refused, failed or found damaged anything keeps its dialog open
// at the end, so the user can read in the log what went in or came out and
// what did not. Declined questions and a stop are the user's own doing.
bool KeepsLogOpen(const velmora::JobReport& summary);

// A test is asked for its verdict, so a test that ran to its end stays open
// with it, sound entries or not; one the user stopped closes as any job does
// (unless it found something wrong first).
bool KeepsTestOpen(const velmora::JobReport& summary);

// The ratio of a batch of adds: the bytes stored for the files that went in
// (added or replaced) over their LAS bytes. None when nothing went in.
std::optional<double> BatchRatio(const velmora::JobReport& summary);

// The item a result is about, as it was when it started.
velmora::ItemStart ItemOf(const velmora::ItemReport& result);

// The share of the item in hand done, in percent (0..100).
int PercentOf(const velmora::JobStatus& status);

// A ratio (stored bytes per LAS byte) as the job dialogs show it: "20 %".
QString RatioShown(double ratio);
