#include "WordServerTest.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace wstest {

std::u16string Wide(const std::string& s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        uint32_t cp;
        int n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
        else { cp = c & 0x07; n = 4; }
        for (int k = 1; k < n && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

HRESULT Call(IDispatch* obj, const char16_t* name, WORD flags, const std::vector<Arg>& args, VARIANT* result)
{
    DISPID id = 0;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> v(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        VARIANT& a = v[args.size() - 1 - i];
        VariantInit(&a);
        a.vt = args[i].vt;
        if (a.vt == VT_I4)
            a.lVal = args[i].l;
        else if (a.vt == VT_BSTR)
            a.bstrVal = SysAllocString(Wide(args[i].s).c_str());
        else if (a.vt == VT_ERROR)
            a.scode = DISP_E_PARAMNOTFOUND;
    }
    DISPPARAMS dp = {v.empty() ? nullptr : v.data(), nullptr, UINT(v.size()), 0};
    if (result)
        VariantInit(result);
    hr = obj->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &dp, result, nullptr, nullptr);
    for (auto& a : v)
        VariantClear(&a);
    return hr;
}

IDispatch* CallObject(IDispatch* obj, const char16_t* name, const std::vector<Arg>& args, HRESULT* phr)
{
    VARIANT r;
    HRESULT hr = Call(obj, name, DISPATCH_METHOD, args, &r);
    if (phr)
        *phr = hr;
    if (FAILED(hr))
        return nullptr;
    if (r.vt != VT_DISPATCH) {
        VariantClear(&r);
        return nullptr;
    }
    return r.pdispVal;
}

LONG GetLong(IDispatch* obj, const char16_t* name)
{
    VARIANT r;
    HRESULT hr = Call(obj, name, DISPATCH_PROPERTYGET, {}, &r);
    if (FAILED(hr) || r.vt != VT_I4) {
        VariantClear(&r);
        return -1;
    }
    return r.lVal;
}

Word::Word()
{
    CoInitialize(nullptr);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(u"Word.Application", &clsid)))
        return;
    IUnknown* unk = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&unk))))
        return;
    unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&app));
    unk->Release();
    if (!app)
        return;
    VARIANT r;
    if (SUCCEEDED(Call(app, u"Documents", DISPATCH_PROPERTYGET, {}, &r)) && r.vt == VT_DISPATCH)
        docs = r.pdispVal;
}

Word::~Word()
{
    if (docs)
        docs->Release();
    if (app)
        app->Release();
    CoUninitialize();
}

IDispatch* Word::Open(const std::string& path, HRESULT* hr)
{
    if (!docs) {
        if (hr)
            *hr = E_FAIL;
        return nullptr;
    }
    return CallObject(docs, u"Open", {Arg::Str(path)}, hr);
}

LONG ContentEnd(IDispatch* doc)
{
    IDispatch* r = CallObject(doc, u"Range", {});
    if (!r)
        return -1;
    LONG end = GetLong(r, u"End");
    r->Release();
    return end;
}

int CountPagesByGoto(IDispatch* doc)
{
    int count = 0;
    LONG prev = -1;
    for (int n = 1; n < 10000; ++n) {
        IDispatch* r = CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Long(n), Arg::Omitted()});
        if (!r)
            return count;
        LONG s = GetLong(r, u"Start");
        r->Release();
        if (s == prev)
            return count;
        prev = s;
        ++count;
    }
    return count;
}

std::string FontStyle(const std::string& name, const std::string& family)
{
    return "<style:style style:name=\"" + name + "\" style:family=\"paragraph\"><style:text-properties fo:font-family=\"" +
           family + "\" style:font-family-asian=\"" + family + "\" style:font-family-complex=\"" + family +
           "\"/></style:style>";
}

std::string Fodt(const std::string& body, const std::string& automaticStyles)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:dc="http://purl.org/dc/elements/1.1/"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:font-face-decls>
 <style:font-face style:name="Liberation Serif" svg:font-family="'Liberation Serif'" style:font-family-generic="roman"/>
</office:font-face-decls>
<office:styles>
 <style:default-style style:family="paragraph">
  <style:paragraph-properties fo:margin-bottom="0.2cm"/>
  <style:text-properties style:font-name="Liberation Serif" fo:font-size="12pt"/>
 </style:default-style>
 <style:style style:name="Heading" style:family="paragraph">
  <style:text-properties fo:font-size="16pt" fo:font-weight="bold"/>
 </style:style>
