// A host that lets go of a correlation from inside one of its calls and
// takes it back before the call returns: the AddRef from 0 cancels the
// destruction that the last Release deferred, for the standalone object
// and for the aggregate alike.
#include "doubles/CountingOuter.h"
#include "hardening/HardeningSupport.h"
#include "support/PhaseValues.h"

namespace pvt::test {
namespace {

using DeferredDestructionTest = HardeningFixture;

TEST_F(DeferredDestructionTest, AnAddRefFromZeroDuringAHostCallKeepsTheObject) {
    for (bool aggregated : {false, true}) {
        SCOPED_TRACE(aggregated ? "aggregated" : "standalone");
        FakeConnection fake;
        const std::vector<LONG> counts = fake.Counts();
        CountingOuter outer;
        IUnknown* owner = nullptr;  // the reference the host lets go of and takes back
        ASSERT_EQ(S_OK,
                  kClassTable[0].makeInstance(aggregated ? &outer : nullptr, IID_PPV_ARGS(&owner)));
        ICorrelation* correlation = nullptr;
        ASSERT_EQ(S_OK, owner->QueryInterface(IID_PPV_ARGS(&correlation)));
        correlation->Release();  // used through owner's reference, as an outer object does
        LONG id = 0;
        IUnknown* set = nullptr;
        ASSERT_EQ(S_OK, correlation->Connect(fake.source.Get(), 1, &id, &set));

        ULONG released = 99;
        ULONG taken = 99;
        fake.fluid->duringFetch = [&] {
            released = owner->Release();
            taken = owner->AddRef();
        };
        EXPECT_EQ(S_OK, correlation->Calculate(id));
        fake.fluid->duringFetch = nullptr;
        EXPECT_EQ(0u, released);
        EXPECT_EQ(1u, taken);
        // Destroyed at the end of the call, the object would have let go of
        // its lock; touching it again would reach freed memory.
        ASSERT_EQ(1, Module().GetLockCount()) << "the object went although it was taken back";
        EXPECT_EQ(S_OK, correlation->Calculate(id)) << "the object still works";
        EXPECT_EQ(4u, PhaseValuesOf(set).size());

        EXPECT_EQ(0u, owner->Release());
        EXPECT_EQ(0, Module().GetLockCount());
        EXPECT_EQ(1, outer.count);
        EXPECT_EQ(counts, fake.Counts());
    }
}

}  // namespace
}  // namespace pvt::test
