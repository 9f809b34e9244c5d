#include "core/DeflateAhead.h"

#include "core/Crc.h"
#include "core/plxDeflate.h"

#include <algorithm>

#include <sched.h>

TDeflateAhead::TDeflateAhead(unsigned Workers)
{
    for (unsigned i = 0; i < Workers; ++i)
        FThreads.emplace_back([this] { Work(); });
}

TDeflateAhead::~TDeflateAhead()
{
    {
        std::lock_guard<std::mutex> hold(FLock);
        FStop = true;
        FQueue.clear();
    }
    FWake.notify_all();
    for (auto& t : FThreads)
        t.join();
}

unsigned TDeflateAhead::CoreCount()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return unsigned(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

void TDeflateAhead::Submit(std::uint32_t Index, std::unique_ptr<TDeflateJob> Job)
{
    if (Has(Index))
        Take(Index);  // a worker may still hold the old one
    TDeflateJob* job = Job.get();
    FBytesHeld += Job->Size;
    FJobs[Index] = std::move(Job);
    {
        std::lock_guard<std::mutex> hold(FLock);
        FQueue.push_back(job);
    }
    FWake.notify_one();
}

std::unique_ptr<TDeflateJob> TDeflateAhead::Take(std::uint32_t Index)
{
    const auto found = FJobs.find(Index);
    if (found == FJobs.end())
        return nullptr;
    std::unique_ptr<TDeflateJob> job = std::move(found->second);
    FJobs.erase(found);
    FBytesHeld -= job->Size;
    std::unique_lock<std::mutex> hold(FLock);
    if (!job->Done) {
        // Not started yet (the workers are busy or not scheduled): pack it here rather than wait.
        const auto queued = std::find(FQueue.begin(), FQueue.end(), job.get());
        if (queued != FQueue.end()) {
            FQueue.erase(queued);
            hold.unlock();
            Pack(*job, FOwnDeflater);
            return job;
        }
    }
    FReady.wait(hold, [&] { return job->Done; });
    return job;
}

void TDeflateAhead::Pack(TDeflateJob& Job, TWholeDeflater& Deflater)
{
    try {
        std::uint32_t crc = CRC_MASK;
        UpdateCrc32(Job.Data.data(), std::int64_t(Job.Data.size()), crc);
        Job.Register = crc;
        Job.Fits = Deflater.Deflate(Job.Data.data(), Job.Data.size(), Job.Level, Job.Packed);
    } catch (...) {
        Job.Failed = true;
    }
    std::vector<std::uint8_t>().swap(Job.Data);
}

void TDeflateAhead::DropUpTo(std::uint32_t Index)
{
    while (!FJobs.empty() && FJobs.begin()->first <= Index)
        Take(FJobs.begin()->first);
}

void TDeflateAhead::Work()
{
    TWholeDeflater deflater;  // this worker's own codec state
    for (;;) {
        TDeflateJob* job = nullptr;
        {
            std::unique_lock<std::mutex> hold(FLock);
            FWake.wait(hold, [&] { return FStop || !FQueue.empty(); });
            if (FStop)
                return;
            job = FQueue.front();
            FQueue.pop_front();
        }
        Pack(*job, deflater);
        {
            std::lock_guard<std::mutex> hold(FLock);
            job->Done = true;
        }
        FReady.notify_all();
    }
}
