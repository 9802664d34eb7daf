// When the word-processor engine is replaced by a fresh one. An engine grows with every
// document it converts (about 2 MB each) and gives nothing back, so a long run ends it between
// documents, never within one, once it is past a resident size or a number of documents; the
// next document starts a fresh engine on the same warm profile.
#pragma once

class CxEngineLimit {
public:
    // Limits in megabytes and documents; 0 for none.
    CxEngineLimit(int nMemoryMb, int nDocuments) : m_nMemoryMb(nMemoryMb), m_nDocuments(nDocuments) {}

    // Counts one more document on the current engine, whose process is nEnginePid (0: not
    // known). True when the engine is due: the caller ends it before the next document.
    bool DocumentDone(int nEnginePid);
    // Whether DocumentDone looks at the engine's memory (else its pid is not needed).
    bool WatchesMemory() const { return m_nMemoryMb > 0; }
    // A fresh engine: counting starts again.
    void Replaced() { m_nDone = 0; }

    // Resident memory of a process in megabytes (VmRSS); -1 when it cannot be read.
    static long ResidentMegabytes(int pid);
    // The engine this process started, as the engine list names it; 0 when none runs.
    static int OwnEngine();

private:
    int m_nMemoryMb;
    int m_nDocuments;
    int m_nDone = 0;
};
