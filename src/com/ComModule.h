// The module object: the lock count that decides whether the DLL may be
// unloaded, the lock that serialises loading of type information, and the
// list of functions run once at shut-down.
#pragma once

#include "com/ClassFactory.h"

#include <windows.h>

namespace pvt {

// One creatable class: its identifier, its registry script runner, how its
// class object and its instances are made, and the cached class object.
struct ClassTableEntry {
    const CLSID* classId;  // null in the end marker
    HRESULT (*registration)(bool registering);
    HRESULT (*makeClassObject)(MakeInstanceFunction makeInstance, REFIID iid, void** object);
    MakeInstanceFunction makeInstance;
    IUnknown* cachedClassObject;
};

class CComModule {
public:
    using TermFunction = void (*)(void* argument);

    CComModule();
    ~CComModule();
    CComModule(const CComModule&) = delete;
    CComModule& operator=(const CComModule&) = delete;

    // Atomic; each returns the new count.
    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    LONG GetLockCount() const { return InterlockedCompareExchange(&lockCount_, 0, 0); }

    // The locks of IClassFactory::LockServer, counted apart so that an
    // unlock without a lock before it cannot cancel a live object's lock.
    void LockServer() {
        InterlockedIncrement(&serverLocks_);
        Lock();
    }
    void UnlockServer() {
        LONG held = InterlockedCompareExchange(&serverLocks_, 0, 0);
        while (held > 0) {
            const LONG seen = InterlockedCompareExchange(&serverLocks_, held - 1, held);
            if (seen == held) {
                Unlock();
                return;
            }
            held = seen;
        }
    }

    // Start-up: the type library's identifier and the class table.
    void Init(ClassTableEntry* classTable, const GUID& typeLibraryId);
    ClassTableEntry* ClassTable() const { return classTable_; }
    const GUID& TypeLibraryId() const { return typeLibraryId_; }

    // The cached class object of classId queried for iid; makes it on first
    // request. CLASS_E_CLASSNOTAVAILABLE for a class not in the table,
    // E_POINTER for a null out pointer.
    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object);

    // Shut-down: releases the cached class objects, then runs the
    // termination list. At process termination (foreignCallsAllowed false)
    // nothing outside the module is called: the list is dropped unrun.
    void Shutdown(bool foreignCallsAllowed);

    // Serialises the loading of type information and guards the
    // termination list.
    CRITICAL_SECTION& StaticDataLock() { return staticDataLock_; }

    // Registers function(argument) to run once at shut-down, newest first.
    // The caller holds StaticDataLock(). Throws std::bad_alloc.
    void AddTermFunction(TermFunction function, void* argument);

    // Runs the termination list once (newest first) and marks the module
    // terminated; later calls do nothing.
    void Term(bool runFunctions = true);
    bool Terminated() const { return terminated_; }

private:
    struct TermNode {
        TermFunction function;
        void* argument;
        TermNode* next;
    };

    mutable LONG lockCount_ = 0;
    LONG serverLocks_ = 0;
    ClassTableEntry* classTable_ = nullptr;
    GUID typeLibraryId_ = {};
    CRITICAL_SECTION classTableLock_{};  // set up by the constructor
    CRITICAL_SECTION staticDataLock_{};
    TermNode* terminationList_ = nullptr;
    bool terminated_ = false;
};

// The one module object of the process.
CComModule& Module();

// Holds a critical section for the length of a scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& section) : section_(section) {
        EnterCriticalSection(&section_);
    }
    ~CriticalSectionLock() { LeaveCriticalSection(&section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& section_;
};

}  // namespace pvt
