// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/surfaceblend.h"
#include "fractal/covercut.h"
#include "fractal/fastfbmsurface.h"
#include "fractal/fbmblock.h"
#include "fractal/fbmsurface.h"
#include "fractal/fractalbatchrequest.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The surfaces of a fractal run, each with the cover of every threshold of
// the ladder, handed out in the order the run asks for them.
//
// With the fast engine a worker thread builds and measures the next seeds'
// surfaces while the run writes the maps of the current one; surfaces of
// large maps are built on request instead, one at a time, on both cores. The run still
// sees exactly the sequence of a sequential run: it asks for (H, seed) in
// increasing order, gets that surface and no other, and whatever the worker
// built past the point where the run moved on (an H whose covers are all
// done) is dropped unseen. The plain engine builds each surface on request,
// on the calling thread, with the reference construction and the 80 scans;
// it is what the fast one is checked against.
//
// Handoff: a surface's slot belongs to exactly one side at a time. The
// worker takes a slot from the free list under the mutex, fills it without
// the lock, and puts it on the ready list under the mutex; the run takes it
// from the ready list under the mutex, reads it without the lock, and gives
// it back to the free list under the mutex at its next request. The mutex
// thus orders every write of a slot before every read of it, and nothing
// else is shared but the lists, the request and the stop flag, which are
// only touched under the mutex.
class SurfacePipeline final {
public:
    // Fast builds only the lattice points a map needs, measures all the
    // thresholds in one pass and builds the next surfaces on a second
    // thread. Plain builds the whole lattice and scans the block once per
    // threshold: the readable reference, kept for the tests. Both give the
    // same surfaces and covers.
    enum class Engine { Fast, Plain };

    struct Surface {
        FbmSurface::Status status = FbmSurface::Status::Ok;
        FbmBlock block;
        // The whole cover percentage of the block cut at each threshold.
        std::array<int, covercut::thresholdCount> covers{};
        // With a blend: what was blended into the block, or why it could
        // not be.
        QByteArray blend;
        std::optional<QString> blendFailure;
    };

    // Which surfaces a run may ask for: for every one of its H values, the
    // seeds firstSeed to firstSeed + surfaces - 1, drawn with `generator`.
    struct Plan {
        std::vector<double> hValues;
        // The maps' cells: the lattice covers the longer side, and the
        // block is its top-left corner.
        int rows = 0;
        int columns = 0;
        Generator generator = Generator::Classic;
        int firstSeed = 0;
        int surfaces = FractalBatchRequest::surfacesPerH;
        // Whether the covers of the threshold ladder are wanted: exact cuts
        // find their own thresholds and never read them.
        bool ladderCovers = true;
        // Blended into every block as it is built, or nothing.
        const SurfaceBlend *blend = nullptr;
    };

    SurfacePipeline(Engine engine, Plan plan);
    ~SurfacePipeline();
    Q_DISABLE_COPY_MOVE(SurfacePipeline)

    // The surface of the seedIndex-th seed at the hIndex-th H. Requests must
    // come in increasing (hIndex, seedIndex) order; the reference stays
    // valid until the next request.
    const Surface &surface(int hIndex, int seedIndex);

private:
    struct Slot {
        Surface surface;
        qint64 job = -1;
    };

    qint64 jobOf(int hIndex, int seedIndex) const
    {
        return qint64(hIndex) * m_plan.surfaces + seedIndex;
    }
    double hOf(qint64 job) const { return m_plan.hValues[std::size_t(job / m_plan.surfaces)]; }
    int seedOf(qint64 job) const { return m_plan.firstSeed + int(job % m_plan.surfaces); }
    void build(FastFbmSurface &generator, qint64 job, Surface &out) const;
    void buildPlain(qint64 job, Surface &out);
    void blendInto(qint64 job, Surface &out) const;
    void work();

    const Engine m_engine;
    const Plan m_plan;
    const qint64 m_jobCount;

    std::vector<std::unique_ptr<Slot>> m_slots;
    // Owned by the run's thread: the surface last handed out, and what
    // builds surfaces when there is no worker.
    Slot *m_current = nullptr;
    qint64 m_lastJob = -1;
    FbmSurface m_plain;
    std::unique_ptr<FastFbmSurface> m_inline;

    std::mutex m_mutex;
    std::condition_variable m_workerWake;
    std::condition_variable m_surfaceReady;
    std::deque<Slot *> m_free;
    std::deque<Slot *> m_ready;
    // The job the run waits for; the worker never builds one before it.
    qint64 m_wanted = 0;
    bool m_stop = false;

    std::thread m_worker;
};
