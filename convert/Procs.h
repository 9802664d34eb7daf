// The processes a run starts, as /proc tells them: parents, states and children.
#pragma once

#include <vector>

namespace convert {

// Parent id and state of a process; false when it does not exist.
bool ProcStat(int pid, int* ppid, char* state);
// Every process id in /proc.
std::vector<int> ListProcesses();
// The live children of pid (a worker's engine processes, a worker's own engines).
std::vector<int> ChildrenOf(int parent);
// Whether the process has ended (gone, or a zombie).
bool ProcessGone(int pid);

}  // namespace convert
