// The engine's own font configuration: the system's (or the user's FONTCONFIG_FILE), then the
// program's stand-ins for Word fonts that have no metric-compatible clone, then the font
// folders the user adds. Written into the engine's private folder at every start, so the
// user's and the system's font settings are never changed.
#include "EngineInternal.h"
#include "ProcessInternal.h"
#include "WordFonts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace wordengine {
namespace detail {

namespace {

std::string XmlText(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

bool WriteNewFile(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return close(fd) == 0 && done == text.size();
}

}  // namespace

std::vector<std::string> ExtraFontFolders()
{
    std::vector<std::string> folders;
    const char* list = getenv("FOLIUM_ENGINE_FONTS");
    for (std::string rest = list ? list : ""; !rest.empty();) {
        const size_t colon = rest.find(':');
        const std::string one = rest.substr(0, colon);
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        if (!one.empty() && one[0] == '/')
            folders.push_back(one);
    }
    return folders;
}

std::string WriteFontConfig(const std::string& profile)
{
    const std::string table = g_tempDir + "/word-fonts.conf";
    const std::string file = g_tempDir + "/fonts.conf";
    // The system's configuration as the user's programs see it.
    const char* own = getenv("FONTCONFIG_FILE");
    const std::string base = own && *own == '/' ? own : "/etc/fonts/fonts.conf";
    std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                       "<fontconfig>\n";
    // Caches of fonts the system has not cached (a user's folders) go with the profile, never
    // into the system's cache folder (which root could write) or the user's.
    text += "  <cachedir>" + XmlText(profile) + "/fontconfig</cachedir>\n";
    text += "  <include ignore_missing=\"yes\">" + XmlText(base) + "</include>\n";
    for (const std::string& dir : ExtraFontFolders())
        text += "  <dir>" + XmlText(dir) + "</dir>\n";
    text += "  <include>" + XmlText(table) + "</include>\n</fontconfig>\n";
    if (!WriteNewFile(table, kWordFonts) || !WriteNewFile(file, text))
        return std::string();
    return file;
}

}  // namespace detail
}  // namespace wordengine
