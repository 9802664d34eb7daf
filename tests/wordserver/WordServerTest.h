// Helpers for the engine tests: calls by name on the real automation server, test documents
// written as flat OpenDocument text and converted by the engine itself, pid-file reading.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

namespace wstest {

// An argument in Word's order; kinds: VT_I4, VT_BSTR (from UTF-8), VT_ERROR omitted.
struct Arg {
    VARTYPE vt;
    LONG l;
    std::string s;
    static Arg Long(LONG v) { return Arg{VT_I4, v, {}}; }
    static Arg Str(const std::string& v) { return Arg{VT_BSTR, 0, v}; }
    static Arg Omitted() { return Arg{VT_ERROR, 0, {}}; }
};

std::u16string Wide(const std::string& utf8);

// GetIDsOfNames + Invoke, arguments reversed into the OLE order. result may be null.
HRESULT Call(IDispatch* obj, const char16_t* name, WORD flags, const std::vector<Arg>& args,
             VARIANT* result);
// A method call returning an object (null on failure; the HRESULT in *hr when given).
IDispatch* CallObject(IDispatch* obj, const char16_t* name, const std::vector<Arg>& args,
                      HRESULT* hr = nullptr);
// A property get returning VT_I4, or -1.
LONG GetLong(IDispatch* obj, const char16_t* name);

// "Word.Application" through the class registry, and its Documents collection.
struct Word {
    IDispatch* app = nullptr;
    IDispatch* docs = nullptr;
    Word();
    ~Word();
    IDispatch* Open(const std::string& path, HRESULT* hr = nullptr);
};

// Whole-text end, page starts through Goto (as the Word layer counts pages).
LONG ContentEnd(IDispatch* doc);
int CountPagesByGoto(IDispatch* doc);

// Flat OpenDocument text: page layouts "Standard" (A4 portrait, header "Report", footer with
// the page number), "Landscape" (A4 landscape), "Counted" (A4, footer "Page N of M"), "A5"
// and "Letter"; paragraph styles PLand/PPort/PCounted/PA5/PLetter switching to them, PBreak
// starting a new page, PRestart3 starting a new page numbered 3. body is the office:text
// content.
// automaticStyles: more style definitions for the body (see FontStyle).
std::string Fodt(const std::string& body, const std::string& automaticStyles = std::string());
// A paragraph style `name` whose text asks for the font family `family`.
std::string FontStyle(const std::string& name, const std::string& family);
std::string Para(const std::string& text, const std::string& style = std::string());
std::string Lorem(int words, int seed);
// A table of rows x cols with cell text "r<row>c<col>".
std::string Table(int rows, int cols);
std::string List(int items);
// n pages of text, each starting "Page <i>.", every fourth with a picture, every seventh with
// a table (the benchmarks' documents).
std::string MixedPagesBody(int n);
// A list numbered 1., 2., ... in style LNumbered; `continues` carries on the numbering of the
// list before it.
std::string NumberedList(int items, int seed, bool continues = false);
// A footnote of `words` words at the point of the text where it is put.
std::string Footnote(int n, int words);
// A two-column table of rows under a heading row that repeats on every page it runs over.
std::string HeadedTable(int rows);
// A frame with an embedded colour-gradient bitmap of w x h centimetres.
std::string Image(double wcm, double hcm);

// A Fodt text with every paragraph asking for the font family instead.
std::string InFont(std::string fodt, const std::string& family);

// Writes the flat text to <dir>/<name>.fodt and has the engine save it as outPath (format by
// extension), its text in family when one is given. False on any failure.
bool MakeDocument(Word& word, const std::string& dir, const std::string& body, const std::string& outPath,
                  const std::string& password = std::string(), const std::string& automaticStyles = std::string(),
                  const std::string& family = std::string());

// A zip of the files (name, content), stored without compression as the format allows: a .docx
// written byte by byte.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& files);

// A .docx written by the test itself (an uncompressed zip), for what the engine does not write:
// paragraphs of text, and docProps/app.xml with <Application> and <Pages> (left out when
// application is empty). False when it cannot be written.
bool WriteDocx(const std::string& path, const std::vector<std::string>& paragraphs,
               const std::string& application, int pages);

// Engines in the engine list that this process started and that are live processes.
struct ListedEngine {
    int pid = 0;
    int owner = 0;
    std::string pipe;
};
std::vector<ListedEngine> ListedEngines();
std::vector<int> ListedLivePids();
bool PidAlive(int pid);

}  // namespace wstest
