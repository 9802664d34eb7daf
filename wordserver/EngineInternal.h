// Internals shared by the engine's sources: the running engine's UNO objects, the watchdog
// that bounds every call, and the guard that turns UNO exceptions into statuses.
#pragma once

#include "Engine.h"

#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/RuntimeException.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <exception>
#include <mutex>
#include <string>

namespace wordengine {
namespace css = com::sun::star;
using css::uno::Reference;

namespace detail {

// Serialises every use of the engine: UNO objects of one engine are used from one call at
// a time, which keeps the watchdog's single deadline meaningful.
std::recursive_mutex& EngineMutex();

struct EngineState {
    bool alive = false;
    int pid = 0;
    int generation = 0;  // bumped at every start
    Reference<css::uno::XComponentContext> context;
    Reference<css::frame::XDesktop> desktop;
    Reference<css::frame::XComponentLoader> loader;
};
EngineState& State();

// Closes the documents kept loaded for reuse (at shutdown, or when the engine is gone).
void ParkedClear();
// Marks the engine dead after a failure (kills and reaps the process, drops the proxies).
void MarkDead();
// True while the engine process exists.
bool ProcessAlive();
// True when the engine still answers over its link (a short bounded call).
bool ProbeLink();

// The running engine's private temporary folder (made at its start, removed when it ends);
// empty when no engine runs.
std::string PrivateTempDir();

// The engine may not see the user's folders (EngineSpawn.cpp): a document goes to it through
// a folder of its own in the private temporary folder, under its own name (a hard link, else
// a copy), and what it writes comes back the same way. HandIn gives the path the engine opens,
// empty when the file could not be put there; HandBack removes it again.
std::string HandIn(const std::string& path);
void HandBack(const std::string& handed);
// A fresh place in the private temporary folder for a file named like path (empty when none
// could be made), and moving what the engine wrote there to path (false when it could not).
std::string Outbox(const std::string& path);
bool Deliver(const std::string& written, const std::string& path);

// With FOLIUM_ENGINE_VERBOSE set, says on stderr why an engine call failed.
void LogFailure(const char* what, const rtl::OUString& message);

// Deadline for the current call; the watchdog kills the engine when it passes.
void WatchdogArm(int ms);
// Disarms; true when the deadline had passed and the engine was killed.
bool WatchdogDisarm();

std::string ToUtf8(const rtl::OUString& s);
rtl::OUString FromUtf8(const std::string& s);
// file:// URL of an absolute path, every byte outside the unreserved set percent-encoded.
rtl::OUString FileUrl(const std::string& absolutePath);

// Runs f (returning EngineStatus) against the engine of generation `generation`, bounded
// in time; no exception leaves. A failure that comes with a dead engine is Disconnected.
template <class F>
EngineStatus Guarded(int generation, F&& f, int timeoutMs = -1)
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    EngineState& st = State();
    if (!st.alive || st.generation != generation)
        return EngineStatus::Disconnected;
    WatchdogArm(timeoutMs >= 0 ? timeoutMs : EngineCallTimeoutMs());
    EngineStatus result;
    try {
        result = f();
    } catch (const css::lang::DisposedException& e) {
        LogFailure("disposed", e.Message);
        result = EngineStatus::Disconnected;
    } catch (const css::uno::Exception& e) {
        LogFailure("exception", e.Message);
        result = EngineStatus::Failed;
    } catch (const std::exception& e) {
        LogFailure(e.what(), rtl::OUString());
        result = EngineStatus::Failed;
    } catch (...) {
        result = EngineStatus::Failed;
    }
    if (WatchdogDisarm()) {
        MarkDead();
        return EngineStatus::TimedOut;
    }
    if (result != EngineStatus::Ok && !ProcessAlive()) {
        MarkDead();
        return EngineStatus::Disconnected;
    }
    if (result == EngineStatus::Disconnected) {
        // A disposed object may just be a closed document; only a broken link ends the engine.
        if (!ProbeLink()) {
            MarkDead();
            return EngineStatus::Disconnected;
        }
        result = EngineStatus::Failed;
    }
    return result;
}

}  // namespace detail
}  // namespace wordengine
