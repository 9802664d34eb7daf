// libFuzzer target: the settings-file (INI) reader and writer over arbitrary file contents.
// Checks: reads never write past the buffer they are given, a written key reads back as
// written, and a write changes no other key's value.
#include <windows.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kSections[] = {"Option", "option", "A", ""};
const char* const kKeys[] = {"ImageType", "OutputPath", "TempPath", "CleanWord", "k"};
const char kValue[] = "/home/a b/out put/";

// A folder of this process, made once and removed at exit.
struct Folder {
    std::string path;
    std::string file;
    Folder()
    {
        const char* tmp = getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/folium-fuzz-ini-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            perror("mkdtemp");
            abort();
        }
        path = buf.data();
        file = path + "/folium.ini";
    }
    ~Folder()
    {
        remove(file.c_str());
        remove((file + ".tmp~").c_str());
        rmdir(path.c_str());
    }
};

Folder& Dir()
{
    static Folder folder;
    return folder;
}

std::string Read(const char* section, const char* key, DWORD nSize = 300)
{
    std::vector<char> buf(nSize + 16, '\xEF');
    const DWORD n = GetPrivateProfileStringA(section, key, "<none>", buf.data(), nSize, Dir().file.c_str());
    if (n >= nSize || buf[n] != '\0') {
        fprintf(stderr, "[%s] %s: length %u in a buffer of %u\n", section, key, n, nSize);
        abort();
    }
    for (size_t i = nSize; i < buf.size(); ++i) {
        if (buf[i] != '\xEF') {
            fprintf(stderr, "[%s] %s: wrote past the buffer\n", section, key);
            abort();
        }
    }
    return std::string(buf.data(), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    FILE* f = fopen(Dir().file.c_str(), "wb");
    if (!f)
        abort();
    fwrite(data, 1, size, f);
    fclose(f);

    std::vector<std::string> before;
    for (const char* s : kSections)
        for (const char* k : kKeys) {
            before.push_back(Read(s, k));
            if (s == kSections[0]) {
                Read(s, k, 4);  // a short buffer takes a cut value
                (void)GetPrivateProfileIntA(s, k, 7, Dir().file.c_str());
            }
        }

    if (!WritePrivateProfileStringA("Option", "TempPath", kValue, Dir().file.c_str())) {
        fprintf(stderr, "the write failed\n");
        abort();
    }
    if (Read("Option", "TempPath") != kValue) {
        fprintf(stderr, "the written value reads back as \"%s\"\n", Read("Option", "TempPath").c_str());
        abort();
    }
    size_t i = 0;
    for (const char* s : kSections)
        for (const char* k : kKeys) {
            const bool written = strcasecmp(s, "Option") == 0 && strcmp(k, "TempPath") == 0;
            if (!written && Read(s, k) != before[i]) {
                fprintf(stderr, "[%s] %s changed from \"%s\" to \"%s\"\n", s, k, before[i].c_str(), Read(s, k).c_str());
                abort();
            }
            ++i;
        }
    return 0;
}
