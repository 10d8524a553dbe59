"""Draws the output of "pvthost blend --format json" as a PNG.

Usage: plot_blend.py POINTS.json FLUID_NAME OUT.png
"""
import json
import sys

try:
    import matplotlib
except ImportError:
    sys.exit("plot-blend: python3-matplotlib is missing; run scripts/install-deps.sh")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# The regimes of the blend: phase 1 dispersed in phase 2 below the band,
# phase 2 dispersed in phase 1 above it, a linear blend of the two inside.
BAND = (0.33, 0.5)
WIDTH, HEIGHT, DPI = 8.0, 5.0, 100  # 800 x 500 pixels


def main(points_path, fluid_name, out_path):
    with open(points_path, encoding="utf-8") as stream:
        data = json.load(stream)
    points = sorted(data["points"], key=lambda p: p["f"])
    unit = data["viscosityUnit"]
    f = [p["f"] for p in points]
    blend = [p["blend"] for p in points]
    mu1, mu2 = points[0]["mu1"], points[0]["mu2"]

    def with_unit(value):
        return f"{value:g} {unit}" if unit else f"{value:g}"

    figure, axes = plt.subplots(figsize=(WIDTH, HEIGHT), dpi=DPI)
    axes.axvspan(0.0, BAND[0], color="tab:blue", alpha=0.08, lw=0)
    axes.axvspan(BAND[0], BAND[1], color="0.5", alpha=0.25, lw=0,
                 label=f"interpolated, {BAND[0]} \u2264 f \u2264 {BAND[1]}")
    axes.axvspan(BAND[1], 1.0, color="tab:orange", alpha=0.08, lw=0)
    axes.axhline(mu1, color="tab:orange", ls="--", lw=1.2,
                 label=f"\u03bc1, phase 1 = {with_unit(mu1)}")
    axes.axhline(mu2, color="tab:blue", ls="--", lw=1.2,
                 label=f"\u03bc2, phase 2 = {with_unit(mu2)}")
    axes.plot(f, blend, color="black", lw=2, label="blend (published overall value)")

    top = max(max(blend), mu1, mu2) * 1.12
    axes.set_xlim(0.0, 1.0)
    axes.set_ylim(0.0, top)
    axes.text(BAND[0] / 2, top * 0.97, f"f < {BAND[0]}: phase 1\ndispersed in phase 2 (Taylor)",
              ha="center", va="top", fontsize=9, color="tab:blue")
    axes.text((BAND[1] + 1.0) / 2, top * 0.97, f"f > {BAND[1]}: phase 2\ndispersed in phase 1 (exponential)",
              ha="center", va="top", fontsize=9, color="tab:orange")
    axes.set_xlabel("f, volume fraction of phase 1 in phases 1 and 2 (0 all phase 2, 1 all phase 1)")
    axes.set_ylabel(f"viscosity ({unit})" if unit else "viscosity (unit not given)")
    axes.set_title(f"Viscosity blend of {fluid_name} (gas removed)")
    axes.legend(loc="center left", bbox_to_anchor=(0.0, 0.62), fontsize=9, framealpha=0.9)
    figure.tight_layout()
    figure.savefig(out_path, dpi=DPI)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(*sys.argv[1:])
