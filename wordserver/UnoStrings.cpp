// Strings between UNO and UTF-8, and file URLs of paths.
#include "EngineInternal.h"

#include <string>

namespace wordengine {
namespace detail {

std::string ToUtf8(const rtl::OUString& s)
{
    rtl::OString o = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
    return std::string(o.getStr(), o.getLength());
}

rtl::OUString FromUtf8(const std::string& s)
{
    return rtl::OStringToOUString(rtl::OString(s.data(), s.size()), RTL_TEXTENCODING_UTF8);
}

rtl::OUString FileUrl(const std::string& absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : absolutePath) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return rtl::OUString::createFromAscii(url.c_str());
}

}  // namespace detail
}  // namespace wordengine
