#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "las/Failure.h"

// What a batch job reports about each file or entry it handles. The window and
// the command line turn these into log lines, boxes and exit statuses; the
// decisions themselves are taken once, in the job.

enum class ItemOutcome {
    Added,       // compressed into the archive as a new entry
    Replaced,    // compressed into the archive in place of an entry of that name
    Extracted,   // written as a LAS file and checked
    Passed,      // tested: decoded and matched its checksum
    Unverified,  // tested: decoded, but the entry carries no checksum
    Deleted,     // removed from the archive
    Declined,    // the user said no to replacing an entry or overwriting a file
    Refused,     // the input cannot be stored, or given back, as it is
    Damaged,     // the entry's data in the archive is damaged
    Failed,      // any other failure (the archive is as it was)
    Stopped,     // the user stopped the job during this item
};

// True for outcomes that did what was asked.
bool Succeeded(ItemOutcome outcome);

struct JobItem {
    std::size_t index = 0;    // from 0
    std::size_t count = 0;    // items in the batch
    std::string name;         // the LAS path as given (add) or the entry name
    std::string displayName;  // the file name alone
    std::string archivePath;  // the archive it goes into or comes from
    int64_t lasBytes = 0;     // length of the LAS file (0 while unknown)
    // Where the entry stands in the archive's directory when the job works
    // on every entry and so addresses each by its place; -1 when it goes by
    // the name alone.
    int64_t entryIndex = -1;
};

struct ItemResult {
    JobItem item;
    ItemOutcome outcome = ItemOutcome::Failed;
    // What went wrong, when something did: the text, the core's failure it
    // came from (code 0 for a failure from outside the core), the system's
    // reason, and the path or entry name the text is about.
    std::string message;
    Failure failure;
    int cause = 0;
    bool canContinue = false;
    std::string subject;
    // Where the entry went when the archive spilled into a part file.
    std::string storedIn;
    int64_t storedBytes = 0;

    // "SUBJECT: message (cause)" as a terminal shows it, the subject escaped
    // (see EscapeName); "" when nothing failed.
    std::string Describe() const;
};

// What a whole job came to.
struct JobSummary {
    std::vector<ItemResult> items;
    bool stopped = false;        // the user stopped it
    bool ended = false;          // the host ended it early after an item
    bool createdArchive = false; // the job made the archive file

    std::size_t Count(ItemOutcome outcome) const;
    // True when the job ran to its end and every item did what was asked.
    bool AllSucceeded() const;
    // One line for the user, e.g. "3 files added, 1 refused".
    std::string Text() const;
};

// How a job talks to whoever runs it. Every call comes on the job's thread.
class IJobHost {
public:
    virtual ~IJobHost() = default;
    // The job turns to a new item.
    virtual void ItemStarted(const JobItem& item) { (void)item; }
    // An entry of the file's name is in the archive: replace it?
    virtual bool ConfirmReplace(const JobItem& item) = 0;
    // A file of the entry's name is in the output folder: overwrite it?
    virtual bool ConfirmOverwrite(const JobItem& item, const std::string& outputPath) = 0;
    // An item is done, whatever its outcome; false ends the job here.
    virtual bool ItemFinished(const ItemResult& result) = 0;
    // Something the user should know that is not an item's outcome: the job
    // waits for another program, or an interrupted change was put right.
    virtual void Notice(const std::string& text) { (void)text; }
};
