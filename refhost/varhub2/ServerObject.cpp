#include "ServerObject.h"

namespace varhub {

// {7C3E52A1-9B0D-4F6E-A2C4-5D81E0F93B17}
const IID IID_IServerObject = {
    0x7C3E52A1, 0x9B0D, 0x4F6E, {0xA2, 0xC4, 0x5D, 0x81, 0xE0, 0xF9, 0x3B, 0x17}};

namespace {
LONG liveObjects = 0;
LONG serverLocks = 0;
}  // namespace

void ObjectCreated() { InterlockedIncrement(&liveObjects); }
void ObjectDestroyed() { InterlockedDecrement(&liveObjects); }
LONG LiveObjectCount() { return InterlockedCompareExchange(&liveObjects, 0, 0); }

void LockServer(bool lock) {
    if (lock) {
        InterlockedIncrement(&serverLocks);
    } else {
        InterlockedDecrement(&serverLocks);
    }
}

LONG ServerLockCount() { return InterlockedCompareExchange(&serverLocks, 0, 0); }

IServerObject* FindServerObject(IUnknown* object) {
    if (object == nullptr) return nullptr;
    IServerObject* server = nullptr;
    if (FAILED(object->QueryInterface(IID_IServerObject, reinterpret_cast<void**>(&server)))) {
        return nullptr;
    }
    return server;
}

}  // namespace varhub
