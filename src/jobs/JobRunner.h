#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/PlatformUi.h"
#include "velmora/velmora.hpp"

class QTimer;

// Runs one batch of the library's jobs on a thread of its own and tells whoever
// watches it, through signals on the thread that made the runner, what the
// job does: each item as it starts and finishes, the progress of the item in
// hand, the job's notices, its questions, and the end. A window observes a
// runner; it never touches the worker or the job.
//
// Questions: the worker waits for the answer. A question is never put while
// the runner is paused (the watcher is asking its user whether to stop) nor
// once a stop was requested; it waits for the pause to end, and a stop
// answers it with no. Item finished is a question of a kind too: the worker
// goes on only once every slot has returned, so a box a watcher shows about
// the item holds the next one back.
//
// Stopping is a request the job honours at its next check; the runner never
// kills or suspends a thread. Ended comes once the worker has ended, always
// through the event loop, never from inside a call of the watcher's.
class CJobRunner : public QObject {
    Q_OBJECT
public:
    // The work for the worker thread: one job of the library, as a rule,
    // run with the options given (they carry the runner's answers and
    // control).
    using Body = std::function<velmora::JobReport(const velmora::JobOptions& options)>;

    explicit CJobRunner(QObject* parent = nullptr);
    // Stops a worker that still runs and waits for it; no signal comes from
    // a runner being destroyed.
    ~CJobRunner() override;

    // On the runner's thread. Runs body on the worker; false when a run is
    // still going.
    bool Start(Body body);
    // From Start until the worker has finished its body (Ended follows).
    bool Running() const { return running.load(); }
    // Holds the job at its next check point and holds back its questions.
    void Pause();
    void Resume();
    bool Paused() const { return paused; }
    // Asks the job to stop; the open question, if any, is answered no.
    void Stop();
    bool StopRequested() const;
    // Stop, then waits until the worker has ended. Ended still comes through
    // the event loop if the runner lives on.
    void StopAndWait();

    // The answer to the question last signalled. Replace and overwrite
    // questions take a bool; messages the button pressed.
    void Answer(bool yes);
    void Answer(platform::MsgResult result);
    // While the signal ItemFinished is handled: the batch ends with this item.
    void EndAfterItem();

    // How often the progress of the item in hand is sampled.
    void SetProgressInterval(int ms);

    // From the worker's body only. The body's own safe point: waits while
    // paused; false once a stop is pending.
    bool WaitAtCheckPoint();
    // A message for the watcher (MessageAsked), answered with the button the
    // user pressed; Cancel without asking once a stop is pending.
    platform::MsgResult Ask(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);

    // The job's control, for tests that watch the job itself.
    velmora::JobControl& Control() { return control; }

signals:
    void ItemStarted(const velmora::ItemStart& item);
    // The item in hand, sampled while it runs; only between its ItemStarted
    // and its ItemFinished.
    void ProgressMade(const velmora::JobStatus& progress);
    void Noticed(const QString& text);
    // An entry of the file's name is in the archive: replace it? Answer(bool).
    void ReplaceAsked(const velmora::ItemStart& item);
    // A file of the entry's name is in the output folder: overwrite it? Answer(bool).
    void OverwriteAsked(const velmora::ItemStart& item, const QString& outputPath);
    // Answer(MsgResult).
    void MessageAsked(const QString& text, platform::MsgButtons buttons, platform::MsgIcon icon);
    void ItemFinished(const velmora::ItemReport& result);
    void Ended(const velmora::JobReport& summary);

private:
    enum class Kind { Replace, Overwrite, Message, ItemDone };
    struct Request {
        Kind kind = Kind::Message;
        uint64_t serial = 0;
        velmora::ItemStart item;
        velmora::ItemReport result;
        QString text;
        platform::MsgButtons buttons = platform::MsgButtons::Ok;
        platform::MsgIcon icon = platform::MsgIcon::None;
    };

    // The job's callbacks, on the worker thread (the library calls them
    // there while its job waits): they turn the job's calls into requests to
    // the runner's thread.
    velmora::JobOptions Options();
    void OnItemStarted(const velmora::ItemStart& item);
    bool OnConfirmReplace();
    bool OnConfirmOverwrite(const std::string& outputPath);
    bool OnItemFinished(const velmora::ItemReport& result);
    void OnNotice(const std::string& text);

    // Worker side: hands the request to the runner's thread and waits for
    // its answer (Cancel when the run is given up).
    platform::MsgResult Put(Request request);
    // A question: first waits at the check point, and is not put at all
    // once a stop is pending.
    platform::MsgResult PutQuestion(Request request);
    // Runner side.
    void Deliver(const Request& request);
    void Reply(uint64_t serial, platform::MsgResult result);
    bool Awaited(uint64_t serial);
    void SampleProgress();
    void OnWorkerDone();
    template <class F>
    void Post(F f);

    velmora::JobControl control;
    velmora::ItemStart current;  // the worker's: the item in hand, which the questions are about
    std::thread worker;
    std::atomic<bool> running{false};
    velmora::JobReport summary;  // written by the worker, read once it has ended
    bool endPending = false;  // the run's Ended is still to come

    // The conversation with the worker; guarded by mutex.
    std::mutex mutex;
    std::condition_variable answered;
    uint64_t awaited = 0;  // the request the worker waits for; 0: none
    bool hasAnswer = false;
    platform::MsgResult answer = platform::MsgResult::Cancel;
    bool givenUp = false;
    uint64_t serials = 0;

    // Runner side only.
    bool paused = false;
    std::optional<Request> parked;  // came while paused
    uint64_t asking = 0;            // the question the watcher is to answer
    bool endAfterItem = false;
    std::optional<std::size_t> itemShown;  // between ItemStarted and ItemFinished
    QTimer* sampler = nullptr;
};
