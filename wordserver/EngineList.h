// The per-user list of running engines (what "taskkill -F -IM winword.exe" reads), and the
// checks that make a listed process id safe to signal: a process id alone may by now belong
// to anyone's process, so an entry also names the engine's start time, its pipe (which is on
// its command line) and the process that started it. No UNO here: the taskkill tool links it.
#pragma once

#include <string>
#include <vector>

namespace enginelist {

struct Entry {
    int pid = 0;
    unsigned long long start = 0;       // start time of the engine (clock ticks after boot)
    int owner = 0;                      // the process that started it
    unsigned long long ownerStart = 0;  // and that process's start time
    std::string pipe;                   // pipe name, part of the engine's --accept argument
};

// folium-engine-<uid>.pids in the runtime folder (RuntimeFolder); empty when there is none.
std::string ListPath();

// The --accept argument an engine listening on this pipe is started with.
std::string AcceptArgument(const std::string& pipe);

// Where an engine's pipe appears: the UNO runtime puts a named pipe's socket in /tmp (in
// /var/tmp when /tmp is not writable), named after the user and the pipe.
std::string PipeSocketPath(const std::string& pipe);
// 1 when the socket at path exists and is ours (a socket, not a link, of this user, with no
// access for group or others), 0 while nothing is there yet, -1 when something else holds
// the name: the client connects to the pipe only at 1.
int PipeSocketState(const std::string& path);

// Start time of a process from /proc/<pid>/stat (field 22); false when it does not exist.
bool StartTime(int pid, unsigned long long* start);
// Parent of a process; false when it does not exist.
bool ParentOf(int pid, int* parent);

// True when the entry's process is, right now, the engine it lists: same start time, this
// user's, and its command line carries the entry's --accept argument.
bool IsListedEngine(const Entry& e);
// True when the entry's starting process is this process or one of its ancestors (the
// taskkill run by a program through its shell ends that program's engines only).
bool OwnedByUs(const Entry& e);

// A pidfd of the process (-1 when there is none, errno telling why: ENOSYS on kernels
// before 5.3), and a signal sent through one (true when sent).
int PidfdOpen(int pid);
bool PidfdSignal(int pidfd, int sig);

// Signals the entry's engine only after IsListedEngine holds for the very process that is
// signalled (through a pidfd opened before the check). False when not signalled.
bool SignalVerified(const Entry& e, int sig);

// The list, held under an exclusive lock from Open to the destructor. The file must be a
// regular file of this user (it may sit in /tmp).
class LockedList {
public:
    LockedList() = default;
    ~LockedList();
    LockedList(const LockedList&) = delete;
    LockedList& operator=(const LockedList&) = delete;

    bool Open();
    // Entries in the file; malformed lines are skipped.
    std::vector<Entry> Read();
    // Replaces the whole content. False when it could not be written.
    bool Write(const std::vector<Entry>& entries);

private:
    int m_fd = -1;
};

// Adds an engine (dropping entries whose engine is gone). False when the list is unusable.
bool Add(const Entry& e);
// Removes the engine with this pid and start time (and entries whose engine is gone).
void Remove(int pid, unsigned long long start);

// What taskkill does: signals the listed engines started by this process or its ancestors,
// each verified first, and drops them and every dead entry from the list. Returns the pids
// signalled.
std::vector<int> EndOwnEngines(int sig);

}  // namespace enginelist
