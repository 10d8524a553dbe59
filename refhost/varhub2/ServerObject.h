// What every object of the data server shares: a thread-safe reference
// count, the server-wide count of live objects and locks that
// DllCanUnloadNow answers from, and the private interface through which the
// server recognises its own objects behind any interface pointer.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace varhub {

class CHostVariable;
class CHostVariableSet;

// Known only inside this DLL: a foreign object never answers it, so a
// successful query proves that the object is one of ours.
struct IServerObject : public IUnknown {
    virtual CHostVariable* AsVariable() = 0;
    virtual CHostVariableSet* AsSet() = 0;
};

extern const IID IID_IServerObject;

// Server-wide counts.
void ObjectCreated();
void ObjectDestroyed();
LONG LiveObjectCount();
void LockServer(bool lock);
LONG ServerLockCount();

// Reference counting for the objects; the count starts at 0 and the creator
// takes the first reference through QueryInterface.
class CRefCounted {
public:
    CRefCounted() { ObjectCreated(); }
    virtual ~CRefCounted() { ObjectDestroyed(); }
    CRefCounted(const CRefCounted&) = delete;
    CRefCounted& operator=(const CRefCounted&) = delete;

protected:
    ULONG AddReference() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG ReleaseReference() {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    LONG references_ = 0;
};

// Finds the server object behind an interface pointer; null when the object
// is not one of ours. The result carries one reference.
IServerObject* FindServerObject(IUnknown* object);

}  // namespace varhub
