// The engine against hostile documents and a shared machine: links out of a document are not
// followed nor the files they name opened, the engine's pipe, files and network are its own, its temporary folders go away,
// profiles others could write are not used, and positions deep inside a long paragraph map
// to the right place.
#include <gtest/gtest.h>

#include "PagePixels.h"
#include "TempDir.h"
#include "WordServerTest.h"
#include "app/OptionSettings.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace wstest;

namespace {

// One page: a line of text, a 5 x 3.75 cm picture linked (not embedded) from target, a line.
std::string LinkedPictureDocx(const std::string& target)
{
    const std::string types =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)";
    const std::string rels =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
    const std::string docRels =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target=")" +
        target + R"(" TargetMode="External"/></Relationships>)";
    const std::string doc =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"><w:body>)"
        R"(<w:p><w:r><w:t>Linked picture below</w:t></w:r></w:p><w:p><w:r><w:drawing><wp:inline><wp:extent cx="1800000" cy="1350000"/><wp:docPr id="1" name="Picture 1"/>)"
        R"(<a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture"><pic:pic><pic:nvPicPr><pic:cNvPr id="1" name="p.png"/><pic:cNvPicPr/></pic:nvPicPr>)"
        R"(<pic:blipFill><a:blip r:link="rId5"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="1800000" cy="1350000"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>)"
        R"(<w:p><w:r><w:t>End</w:t></w:r></w:p></w:body></w:document>)";
    return StoredZip({{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"word/_rels/document.xml.rels", docRels},
                      {"word/document.xml", doc}});
}

// An 8 x 8 pure red PNG.
const unsigned char kRedPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x02, 0x00, 0x00, 0x00, 0x4b, 0x6d, 0x29, 0xdc, 0x00, 0x00, 0x00, 0x11, 0x49,
    0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0xcf, 0xc0, 0x80, 0x15, 0x31, 0x0c, 0x2d, 0x09, 0x00, 0x28, 0xff, 0x3f,
    0xc1, 0xce, 0x77, 0xc8, 0x4f, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// A local HTTP server that answers every request with the red picture and counts the
