// Where the test binaries find what they drive: everything sits in bin/.
#pragma once

#include <string>

namespace testenv {

std::wstring BinDir();
std::wstring BinPath(const wchar_t* name);
std::wstring ModulePath();   // Mantlet.dll
std::wstring LogFilePath();  // the module's log file

}  // namespace testenv
