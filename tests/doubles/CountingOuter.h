// An outer object for aggregation that counts its references and hands
// every interface but IUnknown to the aggregate it holds in inner (whose
// non-delegating IUnknown it owns once one is stored there).
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace pvt::test {

class CountingOuter final : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (inner != nullptr) return inner->QueryInterface(iid, object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++count); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(--count); }

    LONG count = 1;
    IUnknown* inner = nullptr;
};

}  // namespace pvt::test
