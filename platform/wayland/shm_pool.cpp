#include "platform/wayland/shm_pool.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "platform/platform.h"

namespace quellora::wayland {

namespace {

void OnRelease(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {OnRelease};

}  // namespace

std::unique_ptr<ShmBuffer> MakeShmBuffer(wl_shm* shm, int w, int h, uint32_t format) {
    auto b = std::make_unique<ShmBuffer>();
    const size_t stride = static_cast<size_t>(w) * 4;
    b->bytes = stride * static_cast<size_t>(h);
    const int fd = memfd_create("quellora-buffer", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    void* map = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(b->bytes)) == 0)
        map = mmap(nullptr, b->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    b->pixels = static_cast<uint32_t*>(map);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(b->bytes));
    b->buffer = wl_shm_pool_create_buffer(pool, 0, w, h, static_cast<int32_t>(stride), format);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(b->buffer, &kBufferListener, b.get());
    b->width = w;
    b->height = h;
    b->stale.Resize(h);
    b->stale.AddRect(Rect{0, 0, w, h});
    return b;
}

void FreeShmBuffer(ShmBuffer& b) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    if (b.pixels) munmap(b.pixels, b.bytes);
    b.buffer = nullptr;
    b.pixels = nullptr;
}

BufferPool::~BufferPool() {
    for (auto& b : buffers_) FreeShmBuffer(*b);
}

void BufferPool::Drop(ShmBuffer* b) {
    FreeShmBuffer(*b);
    buffers_.erase(std::remove_if(buffers_.begin(), buffers_.end(),
                                  [b](const std::unique_ptr<ShmBuffer>& u) { return u.get() == b; }),
                   buffers_.end());
}

ShmBuffer* BufferPool::Acquire(int w, int h, uint32_t now) {
    // A free one of this size, the one with the fewest rows to write.
    ShmBuffer* best = nullptr;
    ShmBuffer* other = nullptr;
    for (auto& b : buffers_) {
        if (b->busy) continue;
        if (b->width != w || b->height != h) {
            other = b.get();
            continue;
        }
        if (!best || b->stale.Bottom() - b->stale.Top() < best->stale.Bottom() - best->stale.Top()) best = b.get();
    }
    if (best) return best;
    if (other) Drop(other);
    if (static_cast<int>(buffers_.size()) >= kMost) return nullptr;
    auto b = MakeShmBuffer(shm_, w, h, WL_SHM_FORMAT_XRGB8888);
    if (!b) return nullptr;
    b->lastUsed = now;
    buffers_.push_back(std::move(b));
    return buffers_.back().get();
}

void BufferPool::Stale(int w, int h, int y, int lo, int hi) {
    for (auto& b : buffers_)
        if (b->width == w && b->height == h) b->stale.Add(y, lo, hi);
}

void BufferPool::AllStale() {
    for (auto& b : buffers_) b->stale.AddRect(Rect{0, 0, b->width, b->height});
}

void BufferPool::Committed(ShmBuffer& b, uint32_t now) {
    b.busy = true;
    b.lastUsed = now;
    b.stale.Clear();
}

void BufferPool::Trim(int w, int h, uint32_t now) {
    for (size_t i = buffers_.size(); i-- > 0;) {
        ShmBuffer* b = buffers_[i].get();
        if (!b->busy && (b->width != w || b->height != h || TickReached(now, b->lastUsed + kUnusedMs))) Drop(b);
    }
}

}  // namespace quellora::wayland
