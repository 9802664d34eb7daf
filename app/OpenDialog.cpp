// The file-open dialog component over GetOpenFileNameA.
#include "OpenDialog.h"

#include <commdlg.h>

#include <cstring>

std::string TOpenDialog::SystemFilter(const std::string& filter)
{
    std::string out = filter;
    for (char& c : out)
        if (c == '|')
            c = '\0';
    out.push_back('\0');
    out.push_back('\0');
    return out;
}

bool TOpenDialog::Execute()
{
    std::string filter = SystemFilter(Filter);
    char szFile[MAX_PATH] = "";
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hOwner;
    ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = sizeof szFile;
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
    if (!GetOpenFileNameA(&ofn))
        return false;
    if (Accept && !Accept(szFile))
        return false;
    FileName = szFile;
    Files.assign(1, FileName);
    return true;
}
