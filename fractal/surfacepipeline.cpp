// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/surfacepipeline.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace {

// A block larger than this is built on request, in the run's own slot, by
// both cores in turn: a second slot would double the memory of a 4096 x 4096
// batch, and building ahead would make a surface the run may never ask for.
constexpr qint64 largeBlockBytes = qint64(16) << 20;

bool isLarge(int size)
{
    return qint64(size + 1) * qint64(size + 1) * qint64(sizeof(double)) > largeBlockBytes;
}

// Slots of the worker's queue: a few let it run ahead through a surface
// that yields many maps.
constexpr int slotCount = 4;

} // namespace

SurfacePipeline::SurfacePipeline(Engine engine, Plan plan)
    : m_engine(engine)
    , m_plan(std::move(plan))
    , m_jobCount(qint64(m_plan.hValues.size()) * m_plan.surfaces)
{
    if (m_engine == Engine::Plain) {
        m_slots.push_back(std::make_unique<Slot>());
        return;
    }
    if (isLarge(std::max(m_plan.rows, m_plan.columns))) {
        m_slots.push_back(std::make_unique<Slot>());
        m_inline = std::make_unique<FastFbmSurface>();
        m_inline->setThreadCount(2);
        return;
    }
    for (int i = 0; i < slotCount; ++i) {
        m_slots.push_back(std::make_unique<Slot>());
        m_free.push_back(m_slots.back().get());
    }
    try {
        m_worker = std::thread([this] { work(); });
    } catch (const std::system_error &) {
        // Without a second thread the same surfaces are built on request.
        m_free.clear();
        m_inline = std::make_unique<FastFbmSurface>();
    }
}

SurfacePipeline::~SurfacePipeline()
{
    if (!m_worker.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_workerWake.notify_one();
    m_worker.join();
}

void SurfacePipeline::build(FastFbmSurface &generator, qint64 job, Surface &out) const
{
    out.status =
        generator.generate(hOf(job), std::max(m_plan.rows, m_plan.columns),
                           FbmSurface::defaultMaxLevel, seedOf(job), out.block, m_plan.generator);
    if (out.status != FbmSurface::Status::Ok)
        return;
    out.block.cropTo(m_plan.rows, m_plan.columns);
    blendInto(job, out);
    if (!m_plan.ladderCovers)
        return;
    const auto above = covercut::aboveCounts(out.block);
    const double pointCount = double(out.block.pointCount());
    for (std::size_t k = 0; k < above.size(); ++k)
        out.covers[k] = covercut::coverPercent(double(above[k]) / pointCount);
}

void SurfacePipeline::buildPlain(qint64 job, Surface &out)
{
    out.status = m_plain.generate(hOf(job), std::max(m_plan.rows, m_plan.columns),
                                  FbmSurface::defaultMaxLevel, seedOf(job), m_plan.generator);
    if (out.status != FbmSurface::Status::Ok)
        return;
    m_plain.copyBlock(out.block);
    out.block.cropTo(m_plan.rows, m_plan.columns);
    blendInto(job, out);
    if (!m_plan.ladderCovers)
        return;
    const auto ladder = covercut::thresholds();
    for (std::size_t k = 0; k < ladder.size(); ++k)
        out.covers[k] = covercut::coverPercent(covercut::coverFraction(out.block, ladder[k]));
}

void SurfacePipeline::blendInto(qint64 job, Surface &out) const
{
    if (!m_plan.blend)
        return;
    // The block's points, its extra row and column included: the surface
    // its file holds and its cover is measured on.
    SurfaceBlend::Blended blended =
        m_plan.blend->blend(out.block.values.data(), out.block.stride(), seedOf(job), 0, 1);
    out.blend = std::move(blended.record);
    out.blendFailure = std::move(blended.failure);
}

const SurfacePipeline::Surface &SurfacePipeline::surface(int hIndex, int seed)
{
    const qint64 job = jobOf(hIndex, seed);
    Q_ASSERT(job > m_lastJob && job < m_jobCount);
    m_lastJob = job;

    if (!m_worker.joinable()) {
        Slot &slot = *m_slots.front();
        if (m_inline)
            build(*m_inline, job, slot.surface);
        else
            buildPlain(job, slot.surface);
        slot.job = job;
        return slot.surface;
    }

    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_current)
        m_free.push_back(std::exchange(m_current, nullptr));
    m_wanted = job;
    for (;;) {
        // Surfaces of seeds the run has skipped, built before the worker
        // learnt that the run moved on.
        while (!m_ready.empty() && m_ready.front()->job < job) {
            m_free.push_back(m_ready.front());
            m_ready.pop_front();
        }
        if (!m_ready.empty())
            break;
        m_workerWake.notify_one();
        m_surfaceReady.wait(lock);
    }
    // The worker builds every job from the wanted one on in order, so the
    // first one ready is the one asked for.
    Q_ASSERT(m_ready.front()->job == job);
    m_current = m_ready.front();
    m_ready.pop_front();
    lock.unlock();
    m_workerWake.notify_one();
    return m_current->surface;
}

void SurfacePipeline::work()
{
    FastFbmSurface generator;
    qint64 next = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workerWake.wait(lock, [&] {
            return m_stop || (!m_free.empty() && std::max(next, m_wanted) < m_jobCount);
        });
        if (m_stop)
            return;
        next = std::max(next, m_wanted);
        Slot *slot = m_free.front();
        m_free.pop_front();
        const qint64 job = next++;
        lock.unlock();
        build(generator, job, slot->surface);
        lock.lock();
        slot->job = job;
        m_ready.push_back(slot);
        m_surfaceReady.notify_one();
    }
}