// connections made to it.
class PictureServer {
public:
    PictureServer()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || bind(m_fd, (sockaddr*)&a, sizeof a) != 0 || listen(m_fd, 16) != 0 ||
            getsockname(m_fd, (sockaddr*)&a, &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~PictureServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    int Port() const { return m_port; }
    int Connections() const { return m_connections; }

private:
    void Serve()
    {
        while (!m_stop) {
            pollfd p = {m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int c = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            ++m_connections;
            char buf[4096];
            pollfd q = {c, POLLIN, 0};
            if (poll(&q, 1, 1000) > 0 && read(c, buf, sizeof buf) > 0) {
                std::string head = "HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                   std::to_string(sizeof kRedPng) + "\r\nConnection: close\r\n\r\n";
                ssize_t w = write(c, head.data(), head.size());
                w = write(c, kRedPng, sizeof kRedPng);
                (void)w;
            }
            close(c);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// Pixels of the page as the Word layer draws it (0x00RRGGBB), empty when it cannot.
std::vector<uint32_t> DrawFirstPage(const std::string& path, bool* converted)
{
    CxWordUtil util;
    CxWordDoc doc(&util);
    std::vector<uint32_t> px;
    *converted = false;
    if (!doc.Open(path.c_str()))
        return px;
    HDC screen = GetDC(nullptr);
    POINT size;
    px = PagePixels(doc, 0, screen, &size, converted);
    ReleaseDC(nullptr, screen);
    doc.Close();
    return px;
}

int RedPixels(const std::vector<uint32_t>& px)
{
    int n = 0;
    for (uint32_t p : px)
        n += ((p >> 16) & 0xff) > 200 && ((p >> 8) & 0xff) < 80 && (p & 0xff) < 80;
    return n;
}

std::string ReadText(const std::string& path)
{
    return ReadWhole(path);
}

// Status line value of a process ("Umask", "Uid", ...), empty when absent.
std::string StatusField(int pid, const std::string& name)
{
    std::string s = ReadText("/proc/" + std::to_string(pid) + "/status");
    size_t p = s.find("\n" + name + ":");
    if (p == std::string::npos)
        return std::string();
    p = s.find_first_not_of(" \t", p + name.size() + 2);
    return s.substr(p, s.find('\n', p) - p);
}

// NUL-separated strings of /proc/<pid>/<what> (cmdline, environ).
std::vector<std::string> ProcStrings(int pid, const char* what)
{
    std::string s = ReadText("/proc/" + std::to_string(pid) + "/" + what);
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        size_t z = s.find('\0', i);
        if (z == std::string::npos)
            z = s.size();
        out.push_back(s.substr(i, z - i));
        i = z + 1;
    }
    return out;
}

std::string Link(const std::string& path)
{
    char buf[256];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// True when this system lets an unprivileged process make a network namespace (as the
// engine's start tries).
bool NetworkNamespacesAllowed()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The engine-XXXXXX folders under the temporary folder.
std::vector<std::string> EngineTempDirs()
{
    std::vector<std::string> out;
    const char* t = getenv("TMPDIR");
    std::string base = t && *t ? t : "/tmp";
    if (DIR* d = opendir(base.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() == 20 && n.compare(0, 14, "folium-engine-") == 0)
                out.push_back(base + "/" + n);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}


// Flat text of a line, a picture linked from target (a path), and a line: the engine saves it
// as a .doc with an INCLUDEPICTURE field.
std::string LinkedPictureBody(const std::string& target)
{
    return Para("Before") + R"(<text:p><draw:frame draw:name="P1" text:anchor-type="as-char" svg:width="5cm" svg:height="3.75cm">)"
           R"(<draw:image xlink:href="file://)" + target + R"(" xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/>)"
           R"(</draw:frame></text:p>)" + Para("End");
}

std::string Utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii)
        out += std::string(1, c) + '\0';
    return out;
}

// A .doc with an INCLUDETEXT field: the engine's INCLUDEPICTURE field of a picture beside the
// target, its instruction and its type in the field table (67) turned into INCLUDETEXT's (68).
bool IncludeTextDoc(Word& word, const std::string& dir, const std::string& target, const std::string& out)
{
    const std::string folder = target.substr(0, target.rfind('/'));
    if (!MakeDocument(word, dir, LinkedPictureBody(folder + "/red.png"), out))
        return false;
    std::string bytes = ReadWhole(out);
    const std::string from = Utf16("INCLUDEPICTURE  \"file://" + folder + "/red.png\" \\d"), type("\x13\x43", 2);
    std::string to = "INCLUDETEXT \"file://" + target + "\"";
    const size_t at = bytes.find(from), typeAt = bytes.find(type);
    if (to.size() > from.size() / 2 || at == std::string::npos || typeAt == std::string::npos ||
        bytes.find(type, typeAt + 1) != std::string::npos)
        return false;
    to.resize(from.size() / 2, ' ');
    bytes.replace(at, from.size(), Utf16(to));
    bytes[typeAt + 1] = 0x44;
    std::ofstream(out, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

// Opens and reads of files and folders, from inotify.
class OpenWatch {
public:
    OpenWatch() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch() { close(m_fd); }
    bool Add(const std::string& path) { return inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_ACCESS) >= 0; }
    // "OPEN name" or "ACCESS name" for each event since the last call (no name: the watched file).
    std::string Events()
    {
        std::string out;
        alignas(inotify_event) char buf[8192];
        ssize_t n;
        while ((n = read(m_fd, buf, sizeof buf)) > 0)
            for (char* p = buf; p < buf + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                out += std::string(e->mask & IN_OPEN ? " OPEN " : " ACCESS ") + (e->len ? e->name : "");
            }
        return out;
    }

private:
    int m_fd;
};

}  // namespace

// A picture linked from a web address or a local file is not fetched and not drawn: no
// request reaches the server, no red pixel is on the page, and the page still converts.
TEST(EngineSafety, LinkedPicturesAreNotFetched)
{
    TempDir dir;
    std::string temp = dir / "temp/";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    snprintf(OptionSettings.TempPath, sizeof OptionSettings.TempPath, "%s", temp.c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    PictureServer server;
    ASSERT_GT(server.Port(), 0);
    std::string png = dir / "red.png";
    {
        std::ofstream f(png, std::ios::binary);
        f.write(reinterpret_cast<const char*>(kRedPng), sizeof kRedPng);
    }
    struct Row {
        const char* name;
        std::string target;
    } rows[] = {
        {"http.docx", "http://127.0.0.1:" + std::to_string(server.Port()) + "/red.png"},
        {"file.docx", "file://" + png},
    };
    Word word;
    ASSERT_NE(word.docs, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string path = dir.Write(r.name, LinkedPictureDocx(r.target));
        bool converted = false;
        std::vector<uint32_t> px = DrawFirstPage(path, &converted);
        EXPECT_TRUE(converted);
        ASSERT_FALSE(px.empty());
        EXPECT_EQ(RedPixels(px), 0);
        EXPECT_EQ(server.Connections(), 0);
    }
}

// No file a document names is opened while it loads and its page is drawn, and the page still
// converts: pictures linked or included (refused by the engine's settings, or by the RTF
// reader opening them itself: hidden from the engine with the user's folders), text included
// by a link (not updated at load), an object linked from a file and DDE links to the office
// itself. Each file lies in the home folder, watched with its folder.
TEST(EngineSafety, LinkedFilesAreNotOpened)
{
    TempDir dir;
    snprintf(OptionSettings.TempPath, sizeof OptionSettings.TempPath, "%s", (dir / "").c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    std::string home = std::string(getenv("HOME")) + "/links-XXXXXX";
    ASSERT_TRUE(mkdtemp(&home[0]));
    Word word;
    ASSERT_NE(word.docs, nullptr);
    const std::string png(reinterpret_cast<const char*>(kRedPng), sizeof kRedPng);
    const std::string fodt = Fodt(Para("Another document"));  // what the office opens as a document
    const std::string dde = R"(" office:dde-item="" office:automatic-update="true"/>)";
    // The document's file name and its content (written by the test) or maker (the engine's).
    using Content = std::function<std::string(const std::string& target)>;
    using Maker = std::function<bool(const std::string& target, const std::string& out)>;
    struct Row {
        const char *name, *file;
        Content content;
        Maker make;
        const char* target;
        std::string targetContent;
    } rows[] = {
        {"docx picture linked by r:link", "a.docx", [](const std::string& t) { return LinkedPictureDocx("file://" + t); },
         nullptr, "red.png", png},
        {"doc INCLUDEPICTURE", "a.doc", nullptr,
         [&](const std::string& t, const std::string& out) { return MakeDocument(word, dir.Path(), LinkedPictureBody(t), out); },
         "red.png", png},
        {"doc INCLUDETEXT", "a.doc", nullptr,
         [&](const std::string& t, const std::string& out) { return IncludeTextDoc(word, dir.Path(), t, out); },
         "included.txt", "Included text\n"},
        {"rtf INCLUDEPICTURE", "a.doc",
         [](const std::string& t) {
             return R"({\rtf1\ansi Before\par {\field{\*\fldinst INCLUDEPICTURE ")" + t + R"(" \\d}{\fldrslt picture}}\par End\par})";
         },
         nullptr, "red.png", png},
        {"flat text object linked from a file", "a.doc",
         [](const std::string& t) {
             return Fodt(Para("Before") + R"(<text:p><draw:frame text:anchor-type="as-char" svg:width="4cm" svg:height="2cm">)"
                         R"(<draw:object xlink:href="file://)" + t + R"(" xlink:type="simple" xlink:show="embed"/></draw:frame></text:p>)");
         },
         nullptr, "data.fodt", fodt},
        {"flat text DDE field and section", "a.doc",
         [&](const std::string& t) {
             return Fodt(R"(<text:dde-connection-decls><text:dde-connection-decl office:name="L1" office:dde-application="soffice" office:dde-topic=")" +
                         t + dde + "</text:dde-connection-decls>" + Para("Before") +
                         R"(<text:p><text:dde-connection text:connection-name="L1">data</text:dde-connection></text:p><text:section text:name="S1">)"
                         R"(<office:dde-source office:dde-application="soffice" office:dde-topic=")" + t + dde + "<text:p>data</text:p></text:section>");
         },
         nullptr, "data.fodt", fodt},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string folder = home + "/" + std::to_string(++n), target = folder + "/" + r.target;
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        std::ofstream(target, std::ios::binary) << r.targetContent;
        const std::string path = dir / (std::to_string(n) + r.file);
        ASSERT_TRUE(r.content ? !dir.Write(std::to_string(n) + r.file, r.content(target)).empty() : r.make(target, path));
        // The document does name the file (a .doc in UTF-16).
        const std::string bytes = ReadWhole(path);
        ASSERT_TRUE(bytes.find(r.target) != std::string::npos || bytes.find(Utf16(r.target)) != std::string::npos);
        OpenWatch watch;
        ASSERT_TRUE(watch.Add(folder) && watch.Add(target));
        bool converted = false;
        std::vector<uint32_t> px = DrawFirstPage(path, &converted);
        EXPECT_TRUE(converted);
        EXPECT_NE(std::count(px.begin(), px.end(), 0xffffffu), std::ptrdiff_t(px.size())) << "blank page";
        EXPECT_EQ(watch.Events(), "") << r.name;
    }
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
}

// The engine's pipe and files are the user's alone, its pipe name cannot be guessed, its
// temporary files go to a private folder, and it has no network of its own where the
// system allows that.
TEST(EngineSafety, EngineRunsPrivately)
{
    TempDir dir;
    Word word;
    std::string path = dir / "a.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Hello"), path));
    std::vector<ListedEngine> engines = ListedEngines();
    ASSERT_EQ(engines.size(), 1u);
    const ListedEngine& e = engines[0];

    EXPECT_EQ(StatusField(e.pid, "Umask"), "0077");
    // "folium-" and 128 random bits.
    ASSERT_EQ(e.pipe.size(), 7u + 32u) << e.pipe;
    EXPECT_EQ(e.pipe.find_first_not_of("0123456789abcdef", 7), std::string::npos) << e.pipe;
    struct stat sb;
    std::string sock = "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_" + e.pipe;
    ASSERT_EQ(lstat(sock.c_str(), &sb), 0) << sock;
    EXPECT_TRUE(S_ISSOCK(sb.st_mode));
    EXPECT_EQ(sb.st_mode & 077, 0u) << std::oct << sb.st_mode;

    std::string tmpdir;
    for (const std::string& v : ProcStrings(e.pid, "environ"))
        if (v.compare(0, 7, "TMPDIR=") == 0)
            tmpdir = v.substr(7);
    std::vector<std::string> dirs = EngineTempDirs();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(tmpdir, dirs[0] + "/tmp");
    ASSERT_EQ(lstat(dirs[0].c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0700u);

    if (NetworkNamespacesAllowed())
        EXPECT_NE(Link("/proc/" + std::to_string(e.pid) + "/ns/net"), Link("/proc/self/ns/net"));
    else
        printf("network namespaces not allowed here: the engine shares the network\n");
}

// The engine's private folder goes when the engine ends; folders left by engines that were
// killed with their program go at the next start; one still held, a link and anything of
// another name are left alone.
TEST(EngineSafety, TemporaryFoldersAreRemoved)
{
    const char* t = getenv("TMPDIR");
    ASSERT_TRUE(t && *t);
    const std::string base = t;
    TempDir outside;
    std::string outsideFile = outside.Write("keep.txt", "keep");
    ASSERT_EQ(mkdir((base + "/folium-engine-stale1").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((base + "/folium-engine-stale1/tmp").c_str(), 0700), 0);
    std::ofstream(base + "/folium-engine-stale1/tmp/lu1.tmp") << "x";
    ASSERT_EQ(mkdir((base + "/folium-engine-held01").c_str(), 0700), 0);
    int held = open((base + "/folium-engine-held01").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ASSERT_EQ(symlink(outside.Path().c_str(), (base + "/folium-engine-link01").c_str()), 0);
    ASSERT_EQ(mkdir((base + "/folium-engine-other").c_str(), 0700), 0);

    std::vector<std::string> before = EngineTempDirs();
    {
        TempDir dir;
        Word word;
        std::string path = dir / "a.docx";
        ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Hello"), path));
        std::vector<std::string> running = EngineTempDirs();
        struct stat sb;
        EXPECT_NE(lstat((base + "/folium-engine-stale1").c_str(), &sb), 0);
        EXPECT_EQ(lstat((base + "/folium-engine-held01").c_str(), &sb), 0);
        EXPECT_EQ(lstat((base + "/folium-engine-other").c_str(), &sb), 0);
        EXPECT_EQ(ReadWhole(outsideFile), "keep");
        // The held folder, the link, and the running engine's own.
        EXPECT_EQ(running.size(), 3u);
    }
    // The last reference is gone: the engine has ended and its folder with it.
    std::vector<std::string> after = EngineTempDirs();
    std::vector<std::string> expected = {base + "/folium-engine-held01", base + "/folium-engine-link01"};
    EXPECT_EQ(after, expected);
    EXPECT_EQ(ReadWhole(outsideFile), "keep");
    close(held);
    rmdir((base + "/folium-engine-held01").c_str());
    unlink((base + "/folium-engine-link01").c_str());
    rmdir((base + "/folium-engine-other").c_str());
}

// A profile folder (or the folder of profiles) that another user could write into is not
// used, and it is left as it was.
TEST(EngineSafety, ProfilesOthersCanWriteAreNotUsed)
{
    const std::string savedCache = getenv("XDG_CACHE_HOME") ? getenv("XDG_CACHE_HOME") : "";
    struct Row {
        const char* name;
        mode_t baseMode, profile0Mode;
        bool starts;
        const char* profile;  // the profile the engine uses
    } rows[] = {
        {"private", 0700, 0700, true, "/profile-0"},
        {"profile group-writable", 0700, 0770, true, "/profile-1"},
        {"profile world-writable", 0700, 0707, true, "/profile-1"},
        // Not used: a fresh profile in the engine's private temporary folder instead.
        {"profiles folder group-writable", 0770, 0700, true, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir cache;
        std::string base = cache / "folium-engine";
        ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((base + "/profile-0").c_str(), 0700), 0);
        ASSERT_EQ(chmod(base.c_str(), r.baseMode), 0);
        ASSERT_EQ(chmod((base + "/profile-0").c_str(), r.profile0Mode), 0);
        std::string cacheHome = cache.Path();
        cacheHome.pop_back();  // no trailing '/'
        setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
        {
            Word word;
            ASSERT_NE(word.docs, nullptr);
            TempDir dir;
            std::string src = dir.Write("a.fodt", Fodt(Para("Hello")));
            HRESULT hr = S_OK;
            IDispatch* doc = word.Open(src, &hr);
            EXPECT_EQ(doc != nullptr, r.starts) << std::hex << hr;
            if (doc)
                doc->Release();
            std::vector<ListedEngine> engines = ListedEngines();
            if (r.starts) {
                ASSERT_EQ(engines.size(), 1u);
                std::vector<std::string> args = ProcStrings(engines[0].pid, "cmdline");
                if (r.profile) {
                    std::string want = "-env:UserInstallation=file://" + base + r.profile;
                    EXPECT_NE(std::find(args.begin(), args.end(), want), args.end()) << want;
                } else {
                    const std::string want = "-env:UserInstallation=file://" + std::string(getenv("TMPDIR")) +
                                             "/folium-engine-";
                    EXPECT_NE(std::find_if(args.begin(), args.end(),
                                           [&](const std::string& a) {
                                               return a.rfind(want, 0) == 0 && a.size() > 8 &&
                                                      a.compare(a.size() - 8, 8, "/profile") == 0;
                                           }),
                              args.end())
                        << "no profile in the private temporary folder";
                }
            } else {
                EXPECT_TRUE(engines.empty());
            }
        }
        if (r.profile) {
            // The engine recorded its version as seen: the next start on this profile skips
            // testing its drawing back end.
            const std::string xcu = ReadWhole(base + r.profile + "/user/registrymodifications.xcu");
            EXPECT_NE(xcu.find("\"ooSetupLastVersion\""), std::string::npos);
        }
        struct stat sb;
        ASSERT_EQ(stat((base + "/profile-0").c_str(), &sb), 0);
        EXPECT_EQ(sb.st_mode & 0777, r.profile0Mode);
        ASSERT_EQ(stat(base.c_str(), &sb), 0);
        EXPECT_EQ(sb.st_mode & 0777, r.baseMode);
        chmod(base.c_str(), 0700);
    }
    setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
}

// A paragraph of 100,000 characters over many pages: each page's start, copied out through
// Range and Copy, is the text that lies at that position (positions past the first 32,767
// characters of a paragraph used to land short of it).
TEST(WordServerPositions, PagesStartingDeepInsideALongParagraph)
{
    TempDir dir;
    Word word;
    // "w00000 w00001 ...": every 7 characters name their own place.
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) {
        char w[16];
        snprintf(w, sizeof w, "w%05d ", i);
        text += w;
    }
    text.resize(100000);
    const std::string lead = "Lead";  // positions 0-4 (mark included); the paragraph from 5
    std::string path = dir / "long.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para(lead) + Para(text), path));
    std::string tmpl = dir / "template.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Template"), tmpl));
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(ContentEnd(doc), LONG(lead.size() + 1 + text.size() + 1));
    int pages = CountPagesByGoto(doc);
    ASSERT_GE(pages, 10);
    int deep = 0;
    for (int page = 2; page <= pages; ++page) {
        IDispatch* r = CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Long(page), Arg::Omitted()});
        ASSERT_NE(r, nullptr);
        LONG start = GetLong(r, u"Start");
        r->Release();
        const LONG offset = start - LONG(lead.size() + 1);
        ASSERT_GT(offset, 0);
        ASSERT_LT(offset + 16, LONG(text.size()));
        deep += offset > 32767 + 64;
        IDispatch* range = CallObject(doc, u"Range", {Arg::Long(start), Arg::Long(start + 16)});
        ASSERT_NE(range, nullptr);
        EXPECT_EQ(Call(range, u"Copy", DISPATCH_METHOD, {}, nullptr), S_OK);
        range->Release();
        IDispatch* t = word.Open(tmpl);
        ASSERT_NE(t, nullptr);
        IDispatch* all = CallObject(t, u"Range", {});
        ASSERT_NE(all, nullptr);
        EXPECT_EQ(Call(all, u"Paste", DISPATCH_METHOD, {}, nullptr), S_OK);
        all->Release();
        std::string rtf = dir / ("page" + std::to_string(page) + ".rtf");
        EXPECT_EQ(Call(t, u"SaveAs", DISPATCH_METHOD, {Arg::Str(rtf)}, nullptr), S_OK);
        Call(t, u"Close", DISPATCH_METHOD, {}, nullptr);
        t->Release();
        std::string saved = ReadWhole(rtf);
        saved.erase(std::remove(saved.begin(), saved.end(), '\n'), saved.end());
        saved.erase(std::remove(saved.begin(), saved.end(), '\r'), saved.end());
        const std::string want = text.substr(size_t(offset), 16);
        EXPECT_NE(saved.find(want), std::string::npos) << "page " << page << " at " << start << ": want \"" << want << "\"";
    }
    EXPECT_GE(deep, 3);
    Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
    doc->Release();
}

// An engine started from a thread that then ends keeps running for the program (a worker
// may be the first to need it); the next call from another thread uses the same engine.
TEST(EngineSafety, EngineOutlivesTheThreadThatStartedIt)
{
    TempDir dir;
    Word word;
    ASSERT_NE(word.docs, nullptr);
    std::string path = dir / "a.docx";
    bool made = false;
    std::thread worker([&] { made = MakeDocument(word, dir.Path(), Para("Hello"), path); });
    worker.join();
    ASSERT_TRUE(made);
    std::vector<int> pids = ListedLivePids();
    ASSERT_EQ(pids.size(), 1u);
    usleep(300000);  // a parent-death signal would have arrived by now
    EXPECT_TRUE(PidAlive(pids[0]));
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(ListedLivePids(), pids);
    doc->Release();
}
