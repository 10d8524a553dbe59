#include "module/ClassTable.h"

#include "correlations/CorrelationClasses.h"
#include "registration/ServerRegistration.h"

namespace pvt {

namespace {

// What a class table entry's registration runs: the class's registry script.
template <int Index>
HRESULT UpdateClassRegistry(bool registering) {
    return RunClassScript(kCatalogue[Index].scriptResourceId, registering);
}

}  // namespace

#define PVT_CORRELATION_CLASS(name, index)                                      \
    {&kCatalogue[index].classId, &UpdateClassRegistry<index>, &MakeClassObject, \
     &MakeInstance<C##name>, nullptr},

ClassTableEntry kClassTable[kCatalogueSize + 1] = {
#include "CatalogueClasses.inc"
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef PVT_CORRELATION_CLASS

}  // namespace pvt
