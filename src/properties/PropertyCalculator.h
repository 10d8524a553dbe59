// The one process-wide calculator through which every correlation reads the
// property block of the fluid it publishes for.
#pragma once

#include "host/HostInterfaces.h"

#include <atomic>

namespace pvt {

// The value published for anything that is not available.
inline constexpr double kEmptyValue = -32767.0;

class CPropertyCalculator {
public:
    static CPropertyCalculator& Instance();

    CPropertyCalculator();
    // Releases a fluid still bound and zeroes the block.
    virtual ~CPropertyCalculator();
    CPropertyCalculator(const CPropertyCalculator&) = delete;
    CPropertyCalculator& operator=(const CPropertyCalculator&) = delete;

    // Binds fluid for one publication (adding a reference); only while no
    // fluid is bound.
    void AttachFluid(IFluidPropertySource* fluid);
    // Releases the bound fluid, if any.
    void DetachFluid();

    // Whether the block may be read: reuses the block held when the fluid
    // reports it unchanged, and otherwise fetches it afresh, unless the hold
    // flag keeps the block of this publication. A block that no fetch has
    // filled is never served.
    bool Refresh();

    // The value of slot for index 0 to 3 (a phase) or 4 (overall), or the
    // empty value.
    double GetValue(int slot, int index);

    // Taken by a publication for its whole length, so that a second one
    // overlapping it (re-entered from a host call, or on another thread) is
    // turned away instead of corrupting the shared state. Returns false when
    // another publication holds the calculator.
    bool TryAcquire() { return !busy_.exchange(true, std::memory_order_acquire); }
    void ReleaseAcquired() { busy_.store(false, std::memory_order_release); }

    IFluidPropertySource* boundFluid = nullptr;
    PropertyBlock propertyBlock;
    LONG holdFlag = 0;

private:
    bool blockValid_ = false;  // filled by a successful fetch since last zeroed
    std::atomic<bool> busy_{false};
};

}  // namespace pvt
