// What the main dialog makes of a run's overall progress and of its end:
// the time left and the line that says how the run ended.
#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <utility>

#include <copy_ledger.h>

// An estimate of the time left from the items done lately. The rate is
// taken over the last kWindowMs only: a resumed run skips the items already
// there much faster than it copies, and those first seconds must not promise
// an end that the copying cannot keep.
class CTimeLeft {
public:
    static constexpr qint64 kWindowMs = 30000;
    // Too short a stretch gives a rate that jumps with every item.
    static constexpr qint64 kMinSpanMs = 2000;

    // Forgets every sample: a new run.
    void Reset() { m_samples.clear(); }
    // done items at nowMs (a steady clock, never going back).
    void Add(uint64_t done, qint64 nowMs);
    // Seconds left until total, or -1 while too little is known or nothing
    // moves.
    qint64 SecondsLeft(uint64_t total) const;

private:
    std::deque<std::pair<qint64, uint64_t>> m_samples;  // time, done
};

// "about 3 min left" in the resource language; the empty text for -1.
QString TimeLeftText(qint64 seconds);

// The status line at the end of a run in the resource language: how it
// ended and what it copied; a walk that finished with damage names each
// kind of loss (salvaged, failed, skipped folders) and points to the log.
// The ledger's Summary line has the rest.
QString OutcomeText(quirnel::RunOutcome outcome, const quirnel::CopyLedger& ledger);

// The run salvaged or failed items or skipped folders.
bool HasDamage(const quirnel::CopyLedger& ledger);
