// Members deflated by worker threads ahead of the writer. The calling thread reads each member and
// hands its bytes over; the workers only compress them; the calling thread takes the results in
// its own order and does every write, event and file-system step itself.
#pragma once

#include "core/plxConsts.h"
#include "core/plxDeflate.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One member's work: filled by the caller, finished by a worker, then owned by the caller again.
struct TDeflateJob {
    std::vector<std::uint8_t> Data;  // the member as read; released once packed
    std::int64_t Size = 0;           // bytes read
    TDeflateType Level = dtDeflateN;
    std::vector<std::uint8_t> Packed;  // empty when the packed form would not be smaller (Fits false)
    std::uint32_t Register = 0;        // the CRC-32 register of Data, not complemented
    bool Fits = false;
    bool Failed = false;  // the worker could not pack it: the caller does it itself
    bool Done = false;
};

class TDeflateAhead {
public:
    // Workers >= 1.
    explicit TDeflateAhead(unsigned Workers);
    // Stops the workers; work not yet started is dropped.
    ~TDeflateAhead();
    TDeflateAhead(const TDeflateAhead&) = delete;
    TDeflateAhead& operator=(const TDeflateAhead&) = delete;

    void Submit(std::uint32_t Index, std::unique_ptr<TDeflateJob> Job);
    bool Has(std::uint32_t Index) const { return FJobs.count(Index) != 0; }
    // Waits for the job of Index and hands it back; null when none was submitted.
    std::unique_ptr<TDeflateJob> Take(std::uint32_t Index);
    // Drops the jobs of Index and below (entries that did not use theirs).
    void DropUpTo(std::uint32_t Index);
    // Input bytes held by jobs not yet taken.
    std::int64_t BytesHeld() const { return FBytesHeld; }
    std::size_t JobsHeld() const { return FJobs.size(); }

    // The workers a run may use: one per core the process may run on.
    static unsigned CoreCount();

private:
    void Work();
    static void Pack(TDeflateJob& Job, TWholeDeflater& Deflater);

    std::vector<std::thread> FThreads;
    TWholeDeflater FOwnDeflater;                                  // the caller's, for work it takes back from the queue
    std::map<std::uint32_t, std::unique_ptr<TDeflateJob>> FJobs;  // the caller's side only
    std::int64_t FBytesHeld = 0;                                  // the caller's side only
    mutable std::mutex FLock;
    std::condition_variable FWake;   // workers: work or stop
    std::condition_variable FReady;  // caller: a job is done
    std::deque<TDeflateJob*> FQueue;
    bool FStop = false;
};
