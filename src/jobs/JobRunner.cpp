#include "jobs/JobRunner.h"

#include <QTimer>

#include <utility>

#include "platform/Paths.h"

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

template <class F>
void CJobRunner::Post(F f) {
    // Dropped with the runner if it is destroyed first.
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

CJobRunner::CJobRunner(QObject* parent) : QObject(parent) {
    sampler = new QTimer(this);
    sampler->setInterval(200);
    connect(sampler, &QTimer::timeout, this, &CJobRunner::SampleProgress);
}

CJobRunner::~CJobRunner() {
    // Whoever watched may be half gone already.
    blockSignals(true);
    StopAndWait();
}

bool CJobRunner::Start(Body body) {
    if (running || endPending || worker.joinable()) return false;
    control.Reset();
    {
        std::lock_guard<std::mutex> lock(mutex);
        givenUp = false;
        awaited = 0;
        hasAnswer = false;
    }
    paused = false;
    parked.reset();
    asking = 0;
    endAfterItem = false;
    itemShown.reset();
    summary = velmora::JobReport{};
    running = true;
    endPending = true;
    sampler->start();
    worker = std::thread([this, body = std::move(body)] {
        velmora::JobReport result;
        try {
            result = body(Options());
        } catch (...) {
            // The body reports its own failures; nothing may escape the thread.
        }
        summary = std::move(result);
        running = false;
        Post([this] { OnWorkerDone(); });
    });
    return true;
}

void CJobRunner::OnWorkerDone() {
    if (!endPending) return;
    if (worker.joinable()) worker.join();
    endPending = false;
    sampler->stop();
    itemShown.reset();
    parked.reset();
    asking = 0;
    emit Ended(summary);
}

void CJobRunner::Pause() {
    if (!running) return;
    paused = true;
    control.Pause();
}

void CJobRunner::Resume() {
    paused = false;
    control.Resume();
    if (!parked) return;
    const Request request = *parked;
    parked.reset();
    Post([this, request] { Deliver(request); });
}

void CJobRunner::Stop() {
    control.Stop();
    // Once a stop is pending nothing more is asked: a question held back or
    // still open is answered no. An item's end is still told, at once.
    if (parked) {
        const Request request = *parked;
        parked.reset();
        if (request.kind == Kind::ItemDone)
            Post([this, request] { Deliver(request); });
        else
            Reply(request.serial, MsgResult::Cancel);
    }
    if (asking != 0) Reply(std::exchange(asking, 0), MsgResult::Cancel);
}

bool CJobRunner::StopRequested() const { return control.StopRequested(); }

void CJobRunner::StopAndWait() {
    if (!worker.joinable()) return;
    Stop();
    {
        // The worker may wait for an answer that can no longer come: a
        // request posted to this thread is not delivered while it waits here.
        std::lock_guard<std::mutex> lock(mutex);
        givenUp = true;
    }
    answered.notify_all();
    worker.join();
}

void CJobRunner::Answer(bool yes) { Answer(yes ? MsgResult::Ok : MsgResult::Cancel); }

void CJobRunner::Answer(MsgResult result) {
    if (asking == 0) return;
    Reply(std::exchange(asking, 0), result);
}

void CJobRunner::EndAfterItem() { endAfterItem = true; }

void CJobRunner::SetProgressInterval(int ms) { sampler->setInterval(ms); }

bool CJobRunner::WaitAtCheckPoint() { return control.WaitWhilePaused(); }

MsgResult CJobRunner::Ask(const QString& text, MsgButtons buttons, MsgIcon icon) {
    Request request;
    request.kind = Kind::Message;
    request.text = text;
    request.buttons = buttons;
    request.icon = icon;
    return PutQuestion(std::move(request));
}

MsgResult CJobRunner::Put(Request request) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (givenUp) return MsgResult::Cancel;
        request.serial = ++serials;
        awaited = request.serial;
        hasAnswer = false;
    }
    Post([this, request] { Deliver(request); });
    std::unique_lock<std::mutex> lock(mutex);
    answered.wait(lock, [this] { return hasAnswer || givenUp; });
    awaited = 0;
    return hasAnswer ? answer : MsgResult::Cancel;
}

