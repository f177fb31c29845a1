#include "framework/RegistryHandOver.h"

#include "platform/Debug.h"

namespace InstanceRegistry {

RegistryHandOver::RegistryHandOver(Serve serve) : serve(serve)
{
    for (uint32_t i = 0; i < kSize; ++i)
        cells[i].sequence.store(i, std::memory_order_relaxed);
}

RegistryHandOver::~RegistryHandOver()
{
    Stop();
}

bool RegistryHandOver::Start()
{
    std::lock_guard<std::mutex> guard(control);
    if (thread.IsRunning())
        return true;
    return thread.Start([this](corvane::platform::Event& quit) { Main(quit); }) == 0;
}

bool RegistryHandOver::Stop()
{
    std::lock_guard<std::mutex> guard(control);
    return thread.Stop();
}

// A bounded ring for many writers and one reader: a writer claims the slot
// at the write position when that slot's sequence says it is free, fills it
// and publishes it by moving the sequence on; the reader frees it again one
// lap later.
bool RegistryHandOver::Post(const HandOverItem& item) noexcept
{
    uint32_t position = writePosition.load(std::memory_order_relaxed);
    Cell* cell;
    for (;;) {
        cell = &cells[position & (kSize - 1)];
        const uint32_t sequence = cell->sequence.load(std::memory_order_acquire);
        const auto lap = static_cast<int32_t>(sequence - position);
        if (lap == 0) {
            if (writePosition.compare_exchange_weak(position, position + 1, std::memory_order_relaxed))
                break;
        } else if (lap < 0) {
            dropped.fetch_add(1, std::memory_order_acq_rel);
            return false; // full
        } else {
            position = writePosition.load(std::memory_order_relaxed);
        }
    }
    cell->item = item;
    cell->sequence.store(position + 1, std::memory_order_release);
    wake.Set();
    return true;
}

bool RegistryHandOver::Take(HandOverItem& item) noexcept
{
    const uint32_t position = readPosition.load(std::memory_order_relaxed);
    Cell& cell = cells[position & (kSize - 1)];
    if (cell.sequence.load(std::memory_order_acquire) != position + 1)
        return false;
    item = cell.item;
    cell.sequence.store(position + kSize, std::memory_order_release);
    readPosition.store(position + 1, std::memory_order_release);
    return true;
}

bool RegistryHandOver::Empty() const noexcept
{
    const uint32_t position = readPosition.load(std::memory_order_acquire);
    return cells[position & (kSize - 1)].sequence.load(std::memory_order_acquire) != position + 1;
}

void RegistryHandOver::WaitUntilServed()
{
    {
        std::lock_guard<std::mutex> guard(control);
        if (!thread.IsRunning())
            return;
    }
    const uint32_t posted = writePosition.load(std::memory_order_acquire);
    std::unique_lock<std::mutex> lock(servedLock);
    servedChanged.wait(lock, [&] { return static_cast<int32_t>(served - posted) >= 0; });
}

bool RegistryHandOver::OnServingThread() const noexcept
{
    return pthread_equal(servingThread.load(std::memory_order_acquire), pthread_self()) != 0;
}

void RegistryHandOver::Main(corvane::platform::Event& quit)
{
    servingThread.store(pthread_self(), std::memory_order_release);
    corvane::platform::Event* const events[] = {&quit, &wake};
    for (;;) {
        const int which = corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever);
        HandOverItem item;
        while (Take(item)) {
            serve(item);
            {
                std::lock_guard<std::mutex> guard(servedLock);
                ++served;
            }
            servedChanged.notify_all();
        }
        const uint32_t lost = dropped.load(std::memory_order_acquire);
        if (lost != droppedLogged) {
            corvane::DebugPrintf("registry hand-over full: %u parameter changes or control changes dropped\n",
                                 lost - droppedLogged);
            droppedLogged = lost;
        }
        if (which == 0) {
            servingThread.store(pthread_t{}, std::memory_order_release);
            return;
        }
    }
}

} // namespace InstanceRegistry
