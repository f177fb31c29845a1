#include "framework/RegistryHandOver.h"

namespace InstanceRegistry {

Mailbox::Flags::Flags(int32_t keys)
    : wordCount((keys + 63) / 64), words(new std::atomic<uint64_t>[static_cast<size_t>(wordCount)]())
{
}

// Sequentially consistent, as is the listed flag: a poster sets its key and
// then looks whether the mailbox is listed, while a round unlists it and
// then takes the keys, so either the round sees the key or the poster lists
// the mailbox again.
void Mailbox::Flags::Set(int32_t key) noexcept
{
    words[key >> 6].fetch_or(uint64_t{1} << (key & 63), std::memory_order_seq_cst);
}

Mailbox::Mailbox(ObryAuBase* instance, int32_t parameterCount)
    : instance(instance),
      parameterCount(parameterCount > 0 ? parameterCount : 0),
      parameterValues(new std::atomic<float>[static_cast<size_t>(this->parameterCount)]()),
      changedParameters(this->parameterCount)
{
}

RegistryHandOver::RegistryHandOver(LockFunction lock, Serve serve) : lock(lock), serve(serve) {}

RegistryHandOver::~RegistryHandOver()
{
    Stop();
}

Mailbox* RegistryHandOver::Open(ObryAuBase* instance, int32_t parameterCount)
{
    return new Mailbox(instance, parameterCount);
}

// Only the instance's own calls post to its mailbox, and they have ended
// when it leaves the registry: a listed mailbox is in the pending list or in
// a round's hands, and the round that meets it deletes it.
void RegistryHandOver::Close(Mailbox* mailbox)
{
    if (!mailbox)
        return;
    if (mailbox->listed.load(std::memory_order_seq_cst))
        mailbox->closed = true;
    else
        delete mailbox;
}

// ---- any thread, the audio thread included: no allocation, no lock, no wait ----

void RegistryHandOver::PostParameter(Mailbox& mailbox, int32_t index, float value) noexcept
{
    if (index < 0 || index >= mailbox.parameterCount)
        return;
    mailbox.parameterValues[index].store(value, std::memory_order_relaxed);
    mailbox.changedParameters.Set(index);
    List(mailbox);
}

void RegistryHandOver::PostControlChange(Mailbox& mailbox, uint8_t channel, uint8_t controller, uint8_t value,
                                         bool learn) noexcept
{
    const int32_t key = (channel & 15) * 128 + (controller & 127);
    mailbox.controllerValues[key].store(value, std::memory_order_relaxed);
    if (learn)
        mailbox.learnControllers.Set(key);
    mailbox.changedControllers.Set(key);
    List(mailbox);
}

// Pushes the mailbox on the pending list unless it is listed already (then
// the round to come, or the one under way, sees its news).
void RegistryHandOver::List(Mailbox& mailbox) noexcept
{
    if (mailbox.listed.exchange(true, std::memory_order_seq_cst))
        return;
    Mailbox* head = pending.load(std::memory_order_relaxed);
    do {
        mailbox.next = head;
    } while (!pending.compare_exchange_weak(head, &mailbox, std::memory_order_release, std::memory_order_relaxed));
    wake.Set();
}

bool RegistryHandOver::OnServingThread() const noexcept
{
    return pthread_equal(serving.load(std::memory_order_acquire), pthread_self()) != 0;
}

bool RegistryHandOver::Empty() const noexcept
{
    return pending.load(std::memory_order_acquire) == nullptr;
}

// ---- serving ----

// The registry lock is taken for one mailbox at a time, so that the host's
// threads wait for the registry no longer than one instance's news take.
bool RegistryHandOver::ServeRound()
{
    Mailbox* newestFirst = pending.exchange(nullptr, std::memory_order_acquire);
    if (!newestFirst)
        return false;
    Mailbox* oldestFirst = nullptr;
    while (newestFirst) {
        Mailbox* mailbox = newestFirst;
        newestFirst = mailbox->next;
        mailbox->next = oldestFirst;
        oldestFirst = mailbox;
    }
    while (oldestFirst) {
        Mailbox* mailbox = oldestFirst;
        oldestFirst = mailbox->next; // before unlisting: a poster may then link it again
        std::unique_lock<std::recursive_mutex> held(lock());
        if (mailbox->closed) {
            delete mailbox;
            continue;
        }
        mailbox->listed.store(false, std::memory_order_seq_cst);
        const pthread_t outer = serving.exchange(pthread_self(), std::memory_order_acq_rel);
        ServeMailboxLocked(*mailbox);
        serving.store(outer, std::memory_order_release);
    }
    return true;
}

void RegistryHandOver::ServeMailboxLocked(Mailbox& mailbox)
{
    for (int32_t word = 0; word < mailbox.changedParameters.wordCount; ++word) {
        for (uint64_t bits = mailbox.changedParameters.TakeWord(word); bits != 0; bits &= bits - 1) {
            const int32_t index = word * 64 + __builtin_ctzll(bits);
            serve.parameterChanged(mailbox.instance, index,
                                   mailbox.parameterValues[index].load(std::memory_order_relaxed));
        }
    }
    for (int32_t word = 0; word < mailbox.changedControllers.wordCount; ++word) {
        // A learn flag may be taken before its change flag is set: the
        // value is there already, and the change only serves it once more.
        const uint64_t learn = mailbox.learnControllers.TakeWord(word);
        for (uint64_t bits = mailbox.changedControllers.TakeWord(word) | learn; bits != 0; bits &= bits - 1) {
            const int32_t bit = __builtin_ctzll(bits);
            const int32_t key = word * 64 + bit;
            serve.controlChange(mailbox.instance, static_cast<uint8_t>(key >> 7), static_cast<uint8_t>(key & 127),
                                mailbox.controllerValues[key].load(std::memory_order_relaxed),
                                (learn >> bit & 1) != 0);
        }
    }
}

std::unique_ptr<corvane::platform::WorkerThread> RegistryHandOver::MakeThread()
{
    return std::make_unique<corvane::platform::WorkerThread>("Registry hand-over");
}

// Control held.
void RegistryHandOver::JoinEndedLocked()
{
    std::erase_if(setAside, [](const std::unique_ptr<corvane::platform::WorkerThread>& left) {
        return left->Stop(std::chrono::milliseconds(0));
    });
}

bool RegistryHandOver::Start()
{
    std::lock_guard<std::mutex> guard(control);
    JoinEndedLocked();
    if (thread->IsRunning()) {
        if (!stopTimedOut)
            return true;
        // Asked to end, it serves what is listed and ends: what comes later
        // needs a thread of its own.
        if (!thread->Stop(std::chrono::milliseconds(0))) {
            setAside.push_back(std::move(thread));
            thread = MakeThread();
        }
    }
    stopTimedOut = false;
    threadsAlive.fetch_add(1, std::memory_order_acq_rel);
    if (thread->Start([this](corvane::platform::Event& quit) { Main(quit); }) == 0)
        return true;
    threadsAlive.fetch_sub(1, std::memory_order_acq_rel);
    return false;
}

bool RegistryHandOver::Stop(std::chrono::milliseconds limit)
{
    std::lock_guard<std::mutex> guard(control);
    const bool stopped = thread->Stop(limit);
    stopTimedOut = !stopped;
    JoinEndedLocked();
    return stopped && threadsAlive.load(std::memory_order_acquire) == 0;
}

// A ticket is served when a round that began after it was drawn has ended
// and no round is under way: one begun earlier may still hold a mailbox
// with news posted before the ticket.
bool RegistryHandOver::ServeCountedRound()
{
    uint64_t drawn;
    {
        std::lock_guard<std::mutex> rounds(roundsLock);
        drawn = ticketsDrawn;
        ++roundsRunning;
    }
    const bool served = ServeRound();
    {
        std::lock_guard<std::mutex> rounds(roundsLock);
        --roundsRunning;
        if (drawn > ticketsOfEndedRounds)
            ticketsOfEndedRounds = drawn;
        if (roundsRunning == 0)
            ticketsServed = ticketsOfEndedRounds;
    }
    roundDone.notify_all();
    return served;
}

void RegistryHandOver::WaitUntilServed()
{
    std::lock_guard<std::mutex> guard(control);
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> rounds(roundsLock);
        ticket = ++ticketsDrawn;
    }
    if (thread->IsRunning()) {
        wake.Set();
    } else {
        while (ServeCountedRound()) {
        }
    }
    std::unique_lock<std::mutex> rounds(roundsLock);
    roundDone.wait(rounds, [&] { return ticketsServed >= ticket; });
}

void RegistryHandOver::Main(corvane::platform::Event& quit)
{
    corvane::platform::Event* const events[] = {&quit, &wake};
    for (;;) {
        const int which = corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever);
        // Rounds until one finds nothing listed; on a quit, that serves
        // everything posted before it.
        while (ServeCountedRound()) {
        }
        if (which == 0)
            break;
    }
    threadsAlive.fetch_sub(1, std::memory_order_acq_rel); // the last use of this object
}

} // namespace InstanceRegistry
