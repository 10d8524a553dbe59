// Read-back functions of the reference data server. The host contract only
// writes into variables; a host that wants to see what landed in them (the
// correlation manager pvthost, the tests) reads them through these exports.
// They accept any interface pointer of an object made by this server and
// return E_INVALIDARG for objects of any other origin.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#ifdef VARHUB_BUILD
#define VARHUB_API extern "C" __declspec(dllexport)
#else
#define VARHUB_API extern "C" __declspec(dllimport)
#endif

// The number of elements a variable holds (written or filled in below the
// highest written index).
VARHUB_API HRESULT WINAPI VarHubGetValueCount(IUnknown* variable, LONG* count);

// Element index of a variable; elements never written read -32767.0.
// DISP_E_BADINDEX when index is negative or beyond the elements held.
VARHUB_API HRESULT WINAPI VarHubGetValue(IUnknown* variable, LONG index, double* value);

// The tagged or display name as a new BSTR (the caller frees it).
VARHUB_API HRESULT WINAPI VarHubGetTaggedName(IUnknown* variable, BSTR* name);
VARHUB_API HRESULT WINAPI VarHubGetDisplayName(IUnknown* variable, BSTR* name);

VARHUB_API HRESULT WINAPI VarHubGetFlag(IUnknown* variable, LONG* flag);

// Enumeration state: the flag and index last set, the number of labels and
// one label as a new BSTR (DISP_E_BADINDEX outside the labels held).
VARHUB_API HRESULT WINAPI VarHubGetEnumState(IUnknown* variable, LONG* flag, LONG* index,
                                             LONG* labelCount);
VARHUB_API HRESULT WINAPI VarHubGetEnumLabel(IUnknown* variable, LONG index, BSTR* label);

// The number of variables in a set.
VARHUB_API HRESULT WINAPI VarHubGetVariableCount(IUnknown* set, LONG* count);

// Objects of this server alive in the process, to check that every
// reference handed out was given back.
VARHUB_API LONG WINAPI VarHubLiveObjectCount();
