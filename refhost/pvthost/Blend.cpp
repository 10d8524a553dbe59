#include "Blend.h"

#include "Calculation.h"
#include "Diagnostics.h"
#include "FluidFile.h"
#include "FluidSource.h"
#include "ResultWriter.h"

#include <cmath>
#include <new>

namespace pvthost {

namespace {

constexpr int kMassDensitySlot = 10;
constexpr int kMassFractionSlot = 14;
constexpr int kViscositySlot = 24;

// Phases 1 and 2 are oil and water in the sample fluids.
const char* PhaseNote(int phase) {
    return phase == 1 ? " (oil in the samples)" : " (water in the samples)";
}

void RequirePositive(const pvt::PropertyBlock& block, const std::string& fluidName, int slot,
                     int phase) {
    const double value = block.slots[slot][phase];
    const std::string name = PropertyNames()[static_cast<std::size_t>(slot)];
    if (value == kEmptyValue) {
        throw CommandError(kExitFluid, "blend: " + fluidName + ": " + name + " of phase " +
                                           std::to_string(phase) + " is not available (n/a)");
    }
    if (!(value > 0.0) || !std::isfinite(value)) {
        throw CommandError(kExitFluid, "blend: " + fluidName + ": " + name + " of phase " +
                                           std::to_string(phase) + " is " + FormatNumber(value) +
                                           "; the blend needs a positive number");
    }
}

}  // namespace

void CheckBlendFluid(const pvt::PropertyBlock& block, const std::string& fluidName) {
    for (int phase = 1; phase <= 2; ++phase) {
        if (!block.phasePresent[phase]) {
            throw CommandError(kExitFluid,
                               "blend: " + fluidName + ": phase " + std::to_string(phase) +
                                   PhaseNote(phase) +
                                   " is absent; the blend varies the fractions of phases 1 and 2, "
                                   "so both must be present");
        }
    }
    for (int phase = 1; phase <= 2; ++phase) {
        RequirePositive(block, fluidName, kMassDensitySlot, phase);
        RequirePositive(block, fluidName, kViscositySlot, phase);
    }
}

double PhaseOneVolumeFraction(double x1, double x2, double rho1, double rho2) {
    return (x1 / rho1) / ((x2 / rho2) + (x1 / rho1));
}

pvt::PropertyBlock BlendPointFluid(const pvt::PropertyBlock& block, int index, int count) {
    const double rho1 = block.slots[kMassDensitySlot][1];
    const double rho2 = block.slots[kMassDensitySlot][2];
    // The target volume fraction, then the mass share of phase 1 that gives
    // it; the ends are exact: all phase 1, then all phase 2.
    const double target = static_cast<double>(count - 1 - index) / static_cast<double>(count - 1);
    double x1 = (target * rho1) / ((target * rho1) + ((1.0 - target) * rho2));
    if (index == 0) x1 = 1.0;
    if (index == count - 1) x1 = 0.0;
    pvt::PropertyBlock point = block;
    point.slots[kMassFractionSlot][0] = 0.0;  // no gas: the module blends the liquid
    point.slots[kMassFractionSlot][1] = x1;
    point.slots[kMassFractionSlot][2] = 1.0 - x1;
    return point;
}

std::vector<BlendPoint> CalculateBlend(const ModuleClass& viscosity,
                                       const pvt::PropertyBlock& block, int count) {
    const double rho1 = block.slots[kMassDensitySlot][1];
    const double rho2 = block.slots[kMassDensitySlot][2];
    std::vector<BlendPoint> points;
    points.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        const pvt::PropertyBlock fluid = BlendPointFluid(block, index, count);
        BlendPoint point;
        point.x1 = fluid.slots[kMassFractionSlot][1];
        point.x2 = fluid.slots[kMassFractionSlot][2];
        point.f = PhaseOneVolumeFraction(point.x1, point.x2, rho1, rho2);
        pvt::IConnectionSource* source = CreateFluidSource(fluid);
        CorrelationResult result;
        try {
            result = CalculateCorrelation(viscosity, source);
        } catch (...) {
            source->Release();
            throw;
        }
        source->Release();
        point.blend = result.values[0];
        point.mu1 = result.values[2];
        point.mu2 = result.values[3];
        points.push_back(point);
    }
    return points;
}

void WriteBlendCsv(std::FILE* out, const std::vector<BlendPoint>& points) {
    std::fputs("f,x1,x2,mu1,mu2,blend\n", out);
    for (const BlendPoint& p : points) {
        std::fprintf(out, "%s,%s,%s,%s,%s,%s\n", FormatNumber(p.f).c_str(),
                     FormatNumber(p.x1).c_str(), FormatNumber(p.x2).c_str(),
                     FormatNumber(p.mu1).c_str(), FormatNumber(p.mu2).c_str(),
                     FormatNumber(p.blend).c_str());
    }
}

void WriteBlendJson(std::FILE* out, const std::vector<BlendPoint>& points,
                    const FluidUnits& units) {
    const std::string& viscosityUnit = units[kViscositySlot];
    // JSON has no NaN or infinity: such a value goes out as a string.
    auto number = [](double value) {
        return std::isfinite(value) ? FormatNumber(value) : "\"" + FormatNumber(value) + "\"";
    };
    std::string unit = "null";
    if (!viscosityUnit.empty()) {
        unit = "\"";
        for (const char c : viscosityUnit) {
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                unit += escaped;
                continue;
            }
            if (c == '"' || c == '\\') unit += '\\';
            unit += c;
        }
        unit += "\"";
    }
    std::fprintf(out, "{\"viscosityUnit\": %s, \"points\": [\n", unit.c_str());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const BlendPoint& p = points[i];
        std::fprintf(out,
                     "  {\"f\": %s, \"x1\": %s, \"x2\": %s, \"mu1\": %s, \"mu2\": %s, "
                     "\"blend\": %s}%s\n",
                     number(p.f).c_str(), number(p.x1).c_str(), number(p.x2).c_str(),
                     number(p.mu1).c_str(), number(p.mu2).c_str(), number(p.blend).c_str(),
                     i + 1 < points.size() ? "," : "");
    }
    std::fputs("]}\n", out);
}

}  // namespace pvthost