</office:styles>
<office:automatic-styles>
 <style:page-layout style:name="pmPortrait">
  <style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm" style:print-orientation="portrait"
   fo:margin-top="1.5cm" fo:margin-bottom="1.5cm" fo:margin-left="2cm" fo:margin-right="2cm"/>
  <style:header-style><style:header-footer-properties fo:min-height="0.6cm" fo:margin-bottom="0.3cm"/></style:header-style>
  <style:footer-style><style:header-footer-properties fo:min-height="0.6cm" fo:margin-top="0.3cm"/></style:footer-style>
 </style:page-layout>
 <style:page-layout style:name="pmLandscape">
  <style:page-layout-properties fo:page-width="29.7cm" fo:page-height="21cm" style:print-orientation="landscape"
   fo:margin-top="1.5cm" fo:margin-bottom="1.5cm" fo:margin-left="2cm" fo:margin-right="2cm"/>
 </style:page-layout>
 <style:style style:name="PLand" style:family="paragraph" style:master-page-name="Landscape"/>
 <style:style style:name="PPort" style:family="paragraph" style:master-page-name="Standard"/>
 <style:style style:name="PBreak" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>
 <style:page-layout style:name="pmA5">
  <style:page-layout-properties fo:page-width="14.8cm" fo:page-height="21cm" style:print-orientation="portrait"
   fo:margin-top="1.5cm" fo:margin-bottom="1.5cm" fo:margin-left="1.5cm" fo:margin-right="1.5cm"/>
 </style:page-layout>
 <style:page-layout style:name="pmLetter">
  <style:page-layout-properties fo:page-width="21.59cm" fo:page-height="27.94cm" style:print-orientation="portrait"
   fo:margin-top="2cm" fo:margin-bottom="2cm" fo:margin-left="2.5cm" fo:margin-right="2.5cm"/>
 </style:page-layout>
 <style:style style:name="PCounted" style:family="paragraph" style:master-page-name="Counted"/>
 <style:style style:name="PA5" style:family="paragraph" style:master-page-name="A5"/>
 <style:style style:name="PLetter" style:family="paragraph" style:master-page-name="Letter"/>
 <text:list-style style:name="LNumbered">
  <text:list-level-style-number text:level="1" style:num-suffix="." style:num-format="1">
   <style:list-level-properties text:space-before="0.6cm" text:min-label-width="0.8cm"/>
  </text:list-level-style-number>
 </text:list-style>
 <style:style style:name="PRestart3" style:family="paragraph" style:master-page-name="Standard">
  <style:paragraph-properties style:page-number="3"/>
 </style:style>
 <style:style style:name="Tab" style:family="table"><style:table-properties style:width="17cm" table:align="left"/></style:style>
 <style:style style:name="Cell" style:family="table-cell">
  <style:table-cell-properties fo:border="0.5pt solid #000000" fo:padding="0.05cm"/>
 </style:style>
)" + automaticStyles + R"(
</office:automatic-styles>
<office:master-styles>
 <style:master-page style:name="Standard" style:page-layout-name="pmPortrait">
  <style:header><text:p>Report</text:p></style:header>
  <style:footer><text:p>Page <text:page-number text:select-page="current">1</text:page-number></text:p></style:footer>
 </style:master-page>
 <style:master-page style:name="Landscape" style:page-layout-name="pmLandscape"/>
 <style:master-page style:name="Counted" style:page-layout-name="pmPortrait">
  <style:footer><text:p>Page <text:page-number text:select-page="current">1</text:page-number> of <text:page-count>1</text:page-count></text:p></style:footer>
 </style:master-page>
 <style:master-page style:name="A5" style:page-layout-name="pmA5"/>
 <style:master-page style:name="Letter" style:page-layout-name="pmLetter"/>
</office:master-styles>
<office:body><office:text>
)" + body + R"(
</office:text></office:body>
</office:document>
)";
}

std::string Para(const std::string& text, const std::string& style)
{
    if (style.empty())
        return "<text:p>" + text + "</text:p>\n";
    return "<text:p text:style-name=\"" + style + "\">" + text + "</text:p>\n";
}

std::string Lorem(int words, int seed)
{
    static const char* const w[] = {"lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing",
                                    "elit", "sed", "do", "eiusmod", "tempor", "incididunt", "ut", "labore",
                                    "et", "dolore", "magna", "aliqua", "enim", "minim", "veniam"};
    std::string s;
    unsigned x = unsigned(seed) * 2654435761u + 1;
    for (int i = 0; i < words; ++i) {
        x = x * 1103515245u + 12345u;
        if (i)
            s += ' ';
        s += w[(x >> 16) % (sizeof w / sizeof *w)];
    }
    return s + ".";
}

std::string Table(int rows, int cols)
{
    std::string s = "<table:table table:name=\"T" + std::to_string(rows) + "\" table:style-name=\"Tab\">\n";
    s += "<table:table-column table:number-columns-repeated=\"" + std::to_string(cols) + "\"/>\n";
    for (int r = 1; r <= rows; ++r) {
        s += "<table:table-row>";
        for (int c = 1; c <= cols; ++c)
            s += "<table:table-cell table:style-name=\"Cell\" office:value-type=\"string\"><text:p>r" +
                 std::to_string(r) + "c" + std::to_string(c) + "</text:p></table:table-cell>";
        s += "</table:table-row>\n";
    }
    return s + "</table:table>\n";
}

