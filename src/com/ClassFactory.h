// The class object of a correlation class: a class factory bound to the
// class's creation function, kept in the class table's cache.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace pvt {

using MakeInstanceFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

class CComClassFactory : public IClassFactory {
public:
    explicit CComClassFactory(MakeInstanceFunction makeInstance) : makeInstance_(makeInstance) {}
    virtual ~CComClassFactory() = default;
    CComClassFactory(const CComClassFactory&) = delete;
    CComClassFactory& operator=(const CComClassFactory&) = delete;

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHOD(LockServer)(BOOL lock) override;

private:
    MakeInstanceFunction makeInstance_;
};

// A class object whose reference held by the cache does not hold the
// module: the lock is taken on the step from one reference to two and
// released on the step back.
class CComObjectCached final : public CComClassFactory {
public:
    using CComClassFactory::CComClassFactory;

    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

private:
    LONG refCount_ = 0;
};

// Makes a class object for makeInstance and queries it for iid.
HRESULT MakeClassObject(MakeInstanceFunction makeInstance, REFIID iid, void** object);

}  // namespace pvt
