#include "CalculateFloor.h"

#include <cmath>
#include <cstring>

namespace pvt::bench {

namespace {

constexpr double kEmpty = -32767.0;

PropertyBlock floorBlock;
bool floorBlockValid = false;

// Every read asks IsUnchanged; a changed block is zeroed and fetched unless
// the publication holds the one it has.
struct Reader {
    IFluidPropertySource* fluid;
    bool hold = false;

    double Get(int slot, int index) {
        VARIANT_BOOL unchanged = 0;
        fluid->IsUnchanged(&unchanged);
        if (!(unchanged && floorBlockValid) && !hold) {
            std::memset(&floorBlock, 0, sizeof floorBlock);
            floorBlockValid = SUCCEEDED(fluid->GetPropertyBlock(&floorBlock));
        }
        if (!floorBlockValid) return kEmpty;
        if (index != 4 && floorBlock.phasePresent[index] == 0) return kEmpty;
        return floorBlock.slots[slot][index];
    }
};

void WriteCommon(IHostVariable* v, Reader& r, int slot) {
    v->SetValue(0, r.Get(slot, 4));
    r.hold = true;
    v->SetValue(1, r.Get(slot, 0));
    v->SetValue(2, r.Get(slot, 1));
    v->SetValue(3, r.Get(slot, 2));
}

void WriteMassFlowRate(IHostVariable* v, Reader& r) {
    v->SetValue(0, r.Get(13, 4));
    r.hold = true;
    double m[3];
    for (int p = 0; p < 3; ++p) {
        const double total = r.Get(13, 4);
        m[p] = total * r.Get(14, p);
    }
    for (int p = 0; p < 3; ++p) v->SetValue(p + 1, m[p]);
}

void WriteVolFlowRate(IHostVariable* v, Reader& r) {
    double q = 0.0;
    if (r.Get(10, 4) != 0.0) {
        const double total = r.Get(13, 4);
        q = total / r.Get(10, 4);
    }
    v->SetValue(0, q);
    r.hold = true;
    double qp[3];
    for (int p = 0; p < 3; ++p) {
        if (r.Get(10, p) == 0.0) {
            qp[p] = kEmpty;
            continue;
        }
        const double total = r.Get(13, 4);
        const double fraction = r.Get(14, p);
        qp[p] = (total * fraction) / r.Get(10, p);
    }
    for (int p = 0; p < 3; ++p) v->SetValue(p + 1, qp[p]);
}

void WriteViscosity(IHostVariable* v, Reader& r) {
    const double mu = r.Get(24, 4), mu1 = r.Get(24, 1), mu2 = r.Get(24, 2);
    const double x1 = r.Get(14, 1), x2 = r.Get(14, 2);
    const double rho1 = r.Get(10, 1), rho2 = r.Get(10, 2);
    const double x0 = r.Get(14, 0);
    double overall = mu;
    if (mu1 != kEmpty && mu2 != kEmpty && x0 < 5e-05) {
        const double f = (x1 / rho1) / ((x2 / rho2) + (x1 / rho1));
        const double muT = ((((mu2 * 0.4) + mu1) / (mu2 + mu1)) * (f * 2.5) + 1.0) * mu2;
        const double muE = std::exp((1.0 - f) * 3.6) * mu1;
        if (f < 0.33) {
            overall = muT;
        } else if (f > 0.5 || std::isnan(f)) {
            overall = muE;
        } else {
            const double w = (f - 0.33) / (0.5 - 0.33);
            overall = ((1.0 - w) * muT) + (w * muE);
        }
    }
    v->SetValue(0, overall);
    r.hold = true;
    v->SetValue(1, r.Get(24, 0));
    v->SetValue(2, mu1);
    v->SetValue(3, mu2);
}

}  // namespace

HRESULT FloorPublish(IConnectionSource* source, LONG itemKey, IHostVariableSet* connectionSet,
                     const CorrelationRow& row) {
    ISourceItem* item = nullptr;
    HRESULT hr = source->GetItem(itemKey, &item);
    if (FAILED(hr)) return hr;
    LONG ready = 1;
    item->IsReady(&ready);
    if (ready == 0) {
        item->Release();
        return S_OK;
    }
    IUnknown* fluidObject = nullptr;
    hr = item->GetFluid(&fluidObject);
    if (FAILED(hr)) {
        item->Release();
        return hr;
    }
    IFluidPropertySource* fluid = nullptr;
    fluidObject->QueryInterface(IID_IFluidPropertySource, reinterpret_cast<void**>(&fluid));
    fluidObject->Release();
    // The calculator's own reference while the fluid is bound.
    fluid->AddRef();

    IUnknown* found = nullptr;
    IHostVariable* variable = nullptr;
    if (SUCCEEDED(connectionSet->FindVariable(L"Phase_Values", &found))) {
        found->QueryInterface(IID_IHostVariable, reinterpret_cast<void**>(&variable));
        found->Release();
    }
    if (variable != nullptr) {
        Reader reader{fluid};
        switch (row.publication) {
            case Publication::Common:
                WriteCommon(variable, reader, row.slot);
                break;
            case Publication::MassFlowRate:
                WriteMassFlowRate(variable, reader);
                break;
            case Publication::VolFlowRate:
                WriteVolFlowRate(variable, reader);
                break;
            case Publication::Viscosity:
                WriteViscosity(variable, reader);
                break;
        }
        variable->Release();
    }
    fluid->Release();  // the binding's
    fluid->Release();
    item->Release();
    return S_OK;
}

}  // namespace pvt::bench
