// Which office suite the engine is (see EngineVersion.h).
#include "EngineVersion.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace wordengine {

namespace {

// The setup data are a few MB; a larger file is not the suite's and is not read.
const std::streamoff kMaxSetupBytes = 64ll << 20;

// The value of <prop oor:name="prop"><value>...</value> in the Product node of xml.
std::string ProductValue(const std::string& xml, size_t from, const char* prop)
{
    const std::string key = std::string("<prop oor:name=\"") + prop + "\">";
    const size_t at = xml.find(key, from);
    if (at == std::string::npos)
        return std::string();
    const size_t open = xml.find("<value>", at + key.size());
    const size_t close = open == std::string::npos ? open : xml.find("</value>", open);
    // The value follows its prop directly; one further away belongs to another.
    if (close == std::string::npos || open - (at + key.size()) > 64 || close - open > 64 + 7)
        return std::string();
    return xml.substr(open + 7, close - open - 7);
}

// "25.2.3.2" -> {25, 2, 3, 2}; empty when text is not dot-separated numbers.
std::vector<long> Parts(const std::string& text)
{
    std::vector<long> parts;
    size_t pos = 0;
    while (pos < text.size()) {
        char* end = nullptr;
        const char* start = text.c_str() + pos;
        if (*start < '0' || *start > '9')
            return {};
        parts.push_back(std::strtol(start, &end, 10));
        pos = end - text.c_str();
        if (pos < text.size() && (text[pos] != '.' || pos + 1 == text.size()))
            return {};
        if (pos < text.size())
            ++pos;
    }
    return parts;
}

}  // namespace

EngineVersionInfo InstalledEngine()
{
    EngineVersionInfo info;
    std::ifstream in(std::string(LO_PROGRAM_DIR) + "/../share/registry/main.xcd", std::ios::binary);
    if (!in)
        return info;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0 || size > kMaxSetupBytes)
        return info;
    in.seekg(0);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t setup = xml.find("oor:name=\"Setup\" oor:package=\"org.openoffice\"");
    const size_t product = setup == std::string::npos ? setup : xml.find("<node oor:name=\"Product\">", setup);
    if (product == std::string::npos)
        return info;
    info.version = ProductValue(xml, product, "ooSetupVersionAboutBox");
    if (info.version.empty())
        info.version = ProductValue(xml, product, "ooSetupVersion");
    info.name = ProductValue(xml, product, "ooName");
    return info;
}

const char* NeededEngineVersion()
{
    return ENGINE_MIN_VERSION;
}

std::string EngineVersionProblem(const std::string& name, const std::string& found, const std::string& needed)
{
    const std::vector<long> have = Parts(found), need = Parts(needed);
    if (have.empty() || need.empty())
        return std::string();
    for (size_t i = 0; i < need.size(); ++i) {
        const long h = i < have.size() ? have[i] : 0;
        if (h > need[i])
            return std::string();
        if (h < need[i])
            return "the office suite is too old: " + (name.empty() ? std::string("LibreOffice") : name) + " " +
                   found + " is installed, the document engine needs " + needed +
                   " or later (on Debian 12, from bookworm-backports: see the README)";
    }
    return std::string();
}

}  // namespace wordengine
