// The three publications that compute their values from several slots.
// Every read goes through the calculator in the order written here: the
// order fixes how often the block may be fetched. Arithmetic is binary64 in
// the written order of operations.
#include "properties/Publication.h"

#include <cmath>

namespace pvt {

namespace {

constexpr int kMassDensitySlot = 10;
constexpr int kMassFlowRateSlot = 13;
constexpr int kMassFractionSlot = 14;
constexpr int kViscositySlot = 24;

bool IsEmpty(double value) { return value == kEmptyValue; }

// Phase p's share of the total mass flow; not available when either input
// is not.
double PhaseMassFlow(double totalMassFlow, double massFraction) {
    if (IsEmpty(totalMassFlow) || IsEmpty(massFraction)) return kEmptyValue;
    return totalMassFlow * massFraction;
}

double PhaseVolumetricFlow(CPropertyCalculator& calculator, int phase) {
    if (calculator.GetValue(kMassDensitySlot, phase) == 0.0) return kEmptyValue;
    const double totalMassFlow = calculator.GetValue(kMassFlowRateSlot, kOverallIndex);
    const double massFraction = calculator.GetValue(kMassFractionSlot, phase);
    const double density = calculator.GetValue(kMassDensitySlot, phase);
    if (IsEmpty(totalMassFlow) || IsEmpty(massFraction) || IsEmpty(density)) return kEmptyValue;
    return (totalMassFlow * massFraction) / density;
}

double OverallVolumetricFlow(CPropertyCalculator& calculator) {
    if (calculator.GetValue(kMassDensitySlot, kOverallIndex) == 0.0) return 0.0;
    const double totalMassFlow = calculator.GetValue(kMassFlowRateSlot, kOverallIndex);
    const double density = calculator.GetValue(kMassDensitySlot, kOverallIndex);
    if (IsEmpty(totalMassFlow) || IsEmpty(density)) return kEmptyValue;
    return totalMassFlow / density;
}

// Viscosity of phases 1 and 2 blended as an emulsion, from the volume
// fraction f of phase 1: Taylor's relation for phase 1 dispersed in phase 2
// below f = 0.33, the exponential relation for phase 2 dispersed in phase 1
// above f = 0.5, and a linear blend of the two in between. Without a volume
// fraction (both fractions zero, or a zero density) there is no blend, and
// the overall viscosity mu stands, as when the blend's inputs are missing.
double EmulsionViscosity(double mu, double mu1, double mu2, double x1, double x2, double rho1,
                         double rho2) {
    const double f = (x1 / rho1) / ((x2 / rho2) + (x1 / rho1));
    if (std::isnan(f)) return mu;
    const double muTaylor = ((((mu2 * 0.4) + mu1) / (mu2 + mu1)) * (f * 2.5) + 1.0) * mu2;
    const double muExponential = std::exp((1.0 - f) * 3.6) * mu1;
    if (f < 0.33) return muTaylor;
    if (f > 0.5) return muExponential;
    const double w = (f - 0.33) / (0.5 - 0.33);
    return ((1.0 - w) * muTaylor) + (w * muExponential);
}

}  // namespace

void WriteMassFlowRate(IHostVariable* variable, PublicationTurn& turn) {
    CPropertyCalculator& calculator = turn.Calculator();
    variable->SetValue(0, calculator.GetValue(kMassFlowRateSlot, kOverallIndex));
    turn.Hold();
    double phaseFlows[3];
    for (int p = 0; p < 3; ++p) {
        const double totalMassFlow = calculator.GetValue(kMassFlowRateSlot, kOverallIndex);
        phaseFlows[p] = PhaseMassFlow(totalMassFlow, calculator.GetValue(kMassFractionSlot, p));
    }
    for (int p = 0; p < 3; ++p) variable->SetValue(p + 1, phaseFlows[p]);
    turn.EndHold();
}

void WriteVolFlowRate(IHostVariable* variable, PublicationTurn& turn) {
    CPropertyCalculator& calculator = turn.Calculator();
    variable->SetValue(0, OverallVolumetricFlow(calculator));
    turn.Hold();
    double phaseFlows[3];
    for (int p = 0; p < 3; ++p) phaseFlows[p] = PhaseVolumetricFlow(calculator, p);
    for (int p = 0; p < 3; ++p) variable->SetValue(p + 1, phaseFlows[p]);
    turn.EndHold();
}

void WriteViscosity(IHostVariable* variable, PublicationTurn& turn) {
    CPropertyCalculator& calculator = turn.Calculator();
    // All eight reads come before the hold flag, so each may fetch.
    const double mu = calculator.GetValue(kViscositySlot, kOverallIndex);
    const double mu1 = calculator.GetValue(kViscositySlot, 1);
    const double mu2 = calculator.GetValue(kViscositySlot, 2);
    const double x1 = calculator.GetValue(kMassFractionSlot, 1);
    const double x2 = calculator.GetValue(kMassFractionSlot, 2);
    const double rho1 = calculator.GetValue(kMassDensitySlot, 1);
    const double rho2 = calculator.GetValue(kMassDensitySlot, 2);
    const double x0 = calculator.GetValue(kMassFractionSlot, 0);

    double overall = mu;
    // Phase 0 practically absent: phases 1 and 2 form an emulsion.
    if (!IsEmpty(mu1) && !IsEmpty(mu2) && x0 < 5e-05) {
        overall = EmulsionViscosity(mu, mu1, mu2, x1, x2, rho1, rho2);
    }
    variable->SetValue(0, overall);
    turn.Hold();
    variable->SetValue(1, calculator.GetValue(kViscositySlot, 0));
    variable->SetValue(2, mu1);
    variable->SetValue(3, mu2);
    turn.EndHold();
}

}  // namespace pvt
