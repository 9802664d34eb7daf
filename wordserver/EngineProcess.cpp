// The engine process's lifetime: start it (private profile, private pipe, private temporary
// folder, no network), connect over UNO, probe it, mark it dead, shut it down, and count the
// automation references that keep it.
#include "EngineInternal.h"
#include "EngineList.h"
#include "ProcessInternal.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <cppuhelper/bootstrap.hxx>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace wordengine {
namespace detail {

using namespace std::chrono;

std::recursive_mutex& EngineMutex()
{
    static auto* m = new std::recursive_mutex;  // never destroyed: used until the very end
    return *m;
}

EngineState& State()
{
    static auto* s = new EngineState;
    return *s;
}

namespace {

int g_refs = 0;            // automation references (EngineAddRef/EngineRelease)

Reference<css::uno::XComponentContext> LocalContext()
{
    static Reference<css::uno::XComponentContext>* ctx = nullptr;
    if (!ctx) {
        setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" LO_PROGRAM_DIR "/fundamentalrc", 0);
        ctx = new Reference<css::uno::XComponentContext>(
            cppu::defaultBootstrap_InitialComponentContext());
    }
    return *ctx;
}

int StartTimeoutMs()
{
    const char* v = getenv("FOLIUM_ENGINE_START_TIMEOUT_MS");
    int ms = v ? atoi(v) : 0;
    return ms > 0 ? ms : 60000;
}

// A node of the engine's configuration, to change and commit.
Reference<css::container::XNameReplace> ConfigNode(const Reference<css::uno::XComponentContext>& remote,
                                                   const char* nodePath)
{
    Reference<css::lang::XMultiServiceFactory> provider = css::configuration::theDefaultProvider::get(remote);
    css::beans::NamedValue path("nodepath", css::uno::Any(rtl::OUString::createFromAscii(nodePath)));
    css::uno::Sequence<css::uno::Any> args(1);
    args[0] <<= path;
    return Reference<css::container::XNameReplace>(
        provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationUpdateAccess", args),
        css::uno::UNO_QUERY_THROW);
}

// Turns off what would let a document make the engine fetch or read anything it names:
// pictures and other content linked from outside the document are not loaded. False when
// the setting could not be made (the engine is then not used).
bool BlockExternalContent(const Reference<css::uno::XComponentContext>& remote)
{
    Reference<css::container::XNameReplace> node = ConfigNode(remote, "/org.openoffice.Office.Common/Security/Scripting");
    node->replaceByName("BlockUntrustedRefererLinks", css::uno::Any(true));
    Reference<css::util::XChangesBatch>(node, css::uno::UNO_QUERY_THROW)->commitChanges();
    bool on = false;
    return (node->getByName("BlockUntrustedRefererLinks") >>= on) && on;
}

// An engine whose profile has not recorded its version as seen tests its drawing back end at
// every start (about 0.4 s of processor time); its own window records it, which a headless
// engine never shows. Recorded here, a reused profile starts without the tests. Only a saving:
// failures are ignored.
void RecordVersionSeen(const Reference<css::uno::XComponentContext>& remote)
{
    try {
        Reference<css::container::XNameReplace> node = ConfigNode(remote, "/org.openoffice.Setup/Product");
        rtl::OUString version, last;
        node->getByName("ooSetupVersion") >>= version;
        node->getByName("ooSetupLastVersion") >>= last;
        if (version.isEmpty() || last == version)
            return;
        node->replaceByName("ooSetupLastVersion", css::uno::Any(version));
        Reference<css::util::XChangesBatch>(node, css::uno::UNO_QUERY_THROW)->commitChanges();
    } catch (const css::uno::Exception& e) {
        LogFailure("version", e.Message);
    }
}

// Tracked changes are coloured by author, and the engine numbers authors in the order it met
// them since it started (its own user first): the same document came out in other colours
// after another with tracked changes. One fixed colour for every author makes a document's
// pictures its own; the dark red is the engine's fifth author colour, near the red Word shows
// for a single reviewer. Failures leave the colours by author (logged).
void FixRevisionColours(const Reference<css::uno::XComponentContext>& remote)
{
    const sal_Int32 kRevisionRed = 0xC5000B;
    for (const char* kind : {"Insert", "Delete", "ChangedAttribute"}) {
        try {
            const std::string path = std::string("/org.openoffice.Office.Writer/Revision/TextDisplay/") + kind;
            Reference<css::container::XNameReplace> node = ConfigNode(remote, path.c_str());
            sal_Int32 colour = 0;
            if ((node->getByName("Color") >>= colour) && colour == kRevisionRed)
                continue;
            node->replaceByName("Color", css::uno::Any(kRevisionRed));
            Reference<css::util::XChangesBatch>(node, css::uno::UNO_QUERY_THROW)->commitChanges();
        } catch (const css::uno::Exception& e) {
            LogFailure("revision colours", e.Message);
        }
    }
}

EngineStatus Start()
{
    EngineState& st = State();
    // The private temporary folder first: a profile falls back into it.
    const std::string pipeName = NewPipeName();
    if (pipeName.empty() || !MakePrivateTemp())
        return EngineStatus::NotStarted;
    std::string profile = TakeProfile();
    const std::string fontConfig = profile.empty() ? std::string() : WriteFontConfig(profile);
    if (fontConfig.empty()) {
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }

    Reference<css::uno::XComponentContext> local;
    try {
        local = LocalContext();
    } catch (...) {
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }

    auto deadline = steady_clock::now() + milliseconds(StartTimeoutMs());
    int restarts = 0;
    int pid = Spawn(pipeName, profile, fontConfig);
    if (pid <= 0) {
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }
    Adopt(pid, pipeName);
    const std::string socketPath = enginelist::PipeSocketPath(pipeName);

    Reference<css::uno::XComponentContext> remote;
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(local);
        rtl::OUString url = "uno:pipe,name=" + FromUtf8(pipeName) + ";urp;StarOffice.ComponentContext";
        while (!remote.is()) {
            // Connect only to a socket of ours: /tmp is shared, and whatever answers on the
            // pipe is trusted with every document.
            int sock = enginelist::PipeSocketState(socketPath);
            if (sock < 0)
                break;
            if (sock > 0) {
                try {
                    remote.set(resolver->resolve(url), css::uno::UNO_QUERY);
                    if (!remote.is())
                        break;
                } catch (const css::connection::NoConnectException&) {
                }
            }
            if (remote.is())
                break;
            int code = 0;
            if (WaitExit(pid, 0, &code)) {
                Unlist(pid);
                // A new profile makes the engine ask for one restart (exit code 81); one
                // whose namespaces could not be made is started again without them.
                if ((code != 81 && !NamespacesFailed(code)) || ++restarts > 3) {
                    pid = 0;
                    break;
                }
                pid = Spawn(pipeName, profile, fontConfig);
                if (pid <= 0)
                    break;
                Adopt(pid, pipeName);
            }
            if (steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(milliseconds(50));
        }
        if (remote.is()) {
            // Everything past the connection is bounded by the watchdog.
            st.pid = pid;
            WatchdogArm(StartTimeoutMs());
            bool blocked = BlockExternalContent(remote);
            RecordVersionSeen(remote);
            FixRevisionColours(remote);
            Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(remote);
            st.desktop.set(desktop, css::uno::UNO_QUERY_THROW);
            st.loader.set(desktop, css::uno::UNO_QUERY_THROW);
            if (WatchdogDisarm())
                throw css::uno::RuntimeException("engine start timed out");
            if (!blocked)
                throw css::uno::RuntimeException("external content could not be blocked");
        }
    } catch (const css::uno::Exception& e) {
        LogFailure("start", e.Message);
        WatchdogDisarm();
        remote.clear();
        st.desktop.clear();
        st.loader.clear();
    } catch (...) {
        WatchdogDisarm();
        remote.clear();
        st.desktop.clear();
        st.loader.clear();
    }
    if (!remote.is() || !st.desktop.is()) {
        if (pid > 0)
            KillAndReap(pid);
        st.pid = 0;
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }
    st.context = remote;
    st.pid = pid;
    st.alive = true;
    st.generation++;
    return EngineStatus::Ok;
}

void DropProxies()
{
    EngineState& st = State();
    // Releasing proxies of a dead link is harmless; of a live one it frees the remote side.
    try {
        st.loader.clear();
        st.desktop.clear();
        st.context.clear();
    } catch (...) {
    }
}

}  // namespace

void LogFailure(const char* what, const rtl::OUString& message)
{
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "wordserver: %s: %s\n", what, ToUtf8(message).c_str());
}

