// Control interface of the data-server double varhub2.dll: fault injection,
// the call log and the object counts. Tests link its import library.
#pragma once

#include <windows.h>
#include <unknwn.h>

#ifdef VARHUB_DOUBLE_BUILD
#define VARHUB_API extern "C" __declspec(dllexport)
#else
#define VARHUB_API extern "C" __declspec(dllimport)
#endif

// Clears the log and every fault; object counts are kept.
VARHUB_API void VarHub_Reset();

// Live host objects and the sum of their reference counts.
VARHUB_API LONG VarHub_LiveObjects();
VARHUB_API LONG VarHub_References();

// Every call since the last reset, one per line, in order, e.g.
//   create Set#1
//   Variable#1.SetTaggedName("Phase_Values")
//   Set#2.AddVariable(Variable#1)
//   Set#1.Release() -> 0
// The text stays valid until the next call of VarHub_Log.
VARHUB_API const char* VarHub_Log();

// Appends a line to the log, so that the tests' own doubles can record
// their calls in the same sequence.
VARHUB_API void VarHub_Note(const char* line);

// The n-th object creation through the class factory (counted from 1 since
// the last reset) returns hr. With hr a success code, it returns hr without
// an object.
VARHUB_API void VarHub_FailCreation(int n, HRESULT hr);

// Method names: "SetTaggedName", "SetDisplayName", "SetFlag", "SetValue",
// "AddVariable", "Clone", "FindVariable", "SetEnumFlag", "SetEnumIndex",
// "SetEnumValue". The method returns hr (without an object where it gives
// one and hr is a success code).
VARHUB_API void VarHub_FailMethod(const char* method, HRESULT hr);
// As VarHub_FailMethod, and the failing method (Clone, FindVariable) still
// writes a pointer to one of its objects into its out location, without a
// reference, as a careless server might.
VARHUB_API void VarHub_FailMethodLeaving(const char* method, HRESULT hr);
// hook(method, context) runs at the start of every method that
// VarHub_FailMethod names, before any fault; null removes it. Reset clears it.
typedef void (*VarHubHook)(const char* method, void* context);
VARHUB_API void VarHub_SetHook(VarHubHook hook, void* context);
// The method throws a C++ exception (std::runtime_error).
VARHUB_API void VarHub_ThrowIn(const char* method);

// Variables answer IHostEnumVariable (the default) or not.
VARHUB_API void VarHub_SetEnumSupport(int enabled);
// FindVariable hands out an object that offers no IHostVariable.
VARHUB_API void VarHub_SetFindGivesForeignObject(int enabled);

// The elements written into a variable handed out by this double (through
// FindVariable of a set, for example); -1 / NaN for anything else.
VARHUB_API int VarHub_ValueCount(IUnknown* variable);
VARHUB_API double VarHub_Value(IUnknown* variable, int index);
// A variable's tagged name as last set, into a buffer of capacity bytes.
VARHUB_API void VarHub_TaggedName(IUnknown* variable, char* buffer, int capacity);
