#include "framework/SoundplaneTouchTable.h"

#include <cmath>

namespace {

// Zeroed before any code runs: no static-initialisation order to mind.
constinit SoundplaneTouchTable gTable;

// A reader that meets a writer this often in a row gives up for this read.
constexpr int kReadAttempts = 8;

} // namespace

SoundplaneTouchTable& SoundplaneTouchTable::Instance()
{
    return gTable;
}

void SoundplaneTouchTable::Open(Record& record)
{
    const uint32_t s = record.sequence.load(std::memory_order_relaxed);
    record.sequence.store(s + 1, std::memory_order_relaxed);
    // The odd number is visible before any field changes.
    std::atomic_thread_fence(std::memory_order_release);
}

void SoundplaneTouchTable::Close(Record& record)
{
    const uint32_t s = record.sequence.load(std::memory_order_relaxed);
    record.sequence.store(s + 1, std::memory_order_release);
}

void SoundplaneTouchTable::BeginFrame()
{
    frames.fetch_add(1, std::memory_order_acq_rel);
}

bool SoundplaneTouchTable::WriteTouch(int32_t id, float x, float y, float z, float note)
{
    if (id < 1 || id > kTouchCount)
        return false;
    // A NaN or infinite value would reach the outputs (and the modules
    // behind them) as it is; such a touch message is dropped whole.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !std::isfinite(note))
        return false;
    std::lock_guard<std::mutex> guard(writerLock);
    Record& record = records[id - 1];
    Open(record);
    record.x.store(x, std::memory_order_relaxed);
    record.y.store(y, std::memory_order_relaxed);
    record.z.store(z, std::memory_order_relaxed);
    record.note.store(note, std::memory_order_relaxed);
    Close(record);
    return true;
}

void SoundplaneTouchTable::WriteAlive(const bool (&alive)[kTouchCount])
{
    std::lock_guard<std::mutex> guard(writerLock);
    for (int32_t i = 0; i < kTouchCount; ++i) {
        Record& record = records[i];
        const uint8_t value = alive[i] ? 1 : 0;
        if (record.alive.load(std::memory_order_relaxed) == value)
            continue;
        Open(record);
        record.alive.store(value, std::memory_order_relaxed);
        Close(record);
    }
}

void SoundplaneTouchTable::Reset()
{
    std::lock_guard<std::mutex> guard(writerLock);
    for (Record& record : records) {
        Open(record);
        record.alive.store(0, std::memory_order_relaxed);
        record.x.store(0.0f, std::memory_order_relaxed);
        record.y.store(0.0f, std::memory_order_relaxed);
        record.z.store(0.0f, std::memory_order_relaxed);
        record.note.store(0.0f, std::memory_order_relaxed);
        Close(record);
    }
}

bool SoundplaneTouchTable::Read(int32_t id, SoundplaneTouch* out) const
{
    if (id < 1 || id > kTouchCount || !out)
        return false;
    const Record& record = records[id - 1];
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const uint32_t before = record.sequence.load(std::memory_order_acquire);
        if (before & 1u)
            continue; // a writer is inside
        SoundplaneTouch copy;
        copy.alive = record.alive.load(std::memory_order_relaxed) != 0;
        copy.x = record.x.load(std::memory_order_relaxed);
        copy.y = record.y.load(std::memory_order_relaxed);
        copy.z = record.z.load(std::memory_order_relaxed);
        copy.note = record.note.load(std::memory_order_relaxed);
        // The copies are complete before the number is read again.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (record.sequence.load(std::memory_order_relaxed) == before) {
            *out = copy;
            return true;
        }
    }
    return false;
}