bool ProcessAlive()
{
    EngineState& st = State();
    if (st.pid <= 0)
        return false;
    int status = 0;
    pid_t r = waitpid(st.pid, &status, WNOHANG);
    return r == 0;
}

bool ProbeLink()
{
    EngineState& st = State();
    if (!st.alive || !st.context.is())
        return false;
    WatchdogArm(5000);
    bool ok = true;
    try {
        ok = st.context->getServiceManager().is();
    } catch (...) {
        ok = false;
    }
    if (WatchdogDisarm())
        ok = false;
    return ok;
}

void MarkDead()
{
    EngineState& st = State();
    int pid = st.pid;
    st.alive = false;
    ParkedClear();
    DropProxies();
    KillAndReap(pid);
    st.pid = 0;
    RemovePrivateTemp();
    ReleaseProfile();
}


}  // namespace detail

using namespace detail;

const char* StatusName(EngineStatus s)
{
    switch (s) {
    case EngineStatus::Ok: return "Ok";
    case EngineStatus::NotFound: return "NotFound";
    case EngineStatus::LoadFailed: return "LoadFailed";
    case EngineStatus::NotStarted: return "NotStarted";
    case EngineStatus::Disconnected: return "Disconnected";
    case EngineStatus::TimedOut: return "TimedOut";
    case EngineStatus::BadArgument: return "BadArgument";
    case EngineStatus::Failed: return "Failed";
    }
    return "?";
}

int EngineCallTimeoutMs()
{
    const char* v = getenv("FOLIUM_ENGINE_TIMEOUT_MS");
    int ms = v ? atoi(v) : 0;
    return ms > 0 ? ms : 60000;
}

EngineStatus EngineEnsure()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    EngineState& st = State();
    if (st.alive && ProcessAlive())
        return EngineStatus::Ok;
    if (st.alive)
        MarkDead();
    return Start();
}

int EnginePid()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    return State().alive ? State().pid : 0;
}

int EngineGeneration()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    return State().generation;
}

void ClipboardClear();

void EngineShutdown()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    EngineState& st = State();
    ClipboardClear();
    ParkedClear();
    if (!st.alive) {
        if (st.pid > 0)
            MarkDead();
        return;
    }
    int pid = st.pid;
    // Ask the engine to end; the link drops while it does, which is expected.
    WatchdogArm(5000);
    try {
        if (st.desktop.is())
            st.desktop->terminate();
    } catch (...) {
    }
    WatchdogDisarm();
    st.alive = false;
    DropProxies();
    WaitExit(pid, 5000, nullptr);
    KillAndReap(pid);
    st.pid = 0;
    RemovePrivateTemp();
    ReleaseProfile();
}

void EngineAddRef()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    ++g_refs;
}

void EngineRelease()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    if (g_refs > 0 && --g_refs == 0)
        EngineShutdown();
}

}  // namespace wordengine
