// The host simulator's interfaces that the module calls, and the property
// block its fluids fill. The vtable layouts are the host's binary contract:
// every entry keeps its position, and entries the module never calls are
// declared as reserved placeholders so that the named ones land where the
// host put them. Entry numbers in the comments count methods after the three
// of IUnknown.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

#include <cstddef>
#include <cstdint>

namespace pvt {

// --- Identifiers --------------------------------------------------------

inline constexpr GUID IID_IHostVariableSet = {
    0x920F0C5F, 0xA377, 0x11D3, {0x81, 0x8B, 0x00, 0xA0, 0xC9, 0xDF, 0x42, 0x74}};
inline constexpr GUID CLSID_HostVariableSet = {
    0x920F0C60, 0xA377, 0x11D3, {0x81, 0x8B, 0x00, 0xA0, 0xC9, 0xDF, 0x42, 0x74}};
inline constexpr GUID IID_IHostVariable = {
    0x2DAE6463, 0xA829, 0x11D3, {0x81, 0x90, 0x00, 0xA0, 0xC9, 0xDF, 0x42, 0x74}};
inline constexpr GUID CLSID_HostVariable = {
    0x2DAE6464, 0xA829, 0x11D3, {0x81, 0x90, 0x00, 0xA0, 0xC9, 0xDF, 0x42, 0x74}};
inline constexpr GUID IID_IHostEnumVariable = {
    0xF06FFE26, 0xA418, 0x11D3, {0x81, 0x8C, 0x00, 0xA0, 0xC9, 0xDF, 0x42, 0x74}};
inline constexpr GUID IID_IConnectionSource = {
    0x0BFE8551, 0xE173, 0x11D2, {0xA6, 0x2C, 0x00, 0xA0, 0xC9, 0xDF, 0x42, 0x74}};
inline constexpr GUID IID_IFluidPropertySource = {
    0x519C5876, 0xDBB5, 0x4DDA, {0x81, 0x19, 0xD1, 0x05, 0x0D, 0x8A, 0x5D, 0xCD}};

// --- Property block -----------------------------------------------------

inline constexpr int kPropertySlotCount = 29;
inline constexpr int kPhaseCount = 4;
inline constexpr int kOverallIndex = 4;  // index of the overall value in a slot

// The record a fluid fills through IFluidPropertySource::GetPropertyBlock.
// Little-endian, IEEE 754 doubles; within a slot: phases 0 to 3, then overall.
struct PropertyBlock {
    unsigned char header[48];                // the host's; never read here
    std::int32_t phasePresent[kPhaseCount];  // nonzero: the phase is present
    double slots[kPropertySlotCount][kPhaseCount + 1];
};

static_assert(sizeof(PropertyBlock) == 1224, "property block size");
static_assert(offsetof(PropertyBlock, phasePresent) == 48, "presence flags");
static_assert(offsetof(PropertyBlock, slots) == 64, "first slot");
static_assert(offsetof(PropertyBlock, slots[1]) == 104, "slot stride is 40");
static_assert(offsetof(PropertyBlock, slots[28][4]) == 1216, "last double");

// --- Interfaces ---------------------------------------------------------

struct IHostVariable;
struct ISourceItem;

struct IHostVariableSet : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved01() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved02() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved03() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved04() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddVariable(IHostVariable* variable) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE Reserved06() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved07() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved08() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved09() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IHostVariableSet** clone) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    // taggedName is a NUL-terminated wide string, not necessarily a BSTR.
    virtual HRESULT STDMETHODCALLTYPE FindVariable(const wchar_t* taggedName,
                                                   IUnknown** variable) = 0;  // 15
};

struct IHostVariable : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved01() = 0;
    // taggedName is a NUL-terminated wide string, not necessarily a BSTR.
    virtual HRESULT STDMETHODCALLTYPE SetTaggedName(const wchar_t* taggedName) = 0;  // 2
    virtual HRESULT STDMETHODCALLTYPE Reserved03() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDisplayName(BSTR displayName) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE Reserved05() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFlag(LONG flag) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE Reserved07() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved08() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved09() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(LONG index, double value) = 0;  // 15
};

struct IHostEnumVariable : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved01() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved02() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved03() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved04() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved05() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved06() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved07() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved08() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved09() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEnumFlag(LONG flag) = 0;                // 18
    virtual HRESULT STDMETHODCALLTYPE SetEnumIndex(LONG index) = 0;              // 19
    virtual HRESULT STDMETHODCALLTYPE SetEnumValue(LONG index, BSTR label) = 0;  // 20
};

struct IConnectionSource : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetItem(LONG itemKey, ISourceItem** item) = 0;  // 1
};

// Reached only through IConnectionSource::GetItem; the host gives it no IID.
struct ISourceItem : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFluid(IUnknown** fluid) = 0;  // 1
    virtual HRESULT STDMETHODCALLTYPE IsReady(LONG* ready) = 0;        // 2
};

struct IFluidPropertySource : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved01() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyBlock(PropertyBlock* block) = 0;  // 2
    virtual HRESULT STDMETHODCALLTYPE IsUnchanged(VARIANT_BOOL* unchanged) = 0;    // 3
};

}  // namespace pvt

// The identifiers above, known to the compiler with their interfaces, so
// that __uuidof, IID_PPV_ARGS and ComPtr::As work on them. MinGW-w64's
// headers define the macro; without it (MSVC) the header, which hosts
// compile as part of the SDK, still compiles, without __uuidof.
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(pvt::IHostVariableSet, 0x920F0C5F, 0xA377, 0x11D3, 0x81, 0x8B, 0x00, 0xA0, 0xC9,
                0xDF, 0x42, 0x74)
__CRT_UUID_DECL(pvt::IHostVariable, 0x2DAE6463, 0xA829, 0x11D3, 0x81, 0x90, 0x00, 0xA0, 0xC9, 0xDF,
                0x42, 0x74)
__CRT_UUID_DECL(pvt::IHostEnumVariable, 0xF06FFE26, 0xA418, 0x11D3, 0x81, 0x8C, 0x00, 0xA0, 0xC9,
                0xDF, 0x42, 0x74)
__CRT_UUID_DECL(pvt::IConnectionSource, 0x0BFE8551, 0xE173, 0x11D2, 0xA6, 0x2C, 0x00, 0xA0, 0xC9,
                0xDF, 0x42, 0x74)
__CRT_UUID_DECL(pvt::IFluidPropertySource, 0x519C5876, 0xDBB5, 0x4DDA, 0x81, 0x19, 0xD1, 0x05, 0x0D,
                0x8A, 0x5D, 0xCD)
#endif
