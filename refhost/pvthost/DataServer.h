// The read-back functions of the data server that the module loaded.
// pvthost does not link the data server: it reads from whichever
// "varhub2.dll" the module has loaded into the process, so that it sees the
// very objects the correlations wrote into.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace pvthost {

struct DataServer {
    HRESULT(WINAPI* getValueCount)(IUnknown* variable, LONG* count) = nullptr;
    HRESULT(WINAPI* getValue)(IUnknown* variable, LONG index, double* value) = nullptr;
    LONG(WINAPI* liveObjectCount)() = nullptr;
};

// The functions of the loaded data server; false (and the members null)
// when no data server is loaded or it offers no read-back functions.
bool FindDataServer(DataServer& server);

}  // namespace pvthost
