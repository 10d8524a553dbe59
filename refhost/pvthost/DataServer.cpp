#include "DataServer.h"

namespace pvthost {

namespace {

template <class Function>
void Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool FindDataServer(DataServer& server) {
    server = DataServer();
    HMODULE module = GetModuleHandleW(L"varhub2.dll");
    if (module == nullptr) return false;
    Resolve(module, "VarHubGetValueCount", server.getValueCount);
    Resolve(module, "VarHubGetValue", server.getValue);
    Resolve(module, "VarHubLiveObjectCount", server.liveObjectCount);
    if (server.getValueCount && server.getValue && server.liveObjectCount) return true;
    server = DataServer();
    return false;
}

}  // namespace pvthost