std::string HeadedTable(int rows)
{
    std::string t = "<table:table table:name=\"Headed\" table:style-name=\"Tab\">\n"
                    "<table:table-column table:number-columns-repeated=\"2\"/>\n<table:table-header-rows>"
                    "<table:table-row><table:table-cell table:style-name=\"Cell\" office:value-type=\"string\">"
                    "<text:p>Name</text:p></table:table-cell><table:table-cell table:style-name=\"Cell\" "
                    "office:value-type=\"string\"><text:p>Value</text:p></table:table-cell></table:table-row>"
                    "</table:table-header-rows>\n";
    for (int r = 1; r <= rows; ++r)
        t += "<table:table-row><table:table-cell table:style-name=\"Cell\" office:value-type=\"string\"><text:p>"
             "Row " + std::to_string(r) + "</text:p></table:table-cell><table:table-cell table:style-name=\"Cell\" "
             "office:value-type=\"string\"><text:p>" + Lorem(6, r) + "</text:p></table:table-cell></table:table-row>\n";
    return t + "</table:table>\n";
}

std::string List(int items)
{
    std::string s = "<text:list>\n";
    for (int i = 1; i <= items; ++i)
        s += "<text:list-item><text:p>Item " + std::to_string(i) + ": " + Lorem(8, i) + "</text:p></text:list-item>\n";
    return s + "</text:list>\n";
}

std::string MixedPagesBody(int n)
{
    std::string body;
    for (int i = 1; i <= n; ++i) {
        std::string page = Para("Page " + std::to_string(i) + ". " + Lorem(120, i), i == 1 ? "" : "PBreak");
        if (i % 4 == 0)
            page += Image(8, 5);
        if (i % 7 == 0)
            page += Table(6, 4);
        body += page;
    }
    return body;
}

std::string NumberedList(int items, int seed, bool continues)
{
    std::string s = "<text:list text:style-name=\"LNumbered\"";
    if (continues)
        s += " text:continue-numbering=\"true\"";
    s += ">\n";
    for (int i = 1; i <= items; ++i)
        s += "<text:list-item><text:p>" + Lorem(12, seed + i) + "</text:p></text:list-item>\n";
    return s + "</text:list>\n";
}

std::string Footnote(int n, int words)
{
    return "<text:note text:id=\"fn" + std::to_string(n) + "\" text:note-class=\"footnote\"><text:note-citation>" +
           std::to_string(n) + "</text:note-citation><text:note-body><text:p>" + Lorem(words, 500 + n) +
           "</text:p></text:note-body></text:note>";
}

namespace {

std::string Base64(const std::vector<unsigned char>& d)
{
    static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < d.size(); i += 3) {
        uint32_t v = uint32_t(d[i]) << 16;
        if (i + 1 < d.size())
            v |= uint32_t(d[i + 1]) << 8;
        if (i + 2 < d.size())
            v |= d[i + 2];
        s += t[(v >> 18) & 63];
        s += t[(v >> 12) & 63];
        s += i + 1 < d.size() ? t[(v >> 6) & 63] : '=';
        s += i + 2 < d.size() ? t[v & 63] : '=';
    }
    return s;
}

void Put32(std::vector<unsigned char>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::string Image(double wcm, double hcm)
{
    // A 96 x 64 24-bit BMP: red across, green down, a dark diagonal band.
    const int W = 96, H = 64, stride = W * 3;
    std::vector<unsigned char> b = {'B', 'M'};
    Put32(b, 54 + stride * H);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, W);
    Put32(b, H);
    b.push_back(1); b.push_back(0); b.push_back(24); b.push_back(0);
    Put32(b, 0);
    Put32(b, stride * H);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, 0);
    Put32(b, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            bool band = std::abs(x - y * 3 / 2) < 6;
            b.push_back(band ? 20 : 200);                       // blue
            b.push_back(band ? 20 : (unsigned char)(y * 4));    // green
            b.push_back(band ? 20 : (unsigned char)(x * 255 / W));  // red
        }
    char size[128];
    snprintf(size, sizeof size, "svg:width=\"%.2fcm\" svg:height=\"%.2fcm\"", wcm, hcm);
    return std::string("<text:p><draw:frame draw:name=\"Picture\" text:anchor-type=\"as-char\" ") + size +
           "><draw:image><office:binary-data>" + Base64(b) +
           "</office:binary-data></draw:image></draw:frame></text:p>\n";
}

std::string InFont(std::string fodt, const std::string& family)
{
    const std::string standard = "svg:font-family=\"'Liberation Serif'\"";
    fodt.replace(fodt.find(standard), standard.size(), "svg:font-family=\"'" + family + "'\"");
    return fodt;
}

