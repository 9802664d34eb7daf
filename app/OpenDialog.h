// The main window's file-open dialog component: a filter in the form library's syntax
// ("Description|*.a;*.b|..."), single selection, the chosen file afterwards.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class TOpenDialog {
public:
    explicit TOpenDialog(HWND hOwner) : m_hOwner(hOwner) {}

    std::string Filter;              // pairs of description and patterns, separated by '|'
    std::string Title;               // empty: the system's title
    std::string FileName;            // the file chosen last
    std::vector<std::string> Files;  // the files chosen by the last Execute (one)
    // When set, asked about the chosen file: false makes Execute end as a cancel (it says
    // why itself).
    std::function<bool(const std::string&)> Accept;

    // Shows the dialog; true when the user chose an existing file (FileName and Files set),
    // false on cancel or a file Accept refuses (both unchanged).
    bool Execute();

    // The filter in the system's form: each part ended by a NUL, the list by a second one.
    static std::string SystemFilter(const std::string& filter);

private:
    HWND m_hOwner;
};
