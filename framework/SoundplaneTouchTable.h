// The touches of a multi-touch control surface, shared by the whole process.
// A surface's bridge program sends touch frames to any instance's OSC server;
// the listen thread that receives one writes the touches here, and every
// Soundplane instance reads them on its audio thread.
//
// Threads:
// - Writers: OSC listen threads of any instance, possibly several at once.
//   They serialise among themselves on a small lock (never taken by a
//   reader).
// - Readers: audio threads. A read never blocks and never allocates: each
//   record carries a sequence number (odd while a writer is inside it), and a
//   reader copies the record and retries a bounded number of times until it
//   saw the same even number before and after. So a reader gets a whole
//   record of one write, never x of one frame with z of another; when a
//   writer is stuck inside the record the read reports failure and the
//   reader keeps what it had. Every field is an atomic, so the seqlock's
//   speculative copies are not data races.
//
// The table starts zeroed (constant initialisation, before any code of the
// module runs) and is never cleared by the running system.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

struct SoundplaneTouch {
    bool alive = false; // in the latest alive list
    float x = 0.0f;     // values as sent (always finite: see WriteTouch)
    float y = 0.0f;
    float z = 0.0f;     // pressure
    float note = 0.0f;
};

class SoundplaneTouchTable {
public:
    static constexpr int32_t kTouchCount = 16; // ids 1..16

    static SoundplaneTouchTable& Instance();

    // Writers (listen threads). A frame has begun: counts frames, so readers
    // can tell a bridge that stopped sending from one that holds still.
    void BeginFrame();
    // Touch `id` (1..16) gets x, y, z and note in one write; the alive flag
    // is not touched. Other ids, and values that are NaN or infinite, change
    // nothing (returns false).
    bool WriteTouch(int32_t id, float x, float y, float z, float note);
    // Every record's alive flag: alive[i] for touch i + 1.
    void WriteAlive(const bool (&alive)[kTouchCount]);
    // Zeroes every record (tests; the running system never clears it).
    void Reset();

    // Readers (audio thread; wait-free, bounded). Touch `id` 1..16 into
    // `out`; false when the id is out of range or a writer kept the record
    // busy for every attempt (`out` is then unchanged).
    bool Read(int32_t id, SoundplaneTouch* out) const;
    // Frames begun so far (wraps).
    uint32_t FrameCount() const { return frames.load(std::memory_order_acquire); }

private:
    struct Record {
        std::atomic<uint32_t> sequence{0};
        std::atomic<uint8_t> alive{0};
        std::atomic<float> x{0.0f};
        std::atomic<float> y{0.0f};
        std::atomic<float> z{0.0f};
        std::atomic<float> note{0.0f};
    };
    // Writers only, with writerLock held.
    static void Open(Record& record);
    static void Close(Record& record);

    Record records[kTouchCount];
    std::atomic<uint32_t> frames{0};
    std::mutex writerLock;
};
