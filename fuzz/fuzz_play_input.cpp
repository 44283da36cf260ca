// What KX_PLAY_InputData is given: the deliveries of the stream library's data callback. The
// input is a sequence of deliveries, each preceded by a 16-bit length whose top bit asks the
// model queue below to hand one delivery out after it.
//  - Every delivery goes through KX_PLAY_InputData into a live port that plays (no window): the
//    checks of the export, the port's live queue, and decoding on the port's own thread; the
//    target waits until the port has taken everything queued.
//  - The same deliveries go through a StreamInputQueue with small limits, so that its ring,
//    growth and dropping to a key frame are reached: what comes out must be a delivery that
//    went in, in the order they went in. The H.264 ones that come out are assembled into
//    access units as the file reader does.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <thread>
#include <vector>

#include "BitstreamInfo.h"
#include "FuzzTempFile.h"
#include "H264AccessUnit.h"
#include "KXPlaySdk.h"
#include "PackagedFrame.h"
#include "PortTable.h"
#include "StreamInputQueue.h"

using namespace kx::play;

namespace {

int livePort() {
    static const int port = [] {
        KX_PLAY_Init(0);
        const int id = KX_PLAY_OpenStream();
        if (id < 0) return id;
        if (auto p = PortTable::instance().get(id)) p->setDecodeThreads(1);
        KX_PLAY_Play(id);
        return id;
    }();
    return port;
}

// Waits (boundedly: a stuck port thread must not hang the fuzzer) until the port's thread
// has taken every queued delivery.
void drain(int port) {
    const std::shared_ptr<Port> p = PortTable::instance().get(port);
    if (!p) return;
    for (int i = 0; i < 20000 && p->queued() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

StreamInputQueue::Meta metaOf(const uint8_t* data, size_t size) {
    StreamInputQueue::Meta meta;
    const auto f = kx::frame::parseInner(data, size);
    if (!f) return meta;
    meta.ptsUs = static_cast<int64_t>(f->ptsSec) * 1000000 + f->ptsUsec;
    meta.video = kx::frame::isVideoDataType(f->dataType);
    meta.key = meta.video && isKeyFrame(f->dataType, f->frameType, f->payload, f->payloadSize);
    return meta;
}

// The model queue and what it must hand out.
struct QueueCheck {
    StreamInputQueue queue{StreamInputQueue::Limits{4096, 32768, 8, 400000}};
    std::deque<std::vector<uint8_t>> accepted;  // pushed and taken, oldest first
    H264AccessUnit accessUnit;
    std::vector<uint8_t> out;

    void push(const uint8_t* data, size_t size) {
        if (queue.push(data, size, metaOf(data, size))) accepted.emplace_back(data, data + size);
    }

    void pop() {
        StreamInputQueue::Meta meta;
        if (!queue.pop(out, meta)) return;
        // Deliveries may be dropped, never altered or reordered.
        while (!accepted.empty() && accepted.front() != out) accepted.pop_front();
        if (accepted.empty()) __builtin_trap();
        accepted.pop_front();
        const auto f = kx::frame::parseInner(out.data(), out.size());
        if (!f || f->dataType != KX_DATA_H264) return;
        H264AccessUnit::Unit unit;
        if (accessUnit.push(f->payload, f->payloadSize, meta.ptsUs, meta.key, unit)) {
            kx::fuzz::touch(unit.data, unit.size);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int port = livePort();
    if (port < 0) return 0;
    KX_PLAY_ResetBuffer(port);
    QueueCheck check;
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    while (end - p >= 2) {
        const bool popAfter = (p[0] & 0x80) != 0;
        const size_t length = size_t(p[0] & 0x7F) << 8 | p[1];
        p += 2;
        const size_t n = length < size_t(end - p) ? length : size_t(end - p);
        const std::vector<uint8_t> delivery(p, p + n);  // exactly n bytes, for the checks
        p += n;
        KX_PLAY_InputData(port, delivery.data(), static_cast<uint32_t>(delivery.size()));
        check.push(delivery.data(), delivery.size());
        if (popAfter) check.pop();
    }
    while (!check.queue.empty()) check.pop();
    H264AccessUnit::Unit unit;
    if (check.accessUnit.flush(unit)) kx::fuzz::touch(unit.data, unit.size);
    drain(port);
    return 0;
}
