#pragma once

#include "runtime/component.h"

#include <cstdint>

// procedure(Sender; Progress): Progress is a percentage 0-100.
T_DECLARE_EVENT(TOnProgress, QObject*, int)

// Frees physical memory for the jobs that follow: takes memory one mebibyte at a time, writes
// every page so that the system has to hand over a physical page for it (reclaiming caches and
// idle programs' pages), then gives it all back. Never takes more than is available at the
// start minus a safety margin, so the run cannot wake the out-of-memory killer or push the
// machine into swap; stops taking as soon as the system refuses a block.
class TMemDefrag : public TComponent {
    Q_OBJECT
    Q_PROPERTY(qint64 TotalMemory READ TotalMemory)
    Q_PROPERTY(qint64 FreeMemory READ FreeMemory)
    Q_PROPERTY(TNotifyEvent OnBeforeDefrag READ OnBeforeDefrag WRITE SetOnBeforeDefrag)
    Q_PROPERTY(TOnProgress OnProgress READ OnProgress WRITE SetOnProgress)
    Q_PROPERTY(TNotifyEvent OnAfterDefrag READ OnAfterDefrag WRITE SetOnAfterDefrag)
public:
    static constexpr std::uint64_t BlockSize = 1024 * 1024;
    static constexpr int MaxBlocks = 1024;

    explicit TMemDefrag(QObject* owner = nullptr);

    // Bytes of physical memory, read when the component was made.
    qint64 TotalMemory() const { return m_total; }
    // Bytes available now, read anew each time.
    qint64 FreeMemory() const;
    bool Defragging() const { return m_defragging; }

    // Takes up to Amount blocks of one mebibyte (at most MaxBlocks, and no more than the safety
    // cap allows) and releases them in the order taken. A call during a run returns at once.
    void Defrag(int Amount);
    // Defrag asked for the whole of memory, as the window's button and the compact job do.
    void DefragAll();
    // Blocks taken by the last run.
    int LastTaken() const { return m_lastTaken; }

    // What must stay available whatever a run takes: 1/32 of the memory, at least 64 MiB.
    static std::uint64_t SafetyMargin(std::uint64_t total);
    // Blocks a run may take with these figures.
    static int BlockCap(std::uint64_t total, std::uint64_t available);
    // steps / total x 100 rounded to the nearest integer, halves to the even neighbour.
    static int Percent(int steps, int total);

    TNotifyEvent OnBeforeDefrag() const { return m_onBefore; }
    void SetOnBeforeDefrag(const TNotifyEvent& e) { m_onBefore = e; }
    TOnProgress OnProgress() const { return m_onProgress; }
    void SetOnProgress(const TOnProgress& e) { m_onProgress = e; }
    TNotifyEvent OnAfterDefrag() const { return m_onAfter; }
    void SetOnAfterDefrag(const TNotifyEvent& e) { m_onAfter = e; }

private:
    qint64 m_total = 0;
    bool m_defragging = false;
    int m_lastTaken = 0;
    TNotifyEvent m_onBefore, m_onAfter;
    TOnProgress m_onProgress;
};

// Lets window descriptions name TMemDefrag.
void RegisterMemDefrag();