bool MakeDocument(Word& word, const std::string& dir, const std::string& body, const std::string& outPath,
                  const std::string& password, const std::string& automaticStyles, const std::string& family)
{
    std::string src = dir + "/source-" + std::to_string(rand()) + ".fodt";
    {
        std::ofstream f(src, std::ios::binary);
        f << (family.empty() ? Fodt(body, automaticStyles) : InFont(Fodt(body, automaticStyles), family));
        if (!f)
            return false;
    }
    IDispatch* doc = word.Open(src);
    unlink(src.c_str());
    if (!doc)
        return false;
    std::vector<Arg> args = {Arg::Str(outPath)};
    if (!password.empty()) {
        args.push_back(Arg::Omitted());
        args.push_back(Arg::Omitted());
        args.push_back(Arg::Str(password));
    }
    HRESULT hr = Call(doc, u"SaveAs", DISPATCH_METHOD, args, nullptr);
    Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
    doc->Release();
    struct stat sb;
    return SUCCEEDED(hr) && stat(outPath.c_str(), &sb) == 0 && sb.st_size > 0;
}

namespace {

uint32_t Crc32(const std::string& s)
{
    uint32_t c = 0xffffffffu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
    }
    return ~c;
}

void Le(std::string& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((v >> (8 * i)) & 0xff);
}

}  // namespace

std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string out, central;
    for (const auto& f : files) {
        uint32_t offset = uint32_t(out.size()), crc = Crc32(f.second), size = uint32_t(f.second.size());
        std::string common;
        Le(common, 20, 2);  // version needed
        Le(common, 0, 2);   // flags
        Le(common, 0, 2);   // stored
        Le(common, 0, 4);   // time, date
        Le(common, crc, 4);
        Le(common, size, 4);
        Le(common, size, 4);
        Le(common, uint32_t(f.first.size()), 2);
        Le(common, 0, 2);  // extra
        Le(out, 0x04034b50, 4);
        out += common + f.first + f.second;
        Le(central, 0x02014b50, 4);
        Le(central, 20, 2);
        central += common;
        Le(central, 0, 2);  // comment
        Le(central, 0, 4);  // disk, internal attributes
        Le(central, 0, 4);  // external attributes
        Le(central, offset, 4);
        central += f.first;
    }
    uint32_t cdOffset = uint32_t(out.size());
    out += central;
    Le(out, 0x06054b50, 4);
    Le(out, 0, 4);
    Le(out, uint32_t(files.size()), 2);
    Le(out, uint32_t(files.size()), 2);
    Le(out, uint32_t(central.size()), 4);
    Le(out, cdOffset, 4);
    Le(out, 0, 2);
    return out;
}


bool WriteDocx(const std::string& path, const std::vector<std::string>& paragraphs, const std::string& application,
               int pages)
{
    const bool withApp = !application.empty();
    std::string types =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)";
    std::string rels =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>)";
    if (withApp) {
        types += R"(<Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/>)";
        rels += R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties" Target="docProps/app.xml"/>)";
    }
    types += "</Types>";
    rels += "</Relationships>";
    std::string document = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                           R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)";
    for (const std::string& p : paragraphs)
        document += "<w:p><w:r><w:t>" + p + "</w:t></w:r></w:p>";
    document += "</w:body></w:document>";
    std::vector<std::pair<std::string, std::string>> files = {
        {"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"word/document.xml", document}};
    if (withApp)
        files.push_back({"docProps/app.xml",
                         R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                         R"(<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties">)"
                         "<Application>" + application + "</Application><Pages>" + std::to_string(pages) +
                             "</Pages></Properties>"});
    std::ofstream f(path, std::ios::binary);
    f << StoredZip(files);
    return bool(f);
}

bool PidAlive(int pid)
{
    if (pid <= 0)
        return false;
    // A zombie is not alive: its state letter in /proc says so.
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(f, line))
        return false;
    size_t p = line.rfind(')');
    return p != std::string::npos && p + 2 < line.size() && line[p + 2] != 'Z';
}

std::vector<ListedEngine> ListedEngines()
{
    const char* dir = getenv("XDG_RUNTIME_DIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/folium-engine-" + std::to_string(getuid()) + ".pids";
    std::ifstream f(path);
    std::vector<ListedEngine> out;
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        ListedEngine e;
        unsigned long long start = 0, ownerStart = 0;
        if (in >> e.pid >> start >> e.owner >> ownerStart >> e.pipe && e.owner == getpid() && PidAlive(e.pid))
            out.push_back(e);
    }
    return out;
}

std::vector<int> ListedLivePids()
{
    std::vector<int> pids;
    for (const ListedEngine& e : ListedEngines())
        pids.push_back(e.pid);
    return pids;
}

}  // namespace wstest
