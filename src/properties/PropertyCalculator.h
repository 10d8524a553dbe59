// The one process-wide calculator through which every correlation reads the
// property block of the fluid it publishes for, and the turn a publication
// takes on it.
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

    // Whether the block may be read: reuses the block held when the fluid
    // reports it unchanged and is the fluid that filled it, and otherwise
    // fetches it afresh, unless the hold flag keeps the block of this
    // publication. A block that no fetch has filled is never served.
    // Inline, as GetValue is: a publication reads up to sixteen times, and
    // the call around each read would cost about as much as the read.
    bool Refresh() {
        if (boundFluid == nullptr) return false;
        try {
            VARIANT_BOOL unchanged = 0;
            boundFluid->IsUnchanged(&unchanged);  // result ignored
            if (unchanged != 0 && blockValid_ && filledBy_ == boundFluid) return true;
            if (holdFlag != 0) return blockValid_;
            return Fetch();
        } catch (...) {
            return false;  // the block keeps whatever the fluid wrote
        }
    }

    // The value of slot for index 0 to 3 (a phase) or 4 (overall), or the
    // empty value.
    double GetValue(int slot, int index) {
        if (!Refresh()) return kEmptyValue;
        if (slot < 0 || slot >= kPropertySlotCount || index < 0 || index > kOverallIndex) {
            return kEmptyValue;
        }
        if (index != kOverallIndex && propertyBlock.phasePresent[index] == 0) return kEmptyValue;
        return propertyBlock.slots[slot][index];
    }

    // Shut-down: releases a fluid still bound, or, while the process is
    // ending and the fluid's library may be gone, only forgets it.
    void LetGoOfFluid(bool releaseAllowed) noexcept;

private:
    friend class PublicationTurn;
    friend struct CalculatorTestAccess;  // white-box tests

    // Binds fluid (adding a reference); only while no fluid is bound.
    void AttachFluid(IFluidPropertySource* fluid);
    // Releases the bound fluid, if any; false if its Release threw (the
    // calculator is unbound all the same).
    bool DetachFluid() noexcept;

    // Zeroes the block and has the bound fluid fill it; may throw what the
    // fluid throws.
    bool Fetch();

    IFluidPropertySource* boundFluid = nullptr;
    PropertyBlock propertyBlock;
    LONG holdFlag = 0;
    bool blockValid_ = false;  // filled by a successful fetch since last zeroed
    // The fluid whose fetch filled the block. Only compared, never called:
    // no reference is kept once the publication ends.
    const IFluidPropertySource* filledBy_ = nullptr;
    // Taken by a publication for its whole length, so that a second one
    // overlapping it (re-entered from a host call, or on another thread) is
    // turned away instead of corrupting the shared state.
    std::atomic<bool> busy_{false};
};

// One publication's turn on the shared calculator: taken for the whole
// publication (a second one overlapping it does not get it), with the
// fluid bound for the reads and the hold flag set while the values after
// the first are read, so that they come from the block already held. The
// turn unbinds the fluid, clears the flag and frees the calculator when it
// ends, on every path.
class PublicationTurn {
public:
    PublicationTurn()
        : calculator_(CPropertyCalculator::Instance()),
          acquired_(!calculator_.busy_.exchange(true, std::memory_order_acquire)) {}
    ~PublicationTurn() { End(); }
    PublicationTurn(const PublicationTurn&) = delete;
    PublicationTurn& operator=(const PublicationTurn&) = delete;

    // False when another publication holds the calculator; nothing else of
    // the turn may then be used.
    bool Acquired() const { return acquired_; }

    // Binds fluid for the reads (the calculator adds a reference).
    void Bind(IFluidPropertySource* fluid) { calculator_.AttachFluid(fluid); }
    // Clears the hold flag and releases the fluid; false if its Release
    // threw. Runs again, doing nothing, when the turn ends.
    bool Unbind() noexcept {
        calculator_.holdFlag = 0;
        return calculator_.boundFluid == nullptr || calculator_.DetachFluid();
    }

    // What the turn's end does, for a caller that cannot wait for it.
    void End() noexcept {
        if (!acquired_) return;
        Unbind();
        acquired_ = false;
        calculator_.busy_.store(false, std::memory_order_release);
    }

    // The reads after Hold use the block the first read fetched.
    void Hold() { calculator_.holdFlag = 1; }
    void EndHold() { calculator_.holdFlag = 0; }

    // The calculator the reads go to. A writer keeps it in a local: the
    // turn's own field would be read again after every host call.
    CPropertyCalculator& Calculator() const { return calculator_; }

private:
    CPropertyCalculator& calculator_;
    bool acquired_;
};

}  // namespace pvt