MsgResult CJobRunner::PutQuestion(Request request) {
    // While the user is asked whether to stop, nothing else is asked, and
    // after a confirmed stop nothing at all.
    if (!control.WaitWhilePaused()) return MsgResult::Cancel;
    return Put(std::move(request));
}

bool CJobRunner::Awaited(uint64_t serial) {
    std::lock_guard<std::mutex> lock(mutex);
    return !givenUp && !hasAnswer && awaited == serial;
}

void CJobRunner::Reply(uint64_t serial, MsgResult result) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (awaited != serial || hasAnswer) return;
        hasAnswer = true;
        answer = result;
    }
    answered.notify_all();
}

void CJobRunner::Deliver(const Request& request) {
    if (!Awaited(request.serial)) return;
    // A request that was on its way when the watcher paused the job waits
    // for the pause to end, so nothing opens over the watcher's question.
    if (paused && !control.StopRequested()) {
        parked = request;
        return;
    }
    if (request.kind == Kind::ItemDone) {
        itemShown.reset();
        endAfterItem = false;
        emit ItemFinished(request.result);
        Reply(request.serial, std::exchange(endAfterItem, false) ? MsgResult::Cancel : MsgResult::Ok);
        return;
    }
    if (control.StopRequested()) {
        Reply(request.serial, MsgResult::Cancel);
        return;
    }
    asking = request.serial;
    switch (request.kind) {
        case Kind::Replace:
            emit ReplaceAsked(request.item);
            break;
        case Kind::Overwrite:
            emit OverwriteAsked(request.item, request.text);
            break;
        default:
            emit MessageAsked(request.text, request.buttons, request.icon);
            break;
    }
}

void CJobRunner::SampleProgress() {
    if (!itemShown) return;
    const velmora::JobStatus p = control.Status();
    // A sample of an item that has not been announced yet, or is already
    // over, would show figures out of their place.
    if (!p.active || p.index != *itemShown) return;
    emit ProgressMade(p);
}

velmora::JobOptions CJobRunner::Options() {
    velmora::JobOptions o;
    o.control = &control;
    o.itemStarted = [this](const velmora::ItemStart& item) { OnItemStarted(item); };
    o.confirmReplace = [this](const std::string&) { return OnConfirmReplace(); };
    o.confirmOverwrite = [this](const std::string& outputPath) { return OnConfirmOverwrite(outputPath); };
    o.itemFinished = [this](const velmora::ItemReport& result) { return OnItemFinished(result); };
    o.notice = [this](const std::string& text) { OnNotice(text); };
    return o;
}

void CJobRunner::OnItemStarted(const velmora::ItemStart& item) {
    current = item;
    // No item starts while the watcher asks whether to stop.
    control.WaitWhilePaused();
    Post([this, item] {
        itemShown = item.index;
        emit ItemStarted(item);
    });
}

bool CJobRunner::OnConfirmReplace() {
    Request request;
    request.kind = Kind::Replace;
    request.item = current;
    const bool yes = PutQuestion(std::move(request)) == MsgResult::Ok;
    // A stop confirmed while the question was open wins over its answer.
    return yes && !control.StopRequested();
}

bool CJobRunner::OnConfirmOverwrite(const std::string& outputPath) {
    Request request;
    request.kind = Kind::Overwrite;
    request.item = current;
    request.text = platform::FromCore(outputPath);
    const bool yes = PutQuestion(std::move(request)) == MsgResult::Ok;
    return yes && !control.StopRequested();
}

bool CJobRunner::OnItemFinished(const velmora::ItemReport& result) {
    Request request;
    request.kind = Kind::ItemDone;
    request.result = result;
    const bool goOn = Put(std::move(request)) == MsgResult::Ok;
    if (result.outcome == velmora::Outcome::Stopped) return false;
    // A pause that began while the item was told of holds the next one
    // back, and a stop ends the batch here.
    const bool free = control.WaitWhilePaused();
    return free && goOn;
}

void CJobRunner::OnNotice(const std::string& text) {
    const QString line = platform::FromCore(text);
    Post([this, line] { emit Noticed(line); });
}
