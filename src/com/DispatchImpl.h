// The dispatch side of a dual interface T: the four IDispatch operations,
// answered through the type-information holder that Derived names for T.
#pragma once

#include "com/ErrorBoundary.h"
#include "com/TypeInfoHolder.h"

namespace pvt {

// Derived provides  CComTypeInfoHolder& TypeInfoHolder(T*)  for each dual
// interface it implements; the tag argument picks the interface.
template <class T, class Derived>
class IDispatchImpl : public T {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* count) noexcept override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** typeInfo) override {
        return ComBoundary([&] { return Holder().GetTypeInfo(index, locale, typeInfo); });
    }
    STDMETHOD(GetIDsOfNames)
    (REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
        return ComBoundary([&] { return Holder().GetIDsOfNames(names, count, locale, ids); });
    }
    STDMETHOD(Invoke)
    (DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
     EXCEPINFO* exception, UINT* argumentError) override {
        return ComBoundary([&] {
            return Holder().Invoke(static_cast<T*>(this), locale, id, flags, params, result,
                                   exception, argumentError);
        });
    }

private:
    CComTypeInfoHolder& Holder() {
        return static_cast<Derived*>(this)->TypeInfoHolder(static_cast<T*>(nullptr));
    }
};

}  // namespace pvt
