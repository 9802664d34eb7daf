// A scripted automation server that stands in for the word processor in the Word-layer tests.
//
// Documents are text files of pages: a line "#page <cx> <cy>" starts a page of that extent in
// HIMETRIC, every other line is a line of text on the current page (a file without "#page"
// lines is one A4 page). Character positions run through the pages' text, each line counting
// its characters and its newline.
//
// The server answers "Word.Application" (Documents; Open; Close, SaveAs, Range, Goto; Start,
// End, Copy, Paste) by name, case-insensitively, records every lookup and call, and serves the
// embedded-document class (IPersistFile, IRunnableObject, IOleObject::GetExtent, IViewObject::
// Draw, IDispatch). Draw fills the bounds with PageColour of the first page's first line.
// Every object it makes is counted while alive; the end of the application object and of each
// embedded document is logged as a call of "destroyed" (the embedding's file as argument).
#pragma once

#include <ole2.h>

#include <functional>
#include <string>
#include <vector>

namespace scripted {

struct Page {
    LONG cx = 21000; // HIMETRIC
    LONG cy = 29700;
    std::string text; // lines, each ended by '\n'
};

// One argument as received, in array order (element 0 is the last positional argument).
struct Arg {
    VARTYPE vt = VT_EMPTY;
    LONG i4 = 0;       // VT_I4
    SCODE scode = 0;   // VT_ERROR
    std::string str;   // VT_BSTR, UTF-8
};

struct Call {
    std::string object; // "Application", "Documents", "Document", "Range", "Embedded"
    std::string member; // as the caller spelled it
    bool lookup = false; // a GetIDsOfNames, not an Invoke
    WORD flags = 0;
    std::vector<Arg> args;
};

// What the server does wrong on purpose.
struct Script {
    bool noDocuments = false;    // Application.Documents gives VT_EMPTY
    bool failDocumentsOpen = false;
    bool failLoad = false;       // IPersistFile::Load of embedded documents fails
    int failLoads = 0;           // ... the next n times only (an engine lost while loading)
    int gotoFailFrom = 0;        // Goto for this page number and above fails (0: never)
    bool gotoPastEndFails = false; // else Goto past the last page gives the last page's start
    bool failCopy = false;
    bool failSaveAs = false;
    // Embedded documents answer IViewObject2 and draw any of their pages for the print aspect
    // (lindex = page from 1), as a server that draws the document's own layout does.
    bool pageView = false;
    bool pageViewRefusesPrint = false; // ... but answer DV_E_DVASPECT for the print aspect
    // The engine dies at the nth page drawn for the print aspect (0: never; -1: at every one):
    // that draw and every later call of the embeddings made before fail; embeddings made
    // afterwards work.
    int dieAtPrintDraw = 0;
    // Called as an embedded document starts loading, on the loading thread: a test holds a
    // load there to see what the program does meanwhile.
    std::function<void(const std::string& path)> onLoad;
    // Loading a file whose path holds this text never returns (a hung engine), or ends the
    // process at once (a lost worker); empty: never.
    std::string hangOn;
    std::string crashOn;
};

// Installs the server: registers its class objects for both classes (CoRegisterClassObject),
// clears the log, the clipboard and the script.
void Install();
// Revokes the class objects. Objects the caller still holds stay alive.
void Uninstall();

Script& TheScript();
const std::vector<Call>& Calls();
void ClearCalls();
// Calls (not lookups) of that member, case-insensitive.
std::vector<Call> CallsOf(const std::string& member);
// The number of server objects alive (class objects included).
int LiveObjects();

// Reads and writes the document format described above. A first line starting "{\\rtf" is
// skipped: it lets a worker's file check take the file for a Word document.
std::vector<Page> ParseDocument(const std::string& content);
std::string FormatDocument(const std::vector<Page>& pages);
// A document file of pages whose lines are "<tag> <n>" for n = 1..count, with the given extents.
std::string MakeDocument(const std::vector<std::string>& firstLines, LONG cx = 21000, LONG cy = 29700);

// Sets the script from text such as "pageView dieAtPrintDraw=3 failLoads=1 hangOn=slow" (how a
// worker process of the tests is told it); false for a word it does not know.
bool ScriptFromText(const std::string& text, Script* pScript);

// The colour Draw uses for a page whose first line is that text, never white.
COLORREF PageColour(const std::string& firstLine);

} // namespace scripted
