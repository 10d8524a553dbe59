// blend: the Viscosity class's emulsion blend of phases 1 and 2 across the
// whole range of their mixture, from all phase 1 to all phase 2.
#pragma once

#include "FluidFile.h"
#include "ModuleClasses.h"
#include "host/HostInterfaces.h"

#include <cstdio>
#include <string>
#include <vector>

namespace pvthost {

struct BlendPoint {
    double f = 0.0;   // volume fraction of phase 1 in phases 1 and 2
    double x1 = 0.0;  // mass fractions given to the fluid
    double x2 = 0.0;
    double mu1 = 0.0;  // "Phase_Values" elements 2, 3 and 0 as published
    double mu2 = 0.0;
    double blend = 0.0;
};

// Checks that the liquid's fractions of this fluid can be varied: phases 1
// and 2 present, with densities and viscosities that are positive numbers.
// Throws CommandError (kExitFluid) naming the first thing that is missing.
void CheckBlendFluid(const pvt::PropertyBlock& block, const std::string& fluidName);

// The fluid of point `index` of `count` (count >= 2): phase 0's mass
// fraction 0 and phases 1 and 2 sharing the rest so that the volume fraction
// of phase 1 steps evenly from 1 (index 0) down to 0 (the last index);
// everything else as in `block`.
pvt::PropertyBlock BlendPointFluid(const pvt::PropertyBlock& block, int index, int count);

// The volume fraction of phase 1 that the Viscosity class forms from the
// mass fractions and densities of phases 1 and 2, in the same operations.
double PhaseOneVolumeFraction(double x1, double x2, double rho1, double rho2);

// Runs the Viscosity class on every point, as "calc" runs a class: a
// correlation created, connected to a source serving that point's fluid,
// calculated, read back, disconnected and released. Throws CommandError
// (kExitCorrelation) when a step fails.
std::vector<BlendPoint> CalculateBlend(const ModuleClass& viscosity,
                                       const pvt::PropertyBlock& block, int count);

void WriteBlendCsv(std::FILE* out, const std::vector<BlendPoint>& points);
// Also gives the viscosity's unit from the fluid file (null when none).
void WriteBlendJson(std::FILE* out, const std::vector<BlendPoint>& points, const FluidUnits& units);

}  // namespace pvthost
