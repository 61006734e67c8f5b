#pragma once
// Where a record file made from a name template goes: the template's expansion, taken relative to
// the document's record folder, must name a file inside that folder. Separators written in the
// template (for example "%n/%y-%m-%d_%h%i%s.%t") make sub-folders, which are created here; a ".."
// component is refused, and the folder that will hold the file is checked, with every link
// resolved, to lie inside the record folder (a link in the record folder pointing elsewhere does
// not take a recording out of it).
//
// Called by the record context's start thread; any thread may call it.

#include "platform/HResult.h"

#include <string>

struct CRecordFilePath {
    HRESULT hr = S_OK;    // S_OK, or why the name cannot be used
    std::string path;     // the record folder, "/" and the cleaned relative name
    std::string relative; // the cleaned relative name: no empty, "." or ".." component
    std::string problem;  // what went wrong, for the failure's information
};

// Checks name (a template's expansion) against folder and creates the sub-folders it names.
// Failures: E_INVALIDARG for no file name or a ".." component, E_ACCESSDENIED for a sub-folder
// that resolves outside the record folder, and the result code of the errno of a failed call
// (HRESULT_PATH_NOT_FOUND for a missing record folder, ...).
CRecordFilePath PrepareRecordFilePath(const std::string& folder, const std::string& name);

// The result code of an errno value (ENOENT -> HRESULT_PATH_NOT_FOUND, ENOSPC -> disk full, ...).
HRESULT HResultFromErrno(int error);
