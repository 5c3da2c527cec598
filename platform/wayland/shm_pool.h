// The wl_shm buffers of one surface: a few of one size, each written only
// once the compositor has released it. Acquire hands out a free buffer with
// the rows it lacks; a third is made only while the compositor holds two,
// and buffers left unused for a few seconds are freed again.
#pragma once

#include <wayland-client.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/wayland/rows.h"

namespace quellora::wayland {

struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    uint32_t* pixels = nullptr;
    size_t bytes = 0;
    int width = 0, height = 0;
    bool busy = false;      // the compositor holds it
    RowChanges stale;       // the rows it lacks, in its pixels
    uint32_t lastUsed = 0;  // when it was last committed, on the tick clock
};

// One buffer of `w` x `h` pixels in its own shared memory, not in any pool;
// nullptr when the memory can't be had.
std::unique_ptr<ShmBuffer> MakeShmBuffer(wl_shm* shm, int w, int h, uint32_t format);
void FreeShmBuffer(ShmBuffer& b);

class BufferPool {
public:
    static constexpr int kMost = 3;
    static constexpr uint32_t kUnusedMs = 5000;

    explicit BufferPool(wl_shm* shm) : shm_(shm) {}
    ~BufferPool();
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // A buffer of `w` x `h` that the compositor does not hold, its `stale`
    // rows the ones to write; one of another size is dropped for it. nullptr
    // while the compositor holds all three (or the memory can't be had).
    ShmBuffer* Acquire(int w, int h, uint32_t now);
    // What changed, in the pixels of buffers of `w` x `h`.
    void Stale(int w, int h, int y, int lo, int hi);
    void AllStale();
    // The buffer is on its way to the compositor.
    void Committed(ShmBuffer& b, uint32_t now);
    // Frees the buffers not held that were not used for kUnusedMs, and
    // those of another size than `w` x `h`.
    void Trim(int w, int h, uint32_t now);
    size_t Count() const { return buffers_.size(); }

private:
    void Drop(ShmBuffer* b);

    wl_shm* shm_;
    std::vector<std::unique_ptr<ShmBuffer>> buffers_;
};

}  // namespace quellora::wayland
