// A fixture that loads the built PvtCorrelator.dll from beside the test
// executable for each test and reaches it only through its exports and COM.
// Every test ends with the module unloadable, the data-server double's
// objects and references back where they were, and the DLL unloaded again,
// so each test meets a module with nothing cached.
#pragma once

#include "VarHubControl.h"
#include "doubles/HubCounts.h"
#include "support/ExecutablePath.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

namespace pvt::server_test {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

using test::BesideExecutable;

// A GUID from its registry form; a malformed text fails the test.
inline GUID Guid(const wchar_t* text) {
    GUID guid = {};
    EXPECT_EQ(S_OK, CLSIDFromString(const_cast<LPOLESTR>(text), &guid)) << "bad GUID text";
    return guid;
}

class LoadedServer : public ::testing::Test {
protected:
    void SetUp() override {
        VarHub_Reset();
        hubBefore_ = test::HubCounts();
        module_ = LoadLibraryW(BesideExecutable(L"PvtCorrelator.dll").c_str());
        ASSERT_NE(nullptr, module_) << "PvtCorrelator.dll beside the test executable";
        getClassObject_ = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        canUnloadNow_ = reinterpret_cast<CanUnloadNowFunction>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(nullptr, getClassObject_);
        ASSERT_NE(nullptr, canUnloadNow_);
    }

    void TearDown() override {
        if (module_ != nullptr) {
            EXPECT_EQ(S_OK, CanUnloadNow()) << "module lock count";
        }
        VarHub_Reset();
        test::ExpectHubCounts(hubBefore_, "at the end of the test");
        Unload();
    }

    // Frees the module; its shut-down runs and the image goes away.
    void Unload() {
        if (module_ == nullptr) return;
        EXPECT_TRUE(FreeLibrary(module_));
        module_ = nullptr;
        getClassObject_ = nullptr;
        canUnloadNow_ = nullptr;
        EXPECT_EQ(nullptr, GetModuleHandleW(L"PvtCorrelator.dll")) << "still loaded";
    }

    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object) {
        return getClassObject_(classId, iid, object);
    }
    HRESULT CanUnloadNow() { return canUnloadNow_(); }

    // The class object of classId as IClassFactory; null on failure.
    IClassFactory* Factory(REFCLSID classId) {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(S_OK, GetClassObject(classId, IID_PPV_ARGS(&factory)));
        return factory;
    }

private:
    HMODULE module_ = nullptr;
    GetClassObjectFunction getClassObject_ = nullptr;
    CanUnloadNowFunction canUnloadNow_ = nullptr;
    test::HubCounts hubBefore_;
};

}  // namespace pvt::server_test
